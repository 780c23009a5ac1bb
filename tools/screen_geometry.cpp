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
