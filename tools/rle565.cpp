#include "rle565.h"

#include "render.h"

#include <cstring>

void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour)
{
    frame.insert(frame.end(), { uint8_t(count), uint8_t(count >> 8), uint8_t(colour), uint8_t(colour >> 8) });
}

std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels)
{
    std::vector<uint8_t> frame;
    for (size_t at = 0; at < pixels.size();) {
        size_t run = 1;
        while (at + run < pixels.size() && run < MAX_RUN && pixels[at + run] == pixels[at])
            ++run;
        append_run(frame, static_cast<uint16_t>(run), pixels[at]);
        at += run;
    }
    return frame;
}

namespace {

// Bayer's 8x8 ordered-dither matrix.
constexpr uint8_t BAYER[8][8] = { { 0, 32, 8, 40, 2, 34, 10, 42 }, { 48, 16, 56, 24, 50, 18, 58, 26 },
    { 12, 44, 4, 36, 14, 46, 6, 38 }, { 60, 28, 52, 20, 62, 30, 54, 22 }, { 3, 35, 11, 43, 1, 33, 9, 41 },
    { 51, 19, 59, 27, 49, 17, 57, 25 }, { 15, 47, 7, 39, 13, 45, 5, 37 },
    { 63, 31, 55, 23, 61, 29, 53, 21 } };

uint32_t dithered_level(uint32_t value, uint32_t levels, float threshold)
{
    float level = value * float(levels) / 255 + threshold + 0.5f;
    return level <= 0 ? 0 : level >= levels ? levels : uint32_t(level);
}

} // namespace

std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither)
{
    std::vector<uint16_t> pixels(size_t(image.width) * image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgba[(size_t(y) * image.width + x) * 4];
            uint32_t a = p[3];
            auto over = [a](uint32_t fg, uint32_t bg) { return (fg * a + bg * (255 - a) + 127) / 255; };
            uint32_t r = over(p[0], background.r), g = over(p[1], background.g), b = over(p[2], background.b);
            uint16_t& out = pixels[size_t(y) * image.width + x];
            if (!dither) {
                out = rgb565(uint8_t(r), uint8_t(g), uint8_t(b));
                continue;
            }
            float threshold = (BAYER[y % 8][x % 8] + 0.5f) / 64 - 0.5f;
            out = uint16_t(dithered_level(r, 31, threshold) << 11 | dithered_level(g, 63, threshold) << 5
                | dithered_level(b, 31, threshold));
        }
    return pixels;
}

std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel)
{
    std::vector<uint8_t> rgb;
    if (bits_per_pixel == 16) {
        rgb.reserve(screen.size() / 2 * 3);
        for (size_t i = 0; i + 1 < screen.size(); i += 2) {
            uint32_t pixel = expand565(static_cast<uint16_t>(screen[i] | screen[i + 1] << 8));
            rgb.insert(rgb.end(), { uint8_t(pixel), uint8_t(pixel >> 8), uint8_t(pixel >> 16) });
        }
    } else {
        rgb.reserve(screen.size() / 4 * 3);
        for (size_t i = 0; i + 3 < screen.size(); i += 4)
            rgb.insert(rgb.end(), { screen[i], screen[i + 1], screen[i + 2] });
    }
    return rgb;
}
