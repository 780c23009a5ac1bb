// The framebuffer the player draws on, held open and mapped for the whole run.
#pragma once

#include "core/devices.h"

#include <linux/fb.h>
#include <stdint.h>

// The kernel records are handed to the device as they are; their layout is ABI.
static_assert(sizeof(fb_fix_screeninfo) == (sizeof(long) == 4 ? 68 : 80));
static_assert(sizeof(fb_var_screeninfo) == 160);

struct Screen {
    uint8_t* pixels; // shared mapping of one visible screen, or null / MAP_FAILED
    int fd; // framebuffer descriptor; negative when none is held
    fb_fix_screeninfo fix_info;
    fb_var_screeninfo var_info; // read once at open, handed back on every pan
};

extern Screen screen;

// The renderer writes 2 or 4 bytes a pixel: any other depth would write past
// the mapping, so such screens count as unusable.
constexpr bool drawable_depth(uint32_t bits_per_pixel)
{
    return bits_per_pixel == 16 || bits_per_pixel == 32;
}

// The visible screen's size in bytes, or false when it does not fit 32 bits.
inline bool screen_size_bytes(const fb_var_screeninfo& info, uint32_t* size)
{
    uint32_t bits;
    if (__builtin_mul_overflow(info.xres, info.yres, &bits)
        || __builtin_mul_overflow(bits, info.bits_per_pixel, &bits))
        return false;
    *size = bits >> 3;
    return true;
}

// Opens FB_PATH and maps xres * yres * bits_per_pixel / 8 bytes from offset 0.
// On failure logs "cannot open", holds nothing and leaves screen.fd negative.
// Depths other than 16 and 32, and sizes that do not fit 32 bits, are refused.
void screen_open();
// Releases the mapping and the descriptor; does nothing when the open failed.
void screen_close();

inline bool screen_is_open()
{
    return screen.fd >= 0;
}
