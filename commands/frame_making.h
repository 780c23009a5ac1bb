// Making a set's frames: the pictures read ahead on threads of their own,
// and each frame made from its picture by a FrameMaker for each set (one, or
// a bundle's), while the next picture is read.
#pragma once

#include "commands/encode_job.h"
#include "frames/frame_plan.h"
#include "frames/set_writer.h"

#include <memory>
#include <string>
#include <vector>

// A picture read for the frames that show it.
struct Fetched {
    LinearPicture picture;
    SourceFrame which;
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

    // Frame i (from 0) from the picture read for it (none for a frame
    // held): its file staged and its report line kept.
    Error make(int i, PlannedFrame frame, const Fetched* fetched);
    // Screen memory a count of pixels takes, in bytes when the depth is known.
    [[nodiscard]] std::string written(uint64_t pixels) const;
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
    [[nodiscard]] std::string source_text(PlannedFrame frame, const SourceFrame& which) const;
    // The frame's codes in `stream_`, made again only from another picture or weight.
    void make_codes(PlannedFrame frame, const Fetched& fetched);

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

// Reads ahead and makes each frame while the next picture is read, or
// what failed. `held_from` moves earlier when
// a clip turns out to end before the plan thought.
Error make_frames(const EncodeJob& job, const FramePlan& plan, const Fitting& fitting,
    const std::vector<FrameMaker*>& makers, int* held_from);
