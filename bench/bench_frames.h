// Frames for the benchmarks, from a fixed seed, shared by the host benchmarks
// and the ARM instruction counter (so C library only, no allocation).
#pragma once

#include <stdint.h>

enum class FrameKind { realistic, photo, solid, worst, fixed };

constexpr const char* frame_kind_name(FrameKind kind)
{
    return kind == FrameKind::realistic ? "realistic"
        : kind == FrameKind::photo      ? "photo"
        : kind == FrameKind::solid      ? "solid"
                                        : "worst";
}

struct BenchRandom {
    uint32_t state;
    uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// Writes run records covering exactly `pixels` pixels into `out` (room for
// `capacity` bytes) and returns the frame's size in bytes, or 0 if it did
// not fit. realistic: run lengths spread evenly over 1 to 2000 on a log
// scale, like flat areas with anti-aliased edges; photo: geometric, mean 4
// pixels; solid: one colour in the longest runs; worst: every run 1 pixel;
// fixed: every run `fixed_run` pixels, in changing colours.
inline uint32_t make_bench_frame(
    FrameKind kind, uint32_t pixels, uint8_t* out, uint32_t capacity, uint32_t fixed_run = 1)
{
    BenchRandom random { 12345u + uint32_t(kind) };
    uint32_t size = 0;
    uint16_t colour = 0x7BEF;
    for (uint32_t left = pixels; left > 0;) {
        uint32_t run = 1;
        switch (kind) {
        case FrameKind::realistic: {
            // 2000^(u) for u uniform in [0, 1): 11 bits of log2 spread
            uint32_t exponent = random.next() % 1100; // log2(2000) * 100
            run = 1u << (exponent / 100);
            run += uint32_t((uint64_t(run) * (exponent % 100)) / 100);
            break;
        }
        case FrameKind::photo:
            while (random.next() % 4 != 0)
                ++run;
            break;
        case FrameKind::solid: run = 65535; break;
        case FrameKind::worst: run = 1; break;
        case FrameKind::fixed: run = fixed_run; break;
        }
        if (run > left)
            run = left;
        if (kind != FrameKind::solid)
            colour = uint16_t(colour + 1 + random.next() % 0xFFFE); // always a new colour
        if (size + 4 > capacity)
            return 0;
        out[size] = uint8_t(run), out[size + 1] = uint8_t(run >> 8);
        out[size + 2] = uint8_t(colour), out[size + 3] = uint8_t(colour >> 8);
        size += 4;
        left -= run;
    }
    return size;
}
