// How a panel reads its memory, a pixel at a time, and where a row of a
// picture lands when it is turned: shared by the panel's view of memory and
// the preview's view kept from frame to frame.
#pragma once

#include "core/pixel_formats.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A channel of `pixel`, widened to eight bits by repeating its top bits.
inline uint8_t widen(uint32_t pixel, ChannelField field)
{
    uint32_t value = (pixel >> field.offset) & ((1u << field.length) - 1);
    uint32_t wide = 0;
    // The channel's bits repeated from the top down to fill eight.
    for (int shift = 8 - int(field.length); shift > -int(field.length); shift -= int(field.length))
        wide |= shift >= 0 ? value << shift : value >> -shift;
    return uint8_t(wide);
}

// Where row y of a width x height picture lands in the picture turned
// `degrees` clockwise: the pixel index of its first pixel, and the step
// from one of its pixels to the next.
struct TurnedRow {
    size_t first;
    ptrdiff_t step;
};

inline TurnedRow turned_row(uint32_t y, uint32_t width, uint32_t height, uint32_t degrees)
{
    switch (degrees % 360) {
    case 90: return { height - 1 - y, ptrdiff_t(height) };
    case 180: return { size_t(height - 1 - y) * width + width - 1, -1 };
    case 270: return { size_t(width - 1) * height + y, -ptrdiff_t(height) };
    default: return { size_t(y) * width, 1 };
    }
}

// How a panel of `format` reads a pixel of memory: a table of what each
// 16-bit value shows, or a 32-bit pixel's channels widened in place.
class PixelReader {
public:
    explicit PixelReader(const PixelFormat& format)
        : format_(format)
        , bytes_(format.bits_per_pixel / 8)
    {
        if (bytes_ != 2)
            return;
        table_.resize(size_t(65536) * 3);
        for (uint32_t value = 0; value < 65536; ++value)
            widen_into(value, &table_[size_t(value) * 3]);
    }
    uint32_t bytes() const { return bytes_; }
    // The RGB a pixel of memory (little-endian, as the panel reads it) shows.
    void read(const uint8_t* pixel, uint8_t* out) const
    {
        if (bytes_ == 2) {
            std::memcpy(out, &table_[size_t(pixel[0] | pixel[1] << 8) * 3], 3);
            return;
        }
        uint32_t value = 0;
        std::memcpy(&value, pixel, 4);
        if (whole_bytes_) {
            out[0] = uint8_t(value >> format_.red.offset), out[1] = uint8_t(value >> format_.green.offset),
            out[2] = uint8_t(value >> format_.blue.offset);
            return;
        }
        widen_into(value, out);
    }

private:
    void widen_into(uint32_t pixel, uint8_t* out) const
    {
        out[0] = widen(pixel, format_.red), out[1] = widen(pixel, format_.green),
        out[2] = widen(pixel, format_.blue);
    }

    const PixelFormat& format_;
    uint32_t bytes_;
    // Every channel eight bits: read as it is, nothing to widen.
    bool whole_bytes_ = format_.red.length == 8 && format_.green.length == 8 && format_.blue.length == 8;
    std::vector<uint8_t> table_;
};
