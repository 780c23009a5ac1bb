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
