// The panel formats as the host tools use them: by name, in messages, and
// as the pictures a panel of each shows.
#pragma once

#include "pixel_formats.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The format of this name, or null.
const PixelFormat* find_format(const std::string& name);
// Every name, for messages.
std::string format_names();

// What a panel of this format shows for each pixel of `memory`: the player's
// stream laid into rows of `line_length` bytes, each pixel read through the
// format, short channels widened by repeating their top bits. 8-bit RGB.
std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);
// The reverse: device memory (rows of `line_length` bytes) that shows `rgb`
// on this panel, each channel rounded to the nearest level it holds, any
// alpha opaque.
std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);
