// How far a frame file's records reach on a screen, by the rule the decoder
// draws by: records are laid down in order, each from where the last ended,
// until one no longer fits in what is left of the screen. For the tools and
// the probe, which judge frames without drawing them.
#pragma once

#include "core/decode.h"

#include <stdint.h>

struct FrameCoverage {
    uint32_t drawn_records = 0; // laid down before one no longer fitted
    uint32_t zero_records = 0; // of those, records of 0 pixels
    uint64_t pixels = 0; // the pixels they cover
};

// Goes on over `count` more records of `records` on a screen of
// `screen_pixels`; false once a record no longer fits (the decoder stops there).
inline bool cover_records(
    const uint8_t* records, uint32_t count, uint64_t screen_pixels, FrameCoverage* coverage)
{
    for (uint32_t i = 0; i < count; ++i, records += FRAME_RECORD_BYTES) {
        uint32_t pixels = uint32_t(records[0]) | uint32_t(records[1]) << 8;
        if (pixels > screen_pixels - coverage->pixels)
            return false;
        coverage->pixels += pixels;
        coverage->zero_records += pixels == 0;
        ++coverage->drawn_records;
    }
    return true;
}
