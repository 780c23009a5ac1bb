// Panel pixel formats, named as DRM four-character codes are: each name reads
// a little-endian word from its high bits down, so XRGB8888 is the memory
// bytes B, G, R, X and XBGR8888 is R, G, B, X (what the player writes). The
// one table the on-device probe and the host tools share.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct ChannelField {
    uint32_t offset = 0, length = 0; // as the kernel's fb_bitfield
    constexpr bool operator==(const ChannelField&) const = default;
};

struct PixelFormat {
    const char* name;
    uint32_t bits_per_pixel;
    ChannelField red, green, blue, transp;
    // Why the player's output cannot be shown on it at all, or null.
    const char* refusal;
};

constexpr const char* PADDING_BYTE_REFUSAL
    = "keeps a colour channel in the byte the player always writes as 0xFF";

// offset and length of red, green, blue, transp.
// inline: one table, at one address, in every file that names a format by pointer.
inline constexpr PixelFormat PIXEL_FORMATS[] = {
    { "RGB565", 16, { 11, 5 }, { 5, 6 }, { 0, 5 }, { 0, 0 }, nullptr },
    { "BGR565", 16, { 0, 5 }, { 5, 6 }, { 11, 5 }, { 0, 0 }, nullptr },
    { "XRGB1555", 16, { 10, 5 }, { 5, 5 }, { 0, 5 }, { 0, 0 }, nullptr },
    { "XBGR1555", 16, { 0, 5 }, { 5, 5 }, { 10, 5 }, { 0, 0 }, nullptr },
    { "ARGB1555", 16, { 10, 5 }, { 5, 5 }, { 0, 5 }, { 15, 1 }, nullptr },
    { "XBGR8888", 32, { 0, 8 }, { 8, 8 }, { 16, 8 }, { 0, 0 }, nullptr },
    { "ABGR8888", 32, { 0, 8 }, { 8, 8 }, { 16, 8 }, { 24, 8 }, nullptr },
    { "XRGB8888", 32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 0, 0 }, nullptr },
    { "ARGB8888", 32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 24, 8 }, nullptr },
    { "RGBX8888", 32, { 24, 8 }, { 16, 8 }, { 8, 8 }, { 0, 0 }, PADDING_BYTE_REFUSAL },
    { "BGRX8888", 32, { 8, 8 }, { 16, 8 }, { 24, 8 }, { 0, 0 }, PADDING_BYTE_REFUSAL },
    { "RGBA8888", 32, { 24, 8 }, { 16, 8 }, { 8, 8 }, { 0, 8 }, PADDING_BYTE_REFUSAL },
    { "BGRA8888", 32, { 8, 8 }, { 16, 8 }, { 24, 8 }, { 0, 8 }, PADDING_BYTE_REFUSAL },
};

// How a format's name may be written: a bundle's index spells it as DRM
// does, exactly, one spelling a screen; a person (a flag, a panel file) may
// write it in any case.
enum class Spelling { exact, any_case };

// The format named by `length` bytes from `name`, or null.
constexpr const PixelFormat* pixel_format_named(const char* name, size_t length, Spelling spelling)
{
    for (const PixelFormat& format : PIXEL_FORMATS) {
        size_t i = 0;
        for (; i < length && format.name[i]; ++i) {
            char c = name[i];
            if (spelling == Spelling::any_case && c >= 'a' && c <= 'z')
                c = char(c - 'a' + 'A');
            if (c != format.name[i])
                break;
        }
        if (i == length && !format.name[i])
            return &format;
    }
    return nullptr;
}
static_assert(pixel_format_named("xrgb8888", 8, Spelling::any_case) == &PIXEL_FORMATS[7]
    && !pixel_format_named("xrgb8888", 8, Spelling::exact)
    && !pixel_format_named("XRGB888", 7, Spelling::exact));

// What the player writes: RGB565 at 16 bpp, bytes R, G, B, 0xFF at 32.
constexpr const PixelFormat& player_format(uint32_t bits_per_pixel)
{
    return bits_per_pixel == 16 ? PIXEL_FORMATS[0] : PIXEL_FORMATS[5];
}

// The format with these channels, as a kernel reports them, or null. An
// unused transparency field matches wherever the kernel puts it.
constexpr const PixelFormat* format_of_channels(
    uint32_t bits_per_pixel, ChannelField red, ChannelField green, ChannelField blue, ChannelField transp)
{
    for (const PixelFormat& format : PIXEL_FORMATS)
        if (format.bits_per_pixel == bits_per_pixel && format.red == red && format.green == green
            && format.blue == blue && format.transp.length == transp.length
            && (!transp.length || format.transp.offset == transp.offset))
            return &format;
    return nullptr;
}
