// pelimora-vfb: runs the real player on a virtual framebuffer and writes what
// the screen showed at every pan as PNG pictures.
#include "png_write.h"
#include "rle565.h"
#include "sample.h"
#include "vdev/vdev_run.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

static bool write_sample(const fs::path& dir, uint32_t width, uint32_t height)
{
    fs::create_directories(dir);
    for (int n = 1; n <= SAMPLE_FRAMES; ++n) {
        std::vector<uint8_t> frame = encode_rle565(render_sample_frame(n, width, height));
        fs::path path = dir / ("Loop_" + std::to_string(n) + ".rle");
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "pelimora-vfb: %s: cannot write\n", path.c_str());
            return false;
        }
    }
    return true;
}

int main(int argc, char** argv)
{
    CLI::App app {
        "Runs the pelimora player on a virtual framebuffer and saves every frame it showed as a PNG."
    };
    std::string frames, size = "320x240", out = "out/vfb";
    uint32_t depth = 16;
    bool sample = false;
    PlayerPaths paths = built_player();
    std::string player = paths.player.string();
    app.add_option("--frames", frames, "Directory holding Loop_1.rle ... Loop_40.rle");
    app.add_flag("--sample", sample, "Play the built-in sample animation (written to OUT/frames)");
    app.add_option("--size", size, "Screen size, WIDTHxHEIGHT")->capture_default_str();
    app.add_option("--depth", depth, "Bits per pixel")
        ->check(CLI::IsMember({ 16, 32 }))
        ->capture_default_str();
    app.add_option("--out", out, "Where the screens go")->capture_default_str();
    app.add_option("--player", player, "Host build of the player")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    unsigned width = 0, height = 0;
    char rest;
    if (std::sscanf(size.c_str(), "%ux%u%c", &width, &height, &rest) != 2 || !width || !height || width > 8192
        || height > 8192) {
        std::fprintf(
            stderr, "pelimora-vfb: --size %s: expected WIDTHxHEIGHT, each 1 to 8192\n", size.c_str());
        return 2;
    }
    if (sample == !frames.empty()) {
        std::fprintf(stderr, "pelimora-vfb: give either --frames DIR or --sample\n");
        return 2;
    }
    if (sample) {
        frames = (fs::path(out) / "frames").string();
        if (!write_sample(frames, width, height))
            return 1;
    } else if (!fs::is_directory(frames)) {
        std::fprintf(stderr, "pelimora-vfb: %s: not a directory\n", frames.c_str());
        return 2;
    }

    std::string why;
    if (!enter_device_sandbox(&why))
        std::fprintf(stderr, "pelimora-vfb: note: %s; relying on the virtual devices alone\n", why.c_str());

    VirtualDevices devices;
    devices.fb = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    paths.player = player;
    PlayerRun run = run_player(paths, devices, frames);
    if (!run.error.empty()) {
        std::fprintf(stderr, "pelimora-vfb: %s\n", run.error.c_str());
        return 1;
    }
    std::fputs(run.kmsg.c_str(), stdout);

    fs::path screens = fs::path(out) / "screens";
    fs::create_directories(screens);
    for (size_t i = 0; i < run.screens.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "screen-%02zu.png", i + 1);
        std::string error
            = write_png_rgb(screens / name, width, height, screen_to_rgb(run.screens[i], depth));
        if (!error.empty()) {
            std::fprintf(stderr, "pelimora-vfb: %s\n", error.c_str());
            return 1;
        }
    }
    size_t messages = std::count(run.kmsg.begin(), run.kmsg.end(), '\n');
    std::printf("pelimora: %zu of %d frames shown on %ux%u at %u bpp in %.2f s, %zu kernel messages, "
                "exit status %d; screens in %s\n",
        run.screens.size(), SAMPLE_FRAMES, width, height, depth, run.seconds, messages, run.exit_status,
        screens.c_str());
    return run.exit_status == 0 ? 0 : 1;
}
