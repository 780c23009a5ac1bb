#include "commands/encode.h"

#include "artwork/artwork.h"
#include "commands/command_support.h"
#include "frames/bundle.h"
#include "frames/frame_plan.h"
#include "frames/panel_model.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "frames/set_writer.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/natural_order.h"
#include "lib/progress.h"
#include "lib/staged_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <future>
#include <memory>

namespace fs = std::filesystem;

namespace {

// A file of 1 to 3 bytes holds no whole record: the player maps it, draws
// nothing, pans, and the screen keeps the frame before.

// How the frame file compares with raw RGB565, in the direction that is true.
std::string size_against_raw(size_t frame_bytes, size_t raw_bytes)
{
    char text[128];
    if (frame_bytes <= raw_bytes)
        std::snprintf(
            text, sizeof text, "%.1fx smaller than raw RGB565", double(raw_bytes) / double(frame_bytes));
    else
        std::snprintf(text, sizeof text,
            "%.1fx LARGER than raw RGB565: runs this short come from photographic "
            "or noisy artwork; flat colours make small frames",
            double(frame_bytes) / double(raw_bytes));
    return text;
}

std::string seconds_text(int64_t us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(us) / 1e6);
    return text;
}

// "logo-%02d.png": the numbered files there are, from 0 or 1 up to the first gap.
bool is_sequence(const std::string& input)
{
    size_t at = input.find('%');
    if (at == std::string::npos)
        return false;
    size_t d = input.find_first_not_of("0123456789", at + 1);
    return d != std::string::npos && input[d] == 'd' && input.find('%', d) == std::string::npos;
}

std::string expand_sequence(const std::string& pattern, std::vector<fs::path>* paths)
{
    std::error_code ec;
    size_t before = paths->size();
    for (int n = 0; n < 100000; ++n) {
        char name[4096];
        std::snprintf(name, sizeof name, pattern.c_str(), n);
        if (fs::exists(name, ec))
            paths->emplace_back(name);
        else if (n > 0 || paths->size() > before)
            break;
    }
    if (paths->size() == before)
        return pattern + ": no numbered files, from 0 or 1 on";
    return "";
}

// The pictures the inputs name: directories in natural order (hidden files
// skipped, others named in one note), sequences in number order.
std::string collect_inputs(
    const std::vector<std::string>& inputs, std::vector<fs::path>* paths, bool* several)
{
    std::vector<std::string> skipped;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (is_sequence(input) && !fs::exists(input, ec)) {
            if (std::string error = expand_sequence(input, paths); !error.empty())
                return error;
            *several = true;
            continue;
        }
        if (!fs::is_directory(input, ec)) {
            paths->emplace_back(input);
            continue;
        }
        *several = true;
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(input, ec)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with("."))
                continue;
            std::error_code type_error;
            if (entry.is_regular_file(type_error) && is_artwork_name(entry.path()))
                found.push_back(entry.path());
            else
                skipped.push_back(name);
        }
        if (ec)
            return input + ": cannot list: " + ec.message();
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return natural_less(a.filename().string(), b.filename().string());
        });
        paths->insert(paths->end(), found.begin(), found.end());
    }
    if (!skipped.empty())
        note("skipping " + std::to_string(skipped.size()) + " that are not pictures: " + name_list(skipped));
    return "";
}

// The options checked and taken apart, and what they name, for the steps below.
struct EncodeJob {
    const EncodeOptions& options;
    Rgb background;
    Fit fit = Fit::contain;
    std::vector<fs::path> inputs;
    bool several = false; // a directory or a sequence: a set, even of one picture
    std::unique_ptr<Artwork> artwork; // the first input
    bool moving = false;
    std::vector<struct SetTarget> targets; // one set, or a bundle's
    bool bundle = false;
};

// A set to make: its folder in a bundle ("" for a set alone), its panel, and
// the fitting of the artwork into it.
struct SetTarget {
    std::string name;
    ScreenGeometry panel;
    uint32_t depth = 0; // 0: the set suits either depth
    Fitting fitting;
    std::string prefix() const { return name.empty() ? "" : name + "/"; }
};

// 0, or the exit status after saying what is wrong with the options.
int check_options(const EncodeOptions& options, EncodeJob& job)
{
    if (std::string error = parse_colour(options.background, &job.background); !error.empty())
        return fail("--background " + error, BAD_ARGUMENT);
    std::optional<Fit> fit = parse_fit(options.fit);
    if (!fit)
        return fail("--fit '" + options.fit + "': expected contain, cover, fill or none", BAD_ARGUMENT);
    job.fit = *fit;
    if (!std::isfinite(options.start_seconds) || options.start_seconds < 0 || options.start_seconds > 1e6)
        return fail("--start must be a number of seconds from 0", BAD_ARGUMENT);
    if (options.every_ms <= 0)
        return fail("--every must be a number of milliseconds above 0", BAD_ARGUMENT);
    return 0;
}

// The inputs and the first one opened: 0, or the exit status after saying why not.
int open_inputs(EncodeJob& job)
{
    const EncodeOptions& options = job.options;
    if (std::string error = collect_inputs(options.inputs, &job.inputs, &job.several); !error.empty())
        return fail(error);
    if (job.inputs.empty())
        return fail("no pictures in " + name_list(options.inputs));
    if (job.inputs.size() > 1 && (options.hold || options.fade_in))
        return fail(std::string(options.hold ? "--hold" : "--fade-in") + " takes one picture, not "
                + std::to_string(job.inputs.size()),
            BAD_ARGUMENT);
    if (std::string error = open_artwork(job.inputs[0], &job.artwork); !error.empty())
        return fail(error);
    job.moving = job.artwork->moving();
    const std::string first = job.inputs[0].string();
    if (job.moving && job.inputs.size() > 1)
        return fail(first + ": a " + job.artwork->kind() + " is encoded on its own; give it alone");
    if (!job.moving && (options.spread || options.start_seconds > 0))
        return fail(std::string(options.spread ? "--spread" : "--start") + " samples an animation or video; "
                + first + " is a still " + job.artwork->kind(),
            BAD_ARGUMENT);
    if (options.dither)
        note("dithering breaks up runs, so the frames get larger");
    return 0;
}

// The panel a set is made for, from what is given, and the fitting into it;
// notes and errors begin with `label` (a bundle's panel file). 0, or the exit status.
int target_for(
    const EncodeJob& job, const ScreenOverrides& given, const std::string& label, SetTarget* target)
{
    ChosenScreen chosen;
    if (std::string error = choose_screen(given, std::nullopt, false, &chosen); !error.empty())
        return fail(error, BAD_ARGUMENT);
    ScreenGeometry& panel = target->panel = chosen.geometry;
    const bool depth_known = chosen.depth_known;
    if (const char* refusal = panel.pixel_format().refusal)
        return fail(label + "a " + panel.pixel_format().name + " panel cannot show the player's frames: it "
                + refusal,
            BAD_ARGUMENT);
    target->depth = depth_known ? panel.bits_per_pixel : 0;
    // With --reachable the artwork is fitted into the rows the stream reaches.
    const uint32_t reached = rows_drawn_in_full(panel);
    if (reached < panel.height && job.options.reachable)
        note(label + "fitted into rows 0-" + std::to_string(reached - 1)
            + ", the rows the player draws in full on this panel; " + rows_text(reached, panel.height - 1)
            + " keep what the boot loader left");
    else if (reached < panel.height)
        note(label + rows_text(reached, panel.height - 1) + " cannot be drawn in full on a "
            + panel.size_text() + "x" + std::to_string(panel.bits_per_pixel) + " panel with "
            + std::to_string(panel.stride()) + "-byte lines: the player draws "
            + std::to_string(panel.pixels()) + " pixels of stream (--reachable fits the artwork above them)");
    // The artwork is fitted upright, into what those rows show of it.
    const uint32_t rows = job.options.reachable ? reached : panel.height;
    target->fitting = { panel.turned_sideways() ? rows : panel.width,
        panel.turned_sideways() ? panel.width : rows, job.fit, job.background };
    return 0;
}

// The panel, from the flags or the panel file, or a picture's own size when
// it has one (not an SVG, not a video).
int choose_panel(EncodeJob& job)
{
    ScreenFlags flags = job.options.screen;
    if (job.options.panels.size() == 1)
        flags.panel = job.options.panels[0];
    ScreenOverrides given;
    if (std::string error = parse_screen_flags(flags, &given); !error.empty())
        return fail(error, BAD_ARGUMENT);
    if (!given.width && !given.panel) {
        job.artwork->native_size(&given.width, &given.height);
        if (!given.width || !given.height || job.artwork->source_kind() == SourceKind::video)
            return fail(job.inputs[0].string() + ": a " + job.artwork->kind()
                    + " says nothing of the panel: give it with --size WxH or --panel FILE",
                BAD_ARGUMENT);
    }
    job.targets.resize(1);
    return target_for(job, given, "", &job.targets[0]);
}

// The panel files of a bundle: each --panel, then --panels DIR's *.json in natural order.
int bundle_panel_files(const EncodeOptions& options, std::vector<fs::path>* files)
{
    files->assign(options.panels.begin(), options.panels.end());
    if (options.panels_dir.empty())
        return 0;
    std::error_code ec;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(options.panels_dir, ec))
        if (entry.path().extension() == ".json" && !entry.path().filename().string().starts_with("."))
            found.push_back(entry.path());
    if (ec)
        return fail(options.panels_dir + ": cannot list: " + ec.message());
    if (found.empty())
        return fail(options.panels_dir + ": no panel files (*.json)", BAD_ARGUMENT);
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return natural_less(a.filename().string(), b.filename().string());
    });
    files->insert(files->end(), found.begin(), found.end());
    return 0;
}

// A bundle's panels, each from its own file, each with a folder of its own.
int choose_bundle_panels(EncodeJob& job)
{
    const ScreenFlags& flags = job.options.screen;
    if (!flags.size.empty() || !flags.depth.empty() || !flags.format.empty() || !flags.line_length.empty()
        || !flags.rotate.empty())
        return fail(
            "--size, --depth, --format, --line-length and --rotate name one panel: give each panel of "
            "a bundle in a file of its own",
            BAD_ARGUMENT);
    std::vector<fs::path> files;
    if (int status = bundle_panel_files(job.options, &files))
        return status;
    for (const fs::path& file : files) {
        SetTarget target;
        ScreenOverrides own;
        own.panel.emplace();
        if (std::string error = read_panel_file(file, &*own.panel); !error.empty())
            return fail(error, BAD_ARGUMENT);
        if (int status = target_for(job, own, file.string() + ": ", &target))
            return status;
        if (!target.depth)
            return fail(file.string() + ": gives no bits_per_pixel, which a bundle's sets are told apart by",
                BAD_ARGUMENT);
        const std::string& own_name = own.panel->name;
        if (std::string refusal = bundle_name_refusal(own_name); !own_name.empty() && !refusal.empty())
            return fail(file.string() + ": " + refusal, BAD_ARGUMENT);
        target.name = bundle_set_name(target.panel, own_name);
        target.panel.line_length = target.panel.stride();
        target.panel.format = &target.panel.pixel_format();
        for (const SetTarget& other : job.targets)
            if (other.name == target.name || same_bundle_screen(other.panel, target.panel))
                return fail(file.string() + ": "
                        + (other.name == target.name
                                ? "its set would be named " + target.name + " as another's"
                                : "the same screen as the panel of " + other.name
                                    + " (a set each would be one too many)"),
                    BAD_ARGUMENT);
        job.targets.push_back(target);
    }
    job.bundle = true;
    return 0;
}

// Whether the output is a set of frames rather than one frame file.
bool makes_set(const EncodeJob& job)
{
    const EncodeOptions& options = job.options;
    std::error_code ec;
    return job.bundle || job.moving || job.several || job.inputs.size() > 1 || options.hold || options.fade_in
        || options.trim || options.loop || fs::is_directory(options.out, ec)
        || (!options.out.empty() && options.out.back() == '/');
}

int check_set_out(const EncodeJob& job)
{
    const std::string& out = job.options.out;
    std::error_code ec;
    if (out.empty())
        return fail("--out DIR is needed for a set of frames", BAD_ARGUMENT);
    if (fs::path(out).extension() != ".rle" || fs::is_directory(out, ec))
        return 0;
    const std::string maker = job.moving
        ? "the " + job.artwork->kind() + " " + job.inputs[0].string() + " makes"
        : job.inputs.size() > 1 ? "the " + std::to_string(job.inputs.size()) + " pictures make"
                                : "this makes";
    return fail("--out " + out + ": names one frame file, but " + maker + " a set of "
            + std::to_string(FRAME_COUNT) + " frames: give a directory",
        BAD_ARGUMENT);
}

// One frame file from one still.
int encode_one_frame(const EncodeJob& job)
{
    const fs::path& input = job.inputs[0];
    fs::path out
        = job.options.out.empty() ? fs::path(input).replace_extension(".rle") : fs::path(job.options.out);
    if (same_file(out, input))
        return fail(out.string() + ": is the input picture; give another --out");
    LinearPicture picture;
    SourceFrame which;
    const SetTarget& target = job.targets[0];
    if (std::string error = job.artwork->picture_at(0, target.fitting, &picture, &which); !error.empty())
        return fail(error);
    std::vector<uint8_t> frame = encode_rle565(
        image_to_panel_stream(to_srgb(picture), job.background, job.options.dither, target.panel));
    if (std::string error = write_atomically(out, frame); !error.empty())
        return fail(error);
    std::printf("%s <- %s: %zu records, %zu bytes, %s\n", out.c_str(), input.c_str(), frame.size() / 4,
        frame.size(), size_against_raw(frame.size(), target.panel.pixels() * 2).c_str());
    return 0;
}

// A picture read for the frames that show it.
struct Fetched {
    LinearPicture picture;
    SourceFrame which;
};

// Reads the plan's pictures ahead of the frames, on threads of their own:
// two stills at once, each from a reader of its own, or a clip's frames one
// at a time from its one reader.
class PictureReader {
public:
    PictureReader(const EncodeJob& job, const FramePlan& plan, const Fitting& fitting)
        : job_(job)
        , plan_(plan)
        , fitting_(fitting)
        , ahead_(job.moving ? 1 : 2)
    {
    }
    ~PictureReader()
    {
        for (Reading& reading : reading_)
            reading.done.wait();
    }
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    // When frame i reads a picture, waits for it and makes it `*shown`; "" or the error.
    [[nodiscard]] std::string picture_for(int i, std::shared_ptr<const Fetched>* shown)
    {
        read_ahead();
        if (read_index_ >= plan_.reads.size() || plan_.reads[read_index_] != i)
            return "";
        std::string error = reading_.front().done.get();
        *shown = reading_.front().into;
        reading_.pop_front();
        ++read_index_;
        read_ahead();
        return error;
    }

private:
    struct Reading {
        std::shared_ptr<Fetched> into; // also held by the task: it outlives a run that fails first
        std::future<std::string> done;
    };

    void read_ahead()
    {
        while (next_read_ < plan_.reads.size() && reading_.size() < ahead_) {
            auto into = std::make_shared<Fetched>();
            PlannedFrame frame = plan_.frames[size_t(plan_.reads[next_read_++])];
            SignalsHeld held; // the thread leaves interrupts to this one
            reading_.push_back({ into,
                std::async(std::launch::async, [this, frame, into] { return fetch(frame, into.get()); }) });
        }
    }

    std::string fetch(PlannedFrame frame, Fetched* into) const
    {
        std::unique_ptr<Artwork> still;
        Artwork* source = job_.artwork.get();
        if (!job_.moving) {
            const fs::path& input = job_.inputs[size_t(frame.input)];
            if (std::string error = open_artwork(input, &still); !error.empty())
                return error;
            if (still->moving())
                return input.string() + ": a " + still->kind() + " among stills: give it alone";
            source = still.get();
        }
        if (std::string error = source->picture_at(frame.time_us, fitting_, &into->picture, &into->which);
            !error.empty())
            return error;
        // A clip whose length its header did not give ends where its frames do.
        if (into->which.past_end && job_.options.loop && source->duration_us() > 0)
            return source->picture_at(
                frame.time_us % source->duration_us(), fitting_, &into->picture, &into->which);
        return "";
    }

    const EncodeJob& job_;
    const FramePlan& plan_;
    const Fitting fitting_;
    const size_t ahead_;
    size_t next_read_ = 0, read_index_ = 0;
    std::deque<Reading> reading_;
};

// Makes each frame from the picture read for it: its codes, written by the
// set's writer, and its report line.
class FrameMaker {
public:
    FrameMaker(const EncodeJob& job, const SetTarget& target, StagedFiles& staged)
        : job_(job)
        , target_(target)
        , writer_(staged, target.prefix(), job.options.trim, FRAME_COUNT)
        , lines_(FRAME_COUNT)
    {
    }

    [[nodiscard]] std::string make(int i, PlannedFrame frame, const Fetched* fetched)
    {
        std::string source = frame.input < 0 ? "held: draws nothing" : source_text(frame, fetched->which);
        FrameWritten written;
        if (frame.input < 0) {
            if (std::string error = writer_.add_held(i, &written); !error.empty())
                return error;
        } else {
            make_codes(frame, *fetched);
            if (std::string error = writer_.add_frame(i, &stream_, &written); !error.empty())
                return error;
            // The codes went to the screen unless the frame changed nothing.
            stream_on_screen_ = i == 0 || written.trimmed > 0;
            if (written.draws_nothing)
                source += ", unchanged: draws nothing";
        }
        const bool trim = job_.options.trim;
        char line[768];
        std::snprintf(line, sizeof line, "%-12s <- %-40s %7zu records %9zu bytes  writes %s (%s %s)",
            frame_name(i + 1).c_str(), source.c_str(), written.file_bytes / 4, written.file_bytes,
            this->written(trim ? written.trimmed : written.whole).c_str(), trim ? "untrimmed" : "with --trim",
            this->written(trim ? written.whole : written.trimmed).c_str());
        lines_[size_t(i)] = line;
        return "";
    }

    // Screen memory a count of pixels takes, in bytes when the depth is known.
    std::string written(uint64_t pixels) const
    {
        uint32_t pixel_bytes = target_.depth / 8;
        return pixel_bytes ? std::to_string(pixels * pixel_bytes) + " B" : std::to_string(pixels) + " px";
    }
    // The screen memory all frames write, and the same the other way (--trim or not).
    std::pair<uint64_t, uint64_t> totals() const
    {
        return job_.options.trim ? std::pair(writer_.trimmed_pixels(), writer_.whole_pixels())
                                 : std::pair(writer_.whole_pixels(), writer_.trimmed_pixels());
    }
    const std::vector<std::string>& lines() const { return lines_; }
    bool partial() const { return writer_.partial(); }
    const SetTarget& target() const { return target_; }
    SetWriter& writer() { return writer_; }

private:
    std::string source_text(PlannedFrame frame, const SourceFrame& which) const
    {
        std::string source = job_.inputs[size_t(frame.input)].filename().string();
        if (job_.moving) {
            char detail[64];
            std::snprintf(detail, sizeof detail, " %s (frame %d)", seconds_text(which.time_us).c_str(),
                which.index + 1);
            source += detail;
        }
        if (job_.options.fade_in)
            source += " at " + std::to_string(int(std::lround(frame.weight * 100))) + "%";
        return source;
    }

    // The frame's codes in `stream_`, made again only from another picture or weight.
    void make_codes(PlannedFrame frame, const Fetched& fetched)
    {
        const LinearPicture& picture = fetched.picture;
        const bool dither = job_.options.dither;
        if (made_.input != frame.input || made_.index != fetched.which.index
            || made_.weight != frame.weight) {
            // A picture taken as it was read goes to codes straight from its bytes.
            stream_ = !picture.srgb.empty() && frame.weight == 1
                ? rgb_to_panel_stream(picture.srgb, picture.width, job_.background, dither, target_.panel)
                : image_to_panel_stream(
                    to_srgb(picture, frame.weight, job_.background), job_.background, dither, target_.panel);
            made_ = { frame.input, fetched.which.index, frame.weight };
        } else if (stream_on_screen_) {
            stream_ = writer_.screen();
        }
        stream_on_screen_ = false;
    }

    const EncodeJob& job_;
    const SetTarget& target_;
    SetWriter writer_;
    std::vector<uint16_t> stream_; // the frame's codes
    struct {
        int input = -1, index = -1;
        float weight = -1;
    } made_; // what `stream_` was made from
    bool stream_on_screen_ = false; // those codes were swapped into the writer's screen
    std::vector<std::string> lines_;
};

// Reads ahead and makes each frame while the next picture is read: 0, or
// the exit status after saying what failed. `held_from` moves earlier when
// a clip turns out to end before the plan thought.
int make_frames(const EncodeJob& job, const FramePlan& plan, const Fitting& fitting,
    const std::vector<FrameMaker*>& makers, int* held_from)
{
    Progress progress(FRAMES_TOOL, "encoding frame", FRAME_COUNT, job.options.quiet);
    PictureReader reader(job, plan, fitting);
    // Destroyed first: waits for the frame being made.
    std::future<std::string> making;
    auto made_before = [&making]() -> std::string { return making.valid() ? making.get() : ""; };
    std::shared_ptr<const Fetched> shown; // the picture the last frame read
    for (int i = 0; i < FRAME_COUNT; ++i) {
        stop_if_interrupted();
        PlannedFrame frame = plan.frames[size_t(i)];
        if (std::string error = reader.picture_for(i, &shown); !error.empty())
            return fail(error);
        if (std::string error = made_before(); !error.empty())
            return fail(error);
        if (frame.input >= 0 && shown->which.past_end && !job.options.hold && !job.options.fade_in) {
            frame.input = -1;
            *held_from = *held_from ? std::min(*held_from, i + 1) : i + 1;
        }
        SignalsHeld held;
        making = std::async(std::launch::async, [&makers, i, frame, shown] {
            for (FrameMaker* maker : makers)
                if (std::string error = maker->make(i, frame, shown.get()); !error.empty())
                    return error;
            return std::string();
        });
        progress.step(i + 1);
    }
    if (std::string error = made_before(); !error.empty())
        return fail(error);
    progress.done();
    return 0;
}

// The plan for the set: 0, or the exit status after saying why there is none.
int plan_set(EncodeJob& job, FramePlan* plan)
{
    const EncodeOptions& options = job.options;
    const int64_t start_us = std::llround(options.start_seconds * 1e6);
    PlanRequest request { job.inputs.size(), job.moving, start_us, job.artwork->duration_us(),
        int64_t(options.every_ms) * 1000, options.spread, options.loop, options.hold, options.fade_in };
    switch (plan_frames(request, plan)) {
    case PlanError::start_past_end:
        return fail(job.inputs[0].string() + ": --start " + seconds_text(start_us) + " is past its end at "
            + seconds_text(request.duration_us));
    case PlanError::length_unknown:
        return fail(job.inputs[0].string()
            + ": its length is not known, so it cannot be spread; sample it with --every");
    case PlanError::none: break;
    }
    if (job.inputs.size() > plan->pictures_used) {
        std::vector<std::string> dropped;
        for (size_t i = plan->pictures_used; i < job.inputs.size(); ++i)
            dropped.push_back(job.inputs[i].filename().string());
        note("the player shows " + std::to_string(FRAME_COUNT) + " frames; " + std::to_string(dropped.size())
            + " pictures after " + job.inputs[plan->pictures_used - 1].filename().string()
            + " are not used: " + name_list(dropped));
        job.inputs.resize(plan->pictures_used);
    }
    // Nothing the new sets write may be an input.
    for (const SetTarget& set : job.targets) {
        const fs::path out = fs::path(options.out) / set.name;
        for (const fs::path& input : job.inputs)
            for (int n = 1; n <= FRAME_COUNT + 1; ++n) {
                fs::path target = n <= FRAME_COUNT ? out / frame_name(n) : out / SET_DESCRIPTION_FILE;
                if (same_file(input, target))
                    return fail(input.string() + ": is an input, and the new set in " + out.string()
                        + " would replace it");
            }
    }
    return 0;
}

// A clip cut short of the length its header gives: refused, or with
// --allow-short a note. 0, or the exit status.
int judge_length(const EncodeJob& job)
{
    int64_t claimed = job.artwork->claimed_duration_us();
    if (!claimed)
        return 0;
    std::string damage = job.inputs[0].string() + ": damaged or cut: its frames end at "
        + seconds_text(job.artwork->duration_us()) + ", though its header says it plays "
        + seconds_text(claimed);
    if (!job.options.allow_short)
        return fail(damage + "; --allow-short makes the set from the frames there are");
    note(damage);
    return 0;
}

void report_set(const EncodeJob& job, const FrameMaker& maker, int held_from)
{
    for (const std::string& line : maker.lines())
        std::printf("%s\n", line.c_str());
    const std::string first = job.inputs[0].filename().string();
    if (held_from)
        note(frame_name(held_from) + " to " + frame_name(FRAME_COUNT) + " hold the last picture of "
            + (job.moving ? first + ", which ends at " + seconds_text(job.artwork->duration_us())
                    : job.inputs.size() == 1 ? first
                                             : "the " + std::to_string(job.inputs.size()) + " pictures")
            + ": they draw nothing (--loop repeats it instead)");
    if (maker.partial())
        note("frames after " + frame_name(1)
            + " draw only part of the screen and rely on the frame before: the set needs every frame, in "
              "order");
    auto [written, other] = maker.totals();
    std::printf("screen memory written for the %d frames: %s; %s %s\n", FRAME_COUNT,
        maker.written(written).c_str(), job.options.trim ? "untrimmed" : "with --trim",
        maker.written(other).c_str());
    const SetTarget& target = maker.target();
    std::printf("%d frames for %s%s%s (%s, fit %s) in %s\n", FRAME_COUNT, target.panel.size_text().c_str(),
        target.depth ? (" at " + std::to_string(target.depth) + " bpp").c_str() : "",
        rotation_text(target.panel).c_str(), job.artwork->kind().c_str(), job.options.fit.c_str(),
        (fs::path(job.options.out) / target.name).c_str());
}

// A set is not written into a bundle's folder, nor a bundle into a set's:
// the two would mix. 0, or the exit status.
int check_out_kind(const EncodeJob& job)
{
    const fs::path out = job.options.out;
    std::error_code ec;
    if (!job.bundle && is_bundle(out))
        return fail(out.string() + ": holds a bundle (" + BUNDLE_INDEX_FILE
                + "), which a set would mix with; give another --out",
            BAD_ARGUMENT);
    if (job.bundle && (fs::exists(out / SET_DESCRIPTION_FILE, ec) || fs::exists(out / frame_name(1), ec)))
        return fail(
            out.string() + ": holds a set of frames, which a bundle would mix with; give another --out",
            BAD_ARGUMENT);
    return 0;
}

// Each set's description; for a bundle also its index, with the sets of
// the bundle there before that it no longer holds removed on commit.
std::string add_descriptions(
    const EncodeJob& job, const std::vector<std::unique_ptr<FrameMaker>>& makers, StagedFiles& staged)
{
    std::vector<BundleEntry> entries;
    for (const auto& maker : makers) {
        const SetTarget& target = maker->target();
        const ScreenGeometry& panel = target.panel;
        if (std::string error = maker->writer().add_description(
                { panel.width, panel.height, target.depth, panel.line_length, panel.format, panel.rotate });
            !error.empty())
            return error;
        entries.push_back({ target.name, panel });
    }
    if (!job.bundle)
        return "";
    std::vector<BundleEntry> before;
    if (is_bundle(job.options.out) && read_bundle(job.options.out, &before).empty())
        for (const BundleEntry& old : before)
            if (std::none_of(
                    entries.begin(), entries.end(), [&](const BundleEntry& e) { return e.name == old.name; }))
                staged.remove_on_commit(old.name);
    return staged.add(BUNDLE_INDEX_FILE, bundle_index_bytes(entries));
}

bool same_fitting(const Fitting& a, const Fitting& b)
{
    return a.width == b.width && a.height == b.height && a.fit == b.fit && a.background.r == b.background.r
        && a.background.g == b.background.g && a.background.b == b.background.b;
}

// A set of frames, or a bundle of them, written as a whole with the descriptions.
int encode_sets(EncodeJob& job)
{
    FramePlan plan;
    if (int status = plan_set(job, &plan))
        return status;
    // The folder is locked before it is looked at: a writer of the other
    // kind cannot slip in between.
    StagedFiles staged(job.options.out);
    if (std::string error = staged.prepare(); !error.empty())
        return fail(error);
    if (int status = check_out_kind(job))
        return status;
    std::vector<std::unique_ptr<FrameMaker>> makers;
    for (const SetTarget& target : job.targets)
        makers.push_back(std::make_unique<FrameMaker>(job, target, staged));
    int held_from = plan.held_from;
    // The artwork is read once for all the panels it is fitted to alike.
    std::vector<bool> made(makers.size());
    for (size_t i = 0; i < makers.size(); ++i) {
        std::vector<FrameMaker*> alike;
        for (size_t j = i; j < makers.size(); ++j)
            if (!made[j] && same_fitting(job.targets[j].fitting, job.targets[i].fitting)) {
                alike.push_back(makers[j].get());
                made[j] = true;
            }
        if (int status
            = alike.empty() ? 0 : make_frames(job, plan, job.targets[i].fitting, alike, &held_from))
            return status;
    }
    if (int status = judge_length(job))
        return status;
    if (std::string error = add_descriptions(job, makers, staged); !error.empty())
        return fail(error);
    if (std::string error = staged.commit(); !error.empty())
        return fail(error);
    for (const auto& maker : makers) {
        if (job.bundle)
            std::printf("%s:\n", maker->target().name.c_str());
        report_set(job, *maker, held_from);
    }
    if (job.bundle)
        std::printf("a bundle of %zu sets in %s, with %s\n", makers.size(), job.options.out.c_str(),
            BUNDLE_INDEX_FILE);
    return 0;
}

} // namespace

int encode_frames(const EncodeOptions& options)
{
    EncodeJob job { options, {}, Fit::contain, {}, false, nullptr, false, {}, false };
    if (int status = check_options(options, job))
        return status;
    if (int status = open_inputs(job))
        return status;
    const bool bundle = options.panels.size() > 1 || !options.panels_dir.empty();
    if (int status = bundle ? choose_bundle_panels(job) : choose_panel(job))
        return status;
    if (!makes_set(job))
        return encode_one_frame(job);
    if (int status = check_set_out(job))
        return status;
    return encode_sets(job);
}
