// What the emulated board's display shows: predicted from the frames and the
// screen layout the kernel reports, and read back from QEMU's screen dump.
#pragma once

#include "core/pixel_formats.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Frame = std::vector<uint8_t>;

// The screen as the kernel describes it: resolution, depth, line length and
// where each channel sits in a pixel.
struct Layout {
    uint32_t xres = 0, yres = 0, bpp = 0, line = 0;
    uint32_t red = 0, red_bits = 0, green = 0, green_bits = 0, blue = 0, blue_bits = 0;
    uint32_t transp = 0, transp_bits = 0;
};

// The pixel format of this layout's channels, or null for none of them.
const PixelFormat* layout_format(const Layout& layout);

// The display, as 8-bit RGB, after the player has drawn `frames` in order
// into screen memory of this layout. QEMU widens short channels by shifting,
// not by repeating bits.
std::vector<uint8_t> predicted_display(const std::vector<Frame>& frames, const Layout& layout);

// The display showing `stream`, the player's contiguous pixels from the
// start of screen memory, through the layout's line length and channels.
std::vector<uint8_t> displayed(const std::vector<uint8_t>& stream, const Layout& layout);
// A binary PPM of the given size as 8-bit RGB; empty when it is not one.
std::vector<uint8_t> read_ppm(const std::filesystem::path& path, uint32_t width, uint32_t height);

// Pixels that differ, with the first few described in `first` as
// "(x,y) shows RRGGBB, predicted RRGGBB; "; SIZE_MAX when the sizes differ.
size_t count_differences(const std::vector<uint8_t>& shown, const std::vector<uint8_t>& predicted,
    uint32_t width, std::string* first = nullptr);
