#include "commands/frame_making.h"

#include "commands/command_support.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "lib/interrupt.h"
#include "lib/progress.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <future>

namespace fs = std::filesystem;

namespace {

// Reads the plan's pictures ahead of the frames, one at a time on a thread
// of its own: picture n + 1 is decoded and fitted on the second core while
// frame n is made, into the room of picture n - 1. Reading further ahead
// would cost a picture's memory each and save no CPU.
class PictureReader {
public:
    PictureReader(const EncodeJob& job, const FramePlan& plan, const Fitting& fitting)
        : job_(job)
        , plan_(plan)
        , fitting_(fitting)
    {
    }
    ~PictureReader()
    {
        for (Reading& reading : reading_)
            reading.done.wait();
    }
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    // When frame i reads a picture, waits for it and makes it `*shown`.
    Error picture_for(int i, std::shared_ptr<const Fetched>* shown)
    {
        read_ahead();
        if (read_index_ >= plan_.reads.size() || plan_.reads[read_index_] != i)
            return {};
        Error error = reading_.front().done.get();
        *shown = reading_.front().into;
        reading_.pop_front();
        ++read_index_;
        read_ahead();
        return error;
    }

private:
    struct Reading {
        std::shared_ptr<Fetched> into; // also held by the task: it outlives a run that fails first
        std::future<Error> done;
    };

    void read_ahead()
    {
        while (next_read_ < plan_.reads.size() && reading_.empty()) {
            std::shared_ptr<Fetched> into = free_picture();
            PlannedFrame frame = plan_.frames[size_t(plan_.reads[next_read_++])];
            SignalsHeld held; // the thread leaves interrupts to this one
            reading_.push_back({ into,
                std::async(std::launch::async, [this, frame, into] { return fetch(frame, into.get()); }) });
        }
    }

    // A picture no one holds any more, its room kept (no new pages for each
    // frame), or a new one.
    std::shared_ptr<Fetched> free_picture()
    {
        for (const std::shared_ptr<Fetched>& picture : pictures_)
            if (picture.use_count() == 1) {
                // What the last holder did with it comes before what we do now.
                std::atomic_thread_fence(std::memory_order_acquire);
                return picture;
            }
        return pictures_.emplace_back(std::make_shared<Fetched>());
    }

    Error fetch(PlannedFrame frame, Fetched* into) const
    {
        std::unique_ptr<Artwork> still;
        Artwork* source = job_.artwork.get();
        if (!job_.moving) {
            const fs::path& input = job_.inputs[size_t(frame.input)];
            if (Error error = open_artwork(input, &still))
                return error;
            if (still->moving())
                return input_error(input.string() + ": a " + still->kind() + " among stills: give it alone");
            source = still.get();
        }
        if (Error error = source->picture_at(frame.time_us, fitting_, &into->picture, &into->which))
            return error;
        // A clip whose length its header did not give ends where its frames do.
        if (into->which.past_end && job_.options.loop && source->duration_us() > 0)
            return source->picture_at(
                frame.time_us % source->duration_us(), fitting_, &into->picture, &into->which);
        return {};
    }

    const EncodeJob& job_;
    const FramePlan& plan_;
    const Fitting fitting_;
    size_t next_read_ = 0, read_index_ = 0;
    std::deque<Reading> reading_;
    std::vector<std::shared_ptr<Fetched>> pictures_; // every picture made, to be read into again
};

} // namespace

Error FrameMaker::make(int i, PlannedFrame frame, const Fetched* fetched)
{
    std::string source = frame.input < 0 ? "held: draws nothing" : source_text(frame, fetched->which);
    FrameWritten written;
    if (frame.input < 0) {
        if (Error error = writer_.add_held(i, &written))
            return error;
    } else {
        make_codes(frame, *fetched);
        if (Error error = writer_.add_frame(i, &stream_, &written))
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
    return {};
}

std::string FrameMaker::written(uint64_t pixels) const
{
    uint32_t pixel_bytes = target_.panel.bits_per_pixel / 8; // 0: the set suits either depth
    return pixel_bytes ? std::to_string(pixels * pixel_bytes) + " B" : std::to_string(pixels) + " px";
}

std::string FrameMaker::source_text(PlannedFrame frame, const SourceFrame& which) const
{
    std::string source = job_.inputs[size_t(frame.input)].filename().string();
    if (job_.moving) {
        char detail[64];
        std::snprintf(
            detail, sizeof detail, " %s (frame %d)", seconds_text(which.time_us).c_str(), which.index + 1);
        source += detail;
    }
    if (job_.options.fade_in)
        source += " at " + std::to_string(int(std::lround(frame.weight * 100))) + "%";
    return source;
}

void FrameMaker::make_codes(PlannedFrame frame, const Fetched& fetched)
{
    const LinearPicture& picture = fetched.picture;
    const bool dither = job_.options.dither;
    if (made_.input != frame.input || made_.index != fetched.which.index || made_.weight != frame.weight) {
        // A picture taken as it was read goes to codes straight from its bytes.
        if (!picture.srgb.empty() && frame.weight == 1)
            rgb_into_panel_stream(
                picture.srgb, picture.width, job_.background, dither, target_.panel, &stream_);
        else
            image_into_panel_stream(to_srgb(picture, frame.weight, job_.background), job_.background, dither,
                target_.panel, &stream_);
        made_ = { frame.input, fetched.which.index, frame.weight };
    } else if (stream_on_screen_) {
        stream_ = writer_.screen();
    }
    stream_on_screen_ = false;
}

// Reads ahead and makes each frame while the next picture is read, or
// what failed. `held_from` moves earlier when
// a clip turns out to end before the plan thought.
Error make_frames(const EncodeJob& job, const FramePlan& plan, const Fitting& fitting,
    const std::vector<FrameMaker*>& makers, int* held_from)
{
    Progress progress(FRAMES_TOOL, "encoding frame", FRAME_COUNT, job.options.quiet);
    PictureReader reader(job, plan, fitting);
    // Destroyed first: waits for the frame being made.
    std::future<Error> making;
    auto made_before = [&making] { return making.valid() ? making.get() : Error {}; };
    std::shared_ptr<const Fetched> shown; // the picture the last frame read
    for (int i = 0; i < FRAME_COUNT; ++i) {
        stop_if_interrupted();
        PlannedFrame frame = plan.frames[size_t(i)];
        // The last frame made first: the picture it held is read into next.
        if (Error error = made_before())
            return error;
        if (Error error = reader.picture_for(i, &shown))
            return error;
        if (frame.input >= 0 && shown->which.past_end && !job.options.hold && !job.options.fade_in) {
            frame.input = -1;
            *held_from = *held_from ? std::min(*held_from, i + 1) : i + 1;
        }
        SignalsHeld held;
        making = std::async(std::launch::async, [&makers, i, frame, shown] {
            for (FrameMaker* maker : makers)
                if (Error error = maker->make(i, frame, shown.get()))
                    return error;
            return Error {};
        });
        progress.step(i + 1);
    }
    if (Error error = made_before())
        return error;
    progress.done();
    return {};
}
