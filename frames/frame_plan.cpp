#include "frames/frame_plan.h"

#include <algorithm>

namespace {

// Frame i of a still or a sequence of stills.
PlannedFrame still_frame(const PlanRequest& request, size_t pictures, int i)
{
    if (request.fade_in)
        return { 0, request.start_us, float(i + 1) / FRAME_COUNT };
    if (request.hold)
        return { i == 0 ? 0 : -1, request.start_us, 1 };
    int count = int(pictures);
    return { i < count ? i : request.loop ? i % count : -1, 0, 1 };
}

// Frame i of an animation or video: the time it samples, or held past the end.
PlannedFrame moving_frame(const PlanRequest& request, int i)
{
    if (request.fade_in || request.hold)
        return still_frame(request, 1, i);
    const int64_t start = request.start_us, duration = request.duration_us;
    int64_t t = request.spread ? start + (duration - start) * i / FRAME_COUNT
                               : start + int64_t(i) * request.every_us;
    if (duration > 0 && t >= duration) {
        if (!request.loop)
            return { -1, 0, 1 };
        t %= duration;
    }
    return { 0, t, 1 };
}

} // namespace

PlanError plan_frames(const PlanRequest& request, FramePlan* plan)
{
    if (request.moving && request.start_us > 0 && request.duration_us > 0
        && request.start_us >= request.duration_us)
        return PlanError::start_past_end;
    if (request.moving && request.spread && request.duration_us <= 0)
        return PlanError::length_unknown;
    *plan = {};
    plan->pictures_used = request.moving ? 1 : std::min(request.pictures, size_t(FRAME_COUNT));
    for (int i = 0; i < FRAME_COUNT; ++i) {
        PlannedFrame frame
            = request.moving ? moving_frame(request, i) : still_frame(request, plan->pictures_used, i);
        // Held because the source ran out; --hold holds by request.
        if (frame.input < 0 && !request.hold && !plan->held_from)
            plan->held_from = i + 1;
        if (frame.input >= 0) {
            auto before = std::find_if(plan->frames.rbegin(), plan->frames.rend(),
                [](const PlannedFrame& shown) { return shown.input >= 0; });
            if (before == plan->frames.rend() || before->input != frame.input
                || before->time_us != frame.time_us)
                plan->reads.push_back(i);
        }
        plan->frames.push_back(frame);
    }
    return PlanError::none;
}
