// pelimora-vfb: runs the real player on a virtual framebuffer, saves what the
// screen showed as an animation and a contact sheet, and checks it against
// what `pelimora-frames preview` predicts for the same frames.
#include "animation.h"
#include "playback.h"
#include "rle565.h"
#include "runner.h"
#include "sandbox.h"
#include "schedule.h"
#include "tool_main.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "pelimora-vfb: %s\n", message.c_str());
    return 1;
}

SheetMark mark_of(FrameShown::Outcome outcome)
{
    return outcome == FrameShown::drawn  ? SheetMark::drawn
        : outcome == FrameShown::missing ? SheetMark::missing
                                         : SheetMark::not_drawn;
}

int run(int argc, char** argv)
{
    CLI::App app {
        "Runs the pelimora player on a virtual framebuffer, saves what the screen showed and checks it "
        "against the preview of the same frames."
    };
    app.set_version_flag("--version", pelimora_version());
    std::string frames, size = "640x480", out = "out/vfb";
    ScreenGeometry geometry;
    PlayerPaths paths = installed_player();
    std::string player = paths.player.string();
    app.add_option(
           "--frames", frames, "Directory holding " + frame_name(1) + " ... " + frame_name(FRAME_COUNT))
        ->required();
    app.add_option("--size", size, "Screen size, WIDTHxHEIGHT")->capture_default_str();
    app.add_option("--depth", geometry.bits_per_pixel, "Bits per pixel")
        ->check(CLI::IsMember({ 16, 32 }))
        ->capture_default_str();
    app.add_option("-o,--out", out, "Where animation.webp and contact-sheet.png go")->capture_default_str();
    app.add_option("--player", player, "Host build of the player")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    if (std::string error = parse_screen_size(size, &geometry); !error.empty())
        return fail(error);
    if (!fs::is_directory(frames))
        return fail(frames + ": not a directory");

    std::string why;
    if (!enter_device_sandbox(&why))
        std::fprintf(stderr, "pelimora-vfb: note: %s; relying on the virtual devices alone\n", why.c_str());

    VirtualDevices devices;
    devices.fb = std::to_string(geometry.width) + "x" + std::to_string(geometry.height) + "x"
        + std::to_string(geometry.bits_per_pixel);
    paths.player = player;
    PlayerRun run = run_player(paths, devices, frames);
    if (!run.error.empty())
        return fail(run.error);
    std::fputs(run.kmsg.c_str(), stdout);

    std::vector<FrameShown> shown = frames_shown(run, geometry.bytes());
    Playback predicted = play_directory(frames, geometry);
    int differing = 0;
    for (size_t i = 0; i < shown.size(); ++i)
        if (i >= predicted.screens.size() || shown[i].screen != predicted.screens[i]) {
            if (!differing++)
                std::fprintf(stderr, "pelimora-vfb: after %s the screen differs from the preview\n",
                    frame_name(int(i + 1)).c_str());
        }

    std::vector<std::vector<uint8_t>> pictures;
    std::vector<SheetMark> marks;
    for (const FrameShown& frame : shown) {
        pictures.push_back(screen_to_rgb(frame.screen, geometry.bits_per_pixel));
        marks.push_back(mark_of(frame.outcome));
    }
    if (std::string error = write_playback_pictures(out, geometry.width, geometry.height, pictures, marks);
        !error.empty())
        return fail(error);
    fs::path animation = fs::path(out) / ANIMATION_FILE, sheet = fs::path(out) / CONTACT_SHEET_FILE;

    size_t messages = std::count(run.kmsg.begin(), run.kmsg.end(), '\n');
    bool matches = differing == 0 && shown.size() == size_t(FRAME_COUNT);
    std::printf(
        "pelimora: %zu of %d frames drawn on %ux%u at %u bpp in %.2f s, %zu kernel messages, exit status "
        "%d; the screens %s the preview; %s, %s\n",
        run.screens.size(), FRAME_COUNT, geometry.width, geometry.height, geometry.bits_per_pixel,
        run.seconds, messages, run.exit_status, matches ? "match" : "DO NOT match", animation.c_str(),
        sheet.c_str());
    return run.exit_status == 0 && matches ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool("pelimora-vfb", run, argc, argv);
}
