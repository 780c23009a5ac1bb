// The host player on the virtual framebuffer, started again and again: time
// from exec to the first pan, and the whole run against its floor, the sum of
// the schedule's pauses. Prints medians; one process, ratios and per-run times.
//   startup_bench [RUNS]
#include "bench/bench_frames.h"
#include "core/schedule.h"
#include "lib/process.h"
#include "tests/support/frame_dir.h"
#include "vfb/runner.h"
#include "vfb/sandbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// What any exec costs on this machine: start /bin/true and reap it.
static double exec_floor_ms()
{
    SpawnRequest request;
    request.argv = { "/bin/true" };
    return run_process(request).seconds * 1e3;
}

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    if (Error refused = enter_device_sandbox())
        std::fprintf(stderr, "startup_bench: note: %s\n", refused.message.c_str());
    FrameDir frames;
    constexpr uint32_t WIDTH = 800, HEIGHT = 480;
    Frame frame(WIDTH * HEIGHT * 4);
    frame.resize(
        make_bench_frame(FrameKind::realistic, WIDTH * HEIGHT, frame.data(), uint32_t(frame.size())));
    for (int n = 1; n <= FRAME_COUNT; ++n)
        if (!frames.write(n, frame)) {
            std::fprintf(stderr, "startup_bench: cannot write the frames\n");
            return 1;
        }

    const double schedule_seconds = FRAME_COUNT * FRAME_DELAY_US / 1e6;
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 800, .yres = 480, .bits_per_pixel = 16 };
    devices.clock = true;
    std::vector<double> first_pan_ms, in_process_ms, run_ratio, floor_ms;
    for (int i = 0; i < runs; ++i) {
        PlayerRun run = run_player(installed_player(), devices, frames.path());
        auto pans = run.of(EventKind::pan), starts = run.of(EventKind::start);
        if (run.exit_status != 0 || pans.empty() || starts.empty()) {
            std::fprintf(stderr, "startup_bench: the player did not run: %s\n", run.error.message.c_str());
            return 1;
        }
        int64_t pan_ns = pans[0].clock_ns;
        first_pan_ms.push_back((pan_ns - run.started_ns) / 1e6);
        in_process_ms.push_back((pan_ns - starts[0].clock_ns) / 1e6);
        run_ratio.push_back(run.seconds / schedule_seconds);
        floor_ms.push_back(exec_floor_ms());
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    std::printf("exec to first pan (800x480x16, realistic frame): %.3f ms median of %d runs\n",
        median(first_pan_ms), runs);
    std::printf(
        "  of which after the process was loaded (first preloaded constructor to first pan): %.3f ms\n",
        median(in_process_ms));
    std::printf("  for comparison, starting and reaping /bin/true: %.3f ms\n", median(floor_ms));
    std::printf("whole run over its %.0f ms floor: %.3f x median of %d runs\n", schedule_seconds * 1e3,
        median(run_ratio), runs);
    return 0;
}
