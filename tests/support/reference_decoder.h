// The plainest decoder of the frame format, pixel by pixel, written from the
// format itself rather than from the player's decoder, which it checks:
//
// A frame file is a sequence of 4-byte records, a little-endian 16-bit pixel
// count then a little-endian 16-bit RGB565 colour; 1 to 3 bytes after the last
// whole record are ignored. The runs are laid down one after the other from
// the screen's first pixel, whatever the line length; the first run that
// would pass the screen's last pixel ends the frame, and nothing of it or
// after it is drawn. Pixels no run reaches keep what they held. At 16 bits a
// pixel is the colour, low byte first; at 32 bits it is the bytes red, green,
// blue, 0xFF, each channel widened to 8 bits by repeating its top bits below
// it.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Screen memory for one pixel of `colour`: 2 or 4 bytes into `out`.
inline void reference_pixel(uint16_t colour, uint32_t bits_per_pixel, uint8_t* out)
{
    if (bits_per_pixel == 16) {
        out[0] = uint8_t(colour & 0xFF);
        out[1] = uint8_t(colour >> 8);
        return;
    }
    uint32_t red = colour >> 11, green = (colour >> 5) & 63, blue = colour & 31;
    out[0] = uint8_t(red << 3 | red >> 2);
    out[1] = uint8_t(green << 2 | green >> 4);
    out[2] = uint8_t(blue << 3 | blue >> 2);
    out[3] = 0xFF;
}

// Draws `frame` into `screen` (xres * yres pixels of 16 or 32 bits); returns
// the number of records drawn.
inline uint32_t reference_decode(const uint8_t* frame, size_t frame_size, uint8_t* screen, uint32_t xres,
    uint32_t yres, uint32_t bits_per_pixel)
{
    uint64_t pixels = uint64_t(xres) * yres, at = 0;
    uint32_t drawn = 0;
    for (size_t record = 0; record + 4 <= frame_size; record += 4, ++drawn) {
        uint32_t count = frame[record] | frame[record + 1] << 8;
        uint16_t colour = uint16_t(frame[record + 2] | frame[record + 3] << 8);
        if (at + count > pixels)
            break;
        for (uint32_t i = 0; i < count; ++i, ++at)
            reference_pixel(colour, bits_per_pixel, screen + at * (bits_per_pixel / 8));
    }
    return drawn;
}
