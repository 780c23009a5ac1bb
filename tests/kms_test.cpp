// Black-box runs of the host pelimora-kms on the virtual DRM card: every
// frame on the screen pixel for pixel, the last left there at exit, and one
// line in the kernel log for each thing the card lacks.
#include "core/decode.h"
#include "core/schedule.h"
#include "frames/rle565.h"
#include "tests/support/clean_run.h"
#include "tests/support/frame_dir.h"
#include "tests/support/sandboxed.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr uint32_t WIDTH = 64, HEIGHT = 48, PIXELS = WIDTH * HEIGHT;

// Frame n: a band of its own colour that moves with n; every third frame
// ends short, so the one before shows through.
Frame numbered_frame(int n)
{
    Frame frame;
    const auto band = uint16_t(n * 53);
    append_run(frame, band, uint16_t(0x0841 * n));
    if (n % 3)
        append_run(frame, uint16_t(PIXELS - band), uint16_t(0xF800 - 0x20 * n));
    return frame;
}

std::map<int, Frame> write_all(const FrameDir& dir, const std::vector<int>& missing = {})
{
    std::map<int, Frame> frames;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        if (std::find(missing.begin(), missing.end(), n) == missing.end())
            frames[n] = numbered_frame(n);
    EXPECT_TRUE(dir.write(frames));
    return frames;
}

// The screen after each frame drawn, by the player's own decoder at 32 bits.
std::vector<std::vector<uint8_t>> expected_screens(const std::map<int, Frame>& frames)
{
    std::vector<uint8_t> screen(size_t(PIXELS) * 4);
    std::vector<std::vector<uint8_t>> screens;
    for (const auto& [n, frame] : frames) {
        decode_frame(frame.data(), uint32_t(frame.size()), screen.data(), WIDTH, HEIGHT, 32);
        screens.push_back(screen);
    }
    return screens;
}

struct Card {
    std::string drm = "card"; // VDEV_DRM: "" no card
    std::string fail = ""; // VDEV_FAIL
    uint32_t pitch = 0; // 0: a row's bytes
    std::string tty = "ok";
};

PlayerRun play_kms(const Card& card, const FrameDir& frames)
{
    VirtualDevices devices;
    devices.fb
        = FbSettings { .xres = WIDTH, .yres = HEIGHT, .bits_per_pixel = 32, .line_length = card.pitch };
    devices.drm = card.drm, devices.fail = card.fail, devices.tty = card.tty;
    PlayerRun run = run_player(installed_player().kms(), devices, frames.path());
    expect_clean_run(run);
    return run;
}

// The DRM calls made, by name, with their results.
std::vector<std::string> calls(const PlayerRun& run, const std::string& name)
{
    std::vector<std::string> made;
    for (const Event& e : run.of(EventKind::ioctl, Device::drm))
        if (name.empty() || name == e.path)
            made.push_back(std::string(e.path) + (e.rc ? " failed" : ""));
    return made;
}

class Kms : public testing::Test {
protected:
    void SetUp() override { REQUIRE_DEVICE_SANDBOX(); }
};

// With a pitch of the row's bytes and with a longer one: the stream is laid
// over the buffer as the player lays it over a framebuffer's memory.
TEST_F(Kms, PlaysEveryFrameAndLeavesTheLastOnTheScreen)
{
    for (uint32_t pitch : { 0u, WIDTH * 4 + 64 }) {
        SCOPED_TRACE(pitch);
        FrameDir dir;
        auto frames = write_all(dir);
        PlayerRun run = play_kms({ .pitch = pitch }, dir);
        EXPECT_EQ(run.kmsg, "");
        ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT));
        auto expected = expected_screens(frames);
        for (int i = 0; i < FRAME_COUNT; ++i)
            ASSERT_EQ(run.screens[i], expected[i]) << "screen after frame " << i + 1;
        // The first frame set on the CRTC, the others marked dirty, the buffer
        // left on the screen; no forced probe of the connector.
        EXPECT_EQ(calls(run, "SETCRTC"), std::vector<std::string> { "SETCRTC" });
        EXPECT_EQ(calls(run, "DIRTYFB").size(), size_t(FRAME_COUNT - 1));
        EXPECT_EQ(calls(run, "CLOSEFB"), std::vector<std::string> { "CLOSEFB" });
        EXPECT_EQ(calls(run, "RMFB"), std::vector<std::string> {});
        EXPECT_EQ(calls(run, "GETCONNECTOR probe"), std::vector<std::string> {});
        EXPECT_EQ(run.count(EventKind::sleep), size_t(FRAME_COUNT));
        // The buffer is mapped at its offset above 4 GiB, and let go.
        auto maps = run.of(EventKind::mmap, Device::drm);
        ASSERT_EQ(maps.size(), 1u);
        EXPECT_GE(maps[0].offset, int64_t(1) << 32);
        EXPECT_EQ(run.count(EventKind::munmap, Device::drm), 1u);
    }
}

// At boot the card may not be as a console leaves it: no encoder bound to
// the connector (virtio-gpu), no mode on the CRTC, a connector never probed;
// and a television lists more modes than there is room for.
TEST_F(Kms, FindsTheDisplayAsTheKernelLeavesItAtBoot)
{
    for (const char* card :
        { "unbound", "mode-unset", "unprobed", "unbound,mode-unset,unprobed", "many-modes" }) {
        SCOPED_TRACE(card);
        FrameDir dir;
        auto frames = write_all(dir);
        PlayerRun run = play_kms({ .drm = card }, dir);
        EXPECT_EQ(run.kmsg, "");
        ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT));
        EXPECT_EQ(run.screens.back(), expected_screens(frames).back());
        EXPECT_EQ(calls(run, "GETCONNECTOR probe").size(),
            std::string(card).find("unprobed") != std::string::npos ? 1u : 0u);
    }
}

// Frames longer than the screen stop at its end, and a record cut short is
// dropped, as the player drops it: nothing is written past the buffer's
// rows, or past the mapping.
TEST_F(Kms, FramesLongerThanTheScreenStopAtItsEnd)
{
    FrameDir dir;
    std::map<int, Frame> frames;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        Frame frame;
        append_run(frame, uint16_t(PIXELS - 5), uint16_t(0x1111 * (n % 15)));
        append_run(frame, uint16_t(PIXELS), 0xF81F); // runs on past the last row
        if (n % 2)
            frame.resize(frame.size() + 3, 0x7F); // a record cut short
        frames[n] = frame;
    }
    ASSERT_TRUE(dir.write(frames));
    for (uint32_t pitch : { 0u, WIDTH * 4 + 64 }) {
        SCOPED_TRACE(pitch);
        PlayerRun run = play_kms({ .pitch = pitch }, dir);
        EXPECT_EQ(run.kmsg, "");
        ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT));
        EXPECT_EQ(run.screens, expected_screens(frames));
    }
}

struct Failure {
    const char* name;
    Card card = {};
    std::vector<int> missing = {}; // frame files not there
    std::string kmsg = ""; // the whole kernel log
    size_t screens = 0; // captured
    bool closefb = false; // the last frame left on the screen
};

void PrintTo(const Failure& failure, std::ostream* out)
{
    *out << failure.name;
}

const std::string NO_BUFFER = "<3>pelimora: cannot make a screen buffer on '/dev/dri/card0'\n";

class KmsFails : public testing::TestWithParam<Failure> {
protected:
    void SetUp() override { REQUIRE_DEVICE_SANDBOX(); }
};

TEST_P(KmsFails, WithOneLineAndExitZero)
{
    const Failure& c = GetParam();
    FrameDir dir;
    write_all(dir, c.missing);
    PlayerRun run = play_kms(c.card, dir);
    EXPECT_EQ(run.kmsg, c.kmsg);
    EXPECT_EQ(run.screens.size(), c.screens);
    EXPECT_EQ(calls(run, "CLOSEFB") == std::vector<std::string> { "CLOSEFB" }, c.closefb);
    // The schedule runs, pauses and all, only on a display that could be drawn on.
    EXPECT_EQ(run.count(EventKind::sleep), calls(run, "SETCRTC").empty() ? 0u : size_t(FRAME_COUNT));
}

INSTANTIATE_TEST_SUITE_P(Matrix, KmsFails,
    testing::Values(
        Failure {
            .name = "NoCard", .card = { .drm = "" }, .kmsg = "<3>pelimora: cannot open '/dev/dri/card0'\n" },
        Failure { .name = "NoConnectedDisplay",
            .card = { .drm = "disconnected" },
            .kmsg = "<3>pelimora: no connected display on '/dev/dri/card0'\n" },
        Failure { .name = "AnotherMaster",
            .card = { .drm = "other-master" },
            .kmsg = "<3>pelimora: another program holds '/dev/dri/card0': nothing drawn\n" },
        Failure { .name = "AnotherMasterOfAnUnprobedCard",
            .card = { .drm = "other-master,unprobed" },
            .kmsg = "<3>pelimora: another program holds '/dev/dri/card0': nothing drawn\n" },
        Failure { .name = "NoDumbBuffer", .card = { .fail = "drm-dumb" }, .kmsg = NO_BUFFER },
        Failure { .name = "MappingRefused", .card = { .fail = "drm-mmap" }, .kmsg = NO_BUFFER },
        Failure { .name = "FramebufferRefused", .card = { .fail = "drm-addfb" }, .kmsg = NO_BUFFER },
        Failure { .name = "CrtcRefused", .card = { .fail = "drm-setcrtc" } },
        Failure { .name = "DirtyRefused", .card = { .fail = "drm-dirty" }, .screens = 1, .closefb = true },
        Failure { .name = "NoCloseFb", .card = { .drm = "no-closefb" }, .screens = FRAME_COUNT },
        Failure { .name = "NoVirtualTerminal",
            .card = { .tty = "missing" },
            .screens = FRAME_COUNT,
            .closefb = true },
        Failure { .name = "FramesMissing",
            .missing = { 1, 7 },
            .kmsg = "<3>pelimora: cannot open '/bootimages/Loop_1.rle'\n<3>pelimora: cannot open "
                    "'/bootimages/Loop_7.rle'\n",
            .screens = FRAME_COUNT - 2,
            .closefb = true },
        Failure { .name = "FrameNotMapped",
            .card = { .fail = "frame-mmap:3" },
            .screens = FRAME_COUNT - 1,
            .closefb = true }),
    [](const testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

} // namespace
