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

int map_frame(const char* path, MappedFrame* frame)
{
    frame->fd = open(path, O_RDONLY);
    if (frame->fd < 0) {
        kmsg_print(3, CANNOT_OPEN_FORMAT, path);
        return -1;
    }
    struct stat info;
    if (fstat(frame->fd, &info) != 0) {
        (void)close(frame->fd);
        return -1;
    }
    frame->size = static_cast<uint32_t>(info.st_size);
    void* bytes = mmap(nullptr, frame->size, PROT_READ, MAP_SHARED, frame->fd, 0);
    if (bytes == MAP_FAILED) {
        (void)close(frame->fd);
        return -1;
    }
    frame->bytes = static_cast<const uint8_t*>(bytes);
    return 0;
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
