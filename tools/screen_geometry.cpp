#include "screen_geometry.h"

#include <charconv>

namespace {

// A decimal number of digits only: no sign, no space, no base prefix.
bool parse_decimal(std::string_view text, uint32_t* value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return std::from_chars(text.data(), text.data() + text.size(), *value).ec == std::errc();
}

} // namespace

std::string parse_screen_size(const std::string& text, ScreenGeometry* geometry)
{
    size_t x = text.find_first_of("xX");
    uint32_t width = 0, height = 0;
    if (x == std::string::npos || !parse_decimal(std::string_view(text).substr(0, x), &width)
        || !parse_decimal(std::string_view(text).substr(x + 1), &height) || width < 1 || height < 1
        || width > MAX_SCREEN_SIDE || height > MAX_SCREEN_SIDE)
        return "screen size '" + text + "': expected WIDTHxHEIGHT, each 1 to "
            + std::to_string(MAX_SCREEN_SIDE);
    geometry->width = width;
    geometry->height = height;
    return "";
}

std::string parse_depth(const std::string& text, uint32_t* bits_per_pixel)
{
    if (text != "16" && text != "32")
        return "depth '" + text + "': expected 16 or 32 (bits per pixel)";
    *bits_per_pixel = text == "16" ? 16 : 32;
    return "";
}

std::string player_refusal(const ScreenGeometry& geometry)
{
    uint64_t bits = uint64_t(geometry.width) * geometry.height * geometry.bits_per_pixel;
    if (bits > UINT32_MAX)
        return geometry.size_text() + " at " + std::to_string(geometry.bits_per_pixel)
            + " bpp is more than the player can map (its size in bits must fit in 32 bits)";
    return "";
}

uint32_t rows_drawn_in_full(const ScreenGeometry& geometry)
{
    uint64_t budget = geometry.pixels(), per_line = geometry.stride() / (geometry.bits_per_pixel / 8);
    if (budget < geometry.width || per_line == 0)
        return 0;
    return uint32_t(std::min<uint64_t>(geometry.height, (budget - geometry.width) / per_line + 1));
}

std::vector<uint8_t> panel_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry)
{
    return panel_view(memory, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
}

std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, const ScreenGeometry& geometry)
{
    std::vector<uint8_t> memory
        = panel_memory(rgb, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
    memory.resize(geometry.memory_bytes());
    return memory;
}

std::vector<std::string> panel_caveats(const ScreenGeometry& geometry)
{
    std::vector<std::string> caveats;
    const PixelFormat& format = geometry.pixel_format();
    if (format.refusal)
        caveats.push_back(
            std::string(format.name) + " cannot show what the player writes: it " + format.refusal);
    else if (&format != &player_format(geometry.bits_per_pixel))
        caveats.push_back(std::string("on ") + format.name + " the colours the player writes for "
            + player_format(geometry.bits_per_pixel).name
            + " show changed (red and blue swapped, or fewer bits)");
    uint32_t natural = geometry.width * (geometry.bits_per_pixel / 8);
    if (geometry.stride() != natural) {
        // The stream of width x height pixels, laid into longer lines, runs out before the last rows.
        uint32_t full_rows = rows_drawn_in_full(geometry);
        caveats.push_back("lines of " + std::to_string(geometry.stride()) + " bytes, not "
            + std::to_string(natural)
            + ": each row starts further along the player's stream, so the picture shears"
            + (full_rows < geometry.height ? ", and rows " + std::to_string(full_rows) + "-"
                        + std::to_string(geometry.height - 1) + " are never drawn in full"
                                           : ""));
    }
    return caveats;
}
