// What a panel shows for the memory the player writes, and the memory that
// makes it show a picture: the panel model read backwards, for previews,
// checks and tests.
#pragma once

#include "frames/panel.h"

#include <cstdint>
#include <span>
#include <vector>

// Pixels of `channels` bytes, `width` x `height`, turned `degrees` (0, 90,
// 180, 270) clockwise: height x width for a quarter turn.
std::vector<uint8_t> turn_clockwise(
    std::span<const uint8_t> pixels, uint32_t width, uint32_t height, uint32_t channels, uint32_t degrees);

// Screen memory (16 or 32 bits per pixel, as the player writes it) to 8-bit
// RGB, widened exactly as the player widens colours for 32-bit screens.
std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel);

// What a panel of this format shows for each pixel of `memory`: the player's
// stream laid into rows of `line_length` bytes, each pixel read through the
// format, short channels widened by repeating their top bits. 8-bit RGB.
std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);
// The reverse: device memory (rows of `line_length` bytes) that shows the
// rows of `rgb` on this panel as they are (unturned), each channel rounded
// to the nearest level it holds, any alpha opaque.
std::vector<uint8_t> panel_memory_for_rows(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);

// What this panel shows for the device memory `memory` (memory_bytes() long).
std::vector<uint8_t> panel_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry);
// The same as a person in front of the device sees it: turned back by the
// panel's `rotate`, upright_width() x upright_height().
std::vector<uint8_t> upright_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry);
// The device memory (memory_bytes() long) that shows `rgb` on this panel,
// `rgb` as a person in front of it sees it: turned into the panel's memory
// by its `rotate`.
std::vector<uint8_t> panel_memory_for_upright(std::span<const uint8_t> rgb, const ScreenGeometry& geometry);
