// Decode time against memset time for the same bytes, measured in one process.
//
// Each benchmark alternates the decoder and memset on the same pre-faulted
// screen buffer (in cache), or on buffers rotated through more memory than the
// last-level cache (beyond cache: a device's framebuffer is never cached), and
// reports the ratio of the medians. Absolute times on a shared machine mean
// little; the ratio is the figure.
#include "bench/bench_frames.h"
#include "core/decode.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t BEYOND_CACHE_BYTES = size_t(512) << 20;

struct Screen {
    uint32_t width, height;
};
constexpr Screen SCREENS[] = { { 800, 480 }, { 1280, 720 }, { 1920, 1080 } };

double median(std::vector<double>& samples)
{
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

void decode_against_memset(benchmark::State& state, FrameKind kind, Screen screen, uint32_t bpp,
    bool beyond_cache, uint32_t fixed_run)
{
    const uint32_t pixels = screen.width * screen.height;
    const size_t bytes = size_t(pixels) * bpp / 8;
    std::vector<uint8_t> frame(size_t(pixels) * 4);
    frame.resize(make_bench_frame(kind, pixels, frame.data(), uint32_t(frame.size()), fixed_run));

    // Page-aligned buffers, touched once so no page fault lands in a sample.
    size_t count = beyond_cache ? std::max<size_t>(2, BEYOND_CACHE_BYTES / std::max<size_t>(bytes, 1)) : 1;
    size_t stride = (bytes + 4095) / 4096 * 4096;
    std::vector<uint8_t> memory(stride * count + 4096);
    uint8_t* base = memory.data() + (4096 - uintptr_t(memory.data()) % 4096) % 4096;
    std::memset(base, 1, stride * count);

    std::vector<double> decode_ns, memset_ns;
    size_t next = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        // Beyond cache, each call gets a buffer untouched for a long while.
        uint8_t* a = base + stride * (next % count);
        uint8_t* b = base + stride * ((next + count / 2) % count);
        ++next;
        auto t0 = std::chrono::steady_clock::now();
        decode_frame(frame.data(), uint32_t(frame.size()), a, screen.width, screen.height, bpp);
        benchmark::ClobberMemory();
        auto t1 = std::chrono::steady_clock::now();
        std::memset(b, int(next), bytes);
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        decode_ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        memset_ns.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
    }
    double decode = median(decode_ns), baseline = median(memset_ns);
    state.counters["ratio"] = decode / baseline;
    state.counters["decode_GBps"] = bytes / decode;
    state.counters["memset_GBps"] = bytes / baseline;
    state.counters["mean_run"] = double(pixels) * 4 / double(frame.size());
}

// PELIMORA_BENCH_MIN_TIME shortens the runs (the build's smoke test uses it).
double min_time()
{
    const char* text = std::getenv("PELIMORA_BENCH_MIN_TIME");
    return text ? std::atof(text) : 0.2;
}

struct Registration {
    static void add(const std::string& name, FrameKind kind, Screen screen, uint32_t bpp, bool beyond,
        uint32_t fixed_run = 1)
    {
        benchmark::RegisterBenchmark(
            name.c_str(), decode_against_memset, kind, screen, bpp, beyond, fixed_run)
            ->MinTime(min_time())
            ->Unit(benchmark::kMicrosecond);
    }
    Registration()
    {
        for (bool beyond : { false, true }) {
            const char* where = beyond ? "/beyond-cache" : "/in-cache";
            for (FrameKind kind :
                { FrameKind::realistic, FrameKind::photo, FrameKind::solid, FrameKind::worst })
                for (Screen screen : SCREENS)
                    for (uint32_t bpp : { 16u, 32u })
                        add(std::string(frame_kind_name(kind)) + "/" + std::to_string(screen.width) + "x"
                                + std::to_string(screen.height) + "x" + std::to_string(bpp) + where,
                            kind, screen, bpp, beyond);
            // Throughput against run length, for the plot.
            for (uint32_t run : { 1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 1024u, 4096u, 65535u })
                add("runs-of-" + std::to_string(run) + "/1280x720x32" + where, FrameKind::fixed,
                    { 1280, 720 }, 32, beyond, run);
        }
    }
} registration;

} // namespace

BENCHMARK_MAIN();
