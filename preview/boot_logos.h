// The pictures shown before the player: the bootloader's splash screen (an
// uncompressed BMP, as U-Boot reads it) and the kernel's boot logo (a plain
// PPM of at most 224 colours, as the kernel's build turns into its logo).
#pragma once

#include "lib/error.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// An 8-bit RGB picture with at most `most` colours: a palette and an index a
// pixel. Exact when the picture has no more colours than that; else
// libimagequant's nearest palette, without dithering.
struct PalettePicture {
    std::vector<uint8_t> palette; // RGB, one entry a colour
    std::vector<uint8_t> indices; // one a pixel, rows top to bottom
    bool exact = true; // every pixel its own colour
    size_t colours_before = 0; // distinct colours of the picture
};
Error to_palette(
    std::span<const uint8_t> rgb, uint32_t width, uint32_t height, uint32_t most, PalettePicture* picture);

// A BMP of 8-bit RGB, 24 bits a pixel: rows bottom-up, each padded to 4 bytes.
std::vector<uint8_t> bmp24_bytes(std::span<const uint8_t> rgb, uint32_t width, uint32_t height);
// A BMP of 8 bits a pixel with a 256-entry palette (B, G, R, 0), unused
// entries black.
std::vector<uint8_t> bmp8_bytes(const PalettePicture& picture, uint32_t width, uint32_t height);

// A plain PPM ("P3", maximum 255), lines of at most 70 characters.
std::vector<uint8_t> plain_ppm_bytes(std::span<const uint8_t> rgb, uint32_t width, uint32_t height);
