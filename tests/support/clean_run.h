// What every run of a device program on the virtual devices must be, however
// the devices fail it: run to its end with status 0, no descriptor left open,
// nothing written past a mapping, no device reached that is not there, and
// each kernel-log message in one write of its own.
#pragma once

#include "tests/support/expect_ok.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>

#include <algorithm>

inline void expect_clean_run(const PlayerRun& run)
{
    EXPECT_OK(run.error);
    EXPECT_EQ(run.term_signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    for (EventKind wrong : { EventKind::leak, EventKind::overrun, EventKind::refuse, EventKind::error })
        for (const Event& e : run.of(wrong))
            ADD_FAILURE() << describe(e);
    EXPECT_EQ(run.count(EventKind::write, Device::kmsg),
        size_t(std::count(run.kmsg.begin(), run.kmsg.end(), '\n')));
}
