// Panel pixel formats, named as DRM four-character codes are: each name reads
// a little-endian word from its high bits down, so XRGB8888 is the memory
// bytes B, G, R, X and XBGR8888 is R, G, B, X (what the player writes).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ChannelField {
    uint32_t offset = 0, length = 0; // as the kernel's fb_bitfield
    bool operator==(const ChannelField&) const = default;
};

struct PixelFormat {
    const char* name;
    uint32_t bits_per_pixel;
    ChannelField red, green, blue, transp;
    // Why the player's output cannot be shown on it at all, or null.
    const char* refusal;
};

// What the player writes: RGB565 at 16 bpp, bytes R, G, B, 0xFF at 32.
const PixelFormat& player_format(uint32_t bits_per_pixel);
// The format of this name, or null.
const PixelFormat* find_format(const std::string& name);
// The format with these channels, as a kernel reports them, or null.
const PixelFormat* format_of_channels(
    uint32_t bits_per_pixel, ChannelField red, ChannelField green, ChannelField blue, ChannelField transp);
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
