#include "commands/screen_flags.h"

#include <charconv>
#include <string_view>

namespace {

// A decimal number of digits only: no sign, no space, no base prefix.
bool parse_decimal(std::string_view text, uint32_t* value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return std::from_chars(text.data(), text.data() + text.size(), *value).ec == std::errc();
}

} // namespace

Error parse_screen_size(const std::string& text, ScreenGeometry* geometry)
{
    size_t x = text.find_first_of("xX");
    uint32_t width = 0, height = 0;
    if (x == std::string::npos || !parse_decimal(std::string_view(text).substr(0, x), &width)
        || !parse_decimal(std::string_view(text).substr(x + 1), &height) || width < 1 || height < 1
        || width > MAX_SCREEN_SIDE || height > MAX_SCREEN_SIDE)
        return usage_error("screen size '" + text + "': expected WIDTHxHEIGHT, each 1 to "
            + std::to_string(MAX_SCREEN_SIDE));
    geometry->width = width;
    geometry->height = height;
    return {};
}

Error parse_depth(const std::string& text, uint32_t* bits_per_pixel)
{
    if (text != "16" && text != "32")
        return usage_error("depth '" + text + "': expected 16 or 32 (bits per pixel)");
    *bits_per_pixel = text == "16" ? 16 : 32;
    return {};
}

Error parse_rotation(const std::string& text, uint32_t* degrees)
{
    for (uint32_t angle : { 0u, 90u, 180u, 270u })
        if (text == std::to_string(angle)) {
            *degrees = angle;
            return {};
        }
    return usage_error("rotate '" + text + "': expected 0, 90, 180 or 270 (degrees clockwise)");
}

bool names_one_panel(const ScreenFlags& flags)
{
    return !flags.size.empty() || !flags.depth.empty() || !flags.format.empty() || !flags.line_length.empty()
        || !flags.rotate.empty();
}

Error parse_screen_flags(const ScreenFlags& flags, ScreenOverrides* given)
{
    *given = {};
    if (!flags.panel.empty()) {
        PanelFile panel;
        if (Error error = read_panel_file(flags.panel, &panel))
            return error;
        given->panel = panel;
    }
    ScreenGeometry& screen = given->flags;
    if (!flags.size.empty())
        if (Error error = parse_screen_size(flags.size, &screen))
            return error;
    if (!flags.depth.empty())
        if (Error error = parse_depth(flags.depth, &screen.bits_per_pixel))
            return error;
    if (!flags.rotate.empty()) {
        if (Error error = parse_rotation(flags.rotate, &screen.rotate))
            return within("--", error);
        given->rotate_given = true;
    }
    if (!flags.format.empty() && !(screen.format = find_format(flags.format)))
        return usage_error("--format '" + flags.format + "': expected one of " + format_names());
    if (!flags.line_length.empty()) {
        const char* end = flags.line_length.data() + flags.line_length.size();
        if (flags.line_length.find_first_not_of("0123456789") != std::string::npos
            || std::from_chars(flags.line_length.data(), end, screen.line_length).ptr != end
            || screen.line_length == 0 || screen.line_length > MAX_LINE_LENGTH)
            return usage_error("--line-length '" + flags.line_length + "': expected a number of bytes, 1 to "
                + std::to_string(MAX_LINE_LENGTH));
    }
    return {};
}
