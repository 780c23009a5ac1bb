// pelimora-vfb: runs the real player on a virtual framebuffer, saves what the
// screen showed as an animation and a contact sheet, and checks it against
// what `pelimora-frames preview` predicts for the same frames.
#include "animation.h"
#include "files.h"
#include "playback.h"
#include "rle565.h"
#include "vdev/vdev_run.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "pelimora-vfb: %s\n", message.c_str());
    return 1;
}

// The screen after each of the 40 frames, as the run showed it: a frame that
// panned shows its capture, any other leaves the screen as it was.
struct Shown {
    std::vector<std::vector<uint8_t>> screens;
    std::vector<SheetMark> marks;
};

Shown shown_screens(const PlayerRun& run, const ScreenGeometry& geometry)
{
    Shown shown;
    std::vector<uint8_t> screen(geometry.bytes());
    size_t pans = 0;
    int frame = 0;
    SheetMark mark = SheetMark::missing;
    auto close_frame = [&] {
        if (frame > 0) {
            shown.screens.push_back(screen);
            shown.marks.push_back(mark);
        }
    };
    for (const std::string& line : run.log) {
        int n = 0;
        if (std::sscanf(line.c_str(), "open frame /bootimages/Loop_%d.rle", &n) == 1
            || std::sscanf(line.c_str(), "open tty %*s rc=%d", &n) == 1) {
            // Each frame starts with the console switch; the file's open says which.
            if (line.starts_with("open tty")) {
                close_frame();
                ++frame;
                mark = SheetMark::not_drawn;
            } else {
                mark = line.ends_with("rc=-1") ? SheetMark::missing : SheetMark::not_drawn;
            }
        } else if (line.starts_with("pan ") && pans < run.screens.size()) {
            screen = run.screens[pans++];
            mark = SheetMark::drawn;
        }
    }
    close_frame();
    return shown;
}

int run(int argc, char** argv)
{
    CLI::App app {
        "Runs the pelimora player on a virtual framebuffer, saves what the screen showed and checks it "
        "against the preview of the same frames."
    };
    std::string frames, size = "640x480", out = "out/vfb";
    ScreenGeometry geometry;
    PlayerPaths paths = built_player();
    std::string player = paths.player.string();
    app.add_option("--frames", frames, "Directory holding Loop_1.rle ... Loop_40.rle")->required();
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

    Shown shown = shown_screens(run, geometry);
    Playback predicted = play_directory(frames, geometry);
    int differing = 0;
    for (size_t i = 0; i < shown.screens.size(); ++i)
        if (i >= predicted.screens.size() || shown.screens[i] != predicted.screens[i]) {
            if (!differing++)
                std::fprintf(stderr, "pelimora-vfb: after %s the screen differs from the preview\n",
                    frame_name(int(i + 1)).c_str());
        }

    std::vector<std::vector<uint8_t>> pictures;
    for (const auto& screen : shown.screens)
        pictures.push_back(screen_to_rgb(screen, geometry.bits_per_pixel));
    std::error_code ec;
    if (!fs::create_directories(out, ec) && ec)
        return fail(out + ": cannot create: " + ec.message());
    fs::path animation = fs::path(out) / "animation.webp", sheet = fs::path(out) / "contact-sheet.png";
    if (std::string error = write_animation(animation, geometry.width, geometry.height, pictures);
        !error.empty())
        return fail(error);
    if (std::string error
        = write_contact_sheet(sheet, geometry.width, geometry.height, pictures, shown.marks);
        !error.empty())
        return fail(error);

    size_t messages = std::count(run.kmsg.begin(), run.kmsg.end(), '\n');
    bool matches = differing == 0 && shown.screens.size() == size_t(PLAYED_FRAMES);
    std::printf(
        "pelimora: %zu of %d frames drawn on %ux%u at %u bpp in %.2f s, %zu kernel messages, exit status "
        "%d; the screens %s the preview; %s, %s\n",
        run.screens.size(), PLAYED_FRAMES, geometry.width, geometry.height, geometry.bits_per_pixel,
        run.seconds, messages, run.exit_status, matches ? "match" : "DO NOT match", animation.c_str(),
        sheet.c_str());
    return run.exit_status == 0 && matches ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool("pelimora-vfb", run, argc, argv);
}
