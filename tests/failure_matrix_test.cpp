// Every way a run can fail, crossed with both depths: exit status, the exact
// kernel-log messages, the pixels at every pan, nothing written outside the
// mapping, and no descriptor left open at exit.
#include "core/schedule.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "src/render.h"
#include "tests/support/expect_ok.h"
#include "tests/support/frame_dir.h"
#include "tests/support/sandboxed.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>

// GCC 12 warns about members a designated initializer leaves to their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr uint32_t WIDTH = 32, HEIGHT = 24, PIXELS = WIDTH * HEIGHT;
constexpr int BAD = 7; // the frame each frame-level case spoils

// Frame n: a colour of its own over a stretch that grows with n, so every
// frame leaves a visible trace and a skipped one shows.
Frame good_frame(int n)
{
    Frame frame;
    append_run(frame, uint16_t(PIXELS - n * 11), uint16_t(0x0841 * n + 0x1000));
    append_run(frame, uint16_t(n * 11), uint16_t(0xF81F ^ n));
    return frame;
}

std::string message(const std::string& path)
{
    return "<3>pelimora: cannot open '" + path + "'\n";
}

struct Case {
    const char* name;
    std::function<void(VirtualDevices&)> devices = [](VirtualDevices&) {};
    std::function<void(std::map<int, Frame>&)> frames = [](std::map<int, Frame>&) {};
    std::string kmsg; // everything the kernel log gets
    bool plays = true; // false: the run ends at the screen
    std::vector<int> no_pan; // frames that are not panned
    bool interrupted = false; // signals arrive in the pauses
    bool bad_is_directory = false; // frame BAD is a directory
    std::function<void(const PlayerRun&)> also = [](const PlayerRun&) {}; // what else the case must show
};

// A screen that cannot be used: nothing held, and the run ends without
// touching the console, the frames or the clock.
std::function<void(const PlayerRun&)> ends_at_the_screen(bool reaches_mmap, bool closes)
{
    return [=](const PlayerRun& run) {
        EXPECT_EQ(run.count(EventKind::mmap, Device::fb), reaches_mmap ? 1u : 0u);
        EXPECT_EQ(run.count(EventKind::close, Device::fb), closes ? 1u : 0u);
        for (Device untouched : { Device::tty, Device::frame })
            EXPECT_EQ(run.count(EventKind::open, untouched), 0u);
        EXPECT_EQ(run.count(EventKind::pan), 0u);
        EXPECT_EQ(run.count(EventKind::munmap), 0u);
    };
}

// A console that cannot go graphical: each frame is skipped before its file is opened.
std::function<void(const PlayerRun&)> skips_every_frame(bool refuses)
{
    return [=](const PlayerRun& run) {
        EXPECT_EQ(run.count(EventKind::open, Device::frame), 0u);
        auto opens = run.of(EventKind::open, Device::tty);
        EXPECT_EQ(opens.size(), size_t(FRAME_COUNT));
        for (const Event& e : opens)
            EXPECT_EQ(e.flags, TTY_OPEN_FLAGS) << describe(e);
        auto refused = run.of(EventKind::kdsetmode, Device::tty);
        EXPECT_EQ(refused.size(), refuses ? size_t(FRAME_COUNT) : 0u);
        for (const Event& e : refused)
            EXPECT_TRUE(e.rc == -1 && e.request == 1) << describe(e);
    };
}

// An interrupted pause goes on with exactly the time that was left.
void resumes_each_pause(const PlayerRun& run)
{
    int pauses = 0;
    int64_t resume = 0;
    for (const Event& e : run.of(EventKind::sleep)) {
        EXPECT_EQ(e.asked_ns, resume ? resume : FRAME_DELAY_US * 1000) << describe(e);
        pauses += resume == 0;
        resume = e.rc == -1 && e.error == EINTR ? e.remaining_ns : 0;
        if (!resume) {
            EXPECT_EQ(e.rc, 0) << describe(e);
        }
    }
    EXPECT_EQ(resume, 0);
    EXPECT_EQ(pauses, FRAME_COUNT);
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Case> cases()
{
    auto spoil
        = [](const Frame& frame) { return [frame](std::map<int, Frame>& frames) { frames[BAD] = frame; }; };
    auto fail = [](const std::string& point) { return [point](VirtualDevices& d) { d.fail = point; }; };
    Frame overlong;
    append_run(overlong, PIXELS + 1, 0xFFFF);
    append_run(overlong, 1, 0x0000);
    const std::string fb = message("/dev/graphics/fb0");
    const std::string bad = message(frame_path(BAD));
    const std::string at_bad = ":" + std::to_string(BAD);
    std::string every_frame;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        every_frame += message(frame_path(n));
    return {
        { .name = "AllGood" },
        { .name = "ScreenOpenFails",
            .devices = fail("fb-open"),
            .kmsg = fb,
            .plays = false,
            .also = ends_at_the_screen(false, false) },
        { .name = "FixedInfoFails",
            .devices = fail("fb-fix"),
            .kmsg = fb,
            .plays = false,
            .also = ends_at_the_screen(false, true) },
        { .name = "VariableInfoFails",
            .devices = fail("fb-var"),
            .kmsg = fb,
            .plays = false,
            .also = ends_at_the_screen(false, true) },
        { .name = "ScreenMappingFails",
            .devices = fail("fb-mmap"),
            .kmsg = fb,
            .plays = false,
            .also = ends_at_the_screen(true, true) },
        { .name = "NoScreenAndNoKernelLog",
            .devices = [](VirtualDevices& d) { d.fb.reset(), d.kmsg = false; },
            .plays = false },
        { .name = "ConsoleMissing",
            .devices = [](VirtualDevices& d) { d.tty = "missing"; },
            .no_pan = { -1 },
            .also = skips_every_frame(false) },
        { .name = "ConsoleRefuses",
            .devices = [](VirtualDevices& d) { d.tty = "refuse"; },
            .no_pan = { -1 },
            .also = skips_every_frame(true) },
        { .name = "KernelLogUnopenable",
            .devices = [](VirtualDevices& d) { d.kmsg = false; },
            .frames = [](std::map<int, Frame>& f) { f.erase(BAD); },
            .no_pan = { BAD },
            .also =
                [](const PlayerRun& run) {
                    auto opens = run.of(EventKind::open, Device::kmsg);
                    EXPECT_EQ(opens.size(), 1u);
                    for (const Event& e : opens)
                        EXPECT_TRUE(e.rc == -1 && e.flags == O_WRONLY) << describe(e);
                } },
        { .name = "EveryFrameMissing",
            .frames = [](std::map<int, Frame>& f) { f.clear(); },
            .kmsg = every_frame,
            .no_pan = { -1 } },
        { .name = "FrameMissing",
            .frames = [](std::map<int, Frame>& f) { f.erase(BAD); },
            .kmsg = bad,
            .no_pan = { BAD } },
        { .name = "FrameEmpty", .frames = spoil({}), .no_pan = { BAD } },
        { .name = "FrameOneByte", .frames = spoil({ 0x05 }) },
        { .name = "FrameTwoBytes", .frames = spoil({ 0x05, 0x00 }) },
        { .name = "FrameThreeBytes", .frames = spoil({ 0x05, 0x00, 0xFF }) },
        { .name = "FrameUnreadable", .devices = fail("frame-open" + at_bad), .kmsg = bad, .no_pan = { BAD } },
        { .name = "FrameSizeUnreadable", .devices = fail("frame-fstat" + at_bad), .no_pan = { BAD } },
        { .name = "FrameMappingFails", .devices = fail("frame-mmap" + at_bad), .no_pan = { BAD } },
        { .name = "FrameRunTooLong", .frames = spoil(overlong) },
        { .name = "FrameIsADirectory",
            .frames = [](std::map<int, Frame>& f) { f.erase(BAD); },
            .no_pan = { BAD },
            .bad_is_directory = true },
        { .name = "PanFails", .devices = fail("fb-pan") },
        { .name = "SignalInEveryPause",
            .devices = [](VirtualDevices& d) { d.signal_us = 2500; },
            .interrupted = true,
            .also = resumes_each_pause },
    };
}

class FailureMatrix : public testing::TestWithParam<std::tuple<Case, uint32_t>> { };

TEST_P(FailureMatrix, ExitsCleanlyWithTheRightMessagesAndPixels)
{
    REQUIRE_DEVICE_SANDBOX();
    const auto& [c, bpp] = GetParam();
    FrameDir dir;
    std::map<int, Frame> frames;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        frames[n] = good_frame(n);
    c.frames(frames);
    ASSERT_TRUE(dir.write(frames));
    if (c.bad_is_directory) {
        ASSERT_TRUE(std::filesystem::create_directory(dir / frame_name(BAD)));
    }

    VirtualDevices devices;
    devices.fb = FbSettings { .xres = WIDTH, .yres = HEIGHT, .bits_per_pixel = bpp };
    c.devices(devices);
    PlayerRun run = run_player(installed_player(), devices, dir.path());

    EXPECT_OK(run.error);
    EXPECT_EQ(run.term_signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.kmsg, c.kmsg);
    for (EventKind wrong : { EventKind::leak, EventKind::overrun, EventKind::refuse, EventKind::error })
        for (const Event& e : run.of(wrong))
            ADD_FAILURE() << describe(e);
    EXPECT_EQ(run.count(EventKind::write, Device::kmsg),
        size_t(std::count(run.kmsg.begin(), run.kmsg.end(), '\n')));

    // The screens at the pans: what the frames that were panned leave.
    std::vector<std::vector<uint8_t>> expected;
    if (c.plays && c.no_pan != std::vector<int> { -1 }) {
        ScreenGeometry geometry { WIDTH, HEIGHT, bpp };
        std::vector<uint8_t> screen(geometry.bytes());
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            if (std::find(c.no_pan.begin(), c.no_pan.end(), n) != c.no_pan.end())
                continue;
            draw_frame(frames[n], geometry, &screen);
            expected.push_back(screen);
        }
    }
    EXPECT_EQ(run.screens.size(), expected.size());
    EXPECT_TRUE(run.screens == expected);

    // The pauses: a whole one after every frame whenever the schedule runs, none otherwise.
    auto sleeps = run.of(EventKind::sleep);
    size_t pauses = std::count_if(
        sleeps.begin(), sleeps.end(), [](const Event& e) { return e.asked_ns == FRAME_DELAY_US * 1000; });
    EXPECT_EQ(pauses, c.plays ? size_t(FRAME_COUNT) : 0u);
    if (c.plays) {
        EXPECT_GE(run.seconds, FRAME_COUNT * FRAME_DELAY_US / 1e6);
    }
    if (c.interrupted) {
        EXPECT_GT(sleeps.size(), size_t(FRAME_COUNT)) << "no pause was interrupted";
    }
    c.also(run);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FailureMatrix,
    testing::Combine(testing::ValuesIn(cases()), testing::Values(16u, 32u)),
    [](const testing::TestParamInfo<std::tuple<Case, uint32_t>>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::to_string(std::get<1>(info.param));
    });

} // namespace
