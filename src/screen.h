// The framebuffer the player draws on, held open and mapped for the whole run.
#pragma once

#include <linux/fb.h>
#include <stdint.h>

constexpr char FB_PATH[] = "/dev/graphics/fb0";

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
