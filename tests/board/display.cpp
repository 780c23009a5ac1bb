#include "tests/board/display.h"

#include "core/decode.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

std::vector<uint8_t> predicted_display(const std::vector<Frame>& frames, const Layout& l)
{
    std::vector<uint8_t> stream(size_t(l.xres) * l.yres * l.bpp / 8);
    for (const Frame& frame : frames)
        decode_frame(frame.data(), uint32_t(frame.size()), stream.data(), l.xres, l.yres, l.bpp);
    return displayed(stream, l);
}

std::vector<uint8_t> displayed(const std::vector<uint8_t>& stream, const Layout& l)
{
    // The player's contiguous stream from the start of memory, shown through
    // the line length.
    std::vector<uint8_t> memory(std::max(size_t(l.line) * l.yres, stream.size()));
    std::memcpy(memory.data(), stream.data(), stream.size());
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(l.xres) * l.yres * 3);
    auto channel = [](uint32_t pixel, uint32_t offset, uint32_t bits) {
        return uint8_t(((pixel >> offset) & ((1u << bits) - 1)) << (8 - bits));
    };
    for (uint32_t y = 0; y < l.yres; ++y)
        for (uint32_t x = 0; x < l.xres; ++x) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, &memory[size_t(y) * l.line + x * l.bpp / 8], l.bpp / 8);
            rgb.insert(rgb.end(),
                { channel(pixel, l.red, l.red_bits), channel(pixel, l.green, l.green_bits),
                    channel(pixel, l.blue, l.blue_bits) });
        }
    return rgb;
}

std::vector<uint8_t> read_ppm(const std::filesystem::path& path, uint32_t width, uint32_t height)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    uint32_t w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    if (magic != "P6" || w != width || h != height || max != 255)
        return {};
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    return in ? rgb : std::vector<uint8_t> {};
}

size_t count_differences(const std::vector<uint8_t>& shown, const std::vector<uint8_t>& predicted,
    uint32_t width, std::string* first)
{
    if (shown.size() != predicted.size())
        return SIZE_MAX;
    size_t differences = 0;
    for (size_t i = 0; i < shown.size(); i += 3)
        if (std::memcmp(&shown[i], &predicted[i], 3) != 0 && differences++ < 3 && first) {
            char text[128];
            std::snprintf(text, sizeof text, "(%zu,%zu) shows %02x%02x%02x, predicted %02x%02x%02x; ",
                i / 3 % width, i / 3 / width, shown[i], shown[i + 1], shown[i + 2], predicted[i],
                predicted[i + 1], predicted[i + 2]);
            *first += text;
        }
    return differences;
}

const PixelFormat* layout_format(const Layout& l)
{
    return format_of_channels(l.bpp, { l.red, l.red_bits }, { l.green, l.green_bits },
        { l.blue, l.blue_bits }, { l.transp, l.transp_bits });
}
