#include "pixel_format.h"

#include <cctype>
#include <cstring>

namespace {

uint8_t widen(uint32_t pixel, ChannelField field)
{
    uint32_t value = (pixel >> field.offset) & ((1u << field.length) - 1);
    uint32_t wide = 0;
    // The channel's bits repeated from the top down to fill eight.
    for (int shift = 8 - int(field.length); shift > -int(field.length); shift -= int(field.length))
        wide |= shift >= 0 ? value << shift : value >> -shift;
    return uint8_t(wide);
}

} // namespace

namespace {

// "xrgb8888" names XRGB8888: names are compared in any case.
bool names_alike(const std::string& given, const char* name)
{
    size_t length = std::strlen(name);
    if (given.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(given[i])) != static_cast<unsigned char>(name[i]))
            return false;
    return true;
}

} // namespace

const PixelFormat* find_format(const std::string& name)
{
    for (const PixelFormat& format : PIXEL_FORMATS)
        if (names_alike(name, format.name))
            return &format;
    return nullptr;
}

std::string format_names()
{
    std::string names;
    for (const PixelFormat& format : PIXEL_FORMATS)
        names += (names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    const size_t bytes_per_pixel = format.bits_per_pixel / 8;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            size_t at = size_t(y) * line_length + x * bytes_per_pixel;
            uint32_t pixel = 0;
            if (at + bytes_per_pixel <= memory.size())
                std::memcpy(&pixel, &memory[at], bytes_per_pixel); // little-endian, as the panel reads it
            uint8_t* out = &rgb[(size_t(y) * width + x) * 3];
            out[0] = widen(pixel, format.red), out[1] = widen(pixel, format.green),
            out[2] = widen(pixel, format.blue);
        }
    return rgb;
}

std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
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
