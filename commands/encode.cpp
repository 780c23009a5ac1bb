#include "commands/encode.h"

#include "commands/command_support.h"
#include "commands/encode_job.h"
#include "commands/frame_making.h"
#include "frames/bundle.h"
#include "frames/frame_plan.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "frames/set_writer.h"
#include "lib/file_io.h"
#include "lib/staged_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace fs = std::filesystem;

namespace {

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

// Whether the output is a set of frames rather than one frame file.
bool makes_set(const EncodeJob& job)
{
    const EncodeOptions& options = job.options;
    std::error_code ec;
    return job.bundle || job.moving || job.several || job.inputs.size() > 1 || options.hold || options.fade_in
        || options.trim || options.loop || fs::is_directory(options.out, ec)
        || (!options.out.empty() && options.out.back() == '/');
}

Error check_set_out(const EncodeJob& job)
{
    const std::string& out = job.options.out;
    std::error_code ec;
    if (out.empty())
        return usage_error("--out DIR is needed for a set of frames");
    if (fs::path(out).extension() != ".rle" || fs::is_directory(out, ec))
        return {};
    const std::string maker = job.moving
        ? "the " + job.artwork->kind() + " " + job.inputs[0].string() + " makes"
        : job.inputs.size() > 1 ? "the " + std::to_string(job.inputs.size()) + " pictures make"
                                : "this makes";
    return usage_error("--out " + out + ": names one frame file, but " + maker + " a set of "
        + std::to_string(FRAME_COUNT) + " frames: give a directory");
}

// One frame file from one still.
Error encode_one_frame(const EncodeJob& job)
{
    const fs::path& input = job.inputs[0];
    fs::path out
        = job.options.out.empty() ? fs::path(input).replace_extension(".rle") : fs::path(job.options.out);
    if (same_file(out, input))
        return input_error(out.string() + ": is the input picture; give another --out");
    LinearPicture picture;
    SourceFrame which;
    const SetTarget& target = job.targets[0];
    if (Error error = job.artwork->picture_at(0, target.fitting, &picture, &which))
        return error;
    std::vector<uint8_t> frame = encode_rle565(
        image_to_panel_stream(to_srgb(picture), job.background, job.options.dither, target.panel));
    if (Error error = write_atomically(out, frame))
        return error;
    std::printf("%s <- %s: %zu records, %zu bytes, %s\n", out.c_str(), input.c_str(), frame.size() / 4,
        frame.size(), size_against_raw(frame.size(), target.panel.pixels() * 2).c_str());
    return {};
}

// The plan for the set, or why there is none.
Error plan_set(EncodeJob& job, FramePlan* plan)
{
    const EncodeOptions& options = job.options;
    const int64_t start_us = std::llround(options.start_seconds * 1e6);
    PlanRequest request { job.inputs.size(), job.moving, start_us, job.artwork->duration_us(),
        int64_t(options.every_ms) * 1000, options.spread, options.loop, options.hold, options.fade_in };
    switch (plan_frames(request, plan)) {
    case PlanError::start_past_end:
        return input_error(job.inputs[0].string() + ": --start " + seconds_text(start_us)
            + " is past its end at " + seconds_text(request.duration_us));
    case PlanError::length_unknown:
        return input_error(job.inputs[0].string()
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
            for (const std::string& name : set_file_names()) {
                fs::path target = out / name;
                if (same_file(input, target))
                    return input_error(input.string() + ": is an input, and the new set in " + out.string()
                        + " would replace it");
            }
    }
    return {};
}

// A clip cut short of the length its header gives: refused, or with
// --allow-short a note.
Error judge_length(const EncodeJob& job)
{
    int64_t claimed = job.artwork->claimed_duration_us();
    if (!claimed)
        return {};
    std::string damage = job.inputs[0].string() + ": damaged or cut: its frames end at "
        + seconds_text(job.artwork->duration_us()) + ", though its header says it plays "
        + seconds_text(claimed);
    if (!job.options.allow_short)
        return input_error(damage + "; --allow-short makes the set from the frames there are");
    note(damage);
    return {};
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
        target.panel.depth_known() ? (" at " + std::to_string(target.panel.depth()) + " bpp").c_str() : "",
        rotation_text(target.panel).c_str(), job.artwork->kind().c_str(), job.options.fit.c_str(),
        (fs::path(job.options.out) / target.name).c_str());
}

// A set is not written into a bundle's folder, nor a bundle into a set's:
// the two would mix.
Error check_out_kind(const EncodeJob& job)
{
    const fs::path out = job.options.out;
    std::error_code ec;
    if (!job.bundle && is_bundle(out))
        return usage_error(out.string() + ": holds a bundle (" + BUNDLE_INDEX_FILE
            + "), which a set would mix with; give another --out");
    if (job.bundle && (fs::exists(out / SET_DESCRIPTION_FILE, ec) || fs::exists(out / frame_name(1), ec)))
        return usage_error(
            out.string() + ": holds a set of frames, which a bundle would mix with; give another --out");
    return {};
}

// Each set's description; for a bundle also its index, with the sets of
// the bundle there before that it no longer holds removed on commit.
Error add_descriptions(
    const EncodeJob& job, const std::vector<std::unique_ptr<FrameMaker>>& makers, StagedFiles& staged)
{
    std::vector<BundleEntry> entries;
    for (const auto& maker : makers) {
        const SetTarget& target = maker->target();
        if (Error error = maker->writer().add_description(target.panel))
            return error;
        entries.push_back({ target.name, target.panel });
    }
    if (!job.bundle)
        return {};
    std::vector<BundleEntry> before;
    // The sets the old index lists and the new one does not go; an old index
    // that cannot be read is replaced, and the folders beside it stay.
    if (is_bundle(job.options.out) && read_bundle(job.options.out, &before).status == ExitStatus::done)
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
Error encode_sets(EncodeJob& job)
{
    FramePlan plan;
    if (Error error = plan_set(job, &plan))
        return error;
    // The folder is locked before it is looked at: a writer of the other
    // kind cannot slip in between.
    StagedFiles staged(job.options.out);
    if (Error error = staged.prepare())
        return error;
    if (Error error = check_out_kind(job))
        return error;
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
        if (alike.empty())
            continue;
        if (Error error = make_frames(job, plan, job.targets[i].fitting, alike, &held_from))
            return error;
    }
    if (Error error = judge_length(job))
        return error;
    if (Error error = add_descriptions(job, makers, staged))
        return error;
    if (Error error = staged.commit())
        return error;
    for (const auto& maker : makers) {
        if (job.bundle)
            std::printf("%s:\n", maker->target().name.c_str());
        report_set(job, *maker, held_from);
    }
    if (job.bundle)
        std::printf("a bundle of %zu sets in %s, with %s\n", makers.size(), job.options.out.c_str(),
            BUNDLE_INDEX_FILE);
    return {};
}

} // namespace

Error encode_frames(const EncodeOptions& options)
{
    EncodeJob job { .options = options };
    if (Error error = check_options(options, job))
        return error;
    if (Error error = open_inputs(job))
        return error;
    const bool bundle = options.panels.size() > 1 || !options.panels_dir.empty();
    if (Error error = bundle ? choose_bundle_panels(job) : choose_panel(job))
        return error;
    if (!makes_set(job))
        return encode_one_frame(job);
    if (Error error = check_set_out(job))
        return error;
    return encode_sets(job);
}
