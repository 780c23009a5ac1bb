// The host player on the virtual framebuffer, started again and again: time
// from exec to the first pan, and the whole run against its 800 ms floor
// (40 pauses of 20 ms). Prints medians; one process, ratios and per-run times.
//   startup_bench [RUNS]
#include "bench_frames.h"
#include "vdev/vdev_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

// What any exec costs on this machine: start /bin/true and reap it.
static double exec_floor_ms()
{
    char true_path[] = "/bin/true";
    char* argv[] = { true_path, nullptr };
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0)
        return 0;
    waitpid(pid, nullptr, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    std::string why;
    if (!enter_device_sandbox(&why))
        std::fprintf(stderr, "startup_bench: note: %s\n", why.c_str());
    char pattern[] = "/tmp/pelimora-startup-XXXXXX";
    fs::path frames = mkdtemp(pattern);
    constexpr uint32_t WIDTH = 800, HEIGHT = 480;
    std::vector<uint8_t> frame(WIDTH * HEIGHT * 4);
    frame.resize(
        make_bench_frame(FrameKind::realistic, WIDTH * HEIGHT, frame.data(), uint32_t(frame.size())));
    for (int n = 1; n <= 40; ++n)
        std::ofstream(frames / ("Loop_" + std::to_string(n) + ".rle"), std::ios::binary)
            .write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));

    VirtualDevices devices;
    devices.fb = "800x480x16";
    devices.clock = true;
    std::vector<double> first_pan_ms, in_process_ms, run_ratio, floor_ms;
    for (int i = 0; i < runs; ++i) {
        PlayerRun run = run_player(built_player(), devices, frames);
        auto clock = run.lines("clock pan="), start = run.lines("clock start=");
        if (run.exit_status != 0 || clock.empty() || start.empty()) {
            std::fprintf(stderr, "startup_bench: the player did not run: %s\n", run.error.c_str());
            return 1;
        }
        int64_t pan_ns = std::stoll(clock[0].substr(10));
        first_pan_ms.push_back((pan_ns - run.started_ns) / 1e6);
        in_process_ms.push_back((pan_ns - std::stoll(start[0].substr(12))) / 1e6);
        run_ratio.push_back(run.seconds / 0.8);
        floor_ms.push_back(exec_floor_ms());
    }
    fs::remove_all(frames);
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
    std::printf("whole run over its 800 ms floor: %.3f x median of %d runs\n", median(run_ratio), runs);
    return 0;
}
