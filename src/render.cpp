#include "src/render.h"

#include "core/decode.h"
#include "src/kmsg.h"
#include "src/screen.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int console_set_graphics()
{
    int fd = open(TTY_PATH, TTY_OPEN_FLAGS);
    if (fd < 0)
        return -1;
    int result = ioctl(fd, KDSETMODE, KD_GRAPHICS);
    (void)close(fd);
    return result;
}

int show_frame(const char* path)
{
    if (console_set_graphics() != 0)
        return -1;
    MappedFrame frame;
    if (map_frame(path, &frame) != 0)
        return -1;
    decode_frame(frame.bytes, frame.size, screen.pixels, screen.var_info.xres, screen.var_info.yres,
        screen.var_info.bits_per_pixel);
    (void)munmap(const_cast<uint8_t*>(frame.bytes), frame.size);
    // Many drivers cannot pan; the frame is in screen memory all the same.
    (void)ioctl(screen.fd, FBIOPAN_DISPLAY, &screen.var_info);
    (void)close(frame.fd);
    return 0;
}
