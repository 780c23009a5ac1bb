// The panel model forwards: the stream of RGB565 codes that makes a panel
// show a picture, as the player lays it into the panel's memory.
#pragma once

#include "frames/panel.h"

#include <cstdint>
#include <span>
#include <vector>

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct RgbaImage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba; // 8 bits per channel, rows top to bottom
};

// 8-bit channels to RGB565, each rounded to the nearest level.
constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(
        ((r * 31 + 127) / 255) << 11 | ((g * 63 + 127) / 255) << 5 | (b * 31 + 127) / 255);
}

// An image in RGB565, alpha composited over `background`; each channel rounded
// to the nearest level, or with `dither` spread by an 8x8 ordered pattern
// (smoother gradients, shorter runs).
std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither);

// The stream of RGB565 codes that makes `panel` show the image, given upright
// and turned into the panel's memory by its `rotate` (there of the panel's
// width, and its height or fewer rows, the background below them): each code chosen so that the bytes
// the player stores for it are read by the panel's format as the pixel's colour, rounded (or dithered) to the
// precision that survives; laid into the panel's lines, the padding pixels of each line joining the run
// before them; cut at the player's budget of width x height pixels.
std::vector<uint16_t> image_to_panel_stream(
    const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel);
// The same from opaque 8-bit RGB, `width` pixels a row.
std::vector<uint16_t> rgb_to_panel_stream(
    std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither, const ScreenGeometry& panel);
// Both made into `*stream`, whose room is kept from one frame to the next.
void image_into_panel_stream(const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel,
    std::vector<uint16_t>* stream);
void rgb_into_panel_stream(std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither,
    const ScreenGeometry& panel, std::vector<uint16_t>* stream);
