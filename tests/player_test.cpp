// Black-box runs of the host player on the virtual devices.
#include "core/decode.h"
#include "core/schedule.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "tests/support/clean_run.h"
#include "tests/support/frame_dir.h"
#include "tests/support/sandboxed.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t WIDTH = 64, HEIGHT = 48, PIXELS = WIDTH * HEIGHT;
constexpr char FB_MESSAGE[] = "<3>pelimora: cannot open '/dev/graphics/fb0'\n";
constexpr int64_t PAUSE_NS = FRAME_DELAY_US * 1000;

// Frame n: a band of its own colour over a stretch that moves with n, and
// every third frame ends short so the earlier frames show through.
Frame numbered_frame(int n)
{
    Frame frame;
    uint16_t count = static_cast<uint16_t>(n * 71);
    append_run(frame, count, static_cast<uint16_t>(0x0841 * n));
    append_run(frame, 0, 0xFFFF);
    append_run(frame, 97, static_cast<uint16_t>(0xF800 - n));
    if (n % 3)
        append_run(frame, static_cast<uint16_t>(PIXELS - count - 97), static_cast<uint16_t>(0x001F + 64 * n));
    return frame;
}

// What the screen shows after each drawn frame, by the player's own decoder.
std::vector<std::vector<uint8_t>> expected_screens(
    const std::map<int, Frame>& frames, uint32_t bpp, uint32_t xres = WIDTH, uint32_t yres = HEIGHT)
{
    std::vector<uint8_t> screen(size_t(xres) * yres * bpp / 8);
    std::vector<std::vector<uint8_t>> screens;
    for (const auto& [n, frame] : frames) {
        decode_frame(frame.data(), static_cast<uint32_t>(frame.size()), screen.data(), xres, yres, bpp);
        screens.push_back(screen);
    }
    return screens;
}

FbSettings fb_geometry(uint32_t bpp)
{
    return { .xres = WIDTH, .yres = HEIGHT, .bits_per_pixel = bpp };
}

PlayerRun play(
    const VirtualDevices& devices, const FrameDir& frames, const std::vector<std::string>& args = {})
{
    PlayerRun run = run_player(installed_player(), devices, frames.path(), args);
    // Descriptor numbers depend on what the test process hands down.
    for (Event& e : run.events)
        if (e.kind == EventKind::open && e.rc > 0)
            e.rc = 0;
    expect_clean_run(run);
    return run;
}

std::vector<std::string> described(const std::vector<Event>& events)
{
    std::vector<std::string> lines;
    lines.reserve(events.size());
    for (const Event& e : events)
        lines.push_back(describe(e));
    return lines;
}

class Player : public testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { REQUIRE_DEVICE_SANDBOX(); }
    VirtualDevices devices() const
    {
        VirtualDevices d;
        d.fb = fb_geometry(GetParam());
        return d;
    }
    std::map<int, Frame> write_all(const FrameDir& dir) const
    {
        std::map<int, Frame> frames;
        for (int n = 1; n <= FRAME_COUNT; ++n)
            frames[n] = numbered_frame(n);
        EXPECT_TRUE(dir.write(frames));
        return frames;
    }
};

TEST_P(Player, PlaysEveryFrameInOrder)
{
    uint32_t bpp = GetParam();
    FrameDir dir;
    auto frames = write_all(dir);
    PlayerRun run = play(devices(), dir);

    EXPECT_EQ(run.kmsg, "");
    EXPECT_GE(run.seconds, FRAME_COUNT * FRAME_DELAY_US / 1e6);
    ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT));
    auto expected = expected_screens(frames, bpp);
    for (int i = 0; i < FRAME_COUNT; ++i)
        EXPECT_EQ(run.screens[i], expected[i]) << "screen at pan " << i + 1;

    // The screen is mapped once, shared, exactly one visible screen from offset 0.
    std::string length = " length=" + std::to_string(PIXELS * bpp / 8);
    EXPECT_EQ(described(run.of(EventKind::open, Device::fb)),
        std::vector<std::string> { "open fb rc=0 flags=0x2" });
    EXPECT_EQ(described(run.of(EventKind::mmap, Device::fb)),
        std::vector<std::string> { "mmap fb rc=0 flags=0x1 prot=3" + length });
    EXPECT_EQ(described(run.of(EventKind::munmap, Device::fb)),
        std::vector<std::string> { "munmap fb rc=0" + length });

    // Each frame: console to graphics, file mapped whole, pan with the screen
    // information as read at open, file closed, then a full pause.
    std::vector<std::string> frame_events;
    for (const Event& e : run.events)
        if (e.kind == EventKind::pan
            || (e.device != Device::fb && e.kind != EventKind::start && e.kind != EventKind::exit))
            frame_events.push_back(describe(e));
    constexpr size_t PER_FRAME = 10;
    ASSERT_EQ(frame_events.size(), FRAME_COUNT * PER_FRAME);
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        std::string path = " path=" + frame_path(n), size = std::to_string(frames[n].size());
        std::vector<std::string> expected_events = {
            "open tty rc=0 flags=0x1002",
            "kdsetmode tty rc=0 request=0x1",
            "close tty rc=0 path=vdev-tty0",
            "open frame rc=0" + path,
            "fstat frame rc=0" + path,
            "mmap frame rc=0 flags=0x1 prot=1 length=" + size,
            "munmap frame rc=0 length=" + size,
            "pan fb rc=0 number=" + std::to_string(n) + " xres=64 yres=48 bpp=" + std::to_string(bpp),
            "close frame rc=0" + path,
            "sleep - rc=0 asked_ns=" + std::to_string(PAUSE_NS),
        };
        std::vector<std::string> actual(
            frame_events.begin() + (n - 1) * PER_FRAME, frame_events.begin() + n * PER_FRAME);
        ASSERT_EQ(actual, expected_events) << "frame " << n;
    }
}

// The format pinned end to end without the player's decoder: screens written
// out byte by byte from the format's rules. Frame 1 covers a 4 x 2 screen
// (with a count-0 record); frame 2 is short, so frame 1 shows through.
TEST_P(Player, DrawsTheFormatsBytes)
{
    uint32_t bpp = GetParam();
    FrameDir dir;
    Frame first, second;
    append_run(first, 3, 0xF800); // red
    append_run(first, 0, 0x1234);
    append_run(first, 2, 0x07E0); // green
    append_run(first, 3, 0x001F); // blue
    append_run(second, 2, 0x8410); // mid grey: 10000 100000 10000
    append_run(second, 1, 0xFFFF);
    ASSERT_TRUE(dir.write({ { 1, first }, { 2, second } }));
    VirtualDevices d;
    d.fb = FbSettings { .xres = 4, .yres = 2, .bits_per_pixel = bpp };
    PlayerRun run = play(d, dir);
    ASSERT_EQ(run.screens.size(), 2u);
    using Bytes = std::vector<uint8_t>;
    if (bpp == 16) {
        EXPECT_EQ(run.screens[0],
            (Bytes { 0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8, 0xE0, 0x07, //
                0xE0, 0x07, 0x1F, 0x00, 0x1F, 0x00, 0x1F, 0x00 }));
        EXPECT_EQ(run.screens[1],
            (Bytes { 0x10, 0x84, 0x10, 0x84, 0xFF, 0xFF, 0xE0, 0x07, //
                0xE0, 0x07, 0x1F, 0x00, 0x1F, 0x00, 0x1F, 0x00 }));
    } else {
        // Red, green, blue, 0xFF; channels widened by repeating their top bits.
        Bytes red = { 0xFF, 0x00, 0x00, 0xFF }, green = { 0x00, 0xFF, 0x00, 0xFF },
              blue = { 0x00, 0x00, 0xFF, 0xFF }, grey = { 0x84, 0x82, 0x84, 0xFF },
              white = { 0xFF, 0xFF, 0xFF, 0xFF };
        auto screen = [](std::initializer_list<Bytes> pixels) {
            Bytes bytes;
            for (const Bytes& p : pixels)
                bytes.insert(bytes.end(), p.begin(), p.end());
            return bytes;
        };
        EXPECT_EQ(run.screens[0], screen({ red, red, red, green, green, blue, blue, blue }));
        EXPECT_EQ(run.screens[1], screen({ grey, grey, white, green, green, blue, blue, blue }));
    }
}

TEST_P(Player, ArgumentsChangeNothing)
{
    FrameDir dir;
    auto frames = write_all(dir);
    PlayerRun run = play(devices(), dir, { "--help", "-v", frame_path(2) });
    EXPECT_EQ(run.screens, expected_screens(frames, GetParam()));
    EXPECT_EQ(run.kmsg, "");
}

TEST_P(Player, OnlyTheVisibleScreenIsMapped)
{
    uint32_t bpp = GetParam();
    FrameDir dir;
    auto frames = write_all(dir);
    VirtualDevices d = devices();
    d.fb->xres_virtual = 64, d.fb->yres_virtual = 96;
    d.fb->line_length = WIDTH * bpp / 8 + 64; // padded lines are not consulted
    PlayerRun run = play(d, dir);
    auto mappings = run.of(EventKind::mmap, Device::fb);
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].length, PIXELS * bpp / 8);
    EXPECT_EQ(mappings[0].offset, 0);
    EXPECT_EQ(run.screens, expected_screens(frames, bpp));
}

INSTANTIATE_TEST_SUITE_P(Depth, Player, testing::Values(16u, 32u), testing::PrintToStringParamName());

// A screen the player refuses (failing calls are in the failure matrix): one
// message, nothing held, and the run ends without touching the console, the
// frames or the clock.
struct ScreenFailure {
    const char* name;
    std::optional<FbSettings> fb; // nullopt: no framebuffer at all
    std::string fail;
    bool reaches_mmap;
};

void PrintTo(const ScreenFailure& failure, std::ostream* out)
{
    *out << failure.name;
}

class UnusableScreen : public testing::TestWithParam<ScreenFailure> { };

TEST_P(UnusableScreen, GivesOneMessageAndEndsTheRun)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir dir;
    ASSERT_TRUE(dir.write(1, numbered_frame(1)));
    VirtualDevices d;
    d.fb = GetParam().fb;
    d.fail = GetParam().fail;
    PlayerRun run = play(d, dir);
    EXPECT_EQ(run.kmsg, FB_MESSAGE);
    EXPECT_EQ(run.count(EventKind::mmap, Device::fb), GetParam().reaches_mmap ? 1u : 0u);
    EXPECT_EQ(run.count(EventKind::open, Device::tty), 0u);
    EXPECT_EQ(run.count(EventKind::open, Device::frame), 0u);
    EXPECT_EQ(run.count(EventKind::sleep), 0u);
    EXPECT_EQ(run.count(EventKind::pan), 0u);
    EXPECT_EQ(run.count(EventKind::munmap), 0u);
    if (GetParam().fail != "fb-open" && GetParam().fb) {
        EXPECT_EQ(run.count(EventKind::close, Device::fb), 1u);
    }

    // With the kernel log gone too, the player stays silent and still exits 0.
    d.kmsg = false;
    EXPECT_EQ(play(d, dir).kmsg, "");
}

INSTANTIATE_TEST_SUITE_P(Screen, UnusableScreen,
    testing::Values(
        ScreenFailure { .name = "NoDevice", .fb = std::nullopt, .fail = "", .reaches_mmap = false },
        ScreenFailure { .name = "ZeroResolution",
            .fb = FbSettings { .xres = 0, .yres = 0, .bits_per_pixel = 16 },
            .fail = "",
            .reaches_mmap = true },
        ScreenFailure { .name = "EightBitDepth",
            .fb = FbSettings { .xres = 64, .yres = 48, .bits_per_pixel = 8 },
            .fail = "",
            .reaches_mmap = false },
        ScreenFailure { .name = "TwentyFourBitDepth",
            .fb = FbSettings { .xres = 64, .yres = 48, .bits_per_pixel = 24 },
            .fail = "",
            .reaches_mmap = false },
        ScreenFailure { .name = "SizeBeyond32Bits",
            .fb = FbSettings { .xres = 65536, .yres = 65536, .bits_per_pixel = 16 },
            .fail = "",
            .reaches_mmap = false }),
    [](const testing::TestParamInfo<ScreenFailure>& info) { return std::string(info.param.name); });

// The virtual devices fail closed: no other device is reachable through them.
TEST(VirtualDevices, RefuseEveryOtherDevice)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir dir;
    PlayerPaths paths = installed_player();
    paths.player = "/bin/cat";
    PlayerRun run
        = run_player(paths, VirtualDevices {}, dir.path(), { "/dev/null", "/dev/fb0", "/dev/tty1" });
    EXPECT_NE(run.exit_status, 0);
    std::vector<std::string> refused;
    for (const Event& e : run.of(EventKind::refuse))
        refused.push_back(e.path);
    EXPECT_EQ(refused, (std::vector<std::string> { "/dev/null", "/dev/fb0", "/dev/tty1" }));
}

} // namespace
