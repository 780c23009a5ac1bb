// Black-box runs of the host player on the virtual devices.
#include "render.h"
#include "rle565.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "vdev/vdev_run.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t WIDTH = 64, HEIGHT = 48, PIXELS = WIDTH * HEIGHT;
constexpr char FB_MESSAGE[] = "<3>pelimora: cannot open '/dev/graphics/fb0'\n";

using Frame = std::vector<uint8_t>;

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

class FrameDir : public TempDir {
public:
    void write(int n, const Frame& frame) const
    {
        std::ofstream(*this / ("Loop_" + std::to_string(n) + ".rle"), std::ios::binary)
            .write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
};

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

std::string fb_geometry(uint32_t bpp)
{
    return std::to_string(WIDTH) + "x" + std::to_string(HEIGHT) + "x" + std::to_string(bpp);
}

std::string missing_messages(int from, int to)
{
    std::string text;
    for (int n = from; n <= to; ++n)
        text += "<3>pelimora: cannot open '/bootimages/Loop_" + std::to_string(n) + ".rle'\n";
    return text;
}

PlayerRun play(
    const VirtualDevices& devices, const FrameDir& frames, const std::vector<std::string>& args = {})
{
    PlayerRun run = run_player(built_player(), devices, frames.path(), args);
    // Descriptor numbers depend on what the test process hands down.
    for (std::string& line : run.log) {
        size_t rc = line.rfind(" rc=");
        if (line.starts_with("open ") && rc != std::string::npos && std::isdigit(line[rc + 4]))
            line.replace(rc + 4, std::string::npos, "fd");
    }
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.term_signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.lines("leak").size(), 0u) << run.lines("leak")[0];
    EXPECT_EQ(run.lines("overrun").size(), 0u);
    EXPECT_EQ(run.lines("refuse").size(), 0u);
    EXPECT_EQ(run.lines("error").size(), 0u);
    // Every message reaches the log in one write of its own.
    EXPECT_EQ(run.lines("write kmsg").size(), size_t(std::count(run.kmsg.begin(), run.kmsg.end(), '\n')));
    return run;
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
        for (int n = 1; n <= 40; ++n)
            dir.write(n, frames[n] = numbered_frame(n));
        return frames;
    }
};

TEST_P(Player, PlaysTheFortyFramesInOrder)
{
    uint32_t bpp = GetParam();
    FrameDir dir;
    auto frames = write_all(dir);
    PlayerRun run = play(devices(), dir);

    EXPECT_EQ(run.kmsg, "");
    EXPECT_GE(run.seconds, 0.8);
    ASSERT_EQ(run.screens.size(), 40u);
    auto expected = expected_screens(frames, bpp);
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(run.screens[i], expected[i]) << "screen at pan " << i + 1;

    // The screen is mapped once, shared, exactly one visible screen from offset 0.
    std::string len = "len=" + std::to_string(PIXELS * bpp / 8);
    EXPECT_EQ(run.lines("open fb"), std::vector<std::string> { "open fb flags=0x2 rc=fd" });
    EXPECT_EQ(run.lines("mmap fb"),
        (std::vector<std::string> { "mmap fb " + len + " prot=3 flags=0x1 offset=0", "mmap fb rc=0" }));
    EXPECT_EQ(run.lines("munmap fb"), std::vector<std::string> { "munmap fb " + len });

    // Each frame: console to graphics, file mapped whole, pan with the screen
    // information as read at open, file closed, then a full pause.
    std::vector<std::string> frame_events;
    for (const std::string& line : run.log)
        if (!line.starts_with("open fb") && !line.starts_with("ioctl fb") && !line.starts_with("mmap fb")
            && !line.starts_with("munmap fb") && !line.starts_with("close fb") && !line.starts_with("exit"))
            frame_events.push_back(line);
    ASSERT_EQ(frame_events.size(), 40u * 10);
    for (int n = 1; n <= 40; ++n) {
        std::string path = "/bootimages/Loop_" + std::to_string(n) + ".rle";
        std::string size = std::to_string(frames[n].size());
        std::vector<std::string> expected_events = {
            "open tty flags=0x1002 rc=fd",
            "ioctl tty kdsetmode mode=1 rc=0",
            "close tty vdev-tty0",
            "open frame " + path + " flags=0x0 rc=fd",
            "fstat frame " + path + " rc=0",
            "mmap frame len=" + size + " prot=1 flags=0x1 offset=0 rc=0",
            "munmap frame len=" + size,
            "pan n=" + std::to_string(n) + " xres=64 yres=48 bpp=" + std::to_string(bpp)
                + " xoffset=0 yoffset=0 rc=0",
            "close frame " + path,
            "sleep request=0.020000000 rc=0 errno=0 remaining=0.000000000",
        };
        std::vector<std::string> actual(frame_events.begin() + (n - 1) * 10, frame_events.begin() + n * 10);
        ASSERT_EQ(actual, expected_events) << "frame " << n;
    }
}

TEST_P(Player, ArgumentsChangeNothing)
{
    FrameDir dir;
    auto frames = write_all(dir);
    PlayerRun run = play(devices(), dir, { "--help", "-v", "/bootimages/Loop_2.rle" });
    EXPECT_EQ(run.screens, expected_screens(frames, GetParam()));
    EXPECT_EQ(run.kmsg, "");
}

TEST_P(Player, MissingFramesAreReportedInOrderAndStillPaced)
{
    FrameDir dir;
    PlayerRun run = play(devices(), dir);
    EXPECT_EQ(run.kmsg, missing_messages(1, 40));
    EXPECT_EQ(run.screens.size(), 0u);
    EXPECT_EQ(run.lines("sleep request=0.020000000 rc=0").size(), 40u);
    EXPECT_GE(run.seconds, 0.8);
}

TEST_P(Player, BadFrameFilesCostOnlyTheirOwnPicture)
{
    FrameDir dir;
    std::map<int, Frame> drawn;
    drawn[1] = numbered_frame(1);
    dir.write(1, drawn[1]);
    dir.write(2, {}); // empty: cannot be mapped, no pan, no message
    dir.write(3, drawn[3] = { 1, 0, 0 }); // a record cut short: pan, nothing drawn
    Frame overlong;
    append_run(overlong, static_cast<uint16_t>(PIXELS + 1), 0xFFFF);
    append_run(overlong, 1, 0xFFFF);
    dir.write(4, drawn[4] = overlong);
    dir.write(5, drawn[5] = { 5, 0, 0xE0, 0x07 }); // five green pixels over frame 1
    fs::create_directory(dir.path() / "Loop_6.rle"); // a directory maps no more than an empty file

    VirtualDevices d = devices();
    d.fail = "fb-pan"; // many drivers cannot pan; the frames show all the same
    PlayerRun run = play(d, dir);
    EXPECT_EQ(run.kmsg, missing_messages(7, 40));
    EXPECT_EQ(run.screens, expected_screens(drawn, GetParam()));
    EXPECT_EQ(run.lines("pan").size(), 4u);
    EXPECT_EQ(run.lines("sleep").size(), 40u);
}

TEST_P(Player, SignalsDoNotShortenThePauses)
{
    FrameDir dir;
    write_all(dir);
    VirtualDevices d = devices();
    d.signal_us = 3000;
    PlayerRun run = play(d, dir);
    EXPECT_GE(run.seconds, 0.8);
    EXPECT_EQ(run.screens.size(), 40u);
    // An interrupted pause goes on with exactly the time that was left.
    int pauses = 0, interrupted = 0;
    std::string resume;
    for (const std::string& line : run.lines("sleep")) {
        std::string request = line.substr(14, line.find(' ', 14) - 14);
        if (resume.empty()) {
            EXPECT_EQ(request, "0.020000000");
            ++pauses;
        } else {
            EXPECT_EQ(request, resume);
        }
        resume.clear();
        if (line.find("rc=-1 errno=4 ") != std::string::npos) {
            ++interrupted;
            resume = line.substr(line.find("remaining=") + 10);
        } else {
            EXPECT_NE(line.find("rc=0"), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(resume.empty());
    EXPECT_EQ(pauses, 40);
    EXPECT_GT(interrupted, 40);
}

TEST_P(Player, OnlyTheVisibleScreenIsMapped)
{
    uint32_t bpp = GetParam();
    FrameDir dir;
    auto frames = write_all(dir);
    VirtualDevices d = devices();
    d.fb_virtual = "64x96";
    d.fb_line = std::to_string(WIDTH * bpp / 8 + 64); // padded lines are not consulted
    PlayerRun run = play(d, dir);
    EXPECT_EQ(run.lines("mmap fb")[0],
        "mmap fb len=" + std::to_string(PIXELS * bpp / 8) + " prot=3 flags=0x1 offset=0");
    EXPECT_EQ(run.screens, expected_screens(frames, bpp));
}

TEST_P(Player, AConsoleThatCannotGoGraphicalSkipsEveryFrameSilently)
{
    FrameDir dir;
    write_all(dir);
    for (std::string tty : { "missing", "refuse" }) {
        VirtualDevices d = devices();
        d.tty = tty;
        PlayerRun run = play(d, dir);
        EXPECT_EQ(run.kmsg, "") << tty;
        EXPECT_EQ(run.lines("open frame").size(), 0u) << tty;
        EXPECT_EQ(run.lines("open tty flags=0x1002").size(), 40u) << tty;
        EXPECT_EQ(run.lines("ioctl tty kdsetmode mode=1 rc=-1").size(), tty == "refuse" ? 40u : 0u);
        EXPECT_EQ(run.lines("sleep").size(), 40u) << tty;
        EXPECT_EQ(run.screens.size(), 0u) << tty;
    }
}

TEST_P(Player, AnUnopenableKernelLogIsSilent)
{
    FrameDir dir;
    VirtualDevices d = devices();
    d.kmsg = false;
    PlayerRun run = play(d, dir);
    EXPECT_EQ(run.lines("open kmsg flags=0x1 rc=-1").size(), 40u);
    EXPECT_EQ(run.lines("sleep").size(), 40u);
    EXPECT_EQ(run.kmsg, "");
}

INSTANTIATE_TEST_SUITE_P(Depth, Player, testing::Values(16u, 32u), testing::PrintToStringParamName());

// A screen that cannot be used: one message, nothing held, and the run ends
// without touching the console, the frames or the clock.
struct ScreenFailure {
    const char* name;
    std::string fb;
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
    dir.write(1, numbered_frame(1));
    VirtualDevices d;
    d.fb = GetParam().fb;
    d.fail = GetParam().fail;
    PlayerRun run = play(d, dir);
    EXPECT_EQ(run.kmsg, FB_MESSAGE);
    EXPECT_EQ(run.lines("mmap fb").empty(), !GetParam().reaches_mmap);
    EXPECT_EQ(run.lines("open tty").size(), 0u);
    EXPECT_EQ(run.lines("open frame").size(), 0u);
    EXPECT_EQ(run.lines("sleep").size(), 0u);
    EXPECT_EQ(run.lines("pan").size(), 0u);
    EXPECT_EQ(run.lines("munmap").size(), 0u);
    if (GetParam().fail != "fb-open" && !GetParam().fb.empty()) {
        EXPECT_EQ(run.lines("close fb").size(), 1u);
    }

    // With the kernel log gone too, the player stays silent and still exits 0.
    d.kmsg = false;
    EXPECT_EQ(play(d, dir).kmsg, "");
}

INSTANTIATE_TEST_SUITE_P(Screen, UnusableScreen,
    testing::Values(ScreenFailure { "NoDevice", "", "", false },
        ScreenFailure { "OpenFails", "64x48x16", "fb-open", false },
        ScreenFailure { "FixedInfoFails", "64x48x16", "fb-fix", false },
        ScreenFailure { "VariableInfoFails", "64x48x32", "fb-var", false },
        ScreenFailure { "MappingFails", "64x48x32", "fb-mmap", true },
        ScreenFailure { "ZeroResolution", "0x0x16", "", true },
        ScreenFailure { "EightBitDepth", "64x48x8", "", false },
        ScreenFailure { "TwentyFourBitDepth", "64x48x24", "", false },
        ScreenFailure { "SizeBeyond32Bits", "65536x65536x16", "", false }),
    [](const testing::TestParamInfo<ScreenFailure>& info) { return std::string(info.param.name); });

// The virtual devices fail closed: no other device is reachable through them.
TEST(VirtualDevices, RefuseEveryOtherDevice)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir dir;
    PlayerPaths paths = built_player();
    paths.player = "/bin/cat";
    PlayerRun run
        = run_player(paths, VirtualDevices {}, dir.path(), { "/dev/null", "/dev/fb0", "/dev/tty1" });
    EXPECT_NE(run.exit_status, 0);
    EXPECT_EQ(run.lines("refuse"),
        (std::vector<std::string> { "refuse /dev/null", "refuse /dev/fb0", "refuse /dev/tty1" }));
}

} // namespace
