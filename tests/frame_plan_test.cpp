// Which picture each frame of a set shows: the plan encode makes before
// reading anything.
#include "frames/frame_plan.h"

#include <gtest/gtest.h>

namespace {

FramePlan planned(const PlanRequest& request)
{
    FramePlan plan;
    EXPECT_EQ(plan_frames(request, &plan), PlanError::none);
    EXPECT_EQ(plan.frames.size(), size_t(FRAME_COUNT));
    return plan;
}

std::vector<int> inputs_of(const FramePlan& plan)
{
    std::vector<int> inputs;
    for (const PlannedFrame& frame : plan.frames)
        inputs.push_back(frame.input);
    return inputs;
}

} // namespace

TEST(FramePlan, StillsInOrderThenHeldOrLooped)
{
    FramePlan plan = planned({ .pictures = 3 });
    EXPECT_EQ(inputs_of(plan)[0], 0);
    EXPECT_EQ(inputs_of(plan)[2], 2);
    EXPECT_EQ(inputs_of(plan)[3], -1);
    EXPECT_EQ(plan.held_from, 4);
    EXPECT_EQ(plan.reads, (std::vector<int> { 0, 1, 2 }));

    FramePlan looped = planned({ .pictures = 3, .loop = true });
    EXPECT_EQ(looped.held_from, 0);
    EXPECT_EQ(inputs_of(looped)[39], 39 % 3);
    EXPECT_EQ(looped.reads.size(), size_t(FRAME_COUNT));

    // More stills than frames: the rest are not used.
    FramePlan many = planned({ .pictures = 55 });
    EXPECT_EQ(many.pictures_used, size_t(FRAME_COUNT));
    EXPECT_EQ(inputs_of(many)[39], 39);
    EXPECT_EQ(many.held_from, 0);
}

TEST(FramePlan, HoldAndFadeReadOnePicture)
{
    FramePlan hold = planned({ .pictures = 1, .hold = true });
    EXPECT_EQ(inputs_of(hold)[0], 0);
    EXPECT_EQ(inputs_of(hold)[1], -1);
    EXPECT_EQ(hold.held_from, 0); // held by request, not because the source ended
    EXPECT_EQ(hold.reads, std::vector<int> { 0 });

    FramePlan fade = planned({ .pictures = 1, .fade_in = true });
    EXPECT_FLOAT_EQ(fade.frames[0].weight, 1.0f / FRAME_COUNT);
    EXPECT_FLOAT_EQ(fade.frames[39].weight, 1.0f);
    EXPECT_EQ(fade.reads, std::vector<int> { 0 }); // the same picture, weighed anew

    // Into a clip: the picture --start names.
    FramePlan held_clip
        = planned({ .moving = true, .start_us = 500000, .duration_us = 2000000, .hold = true });
    EXPECT_EQ(held_clip.frames[0], (PlannedFrame { 0, 500000, 1 }));
}

TEST(FramePlan, ClipsSampledEveryStepSpreadOrLooped)
{
    // 40 steps of 20 ms from 0.1 s into a 0.5 s clip: 20 frames, then held.
    FramePlan plan = planned({ .moving = true, .start_us = 100000, .duration_us = 500000 });
    EXPECT_EQ(plan.frames[0], (PlannedFrame { 0, 100000, 1 }));
    EXPECT_EQ(plan.frames[19], (PlannedFrame { 0, 480000, 1 }));
    EXPECT_EQ(plan.frames[20].input, -1);
    EXPECT_EQ(plan.held_from, 21);
    EXPECT_EQ(plan.reads.size(), size_t(20));

    FramePlan looped = planned({ .moving = true, .duration_us = 500000, .loop = true });
    EXPECT_EQ(looped.frames[25].time_us, 25 * 20000 % 500000);
    EXPECT_EQ(looped.held_from, 0);

    FramePlan spread
        = planned({ .moving = true, .start_us = 1000000, .duration_us = 5000000, .spread = true });
    EXPECT_EQ(spread.frames[0].time_us, 1000000);
    EXPECT_EQ(spread.frames[39].time_us, 1000000 + 4000000 * 39 / 40);
    EXPECT_EQ(spread.held_from, 0);

    // A length not known: sampled without end.
    FramePlan open = planned({ .moving = true, .every_us = 100000 });
    EXPECT_EQ(open.frames[39], (PlannedFrame { 0, 3900000, 1 }));
}

TEST(FramePlan, RefusesWhatCannotBeSampled)
{
    FramePlan plan;
    EXPECT_EQ(plan_frames({ .moving = true, .start_us = 500000, .duration_us = 500000 }, &plan),
        PlanError::start_past_end);
    EXPECT_EQ(plan_frames({ .moving = true, .spread = true }, &plan), PlanError::length_unknown);
    // A still has no end to be past.
    EXPECT_EQ(plan_frames({ .pictures = 1, .start_us = 500000 }, &plan), PlanError::none);
}
