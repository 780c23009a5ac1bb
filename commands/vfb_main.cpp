// pelimora-vfb: runs the real player on a virtual framebuffer, saves what the
// screen showed as an animation and a contact sheet, and checks it against
// what `pelimora-frames preview` predicts for the same frames.
#include "commands/command_support.h"
#include "commands/screen_options.h"
#include "commands/set_view.h"
#include "core/schedule.h"
#include "frames/bundle.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "frames/screen_choice.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/progress.h"
#include "lib/staged_files.h"
#include "lib/temp_dir.h"
#include "lib/tool_main.h"
#include "preview/animation.h"
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

// A frame the player would hang on (a FIFO) or misread, found before it runs.
Error unplayable_frame(const fs::path& dir)
{
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        struct stat info;
        fs::path path = dir / frame_name(n);
        if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            return input_error(path.string() + ": not a regular file but " + file_kind(info.st_mode)
                + ": the player would hang on it or misread it");
    }
    return {};
}

struct VfbOptions {
    std::string frames, out;
    ScreenFlags flags;
    std::optional<ScreenGeometry> listed; // a bundle's set: the panel its index lists
    bool quiet = false;
    bool kms = false; // pelimora-kms on a virtual DRM card, not the player on a framebuffer
    PlayerPaths paths = installed_player();
    std::string player = paths.player.string();
};

void add_options(CLI::App& app, VfbOptions& options)
{
    app.set_version_flag("--version", pelimora_version());
    app.add_option("--frames", options.frames,
           "Directory holding " + frame_name(1) + " ... " + frame_name(FRAME_COUNT))
        ->required();
    add_size_options(&app, &options.flags, "Screen size, WIDTHxHEIGHT (default: the set's pelimora.json)",
        "Bits per pixel, 16 or 32 (default: the set's pelimora.json)");
    add_panel_options(&app, &options.flags);
    app.add_option("-o,--out", options.out, "Where animation.webp and contact-sheet.png go")->required();
    app.add_option("--player", options.player, "Host build of the player")->capture_default_str();
    app.add_flag("--kms", options.kms,
        "Run pelimora-kms on a virtual DRM card of the screen (32 bits a pixel, XRGB8888, the line length "
        "as its pitch) instead of the player on a framebuffer");
    app.add_flag("-q,--quiet", options.quiet, "No progress line");
}

// The screen to run on and the set's description, or why not.
Error choose_vfb_screen(
    const VfbOptions& options, ScreenGeometry* geometry, std::optional<SetDescription>* description)
{
    const std::string& frames = options.frames;
    std::error_code ec;
    if (!fs::is_directory(frames, ec))
        return input_error(frames + ": not a directory");
    if (Error error = read_set_description(frames, description))
        return error;
    ScreenOverrides given;
    if (options.listed)
        given = listed_panel(*options.listed);
    else if (Error error = parse_screen_flags(options.flags, &given))
        return error;
    ChosenScreen chosen;
    if (Error error = choose_screen(given, *description, Depth::needed, &chosen))
        return error;
    *geometry = chosen.geometry;
    if (options.kms && std::string(geometry->pixel_format().name) != "XRGB8888")
        return usage_error("--kms: pelimora-kms draws on an XRGB8888 buffer at 32 bits a pixel, and the "
                           "screen is "
            + std::string(geometry->pixel_format().name) + "; make the set --format XRGB8888");
    std::vector<std::string>& notes = chosen.notes;
    for (const std::string& line : panel_caveats(*geometry, made_for(*description, *geometry)))
        notes.push_back(line);
    for (const std::string& line : notes)
        note(line);
    if (Error refusal = animation_refusal(geometry->width, geometry->height))
        return within(geometry->size_text() + ": ", refusal);
    if (Error error = unplayable_frame(frames))
        return error;
    if (is_within(options.out, frames))
        return usage_error(options.out + ": is in the set " + frames
            + ", whose copy would take the captures to the device; give another --out");
    return {};
}

// Room in the scratch directory for the run's captures, or why not.
Error room_for_captures(const fs::path& scratch, const ScreenGeometry& geometry, const std::string& out)
{
    struct statvfs space;
    uint64_t needed = uint64_t(FRAME_COUNT) * geometry.bytes() + (uint64_t(16) << 20);
    if (statvfs(scratch.c_str(), &space) != 0 || uint64_t(space.f_bavail) * space.f_frsize >= needed)
        return {};
    return input_error(out + ": the " + std::to_string(FRAME_COUNT) + " captured screens need "
        + std::to_string(needed >> 20) + " MB, and only "
        + std::to_string((uint64_t(space.f_bavail) * space.f_frsize) >> 20) + " MB are free");
}

VirtualDevices devices_for(const ScreenGeometry& geometry, bool kms)
{
    VirtualDevices devices;
    devices.fb = fb_of_format(geometry.width, geometry.height, geometry.pixel_format(), geometry.stride());
    if (kms)
        devices.drm = "card";
    return devices;
}

// The run followed as it goes, each screen compared with the preview's and
// encoded while the player draws the next.
struct FollowedRun {
    PlayerRun run;
    int shown = 0, differing = 0, first_difference = 0;
};

Error follow_run(const VfbOptions& options, const ScreenGeometry& geometry, const fs::path& scratch,
    PlaybackPictures& pictures, FollowedRun* followed)
{
    PlayerPaths paths = options.paths;
    paths.player = options.player;
    if (options.kms)
        paths = paths.kms();
    VirtualDevices devices = devices_for(geometry, options.kms);
    std::future<PlayerRun> running;
    {
        SignalsHeld held; // the thread leaves interrupts to this one
        running = std::async(
            std::launch::async, [&] { return run_player(paths, devices, options.frames, {}, scratch); });
    }
    Progress progress(TOOL, "comparing frame", FRAME_COUNT, options.quiet);
    // The prediction is replayed frame by frame beside the captures.
    PredictedScreen screen(geometry.bytes());
    int predicted = 0;
    FramesFollower follower(scratch, [&](int n, FrameOutcome outcome, const Capture* capture) {
        stop_if_interrupted();
        for (; predicted < n && predicted < FRAME_COUNT; ++predicted) {
            screen.leaving(capture);
            draw_frame_file(
                fs::path(options.frames) / frame_name(predicted + 1), geometry, &screen.predicted());
        }
        std::span<const uint8_t> shown;
        if (!screen.shown(capture, &shown) && !followed->differing++)
            followed->first_difference = n;
        // What the panel shows: the captured stream at the start of its memory, the rest never written.
        pictures.add(shown, outcome);
        progress.step(n);
    });
    while (running.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        stop_if_interrupted();
        follower.poll();
    }
    followed->run = running.get();
    stop_if_interrupted();
    if (followed->run.error)
        return followed->run.error;
    size_t events = 0;
    followed->shown = follower.finish(&events);
    progress.done();
    if (events != followed->run.events.size())
        return input_error("the virtual devices' log changed after it was read");
    return {};
}

// The kernel log, what differs, and the summary, which says what is wrong.
Error report_run(const VfbOptions& options, const ScreenGeometry& geometry,
    const std::optional<SetDescription>& description, const FollowedRun& followed, const std::string& folder)
{
    const PlayerRun& run = followed.run;
    // The frames in hand against the screens the set was made to leave, as check judges them.
    std::vector<std::string> not_as_made;
    for (int n : frames_not_as_made(options.frames, description, geometry).value_or(std::vector<int> {}))
        not_as_made.push_back(frame_name(n));
    if (!not_as_made.empty())
        print_error(input_error(
            "the screen is not as the set was made to leave it after " + name_list(not_as_made, 8)));
    size_t messages = std::count(run.kmsg.begin(), run.kmsg.end(), '\n');
    bool matches = followed.differing == 0 && followed.shown == FRAME_COUNT;
    std::printf("%s: %zu of %d frames drawn on %s at %u bpp%s in %.2f s, %zu kernel messages, exit status "
                "%d; the screens %s the preview%s; %s, %s\n",
        options.kms ? "pelimora-kms" : "pelimora", run.pans, FRAME_COUNT, geometry.size_text().c_str(),
        geometry.depth(), rotation_text(geometry, true).c_str(), run.seconds, messages, run.exit_status,
        matches ? "match" : "DO NOT match",
        not_as_made.empty() ? "" : ", but NOT the screens the set was made to leave",
        (fs::path(options.out) / folder / ANIMATION_FILE).c_str(),
        (fs::path(options.out) / folder / CONTACT_SHEET_FILE).c_str());
    if (run.exit_status != 0 || !matches || !not_as_made.empty())
        return already_said(ExitStatus::wrong_input);
    return {};
}

// One set played and judged, its pictures staged in `folder` of the output
// (for a bundle's set), or what failed; `*written` once the pictures are
// staged whole, for the caller to commit.
Error play_set(const VfbOptions& options, StagedFiles& staged, const std::string& folder, bool* written)
{
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (Error error = choose_vfb_screen(options, &geometry, &description))
        return error;
    // The captures go to a scratch directory inside the output, removed on every exit.
    TempDir scratch(options.out, scratch_name("vfb"));
    if (scratch.path().empty())
        return input_error(options.out + ": cannot make a scratch directory");
    if (Error error = room_for_captures(scratch.path(), geometry, options.out))
        return error;
    if (!options.quiet && isatty(STDERR_FILENO))
        std::fprintf(stderr, "%s: playing %d frames on %s at %u bpp...\r", TOOL, FRAME_COUNT,
            geometry.size_text().c_str(), geometry.depth());
    PlaybackPictures pictures(staged, geometry, FRAME_COUNT, folder);
    FollowedRun followed;
    if (Error error = follow_run(options, geometry, scratch.path(), pictures, &followed))
        return error;
    std::fputs(followed.run.kmsg.c_str(), stdout);
    if (followed.differing)
        print_error(input_error(
            "after " + frame_name(followed.first_difference) + " the screen differs from the preview"));
    if (Error error = pictures.finish())
        return error;
    *written = true;
    return report_run(options, geometry, description, followed, folder);
}

Error run(int argc, char** argv)
{
    CLI::App app {
        "Runs the pelimora player on a virtual framebuffer, saves what the screen showed and checks it "
        "against the preview of the same frames. No screen is assumed: give --size and --depth, or use "
        "a set made by pelimora-frames encode, which records its screen; a bundle plays each of its sets "
        "on the panel its index gives."
    };
    VfbOptions options;
    add_options(app, options);
    if (std::optional<Error> end = parse_command_line(app, argc, argv))
        return *end;
    catch_interrupts();
    ViewOptions given;
    given.input = options.frames, given.screen = options.flags;
    std::vector<SetToView> sets;
    if (Error error = sets_to_view(given, &sets))
        return error;
    StagedFiles staged(options.out);
    if (Error error = staged.prepare())
        return error;
    if (Error refused = enter_device_sandbox())
        note(refused.message + "; relying on the virtual devices alone");
    ExitStatus status = ExitStatus::done;
    for (const SetToView& set : sets) {
        VfbOptions one = options;
        one.frames = set.options.input;
        one.listed = set.options.listed;
        if (!set.folder.empty())
            std::printf("%s:\n", set.folder.c_str());
        bool written = false;
        Error error = play_set(one, staged, set.folder, &written);
        if (!written)
            return error;
        print_error(error);
        status = worse(status, error.status);
    }
    if (Error error = staged.commit())
        return error;
    return already_said(status);
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool(TOOL, run, argc, argv);
}
