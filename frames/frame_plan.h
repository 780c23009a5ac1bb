// Which picture, at what time and weight, each frame of the schedule shows
// when a set is made from artwork: decided before anything is read.
#pragma once

#include "core/schedule.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct PlannedFrame {
    int input = -1; // the picture among the inputs; -1: held, the frame draws nothing
    int64_t time_us = 0; // into an animation or video
    float weight = 1; // of the picture over the background, for a fade
    bool operator==(const PlannedFrame&) const = default;
};

struct PlanRequest {
    size_t pictures = 1; // stills given; a moving source is one
    bool moving = false; // an animation or video, sampled in time
    int64_t start_us = 0; // into it
    int64_t duration_us = 0; // how long it plays once; 0: not known
    int64_t every_us = FRAME_DELAY_US; // between the times sampled
    bool spread = false; // the frames spread over the whole clip instead
    bool loop = false; // a short source repeated rather than held
    bool hold = false; // one picture, then frames that draw nothing
    bool fade_in = false; // from the background to the picture over the frames
};

enum class PlanError {
    none,
    start_past_end, // --start at or after the end of the clip
    length_unknown, // --spread over a clip whose length is not known
};

struct FramePlan {
    std::vector<PlannedFrame> frames; // FRAME_COUNT of them
    size_t pictures_used = 0; // stills after the first FRAME_COUNT are not shown
    int held_from = 0; // the first frame (from 1) held because the source ended, or 0
    // The frames (from 0) that need a picture read: each that shows one
    // unless the frame before showed the same picture at the same time.
    std::vector<int> reads;
};

[[nodiscard]] PlanError plan_frames(const PlanRequest& request, FramePlan* plan);
