// Host-side helpers around the player's frame format: making frames from
// pixels and turning screen memory back into pictures.
#pragma once

#include "picture_io.h"
#include "screen_geometry.h"

#include <cstdint>
#include <span>
#include <vector>

constexpr uint32_t MAX_RUN = 65535;

// 8-bit channels to RGB565, each rounded to the nearest level.
constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(
        ((r * 31 + 127) / 255) << 11 | ((g * 63 + 127) / 255) << 5 | (b * 31 + 127) / 255);
}

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// An image in RGB565, alpha composited over `background`; each channel rounded
// to the nearest level, or with `dither` spread by an 8x8 ordered pattern
// (smoother gradients, shorter runs).
std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither);

// The stream of RGB565 codes that makes `panel` show the image (of the
// panel's width, and its height or fewer rows, the background below them): each code chosen so that the bytes
// the player stores for it are read by the panel's format as the pixel's colour, rounded (or dithered) to the
// precision that survives; laid into the panel's lines, the padding pixels of each line joining the run
// before them; cut at the player's budget of width x height pixels.
std::vector<uint16_t> image_to_panel_stream(
    const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel);
// The same from opaque 8-bit RGB, `width` pixels a row.
std::vector<uint16_t> rgb_to_panel_stream(
    std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither, const ScreenGeometry& panel);

// Run records covering `pixels` in order, runs merged up to MAX_RUN.
std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels);
// The same made in `buffer` (grown to a record a pixel, kept for the next
// frame); the records are the start of it.
std::span<const uint8_t> encode_rle565_into(std::span<const uint16_t> pixels, std::vector<uint8_t>& buffer);

// One run record, for building frames by hand.
void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour);

// Screen memory (16 or 32 bits per pixel, as the player writes it) to 8-bit
// RGB, widened exactly as the player widens colours for 32-bit screens.
std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel);
