#include "src/screen.h"

#include "src/kmsg.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

Screen screen;

static bool map_screen()
{
    uint32_t size;
    if (!drawable_depth(screen.var_info.bits_per_pixel) || !screen_size_bytes(screen.var_info, &size))
        return false;
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, screen.fd, 0);
    screen.pixels = static_cast<uint8_t*>(pixels);
    return pixels != MAP_FAILED;
}

void screen_open()
{
    screen.fd = open(FB_PATH, O_RDWR);
    if (screen.fd >= 0) {
        if (ioctl(screen.fd, FBIOGET_FSCREENINFO, &screen.fix_info) == 0
            && ioctl(screen.fd, FBIOGET_VSCREENINFO, &screen.var_info) == 0 && map_screen())
            return;
        (void)close(screen.fd);
        screen.fd = -1;
    }
    kmsg_print(3, CANNOT_OPEN_FORMAT, FB_PATH);
}

void screen_close()
{
    if (!screen_is_open())
        return;
    uint32_t size = 0;
    screen_size_bytes(screen.var_info, &size);
    (void)munmap(screen.pixels, size);
    (void)close(screen.fd);
    screen.fd = -1;
}
