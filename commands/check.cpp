#include "commands/frame_commands.h"

#include "commands/command_support.h"
#include "commands/set_view.h"
#include "core/schedule.h"
#include "frames/bundle.h"
#include "frames/set_writer.h"
#include "lib/file_io.h"
#include "lib/natural_order.h"
#include "lib/scratch.h"

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

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

std::string left_by_a_killed_writer(const std::string& name)
{
    return name
        + " was left by a pelimora tool stopped before it finished: the next writer into this folder "
          "removes it; a copy made before takes it along";
}

// The names in a folder, in natural order.
std::vector<std::string> sorted_names(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

// The warnings about a folder's contents, then about what a killed writer
// left beside it.
void print_warnings(const std::vector<std::string>& warnings, const fs::path& dir)
{
    for (const std::string& warning : warnings)
        std::printf("warning: %s\n", warning.c_str());
    for (const fs::path& stage : stale_scratch_beside(dir))
        std::printf("warning: beside it, %s\n", left_by_a_killed_writer(stage.string()).c_str());
}

// What is in a set besides its frames and its description: files that look
// like frames of the schedule but are not among its names, scratch a writer
// left when it was killed, and anything else, all of which a copy of the
// folder takes to the device.
std::vector<std::string> strangers(const fs::path& dir)
{
    std::vector<std::string> warnings;
    for (const std::string& name : sorted_names(dir)) {
        long n = meant_frame(name);
        if (is_set_file(name))
            continue;
        if (is_scratch_name(name)) {
            warnings.push_back(left_by_a_killed_writer(name));
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

// What is in a bundle besides its index and the sets it lists.
std::vector<std::string> bundle_strangers(const fs::path& dir, const std::vector<SetToView>& sets)
{
    std::vector<std::string> warnings;
    for (const std::string& name : sorted_names(dir)) {
        if (name == BUNDLE_INDEX_FILE || std::any_of(sets.begin(), sets.end(), [&](const SetToView& set) {
                return set.folder == name;
            }))
            continue;
        warnings.push_back(is_scratch_name(name) ? left_by_a_killed_writer(name)
                                                 : name + " is not listed in " + BUNDLE_INDEX_FILE
                    + ": no screen picks it, and a copy of the bundle takes it to the device too");
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
        mismatches.push_back(std::string(made.pixel_format().name) + " at " + std::to_string(made.depth())
            + " bpp, not for " + geometry.pixel_format().name + " at " + std::to_string(geometry.depth()));
    if (line_pixels(made) != line_pixels(geometry) && made.width == geometry.width)
        mismatches.push_back("lines of " + std::to_string(line_pixels(made)) + " pixels, not for "
            + std::to_string(line_pixels(geometry)));
    if (made.rotate != geometry.rotate)
        mismatches.push_back("a panel turned " + std::to_string(made.rotate) + " degrees, not for one turned "
            + std::to_string(geometry.rotate));
    return mismatches;
}

// A set judged on a screen, before anything is said about it.
struct SetJudgement {
    bool partial = false; // later frames draw only what changed, checked by the screen each leaves
    std::vector<std::string> mismatches; // how the set's own screen differs from this one
    bool digests = false; // the description records the screen each frame leaves, for this size
    struct Row {
        FrameReport frame;
        bool as_intended = true; // leaves the screen the description records
        bool whole_records = false; // drawn, every record laid down
        bool right = false;
    };
    std::vector<Row> rows; // by frame, from 1
    std::vector<std::string> strangers;
    bool all_right() const
    {
        return std::all_of(rows.begin(), rows.end(), [](const Row& row) { return row.right; });
    }
};

SetJudgement judge_set(
    const fs::path& dir, const ScreenGeometry& geometry, const std::optional<SetDescription>& description)
{
    SetJudgement judged;
    judged.partial = description && description->partial_frames;
    judged.mismatches = made_for_mismatches(description, geometry);
    std::optional<std::vector<int>> differing = frames_not_as_made(dir, description, geometry);
    judged.digests = differing.has_value();
    play_directory(
        dir, geometry, {}, false, [&](int n, const FrameReport& frame, const std::vector<uint8_t>&) {
            SetJudgement::Row row { .frame = frame };
            row.as_intended = !differing || !std::count(differing->begin(), differing->end(), n);
            row.whole_records = frame.status == FrameReport::drawn && frame.drawn_records == frame.records;
            row.right = row.as_intended
                && (judged.partial && n > 1 ? row.whole_records : frame.covers_exactly(geometry));
            judged.rows.push_back(row);
        });
    judged.strangers = strangers(dir);
    return judged;
}

// How frame `n` covers the screen, in words, and whether it leaves the screen meant.
std::string coverage_words(
    const SetJudgement& judged, int n, const SetJudgement::Row& row, const ScreenGeometry& geometry)
{
    const FrameReport& frame = row.frame;
    std::string coverage
        = judged.partial && n > 1 && row.whole_records && frame.pixels_covered < geometry.pixels()
        ? (frame.pixels_covered ? "the first " + std::to_string(frame.pixels_covered) + " pixels"
                                : std::string("nothing"))
            + ", keeping the rest"
        : describe_coverage(frame, geometry);
    // The codes are as encoded; on another screen that is not the screen meant.
    if (judged.digests)
        coverage += !row.as_intended    ? "; screen NOT as intended"
            : judged.mismatches.empty() ? "; screen as intended"
                                        : "; codes as encoded (for another screen)";
    return coverage;
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

// The notes after the table: what the set needs, what its folder holds, what it was made for.
void print_check_notes(const SetJudgement& judged, const fs::path& dir, const ScreenGeometry& geometry,
    const std::optional<SetDescription>& description)
{
    if (judged.partial)
        std::printf("note: frames after %s draw only part of the screen and rely on the frames before: the "
                    "set needs every frame, in order\n",
            frame_name(1).c_str());
    print_warnings(judged.strangers, dir);
    if (!description)
        std::printf("note: no %s in %s: the pixel count is checked, not the shape\n", SET_DESCRIPTION_FILE,
            dir.c_str());
    else if (description->bits_per_pixel && description->bits_per_pixel != geometry.depth()
        && judged.mismatches.empty())
        std::printf("note: the set was made for %u bpp; at %u bpp it shows the same\n",
            description->bits_per_pixel, geometry.depth());
    for (const std::string& mismatch : judged.mismatches)
        std::printf("the set was made for %s\n", mismatch.c_str());
}

// The table, the notes and the verdict, which says what is wrong.
Error print_judgement(const SetJudgement& judged, const fs::path& dir, const ScreenGeometry& geometry,
    const std::optional<SetDescription>& description)
{
    std::printf("%-12s %8s %8s %9s  %s\n", "frame", "records", "zero", "trailing",
        judged.partial ? "draws" : "covers the screen");
    for (size_t i = 0; i < judged.rows.size(); ++i)
        print_check_row(
            int(i) + 1, judged.rows[i].frame, coverage_words(judged, int(i) + 1, judged.rows[i], geometry));
    print_check_notes(judged, dir, geometry, description);
    const std::string size = geometry.size_text();
    std::string verdict
        = (judged.partial ? "leaves the screen as intended on " + size : "covers " + size + " exactly")
        + rotation_text(geometry);
    if (judged.all_right() && !judged.mismatches.empty())
        std::printf("every frame %s, but the set was made for another screen\n",
            (judged.partial ? "draws its records whole" : "covers " + size + " exactly").c_str());
    else
        std::printf("%s frame %s\n", judged.all_right() ? "every" : "not every", verdict.c_str());
    if (!judged.all_right() || !judged.mismatches.empty())
        return already_said(ExitStatus::wrong_input);
    return {};
}

Error check_set(const ViewOptions& options)
{
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (Error error = open_set(options, Depth::optional, &geometry, &description))
        return error;
    return print_judgement(
        judge_set(options.input, geometry, description), options.input, geometry, description);
}

} // namespace

Error check_frames(const ViewOptions& options)
{
    std::vector<SetToView> sets;
    if (Error error = sets_to_view(options, &sets))
        return error;
    if (sets.size() == 1 && sets[0].folder.empty())
        return check_set(options);
    // Each set is judged, whatever the one before it showed.
    ExitStatus status = ExitStatus::done;
    for (const SetToView& set : sets) {
        std::printf("%s:\n", set.folder.c_str());
        Error error = check_set(set.options);
        print_error(error);
        status = worse(status, error.status);
    }
    print_warnings(bundle_strangers(options.input, sets), options.input);
    std::printf("%s of the %zu sets in %s is right for its panel\n",
        status != ExitStatus::done ? "not every one" : "each", sets.size(), options.input.c_str());
    return already_said(status);
}
