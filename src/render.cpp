#include "src/render.h"
#include "core/decode.h"

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
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        kmsg_print(3, CANNOT_OPEN_FORMAT, path);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        (void)close(fd);
        return -1;
    }
    uint32_t size = static_cast<uint32_t>(info.st_size);
    void* frame = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (frame == MAP_FAILED) {
        (void)close(fd);
        return -1;
    }
    decode_frame(static_cast<const uint8_t*>(frame), size, screen.pixels, screen.var_info.xres,
        screen.var_info.yres, screen.var_info.bits_per_pixel);
    (void)munmap(frame, size);
    // Many drivers cannot pan; the frame is in screen memory all the same.
    (void)ioctl(screen.fd, FBIOPAN_DISPLAY, &screen.var_info);
    (void)close(fd);
    return 0;
}
