#include "frames/panel_view.h"

#include "frames/pixel_reader.h"

#include <cstring>

std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    const PixelReader reader(format);
    const uint8_t none[4] = {};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            size_t at = size_t(y) * line_length + x * reader.bytes();
            reader.read(
                at + reader.bytes() <= memory.size() ? &memory[at] : none, &rgb[(size_t(y) * width + x) * 3]);
        }
    return rgb;
}

std::vector<uint8_t> panel_memory_for_rows(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format)
{
    std::vector<uint8_t> memory(size_t(line_length) * height);
    const size_t bytes_per_pixel = format.bits_per_pixel / 8;
    auto level = [](uint8_t value, ChannelField field) {
        uint32_t top = (1u << field.length) - 1;
        return ((value * top + 127) / 255) << field.offset;
    };
    uint32_t opaque = format.transp.length ? ((1u << format.transp.length) - 1) << format.transp.offset : 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* in = &rgb[(size_t(y) * width + x) * 3];
            uint32_t pixel
                = level(in[0], format.red) | level(in[1], format.green) | level(in[2], format.blue) | opaque;
            std::memcpy(&memory[size_t(y) * line_length + x * bytes_per_pixel], &pixel, bytes_per_pixel);
        }
    return memory;
}

std::vector<uint8_t> panel_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry)
{
    return panel_view(memory, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
}

std::vector<uint8_t> upright_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry)
{
    std::vector<uint8_t> rgb = panel_rgb(memory, geometry);
    if (!geometry.rotate)
        return rgb;
    return turn_clockwise(rgb, geometry.width, geometry.height, 3, 360 - geometry.rotate);
}

std::vector<uint8_t> panel_memory_for_upright(
    std::span<const uint8_t> upright, const ScreenGeometry& geometry)
{
    std::vector<uint8_t> turned;
    if (geometry.rotate)
        turned = turn_clockwise(
            upright, geometry.upright_width(), geometry.upright_height(), 3, geometry.rotate);
    std::span<const uint8_t> rgb = geometry.rotate ? turned : upright;
    std::vector<uint8_t> memory = panel_memory_for_rows(
        rgb, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
    memory.resize(geometry.memory_bytes());
    return memory;
}

std::vector<uint8_t> turn_clockwise(
    std::span<const uint8_t> pixels, uint32_t width, uint32_t height, uint32_t channels, uint32_t degrees)
{
    degrees %= 360;
    if (!degrees)
        return { pixels.begin(), pixels.end() };
    std::vector<uint8_t> turned(pixels.size());
    // Each row of the picture becomes a column (a quarter turn) or a row read backwards.
    for (uint32_t y = 0; y < height; ++y) {
        const TurnedRow to = turned_row(y, width, height, degrees);
        size_t shown = to.first;
        for (uint32_t x = 0; x < width; ++x, shown += size_t(to.step))
            std::memcpy(&turned[shown * channels], &pixels[(size_t(y) * width + x) * channels], channels);
    }
    return turned;
}

std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel)
{
    // One long row of the player's own format: the panel that matches it.
    uint32_t pixels = uint32_t(screen.size() / (bits_per_pixel / 8));
    return panel_view(screen, pixels, 1, uint32_t(screen.size()), player_format(bits_per_pixel));
}
