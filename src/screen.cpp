#include "screen.h"

#include "kmsg.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

Screen screen;

// The visible screen's size in bytes, or false when it does not fit 32 bits.
static bool screen_size_bytes(const fb_var_screeninfo& info, uint32_t* size)
{
    uint32_t bits;
    if (__builtin_mul_overflow(info.xres, info.yres, &bits)
        || __builtin_mul_overflow(bits, info.bits_per_pixel, &bits))
        return false;
    *size = bits >> 3;
    return true;
}

static bool map_screen()
{
    // The renderer writes 2 or 4 bytes per pixel; any other depth would write
    // past the mapping, so such screens count as unusable.
    uint32_t bpp = screen.var_info.bits_per_pixel;
    uint32_t size;
    if ((bpp != 16 && bpp != 32) || !screen_size_bytes(screen.var_info, &size))
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
