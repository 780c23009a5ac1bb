#include "commands/frame_commands.h"

#include "artwork/sample.h"
#include "artwork/still.h"
#include "commands/command_support.h"
#include "frames/panel_model.h"
#include "frames/replay.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/natural_order.h"
#include "lib/progress.h"
#include "preview/animation.h"
#include "preview/png.h"
#include "src/schedule.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* TOOL = FRAMES_TOOL;

void print_screen_notes(const std::vector<std::string>& notes)
{
    for (const std::string& line : notes)
        note(line);
}

// The screen for a set or a frame in `dir`: flags first, then the set's description.
std::string screen_for(const fs::path& dir, const ScreenFlags& flags, bool need_depth,
    ScreenGeometry* geometry, std::optional<SetDescription>* description = nullptr)
{
    std::optional<SetDescription> own;
    std::optional<SetDescription>& found = description ? *description : own;
    if (std::string error = read_set_description(dir, &found); !error.empty())
        return error;
    std::vector<std::string> notes;
    std::string error = choose_screen(flags, found, need_depth, geometry, &notes);
    print_screen_notes(notes);
    return error;
}

// A set's directory and the screen to judge it on: 0, or the exit status
// after saying what was wrong.
int open_set(const ViewOptions& options, bool need_depth, ScreenGeometry* geometry,
    std::optional<SetDescription>* description)
{
    std::error_code ec;
    if (!fs::is_directory(options.input, ec))
        return fail(options.input + ": not a directory");
    if (std::string error = screen_for(options.input, options.screen, need_depth, geometry, description);
        !error.empty())
        return fail(error, BAD_ARGUMENT);
    return 0;
}

// The device memory as it starts: black, or showing a picture.
std::string initial_screen(
    const std::string& base, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    screen->assign(geometry.memory_bytes(), 0);
    if (base.empty())
        return "";
    RgbaImage image;
    if (std::string error = read_picture(base, geometry.width, geometry.height, &image); !error.empty())
        return error;
    std::vector<uint8_t> rgb(geometry.pixels() * 3);
    for (size_t i = 0; i < geometry.pixels(); ++i)
        std::copy_n(&image.rgba[i * 4], 3, &rgb[i * 3]);
    *screen = panel_memory(rgb, geometry);
    return "";
}

// What this panel shows differently from what the frames were made for, said once.
void print_panel_caveats(const ScreenGeometry& geometry, const std::optional<SetDescription>& description)
{
    for (const std::string& caveat : panel_caveats(geometry, made_for(description, geometry)))
        note(caveat);
}

std::string describe_coverage(const FrameReport& frame, const ScreenGeometry& geometry)
{
    switch (frame.status) {
    case FrameReport::missing: return "missing: the player logs it, the screen stays";
    case FrameReport::unreadable: return "cannot be opened: the player logs it, the screen stays";
    case FrameReport::empty: return "empty: not drawn, not panned";
    case FrameReport::directory: return "a directory: not drawn, not panned";
    case FrameReport::not_regular: return "not a regular file: the player would hang on it or misread it";
    case FrameReport::drawn: break;
    }
    if (frame.drawn_records < frame.records)
        return "over: record " + std::to_string(frame.drawn_records + 1) + " dropped"
            + (frame.records - frame.drawn_records > 1
                    ? " with the " + std::to_string(frame.records - frame.drawn_records - 1) + " after it"
                    : "");
    if (frame.pixels_covered < geometry.pixels())
        return "short by " + std::to_string(geometry.pixels() - frame.pixels_covered)
            + " pixels: the previous frame shows through";
    return "exact";
}

// Frames the player cannot get through: a FIFO would hang it as it would
// hang us, so the tools refuse to show such a set as if it played.
std::string first_unplayable(const FrameReport& report)
{
    return report.status == FrameReport::not_regular
        ? report.error + ": the player would hang on it or misread it"
        : "";
}

} // namespace

int decode_frame_file(const ViewOptions& options)
{
    fs::path input = options.input;
    std::string unreadable;
    if (int fd = open_regular_file(input, &unreadable); fd < 0)
        return fail(unreadable);
    else
        (void)close(fd);
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (std::string error = screen_for(input.parent_path(), options.screen, true, &geometry, &description);
        !error.empty())
        return fail(error, BAD_ARGUMENT);
    print_panel_caveats(geometry, description);
    if (same_file(options.out, input) || (!options.base.empty() && same_file(options.out, options.base)))
        return fail(options.out + ": is an input; give another --out");
    std::vector<uint8_t> screen;
    if (std::string error = initial_screen(options.base, geometry, &screen); !error.empty())
        return fail(error);
    FrameReport report = draw_frame_file(input, geometry, &screen);
    if (report.status == FrameReport::missing || report.status == FrameReport::unreadable
        || report.status == FrameReport::not_regular || report.status == FrameReport::directory)
        return fail(report.error);
    if (std::string error
        = write_png_rgb(options.out, geometry.width, geometry.height, panel_rgb(screen, geometry));
        !error.empty())
        return fail(error);
    std::printf(
        "%s: %u records, %s\n", input.c_str(), report.records, describe_coverage(report, geometry).c_str());
    return 0;
}

int preview_frames(const ViewOptions& options)
{
    fs::path dir = options.input;
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (int status = open_set(options, true, &geometry, &description))
        return status;
    if (is_within(options.out, dir))
        return fail(options.out + ": is in the set " + dir.string()
                + ", whose copy would take the preview to the device; give another --out",
            BAD_ARGUMENT);
    print_panel_caveats(geometry, description);
    if (std::string refusal = animation_refusal(geometry.width, geometry.height); !refusal.empty())
        return fail(geometry.size_text() + ": " + refusal + "; use check for this screen");
    std::vector<uint8_t> initial;
    if (std::string error = initial_screen(options.base, geometry, &initial); !error.empty())
        return fail(error);

    StagedFiles staged(options.out);
    PlaybackPictures pictures(staged, geometry.width, geometry.height, FRAME_COUNT);
    Progress progress(TOOL, "previewing frame", FRAME_COUNT, options.quiet);
    std::string error;
    int drawn = 0;
    play_directory(dir, geometry, std::move(initial), true,
        [&](int n, const FrameReport& report, const std::vector<uint8_t>& screen) {
            if (error.empty())
                error = first_unplayable(report);
            if (error.empty())
                pictures.add(panel_rgb(screen, geometry), report.outcome());
            drawn += report.status == FrameReport::drawn;
            progress.step(n);
        });
    progress.done();
    if (!error.empty())
        return fail(error);
    if (std::string e = pictures.write(); !e.empty())
        return fail(e);
    fs::path out = options.out;
    std::printf("%d of %d frames drawn on %s at %u bpp; %s (%ld ms a frame), %s\n", drawn, FRAME_COUNT,
        geometry.size_text().c_str(), geometry.bits_per_pixel, (out / ANIMATION_FILE).c_str(),
        FRAME_DELAY_US / 1000, (out / CONTACT_SHEET_FILE).c_str());
    // What a set made to draw only the changes shows depends on every frame before.
    if (description && description->partial_frames)
        std::printf("frames after %s draw only part of the screen: the set needs every frame, in order\n",
            frame_name(1).c_str());
    if (auto differing = frames_not_as_made(dir, description, geometry)) {
        std::vector<std::string> names;
        for (int n : *differing)
            names.push_back(frame_name(n));
        if (!names.empty())
            return fail("the screen is not as the set was made to leave it after " + name_list(names, 8));
        std::printf("the screen after each frame is as the set was made to leave it\n");
    }
    return 0;
}

namespace {

// The frame number a name looks meant for ("Loop_7.rle", "loop_07.RLE",
// "Loop7.rle"), or -1 for a name that does not look like a frame's.
long meant_frame(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    if (!lower.starts_with("loop") || !lower.ends_with(".rle"))
        return -1;
    std::string digits = lower.substr(4, lower.size() - 8);
    if (digits.starts_with("_"))
        digits.erase(0, 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return digits.size() > 6 ? 0 : std::stol(digits);
}

// What is in a set besides its frames and its description: files that look
// like frames of the schedule but are not among its names, scratch a writer
// left when it was killed, and anything else, all of which a copy of the
// folder takes to the device.
std::vector<std::string> strangers(const fs::path& dir)
{
    std::vector<std::string> names, warnings;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), natural_less);
    for (const std::string& name : names) {
        long n = meant_frame(name);
        if ((n >= 1 && n <= FRAME_COUNT && name == frame_name(int(n))) || name == SET_DESCRIPTION_FILE)
            continue;
        if (is_scratch_name(name)) {
            warnings.push_back(name
                + " was left by a pelimora tool stopped before it finished: the next "
                  "encode into this folder removes it; a copy made before takes it along");
            continue;
        }
        if (n < 0) {
            warnings.push_back(name
                + " is not a frame or the set's description: a copy of the folder takes "
                  "it to the device too");
            continue;
        }
        std::string why = n < 1 || n > FRAME_COUNT
            ? "the player shows " + frame_name(1) + " to " + frame_name(FRAME_COUNT) + " only"
            : "the player opens " + frame_name(int(n)) + " (names are exact: case, no leading zeros)";
        warnings.push_back(name + " is never played: " + std::move(why));
    }
    return warnings;
}

} // namespace

namespace {

// How the set's own screen differs from the one it is checked on, in what
// the panel shows: its size, colours and line length in pixels.
std::vector<std::string> made_for_mismatches(
    const std::optional<SetDescription>& description, const ScreenGeometry& geometry)
{
    std::vector<std::string> mismatches;
    if (!description)
        return mismatches;
    ScreenGeometry made = made_for(description, geometry);
    if (made.width != geometry.width || made.height != geometry.height)
        mismatches.push_back(made.size_text() + ", not for " + geometry.size_text());
    if (!shows_colours_alike(made, geometry))
        mismatches.push_back(std::string(made.pixel_format().name) + " at "
            + std::to_string(made.bits_per_pixel) + " bpp, not for " + geometry.pixel_format().name + " at "
            + std::to_string(geometry.bits_per_pixel));
    if (line_pixels(made) != line_pixels(geometry) && made.width == geometry.width)
        mismatches.push_back("lines of " + std::to_string(line_pixels(made)) + " pixels, not for "
            + std::to_string(line_pixels(geometry)));
    return mismatches;
}

// One row of check's table.
void print_check_row(int n, const FrameReport& frame, const std::string& coverage)
{
    if (frame.status == FrameReport::drawn)
        std::printf("%-12s %8u %8u %9u  %s\n", frame_name(n).c_str(), frame.records, frame.zero_records,
            frame.trailing_bytes, coverage.c_str());
    else
        std::printf("%-12s %8s %8s %9s  %s\n", frame_name(n).c_str(), "-", "-", "-", coverage.c_str());
}

} // namespace

int check_frames(const ViewOptions& options)
{
    fs::path dir = options.input;
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (int status = open_set(options, false, &geometry, &description))
        return status;

    // A set whose later frames draw only what changed is checked by the
    // screen each frame leaves, which its description records.
    const bool partial = description && description->partial_frames;
    const std::vector<std::string> mismatches = made_for_mismatches(description, geometry);
    std::optional<std::vector<int>> differing = frames_not_as_made(dir, description, geometry);
    std::printf("%-12s %8s %8s %9s  %s\n", "frame", "records", "zero", "trailing",
        partial ? "draws" : "covers the screen");
    bool all_right = true;
    play_directory(
        dir, geometry, {}, false, [&](int n, const FrameReport& frame, const std::vector<uint8_t>&) {
            bool as_intended = !differing || !std::count(differing->begin(), differing->end(), n);
            bool whole_records = frame.status == FrameReport::drawn && frame.drawn_records == frame.records;
            all_right = all_right && as_intended
                && (partial && n > 1 ? whole_records : frame.covers_exactly(geometry));
            std::string coverage
                = partial && n > 1 && whole_records && frame.pixels_covered < geometry.pixels()
                ? (frame.pixels_covered ? "the first " + std::to_string(frame.pixels_covered) + " pixels"
                                        : std::string("nothing"))
                    + ", keeping the rest"
                : describe_coverage(frame, geometry);
            // The codes are as encoded; on another screen that is not the screen meant.
            if (differing)
                coverage += !as_intended ? "; screen NOT as intended"
                    : mismatches.empty() ? "; screen as intended"
                                         : "; codes as encoded (for another screen)";
            print_check_row(n, frame, coverage);
        });
    if (partial)
        std::printf("note: frames after %s draw only part of the screen and rely on the frames before: the "
                    "set needs every frame, in order\n",
            frame_name(1).c_str());
    for (const std::string& warning : strangers(dir))
        std::printf("warning: %s\n", warning.c_str());

    if (!description)
        std::printf("note: no %s in %s: the pixel count is checked, not the shape\n", SET_DESCRIPTION_FILE,
            dir.c_str());
    else if (description->bits_per_pixel && description->bits_per_pixel != geometry.bits_per_pixel
        && mismatches.empty())
        std::printf("note: the set was made for %u bpp; at %u bpp it shows the same\n",
            description->bits_per_pixel, geometry.bits_per_pixel);
    for (const std::string& mismatch : mismatches)
        std::printf("the set was made for %s\n", mismatch.c_str());
    std::string verdict = partial ? "leaves the screen as intended on " + geometry.size_text()
                                  : "covers " + geometry.size_text() + " exactly";
    if (all_right && !mismatches.empty())
        std::printf("every frame %s, but the set was made for another screen\n",
            (partial ? "draws its records whole" : "covers " + geometry.size_text() + " exactly").c_str());
    else
        std::printf("%s frame %s\n", all_right ? "every" : "not every", verdict.c_str());
    return all_right && mismatches.empty() ? 0 : 1;
}

int write_sample(const std::string& out, const ScreenGeometry& geometry)
{
    StagedFiles staged(out);
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "spinner-%02d.png", n);
        std::vector<uint8_t> png;
        if (std::string error = encode_png_rgb(geometry.width, geometry.height,
                render_sample_frame(n, geometry.width, geometry.height), &png);
            !error.empty())
            return fail((fs::path(out) / name).string() + ": " + error);
        if (std::string error = staged.add(name, png); !error.empty())
            return fail(error);
    }
    if (std::string error = staged.commit(); !error.empty())
        return fail(error);
    std::printf("%d sample images of %s in %s\n", FRAME_COUNT, geometry.size_text().c_str(), out.c_str());
    return 0;
}
