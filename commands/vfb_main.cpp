// pelimora-vfb: runs the real player on a virtual framebuffer, saves what the
// screen showed as an animation and a contact sheet, and checks it against
// what `pelimora-frames preview` predicts for the same frames.
#include "commands/command_support.h"
#include "frames/panel_model.h"
#include "frames/replay.h"
#include "frames/set_description.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/progress.h"
#include "lib/temp_dir.h"
#include "lib/tool_main.h"
#include "preview/animation.h"
#include "src/schedule.h"
#include "vfb/runner.h"
#include "vfb/sandbox.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace {

constexpr char TOOL[] = "pelimora-vfb";

SheetMark mark_of(FrameOutcome outcome)
{
    return outcome == FrameOutcome::drawn  ? SheetMark::drawn
        : outcome == FrameOutcome::missing ? SheetMark::missing
                                           : SheetMark::not_drawn;
}

// A frame the player would hang on (a FIFO) or misread, found before it runs.
std::string unplayable_frame(const fs::path& dir)
{
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        struct stat info;
        fs::path path = dir / frame_name(n);
        if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            return path.string() + ": not a regular file but " + file_kind(info.st_mode)
                + ": the player would hang on it or misread it";
    }
    return "";
}

int run(int argc, char** argv)
{
    CLI::App app {
        "Runs the pelimora player on a virtual framebuffer, saves what the screen showed and checks it "
        "against the preview of the same frames. No screen is assumed: give --size and --depth, or use "
        "a set made by pelimora-frames encode, which records its screen."
    };
    app.set_version_flag("--version", pelimora_version());
    std::string frames, out;
    ScreenFlags flags;
    bool quiet = false;
    PlayerPaths paths = installed_player();
    std::string player = paths.player.string();
    app.add_option(
           "--frames", frames, "Directory holding " + frame_name(1) + " ... " + frame_name(FRAME_COUNT))
        ->required();
    app.add_option("--size", flags.size, "Screen size, WIDTHxHEIGHT (default: the set's pelimora.json)");
    app.add_option("--depth", flags.depth, "Bits per pixel, 16 or 32 (default: the set's pelimora.json)");
    app.add_option("--format", flags.format, "The panel's pixel format: " + format_names());
    app.add_option("--line-length", flags.line_length, "Bytes a row takes in the device's memory");
    app.add_option(
        "--panel", flags.panel, "The panel as JSON, as pelimora-probe writes it; flags override it");
    app.add_option("-o,--out", out, "Where animation.webp and contact-sheet.png go")->required();
    app.add_option("--player", player, "Host build of the player")->capture_default_str();
    app.add_flag("-q,--quiet", quiet, "No progress line");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end well; anything else is a bad argument.
        return app.exit(error) == 0 ? 0 : 2;
    }
    catch_interrupts();

    std::error_code ec;
    if (!fs::is_directory(frames, ec))
        return fail(frames + ": not a directory");
    std::optional<SetDescription> description;
    if (std::string error = read_set_description(frames, &description); !error.empty())
        return fail(error);
    ScreenGeometry geometry;
    std::vector<std::string> notes;
    if (std::string error = choose_screen(flags, description, true, &geometry, &notes); !error.empty())
        return fail(error, BAD_ARGUMENT);
    for (const std::string& line : panel_caveats(geometry, made_for(description, geometry)))
        notes.push_back(line);
    for (const std::string& line : notes)
        note(line);
    if (geometry.width > MAX_ANIMATION_SIDE || geometry.height > MAX_ANIMATION_SIDE)
        return fail(geometry.size_text() + ": an animated WebP is at most "
            + std::to_string(MAX_ANIMATION_SIDE) + " pixels a side");
    if (std::string error = unplayable_frame(frames); !error.empty())
        return fail(error);
    if (is_within(out, frames))
        return fail(out + ": is in the set " + frames
                + ", whose copy would take the captures to the device; give another --out",
            BAD_ARGUMENT);

    // The captures go to a scratch directory inside the output, removed on every exit.
    StagedFiles staged(out);
    if (std::string error = staged.prepare(); !error.empty())
        return fail(error);
    TempDir scratch(out, scratch_name("vfb"));
    if (scratch.path().empty())
        return fail(out + ": cannot make a scratch directory");
    struct statvfs space;
    uint64_t needed = uint64_t(FRAME_COUNT) * geometry.bytes() + (uint64_t(16) << 20);
    if (statvfs(scratch.path().c_str(), &space) == 0 && uint64_t(space.f_bavail) * space.f_frsize < needed)
        return fail(out + ": the " + std::to_string(FRAME_COUNT) + " captured screens need "
            + std::to_string(needed >> 20) + " MB, and only "
            + std::to_string((uint64_t(space.f_bavail) * space.f_frsize) >> 20) + " MB are free");

    std::string why;
    if (!enter_device_sandbox(&why))
        std::fprintf(stderr, "%s: note: %s; relying on the virtual devices alone\n", TOOL, why.c_str());

    VirtualDevices devices;
    devices.fb = geometry.size_text() + "x" + std::to_string(geometry.bits_per_pixel);
    devices.fb_line = std::to_string(geometry.stride());
    const PixelFormat& format = geometry.pixel_format();
    for (ChannelField field : { format.red, format.green, format.blue, format.transp })
        devices.fb_channels += std::to_string(field.offset) + "/" + std::to_string(field.length) + ",";
    paths.player = player;
    if (!quiet && isatty(STDERR_FILENO))
        std::fprintf(stderr, "%s: playing %d frames on %s at %u bpp...\r", TOOL, FRAME_COUNT,
            geometry.size_text().c_str(), geometry.bits_per_pixel);
    // The run is followed as it goes: each screen is compared and encoded
    // while the player draws the next.
    std::future<PlayerRun> running;
    {
        SignalsHeld held; // the thread leaves interrupts to this one
        running = std::async(
            std::launch::async, [&] { return run_player(paths, devices, frames, {}, scratch.path()); });
    }

    // The run and the prediction, side by side, one screen at a time.
    PlaybackPictures pictures(staged, geometry.width, geometry.height, FRAME_COUNT);
    Progress progress(TOOL, "comparing frame", FRAME_COUNT, quiet);
    int differing = 0, first_difference = 0;
    // The prediction is replayed frame by frame beside the captures.
    std::vector<uint8_t> expected(geometry.bytes());
    // What the panel shows: the captured stream at the start of its memory, the rest never written.
    std::vector<uint8_t> memory(geometry.memory_bytes());
    int predicted_frames = 0;
    FramesFollower follower(
        scratch.path(), [&](int n, FrameOutcome outcome, const std::vector<uint8_t>& screen) {
            stop_if_interrupted();
            for (; predicted_frames < n && predicted_frames < FRAME_COUNT; ++predicted_frames)
                draw_frame_file(fs::path(frames) / frame_name(predicted_frames + 1), geometry, &expected);
            if (screen != expected && !differing++)
                first_difference = n;
            std::copy(
                screen.begin(), screen.begin() + std::min(screen.size(), memory.size()), memory.begin());
            pictures.add(panel_rgb(memory, geometry), mark_of(outcome));
            progress.step(n);
        });
    while (running.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        stop_if_interrupted();
        follower.poll();
    }
    PlayerRun run = running.get();
    stop_if_interrupted();
    if (!run.error.empty())
        return fail(run.error);
    size_t events = 0;
    int shown = follower.finish(&events);
    progress.done();
    if (events != run.events.size())
        return fail("the virtual devices' log changed after it was read");
    std::fputs(run.kmsg.c_str(), stdout);
    if (differing)
        std::fprintf(stderr, "%s: after %s the screen differs from the preview\n", TOOL,
            frame_name(first_difference).c_str());
    if (std::string e = pictures.write(); !e.empty())
        return fail(e);
    // The frames in hand against the screens the set was made to leave, as check judges them.
    std::vector<std::string> not_as_made;
    for (int n : frames_not_as_made(frames, description, geometry).value_or(std::vector<int> {}))
        not_as_made.push_back(frame_name(n));
    if (!not_as_made.empty())
        fail("the screen is not as the set was made to leave it after " + name_list(not_as_made, 8));

    size_t messages = std::count(run.kmsg.begin(), run.kmsg.end(), '\n');
    bool matches = differing == 0 && shown == FRAME_COUNT;
    std::printf(
        "pelimora: %zu of %d frames drawn on %s at %u bpp in %.2f s, %zu kernel messages, exit status "
        "%d; the screens %s the preview%s; %s, %s\n",
        run.pans, FRAME_COUNT, geometry.size_text().c_str(), geometry.bits_per_pixel, run.seconds, messages,
        run.exit_status, matches ? "match" : "DO NOT match",
        not_as_made.empty() ? "" : ", but NOT the screens the set was made to leave",
        (fs::path(out) / ANIMATION_FILE).c_str(), (fs::path(out) / CONTACT_SHEET_FILE).c_str());
    matches = matches && not_as_made.empty();
    return run.exit_status == 0 && matches ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool(TOOL, run, argc, argv);
}
