// The codes of opaque 8-bit RGB pixels on the common layout, RGB565: each
// channel rounded to the nearest of its levels, (v * top + 127) / 255.
#pragma once

#include <cstddef>
#include <cstdint>

// `pixels` codes from `pixels` x 3 bytes of RGB.
void rgb565_codes(const uint8_t* rgb, size_t pixels, uint16_t* codes);
