// The span fills against a plain byte reference, at every destination
// alignment within a 32-byte block and every length up to MAX_BYTES: the
// pattern must land on exactly the even part of the range, and nothing
// outside it may change. C library only: the ARM check links like the player.
#pragma once

#include "core/decode.h"

#include <stdint.h>
#include <string.h>

constexpr int FILL_SWEEP_MAX_BYTES = 300;

// Calls report(width, offset, nbytes, byte, found, expected) for each wrong
// byte; returns how many there were. `width` is 2 for fill16, 4 for fill32.
template <typename Report> int fill_sweep(Report report)
{
    constexpr uint8_t UNTOUCHED = 0xCC;
    static uint8_t buffer[64 + FILL_SWEEP_MAX_BYTES + 64] __attribute__((aligned(64)));
    const uint8_t pattern[4] = { 0xD4, 0xC3, 0xB2, 0xA1 }; // 0xA1B2C3D4, little-endian
    int failures = 0;
    for (int width = 2; width <= 4; width += 2)
        for (int offset = 0; offset < 32; offset += width)
            for (int nbytes = 0; nbytes <= FILL_SWEEP_MAX_BYTES; ++nbytes) {
                memset(buffer, UNTOUCHED, sizeof buffer);
                uint8_t* dst = buffer + 64 + offset;
                if (width == 2)
                    fill16(dst, 0xC3D4, nbytes);
                else
                    fill32(dst, 0xA1B2C3D4, nbytes);
                int written = nbytes < 2 ? 0 : nbytes & ~1;
                for (int i = -64 - offset; i < FILL_SWEEP_MAX_BYTES + 64 - offset; ++i) {
                    uint8_t expected = i >= 0 && i < written ? pattern[i % width] : UNTOUCHED;
                    if (dst[i] != expected) {
                        ++failures;
                        report(width, offset, nbytes, i, dst[i], expected);
                    }
                }
            }
    return failures;
}
