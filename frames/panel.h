// The panel a set of frames is made for and shown on: its size, depth, line
// length and pixel format, as the host tools take and judge it.
#pragma once

#include "core/pixel_formats.h"
#include "lib/error.h"

#include "core/screen_limits.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The longest line a panel's memory may have: a row of the widest screen at 32 bpp.
constexpr uint32_t MAX_LINE_LENGTH = MAX_SCREEN_SIDE * 4;

// A screen, as the host tools take, record and judge it: a panel, a panel
// file, what a set's description records, what a set is made for. What is
// not known is 0 or null.
struct ScreenGeometry {
    uint32_t width = 0, height = 0;
    // 0: not known; frames in the player's own format show the same at 16
    // and 32 bpp, and are worked at 16.
    uint32_t bits_per_pixel = 0;
    uint32_t line_length = 0; // bytes a row takes in the device's memory; 0: width * bytes a pixel
    const PixelFormat* format = nullptr; // null: what the player writes at this depth
    // Degrees the picture is turned clockwise in the panel's memory (0, 90,
    // 180, 270): for a panel mounted turned, as fbcon=rotate turns the console.
    uint32_t rotate = 0;
    bool depth_known() const { return bits_per_pixel != 0; }
    // The depth the memory is laid out at.
    uint32_t depth() const { return bits_per_pixel ? bits_per_pixel : 16; }
    // What the player maps and draws: one contiguous stream of width * height pixels.
    size_t bytes() const { return size_t(width) * height * depth() / 8; }
    uint32_t stride() const { return line_length ? line_length : width * (depth() / 8); }
    // The device memory the panel shows, of which the stream is the start.
    size_t memory_bytes() const { return std::max(bytes(), size_t(stride()) * height); }
    const PixelFormat& pixel_format() const { return format ? *format : player_format(depth()); }
    size_t pixels() const { return size_t(width) * height; }
    std::string size_text() const { return std::to_string(width) + "x" + std::to_string(height); }
    // The picture as a person in front of the device sees it.
    bool turned_sideways() const { return rotate == 90 || rotate == 270; }
    uint32_t upright_width() const { return turned_sideways() ? height : width; }
    uint32_t upright_height() const { return turned_sideways() ? width : height; }
};

// 0, 90, 180 or 270: a turn in degrees clockwise.
bool is_rotation(uint32_t degrees);
// "" unturned, else ", turned 90 degrees clockwise in the panel's memory"
// and, for pictures of what it shows, ", shown upright".
std::string rotation_text(const ScreenGeometry& geometry, bool shown_upright = false);

// The format of this name (in any case), or null.
const PixelFormat* find_format(const std::string& name);
// Every name, for messages.
[[nodiscard]] std::string format_names();

// Why the player would refuse this screen: its size in bits must fit 32 bits.
Error player_refusal(const ScreenGeometry& geometry);

// Rows the player's stream of width x height pixels draws in full when laid
// into this panel's lines (all of them when the line holds just a row).
uint32_t rows_drawn_in_full(const ScreenGeometry& geometry);

// What a panel of this geometry shows of frames made for `made_for` that
// was not meant: notes for the user, none when it shows them as they were
// made (colours compared by what each shows, lines by their pixels).
std::vector<std::string> panel_caveats(const ScreenGeometry& panel, const ScreenGeometry& made_for);

// Whether the player's colour codes show the same on both (at any depth).
bool shows_colours_alike(const ScreenGeometry& a, const ScreenGeometry& b);
// Pixels a line of the panel's memory holds: where each row starts in the player's stream.
uint32_t line_pixels(const ScreenGeometry& geometry);

// "row 7", "rows 581-599".
[[nodiscard]] std::string rows_text(uint32_t first, uint32_t last);
