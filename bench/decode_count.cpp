// Decodes one benchmark frame a given number of times, for instruction
// counters: callgrind on the host, QEMU's instruction trace on ARM. C library
// only, so the same source builds statically for the ARM target.
//
//   decode_count KIND WIDTH HEIGHT BPP REPEATS [memset]
// KIND is realistic, photo, solid, worst or runs-of-N (every run N pixels);
// "memset" times the C library's memset over the same bytes instead, as the
// baseline.
#include "bench/bench_frames.h"
#include "core/decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Kept out of line so the counters can isolate them by name.
extern "C" __attribute__((noinline)) void bench_decode(
    const uint8_t* frame, uint32_t size, uint8_t* screen, uint32_t width, uint32_t height, uint32_t bpp)
{
    decode_frame(frame, size, screen, width, height, bpp);
    __asm__ volatile("" : : "r"(screen) : "memory");
}

extern "C" __attribute__((noinline)) void bench_memset(uint8_t* screen, uint32_t bytes, int value)
{
    memset(screen, value, bytes);
    __asm__ volatile("" : : "r"(screen) : "memory");
}

int main(int argc, char** argv)
{
    if (argc < 6) {
        fprintf(stderr, "usage: decode_count KIND WIDTH HEIGHT BPP REPEATS [memset]\n");
        return 2;
    }
    FrameKind kind = FrameKind::realistic;
    uint32_t run = 1;
    for (int k = 0; k < 4; ++k)
        if (!strcmp(argv[1], frame_kind_name(FrameKind(k))))
            kind = FrameKind(k);
    if (!strncmp(argv[1], "runs-of-", 8)) {
        kind = FrameKind::fixed;
        run = uint32_t(atoi(argv[1] + 8));
    }
    uint32_t width = uint32_t(atoi(argv[2])), height = uint32_t(atoi(argv[3])), bpp = uint32_t(atoi(argv[4]));
    int repeats = atoi(argv[5]);
    bool baseline = argc > 6 && !strcmp(argv[6], "memset");
    uint32_t pixels = width * height, bytes = pixels * bpp / 8;
    uint8_t* frame = static_cast<uint8_t*>(malloc(size_t(pixels) * 4));
    uint8_t* screen = static_cast<uint8_t*>(aligned_alloc(4096, (bytes + 4095) / 4096 * 4096));
    uint32_t size = make_bench_frame(kind, pixels, frame, pixels * 4, run);
    if (!frame || !screen || !size)
        return 1;
    for (int i = 0; i < repeats; ++i)
        if (baseline)
            bench_memset(screen, bytes, i);
        else
            bench_decode(frame, size, screen, width, height, bpp);
    printf("%s %ux%ux%u: %u runs, %u bytes\n", frame_kind_name(kind), width, height, bpp, size / 4, bytes);
    return 0;
}
