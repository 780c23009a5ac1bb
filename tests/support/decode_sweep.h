// The decoder against the reference decoder, byte for byte, over the frames
// whose shape picks its paths: one run of every length from 0 to 300 pixels
// after a lead run of 0 to 15 pixels (so every alignment within a 32-byte
// block, at both depths), then random frames of short, long and empty runs on
// screens that the last runs overflow. The screen lies between guard bytes
// that must stay as they were. C library only: the ARM check links like the
// player.
#pragma once

#include "core/decode.h"
#include "tests/support/reference_decoder.h"

#include <stdint.h>
#include <string.h>

constexpr uint32_t DECODE_SWEEP_MAX_RUN = 300;

struct DecodeSweep {
    static constexpr uint32_t GUARD = 64, MAX_SCREEN = 4096 * 4;
    uint8_t frame[4 * 256];
    uint32_t frame_size;
    uint8_t screen[GUARD + MAX_SCREEN + GUARD] __attribute__((aligned(64)));
    uint8_t expected[GUARD + MAX_SCREEN + GUARD] __attribute__((aligned(64)));

    void clear() { frame_size = 0; }
    void run(uint32_t count, uint16_t colour)
    {
        uint8_t* at = frame + frame_size;
        at[0] = uint8_t(count), at[1] = uint8_t(count >> 8), at[2] = uint8_t(colour),
        at[3] = uint8_t(colour >> 8);
        frame_size += 4;
    }
    // Decodes the frame both ways onto a screen of xres * yres pixels; true
    // when every byte and the number of records drawn agree.
    bool same(uint32_t xres, uint32_t yres, uint32_t bpp)
    {
        memset(screen, 0xCC, sizeof screen);
        memset(expected, 0xCC, sizeof expected);
        uint32_t drawn = decode_frame(frame, frame_size, screen + GUARD, xres, yres, bpp);
        uint32_t records = reference_decode(frame, frame_size, expected + GUARD, xres, yres, bpp);
        return drawn == records && memcmp(screen, expected, sizeof screen) == 0;
    }
};

struct SweepRandom {
    uint32_t state;
    uint32_t next() { return (state = state * 1664525u + 1013904223u) >> 8; }
};

// Calls report(bpp, case_number) for each frame decoded wrongly; returns how
// many there were. `sweep` is large: give it static storage.
template <typename Report> int decode_sweep(DecodeSweep& sweep, Report report)
{
    int failures = 0, case_number = 0;
    for (uint32_t bpp = 16; bpp <= 32; bpp += 16) {
        for (uint32_t lead = 0; lead < 16; ++lead)
            for (uint32_t count = 0; count <= DECODE_SWEEP_MAX_RUN; ++count, ++case_number) {
                sweep.clear();
                sweep.run(lead, 0x1234);
                sweep.run(count, uint16_t(0xA5C3 + count));
                sweep.run(1, 0xFFFF);
                if (!sweep.same(lead + count + 1, 1, bpp)) {
                    ++failures;
                    report(bpp, case_number);
                }
            }
        SweepRandom random { 7u + bpp };
        for (int trial = 0; trial < 400; ++trial, ++case_number) {
            sweep.clear();
            uint32_t total = 0, records = 1 + random.next() % 255;
            for (uint32_t i = 0; i < records; ++i) {
                uint32_t kind = random.next() % 8;
                uint32_t count = kind < 4 ? 1 + random.next() % 8 // short
                    : kind < 6            ? random.next() % 300 // spans
                    : kind < 7            ? 0
                                          : random.next() % 2000; // long, may overflow the screen
                sweep.run(count, uint16_t(random.next()));
                total += count;
            }
            // A screen that takes all the runs, or stops one part-way.
            uint32_t limit = DecodeSweep::MAX_SCREEN / (bpp / 8);
            uint32_t pixels = random.next() % 2 ? total : random.next() % (total + 1);
            if (pixels > limit)
                pixels = limit;
            uint32_t xres = pixels ? 1 + random.next() % pixels : 1, yres = pixels / xres;
            if (random.next() % 4 == 0)
                sweep.frame[sweep.frame_size++] = 0x55; // a trailing part-record
            if (!sweep.same(xres, yres, bpp)) {
                ++failures;
                report(bpp, case_number);
            }
        }
    }
    return failures;
}
