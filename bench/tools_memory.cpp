// The host tools' peak memory against the screen they work for, as the
// number of frames and the size of the inputs grow: it must stay a small
// multiple of one screen, whatever the input. Prints ratios from one run.
//   tools_memory TOOLS_DIR
#include "core/schedule.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/process.h"
#include "preview/png.h"
#include "tests/support/frame_dir.h"

#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double peak_mib(const std::vector<std::string>& argv)
{
    SpawnRequest request;
    request.argv = argv;
    ProcessRun run = run_process(request, true);
    if (run.exit_status != 0 && run.exit_status != 1)
        std::fprintf(stderr, "tools_memory: %s failed: %s\n", argv[0].c_str(), run.err.c_str());
    return run.peak_kib / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tools_memory TOOLS_DIR\n");
        return 2;
    }
    fs::path tools = argv[1];
    TempDir scratch("pelimora-memory");
    constexpr uint32_t W = 1920, H = 1080;
    const double screen_mib = W * H * 4 / 1048576.0; // one 32 bpp screen
    std::printf("peak memory over one %ux%u screen at 32 bpp (%.1f MiB):\n", W, H, screen_mib);
    // What loading the tool's libraries (libvips, FFmpeg) costs before any work.
    std::printf("  pelimora-frames --version, the libraries alone: %.2f screens\n",
        peak_mib({ tools / "pelimora-frames", "--version" }) / screen_mib);

    // Images of noise: as many as the player shows, then twice as many.
    fs::create_directories(scratch / "art");
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    uint32_t state = 1;
    for (int n = 1; n <= 2 * FRAME_COUNT; ++n) {
        for (uint8_t& byte : rgb)
            byte = uint8_t((state = state * 1664525 + 1013904223) >> 24);
        char name[32];
        std::snprintf(name, sizeof name, "n%d.png", n);
        if (write_png_rgb(scratch / "art" / name, W, H, rgb))
            return 1;
        if (n == FRAME_COUNT / 2 || n == 2 * FRAME_COUNT) {
            double peak = peak_mib({ tools / "pelimora-frames", "encode", scratch / "art", "--depth", "32",
                "-o", scratch / "set", "-q" });
            std::printf("  encode, %d noisy images: %.2f screens\n", n, peak / screen_mib);
        }
    }
    for (const char* command : { "check", "preview" }) {
        std::vector<std::string> args = { tools / "pelimora-frames", command, scratch / "set" };
        if (std::string(command) == "preview")
            args.insert(args.end(), { "-o", scratch / "preview", "-q" });
        std::printf("  %s, %d frames: %.2f screens\n", command, FRAME_COUNT, peak_mib(args) / screen_mib);
    }
    // A 4K clip at 60 frames a second, one second long and then four: it is
    // decoded a frame at a time, so its length does not show.
    for (int seconds : { 1, 4 }) {
        fs::path clip = scratch / ("clip-" + std::to_string(seconds) + "s.mp4");
        SpawnRequest make;
        make.search_path = true;
        make.argv = { "ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
            "testsrc2=s=3840x2160:r=60:d=" + std::to_string(seconds), "-c:v", "libx264", "-preset",
            "ultrafast", clip };
        if (run_process(make, true).exit_status != 0) {
            std::fprintf(stderr, "tools_memory: ffmpeg could not make the clip\n");
            return 1;
        }
        double peak = peak_mib({ tools / "pelimora-frames", "encode", clip, "--size", "1920x1080", "--depth",
            "32", "--spread", "-o", scratch / "clip-set", "-q" });
        std::printf("  encode, 3840x2160 clip at 60 fps, %d s (%d frames): %.2f screens\n", seconds,
            seconds * 60, peak / screen_mib);
    }
    // A frame file of 4 GiB and 4 bytes, of which the player maps 4.
    std::map<int, Frame> one;
    append_run(one[1], 65535, 0xFFFF);
    if (!write_frame_files(scratch / "sparse", one)
        || truncate((scratch / "sparse" / frame_name(1)).c_str(), (off_t(1) << 32) + 4) != 0)
        return 1;
    std::printf("  check, one frame file of 4 GiB + 4 bytes: %.2f screens\n",
        peak_mib({ tools / "pelimora-frames", "check", scratch / "sparse", "--size", "1920x1080" })
            / screen_mib);
    return 0;
}
