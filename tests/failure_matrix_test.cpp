// Every way a run can fail, crossed with both depths: exit status, the exact
// kernel-log messages, the pixels at every pan, nothing written outside the
// mapping, and no descriptor left open at exit.
#include "playback.h"
#include "rle565.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "vdev/vdev_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

namespace fs = std::filesystem;

// GCC 12 warns about members a designated initializer leaves to their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr uint32_t WIDTH = 32, HEIGHT = 24, PIXELS = WIDTH * HEIGHT;
constexpr int BAD = 7; // the frame each frame-level case spoils

using Frame = std::vector<uint8_t>;

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
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Case> cases()
{
    auto spoil
        = [](const Frame& frame) { return [frame](std::map<int, Frame>& frames) { frames[BAD] = frame; }; };
    auto fail = [](const char* point) { return [point](VirtualDevices& d) { d.fail = point; }; };
    Frame overlong;
    append_run(overlong, PIXELS + 1, 0xFFFF);
    append_run(overlong, 1, 0x0000);
    const std::string fb = message("/dev/graphics/fb0");
    const std::string bad = message("/bootimages/Loop_" + std::to_string(BAD) + ".rle");
    return {
        { .name = "AllGood" },
        { .name = "ScreenOpenFails", .devices = fail("fb-open"), .kmsg = fb, .plays = false },
        { .name = "FixedInfoFails", .devices = fail("fb-fix"), .kmsg = fb, .plays = false },
        { .name = "VariableInfoFails", .devices = fail("fb-var"), .kmsg = fb, .plays = false },
        { .name = "ScreenMappingFails", .devices = fail("fb-mmap"), .kmsg = fb, .plays = false },
        { .name = "NoScreenAndNoKernelLog",
            .devices = [](VirtualDevices& d) { d.fb.clear(), d.kmsg = false; },
            .plays = false },
        { .name = "ConsoleMissing",
            .devices = [](VirtualDevices& d) { d.tty = "missing"; },
            .no_pan = { -1 } },
        { .name = "ConsoleRefuses",
            .devices = [](VirtualDevices& d) { d.tty = "refuse"; },
            .no_pan = { -1 } },
        { .name = "KernelLogUnopenable",
            .devices = [](VirtualDevices& d) { d.kmsg = false; },
            .frames = [](std::map<int, Frame>& f) { f.erase(BAD); },
            .no_pan = { BAD } },
        { .name = "FrameMissing",
            .frames = [](std::map<int, Frame>& f) { f.erase(BAD); },
            .kmsg = bad,
            .no_pan = { BAD } },
        { .name = "FrameEmpty", .frames = spoil({}), .no_pan = { BAD } },
        { .name = "FrameOneByte", .frames = spoil({ 0x05 }) },
        { .name = "FrameTwoBytes", .frames = spoil({ 0x05, 0x00 }) },
        { .name = "FrameThreeBytes", .frames = spoil({ 0x05, 0x00, 0xFF }) },
        { .name = "FrameUnreadable", .devices = fail("frame-open:7"), .kmsg = bad, .no_pan = { BAD } },
        { .name = "FrameSizeUnreadable", .devices = fail("frame-fstat:7"), .no_pan = { BAD } },
        { .name = "FrameMappingFails", .devices = fail("frame-mmap:7"), .no_pan = { BAD } },
        { .name = "FrameRunTooLong", .frames = spoil(overlong) },
        { .name = "PanFails", .devices = fail("fb-pan") },
        { .name = "SignalInEveryPause",
            .devices = [](VirtualDevices& d) { d.signal_us = 2500; },
            .interrupted = true },
    };
}

class FailureMatrix : public testing::TestWithParam<std::tuple<Case, uint32_t>> { };

TEST_P(FailureMatrix, ExitsCleanlyWithTheRightMessagesAndPixels)
{
    REQUIRE_DEVICE_SANDBOX();
    const auto& [c, bpp] = GetParam();
    TempDir temp;
    const fs::path& dir = temp.path();
    std::map<int, Frame> frames;
    for (int n = 1; n <= 40; ++n)
        frames[n] = good_frame(n);
    c.frames(frames);
    for (const auto& [n, bytes] : frames)
        std::ofstream(dir / frame_name(n), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    VirtualDevices devices;
    devices.fb = std::to_string(WIDTH) + "x" + std::to_string(HEIGHT) + "x" + std::to_string(bpp);
    c.devices(devices);
    PlayerRun run = run_player(built_player(), devices, dir);

    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.term_signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.kmsg, c.kmsg);
    for (const char* bad : { "leak", "overrun", "refuse", "error" })
        EXPECT_EQ(run.lines(bad), std::vector<std::string> {}) << bad;
    EXPECT_EQ(run.lines("write kmsg").size(), size_t(std::count(run.kmsg.begin(), run.kmsg.end(), '\n')));

    // The screens at the pans: what the frames that were panned leave.
    std::vector<std::vector<uint8_t>> expected;
    if (c.plays && c.no_pan != std::vector<int> { -1 }) {
        ScreenGeometry geometry { WIDTH, HEIGHT, bpp };
        std::vector<uint8_t> screen(geometry.bytes());
        for (int n = 1; n <= 40; ++n) {
            if (std::find(c.no_pan.begin(), c.no_pan.end(), n) != c.no_pan.end())
                continue;
            draw_frame(frames[n], geometry, &screen);
            expected.push_back(screen);
        }
    }
    EXPECT_EQ(run.screens.size(), expected.size());
    EXPECT_TRUE(run.screens == expected);

    // The pauses: 40 whole ones whenever the schedule runs, none otherwise.
    EXPECT_EQ(run.lines("sleep request=0.020000000 ").size(), c.plays ? 40u : 0u);
    if (c.plays) {
        EXPECT_GE(run.seconds, 0.8);
    }
    if (c.interrupted) {
        EXPECT_GT(run.lines("sleep").size(), 40u) << "no pause was interrupted";
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FailureMatrix,
    testing::Combine(testing::ValuesIn(cases()), testing::Values(16u, 32u)),
    [](const testing::TestParamInfo<std::tuple<Case, uint32_t>>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::to_string(std::get<1>(info.param));
    });

} // namespace
