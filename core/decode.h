// The frame decoder: RLE565 frame files laid into screen memory, shared by
// the player, the probe and the host tools.
//
// A frame file is a bare sequence of 4-byte little-endian records, a 16-bit
// pixel count then a 16-bit RGB565 colour, laid down one after the other from
// the first pixel of the screen with no regard for line ends. 1 to 3 trailing
// bytes are ignored; pixels past the last run keep what they showed before.
#pragma once

#include <stdint.h>

constexpr uint32_t FRAME_RECORD_BYTES = 4;

// RGB565 widened by repeating each channel's top bits, stored so that memory
// holds the bytes red, green, blue, 0xFF.
constexpr uint32_t expand565(uint16_t colour)
{
    uint32_t r5 = colour >> 11, g6 = (colour >> 5) & 0x3F, b5 = colour & 0x1F;
    uint32_t r8 = (r5 << 3) | (r5 >> 2), g8 = (g6 << 2) | (g6 >> 4), b8 = (b5 << 3) | (b5 >> 2);
    return 0xFF000000u | (b8 << 16) | (g8 << 8) | r8;
}

// Repeat `value` over `nbytes` bytes from `dst` (2-byte aligned); an odd last
// byte is never written.
void fill16(void* dst, uint16_t value, int nbytes);
// Same for a 32-bit pattern from a 4-byte aligned `dst`; a 2-byte tail gets
// the pattern's low half.
void fill32(void* dst, uint32_t value, int nbytes);

// Lays the runs of a frame file down into `pixels`, a screen of xres * yres
// pixels at 16 or 32 bits (other depths draw nothing; the caller makes sure
// xres * yres * bits_per_pixel / 8 bytes fit in 32 bits). Decoding stops at
// the first run that no longer fits. Returns the number of records drawn.
uint32_t decode_frame(const uint8_t* frame, uint32_t frame_size, void* pixels, uint32_t xres, uint32_t yres,
    uint32_t bits_per_pixel);
