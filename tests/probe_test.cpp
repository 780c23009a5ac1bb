// pelimora-probe, the host build, on the virtual devices: what it reports of
// each kind of screen, console, kernel log and frame set; the card it draws;
// the frames it times; and its report taken by the tools as a panel.
#include "core/decode.h"
#include "core/pixel_formats.h"
#include "core/schedule.h"
#include "frames/panel.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/temp_dir.h"
#include "preview/png.h"
#include "probe/card.h"
#include "tests/support/expect_ok.h"
#include "tests/support/frame_dir.h"
#include "tests/support/product_line.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"
#include "vfb/runner.h"

#include <csignal>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Probed {
    PlayerRun run;
    json report; // standard output as JSON; discarded when it is not
};

Probed probe(const VirtualDevices& devices, const fs::path& frames, const std::vector<std::string>& args = {})
{
    Probed p { run_player(installed_player().probe(), devices, frames, args), {} };
    EXPECT_OK(p.run.error);
    EXPECT_EQ(p.run.term_signal, 0);
    // No descriptor left open, nothing written past the mapping, no other device touched.
    for (EventKind wrong : { EventKind::leak, EventKind::overrun, EventKind::refuse, EventKind::error })
        for (const Event& e : p.run.of(wrong))
            ADD_FAILURE() << describe(e);
    p.report = json::parse(p.run.out, nullptr, false);
    return p;
}

bool has_advice(const json& report, const std::string& words)
{
    for (const json& line : report["advice"])
        if (line.get<std::string>().find(words) != std::string::npos)
            return true;
    return false;
}

TEST(Probe, ReportsEachFormatAsTheKernelDescribesIt)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    for (const PixelFormat& format : PIXEL_FORMATS) {
        VirtualDevices devices;
        devices.fb = fb_of_format(64, 48, format);
        Probed p = probe(devices, frames.path());
        const json& r = p.report;
        ASSERT_FALSE(r.is_discarded()) << p.run.out;
        EXPECT_EQ(p.run.exit_status, 0) << format.name;
        EXPECT_EQ(r["device"], "/dev/graphics/fb0");
        EXPECT_EQ(r["xres"], 64);
        EXPECT_EQ(r["yres"], 48);
        EXPECT_EQ(r["bits_per_pixel"], format.bits_per_pixel);
        EXPECT_EQ(r["line_length"], 64 * format.bits_per_pixel / 8);
        EXPECT_EQ(r["red"]["offset"], format.red.offset);
        EXPECT_EQ(r["blue"]["length"], format.blue.length);
        EXPECT_EQ(r["transp"]["length"], format.transp.length);
        EXPECT_EQ(r["format"], format.name);
        EXPECT_EQ(r["pans"], true);
        EXPECT_EQ(r["player"], "ok");
        EXPECT_EQ(r["console"], "text");
        EXPECT_EQ(r["kmsg"], "writable");
        // The host build on the host's kernel: no ARM player to advise, no DRM emulation.
        EXPECT_EQ(r["binary"], "host");
        EXPECT_EQ(r["compat"], false);
        EXPECT_EQ(r["page_size"], sysconf(_SC_PAGESIZE));
        EXPECT_EQ(r["emulated"], false);
        if (format.refusal) {
            EXPECT_TRUE(has_advice(r, "cannot show right")) << r["advice"];
        } else if (&format != &player_format(format.bits_per_pixel)) {
            EXPECT_TRUE(has_advice(r, std::string("make frames with --format ") + format.name))
                << r["advice"];
        }
        // Nothing changed: the console's mode, the log, the screen.
        EXPECT_EQ(p.run.count(EventKind::kdsetmode), 0u);
        EXPECT_EQ(p.run.kmsg, "");
        ASSERT_EQ(p.run.screens.size(), 1u); // the pan request, made once
        EXPECT_EQ(
            std::count(p.run.screens[0].begin(), p.run.screens[0].end(), 0), long(p.run.screens[0].size()));
    }

    // Lines longer than a row, a taller virtual screen, a driver that cannot pan.
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 64,
        .yres = 48,
        .bits_per_pixel = 16,
        .xres_virtual = 64,
        .yres_virtual = 96,
        .line_length = 160 };
    devices.fail = "fb-pan";
    Probed p = probe(devices, frames.path());
    EXPECT_EQ(p.run.exit_status, 0);
    EXPECT_EQ(p.report["line_length"], 160);
    EXPECT_EQ(p.report["xres_virtual"], 64);
    EXPECT_EQ(p.report["yres_virtual"], 96);
    EXPECT_EQ(p.report["pans"], false);
    EXPECT_TRUE(has_advice(p.report, "line length 160 is not 64 x 2: make frames with --line-length 160"))
        << p.report["advice"];
    EXPECT_TRUE(has_advice(p.report, "refuses the pan request")) << p.report["advice"];
}

TEST(Probe, ScreenFailuresAreReportedNotCrashedOn)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    const std::pair<const char*, const char*> failures[] = {
        { "", "cannot open: No such file or directory" },
        { "fb-open", "cannot open: " },
        { "fb-fix", "cannot read its fixed screen information: " },
        { "fb-var", "cannot read its variable screen information: " },
        { "fb-mmap", "cannot map 6144 bytes: " },
    };
    for (auto [fail, error] : failures) {
        VirtualDevices devices;
        if (*fail)
            devices.fail = fail;
        else
            devices.fb.reset();
        Probed p = probe(devices, frames.path());
        ASSERT_FALSE(p.report.is_discarded()) << p.run.out;
        EXPECT_EQ(p.run.exit_status, 1) << fail;
        EXPECT_TRUE(p.report["error"].get<std::string>().starts_with(error)) << p.report["error"];
        EXPECT_NE(p.report["player"], "ok");
        EXPECT_EQ(p.run.kmsg, "") << "the probe logs nothing";
        if (!*fail) {
            EXPECT_TRUE(has_advice(p.report, "CONFIG_FB_DEVICE")) << p.report["advice"];
        }
    }
}

TEST(Probe, SaysWhyThePlayerWouldRefuseAScreen)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 64, .yres = 48, .bits_per_pixel = 24 };
    Probed p = probe(devices, frames.path());
    ASSERT_FALSE(p.report.is_discarded()) << p.run.out;
    EXPECT_EQ(p.run.exit_status, 1);
    EXPECT_EQ(p.report["bits_per_pixel"], 24);
    EXPECT_EQ(p.report["player"], "refuses 24 bits per pixel: it draws 16 or 32");
    EXPECT_EQ(p.run.count(EventKind::mmap, Device::fb), 0u) << "nothing mapped that the player would not map";
}

// The platform as the kernel names it: an arm64 kernel where this (64-bit,
// not ARM) probe finds no 32-bit personality is one that runs only the
// AArch64 player; a 32-bit one takes the ARMv7 player. A driver whose id
// ends in drmfb is DRM's framebuffer emulation.
TEST(Probe, SaysWhichPlayerThePlatformRuns)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    VirtualDevices devices;
    devices.machine = "aarch64";
    devices.fb_id = "virtio_gpudrmfb";
    Probed p = probe(devices, frames.path());
    EXPECT_EQ(p.report["machine"], "aarch64");
    EXPECT_EQ(p.report["compat"], false);
    EXPECT_EQ(p.report["aarch32"], false);
    EXPECT_EQ(p.report["driver"], "virtio_gpudrmfb");
    EXPECT_EQ(p.report["emulated"], true);
    EXPECT_TRUE(has_advice(p.report, "install the AArch64 player")) << p.report["advice"];
    EXPECT_TRUE(has_advice(p.report, "pans only within yres_virtual 48")) << p.report["advice"];

    devices.machine = "armv7l";
    devices.fb_id = "pl111";
    p = probe(devices, frames.path());
    EXPECT_EQ(p.report["emulated"], false);
    EXPECT_TRUE(has_advice(p.report, "a 32-bit kernel: install the ARMv7 player")) << p.report["advice"];
    EXPECT_FALSE(has_advice(p.report, "framebuffer emulation")) << p.report["advice"];
}

TEST(Probe, ConsoleAndKernelLogAsThePlayerWouldFindThem)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    VirtualDevices missing;
    missing.tty = "missing";
    missing.kmsg = false;
    Probed p = probe(missing, frames.path());
    EXPECT_EQ(p.report["console"], "missing");
    EXPECT_EQ(p.report["kmsg"], "missing");
    EXPECT_TRUE(has_advice(p.report, "the player draws nothing without the console")) << p.report["advice"];
    EXPECT_TRUE(has_advice(p.report, "the player's messages are lost")) << p.report["advice"];

    VirtualDevices refusing;
    refusing.tty = "refuse";
    p = probe(refusing, frames.path());
    EXPECT_EQ(p.report["console"], "unusable");
}

// A stand-in for the kernel's command line and its console's sysfs.
fs::path fake_system(const fs::path& root, const std::string& cmdline, int rotate)
{
    fs::create_directories(root / "proc");
    std::ofstream(root / "proc/cmdline") << cmdline << "\n";
    for (auto [n, name, bind] :
        { std::tuple(0, "(S) dummy device", "0"), std::tuple(1, "(M) frame buffer device", "1") }) {
        fs::path vtcon = root / ("sys/class/vtconsole/vtcon" + std::to_string(n));
        fs::create_directories(vtcon);
        std::ofstream(vtcon / "name") << name << "\n";
        std::ofstream(vtcon / "bind") << bind << "\n";
    }
    fs::create_directories(root / "sys/class/graphics/fbcon");
    std::ofstream(root / "sys/class/graphics/fbcon/rotate") << rotate << "\n";
    return root;
}

TEST(Probe, NamesWhatWillSpoilTheSplash)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    TempDir scratch("pelimora-probe-boot");
    VirtualDevices devices;
    devices.system = fake_system(scratch / "spoiling",
        "root=/dev/vda console=ttyAMA0,115200 console=tty0 fbcon=rotate:1 vt.global_cursor_default=1 "
        "loglevel=7",
        1);
    Probed p = probe(devices, frames.path());
    const json& boot = p.report["boot"];
    EXPECT_EQ(boot["cmdline"], true);
    EXPECT_EQ(boot["consoles"], "ttyAMA0,tty0");
    EXPECT_EQ(boot["console_on_display"], true);
    EXPECT_EQ(boot["fbcon_bound"], true);
    EXPECT_EQ(boot["cursor"], 1);
    EXPECT_EQ(boot["logo"], true);
    EXPECT_EQ(boot["quiet"], false);
    EXPECT_EQ(boot["loglevel"], 7);
    EXPECT_EQ(boot["fbcon_rotate"], 1);
    EXPECT_EQ(boot["handover"], false);
    const std::string text_on_display = "(console=ttyAMA0,tty0): keep console=tty0 and the other virtual "
                                        "terminals off the command line, and add quiet";
    for (const std::string& advice :
        { text_on_display, std::string("add vt.global_cursor_default=0"), std::string("add logo.nologo"),
            std::string("turned by 90 degrees"), std::string("encode --rotate 90") })
        EXPECT_TRUE(has_advice(p.report, advice)) << advice << ": " << p.report["advice"];

    // A command line that keeps the display clean: no advice of the kind.
    devices.system
        = fake_system(scratch / "clean", "console=ttyAMA0 quiet vt.global_cursor_default=0 logo.nologo", 0);
    p = probe(devices, frames.path());
    EXPECT_EQ(p.report["boot"]["console_on_display"], false);
    for (const char* advice : { "console=", "cursor", "logo", "turned", "hand-over", "nodefer" })
        EXPECT_FALSE(has_advice(p.report, advice)) << advice << ": " << p.report["advice"];

    // No console= at all: the kernel's console is tty0. And fbcon=nodefer.
    devices.system = fake_system(scratch / "default", "quiet fbcon=nodefer", 0);
    p = probe(devices, frames.path());
    EXPECT_TRUE(has_advice(p.report, "no console= given, so tty0")) << p.report["advice"];
    EXPECT_TRUE(has_advice(p.report, "fbcon=nodefer")) << p.report["advice"];

    // Nothing to read: nothing claimed.
    devices.system.clear();
    p = probe(devices, frames.path());
    EXPECT_EQ(p.report["boot"]["cmdline"], false);
    EXPECT_TRUE(p.report["boot"]["fbcon_bound"].is_null());
    EXPECT_FALSE(has_advice(p.report, "console")) << p.report["advice"];
}

// The names after `marker` on the line that holds it, up to `end`, split at `separator`, quotes dropped.
std::vector<std::string> names_on_line(
    const fs::path& file, const std::string& marker, const std::string& end, char separator)
{
    std::ifstream in(file);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find(marker);
        if (at == std::string::npos || line.starts_with("#"))
            continue;
        std::string list = line.substr(at + marker.size());
        if (list.find(end) == std::string::npos)
            continue;
        list.resize(list.find(end));
        std::stringstream words(list);
        for (std::string name; std::getline(words, name, separator);) {
            std::erase(name, '"');
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The udev rule and the mdev script pass over the same hand-over drivers,
// and the probe names each of them: every framebuffer name the kernel's
// hand-over drivers register (simplefb; simpledrm, efidrm, vesadrm and
// ofdrm through DRM's fbdev emulation, "NAMEdrmfb"; efifb, vesafb, offb).
TEST(Probe, KnowsEveryHandOverDriverTheStartFilesPassOver)
{
    REQUIRE_DEVICE_SANDBOX();
    const fs::path boot = fs::path(PELIMORA_SOURCE_DIR) / "boot";
    std::vector<std::string> rule
        = names_on_line(boot / "udev/60-pelimora.rules", "ATTR{name}==\"", "\"", '|');
    std::vector<std::string> script = names_on_line(boot / "mdev/pelimora-mdev", "", ") exit 0 ;;", '|');
    ASSERT_GE(rule.size(), 5u);
    EXPECT_EQ(rule, script);
    FrameDir frames;
    for (const char* name : { "simple", "simpledrmdrmfb", "efidrmdrmfb", "vesadrmdrmfb", "ofdrmdrmfb",
             "EFI VGA", "VESA VGA", "OFfb ATY,Rage", "OFfb display" }) {
        EXPECT_TRUE(std::any_of(rule.begin(), rule.end(),
            [&](const std::string& pattern) { return fnmatch(pattern.c_str(), name, 0) == 0; }))
            << name << " is not passed over by the start files";
        VirtualDevices devices;
        devices.fb_id = name;
        EXPECT_EQ(probe(devices, frames.path()).report["boot"]["handover"], true) << name;
    }
    for (const std::string& pattern : rule) {
        VirtualDevices devices;
        devices.fb_id = pattern.ends_with('*') ? pattern.substr(0, pattern.size() - 1) + "x" : pattern;
        EXPECT_EQ(probe(devices, frames.path()).report["boot"]["handover"], true) << devices.fb_id;
    }
}

TEST(Probe, NamesAHandOverFramebuffer)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    for (auto [id, handover] : { std::pair("simple", true), std::pair("simpledrmdrmfb", true),
             std::pair("EFI VGA", true), std::pair("OFfb ATY,Rage", true),
             std::pair("virtio_gpudrmfb", false), std::pair("pl111", false) }) {
        VirtualDevices devices;
        devices.fb_id = id;
        Probed p = probe(devices, frames.path());
        EXPECT_EQ(p.report["boot"]["handover"], handover) << id;
        EXPECT_EQ(has_advice(p.report, "a hand-over framebuffer"), handover)
            << id << ": " << p.report["advice"];
    }
}

TEST(Probe, FramesAreCheckedAsTheToolsCheckThem)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    const uint32_t pixels = 64 * 48;
    Frame exact, short_of, over;
    append_run(exact, uint16_t(pixels), 0xF800);
    append_run(short_of, 100, 0x07E0);
    append_run(over, 100, 0x001F);
    append_run(over, uint16_t(pixels), 0x001F);
    ASSERT_TRUE(frames.write({ { 1, exact }, { 2, short_of }, { 3, over }, { 5, {} }, { 6, { 1, 2 } } }));
    fs::create_directory(frames.path() / frame_name(7));
    Probed p = probe({}, frames.path());
    const json& f = p.report["frames"];
    ASSERT_EQ(f.size(), size_t(FRAME_COUNT));
    const std::tuple<int, const char*, int, int> expect[]
        = { { 1, "exact", 1, 4 }, { 2, "short", 1, 4 }, { 3, "over", 2, 8 }, { 4, "missing", 0, 0 },
              { 5, "empty", 0, 0 }, { 6, "short", 0, 2 }, { 7, "unreadable", 0, 0 } };
    for (auto [n, status, records, bytes] : expect) {
        EXPECT_EQ(f[n - 1]["n"], n);
        EXPECT_EQ(f[n - 1]["status"], status) << n;
        EXPECT_EQ(f[n - 1]["records"], records) << n;
        EXPECT_EQ(f[n - 1]["bytes"], bytes) << n;
    }
    EXPECT_TRUE(has_advice(p.report, "34 of 40 frames missing")) << p.report["advice"];
}

TEST(Probe, TheReportIsAPanelForTheTools)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    Scratch scratch;
    VirtualDevices devices;
    devices.fb = fb_of_format(64, 48, PIXEL_FORMATS[7], 320); // XRGB8888
    Probed p = probe(devices, frames.path());
    ASSERT_EQ(p.report["format"], "XRGB8888");
    std::ofstream(scratch / "panel.json") << p.run.out;

    std::vector<uint8_t> art(64 * 48 * 3);
    for (size_t i = 0; i < art.size(); ++i)
        art[i] = uint8_t(i * 7);
    ASSERT_OK(write_png_rgb(scratch / "art.png", 64, 48, art));
    ToolRun by_report = scratch.run("pelimora-frames",
        { "encode", scratch / "art.png", "--panel", scratch / "panel.json", "-o", scratch / "a/" });
    ToolRun by_flags = scratch.run("pelimora-frames",
        { "encode", scratch / "art.png", "--size", "64x48", "--format", "XRGB8888", "--line-length", "320",
            "-o", scratch / "b/" });
    ASSERT_EQ(by_report.status, 0) << by_report.err;
    ASSERT_EQ(by_flags.status, 0) << by_flags.err;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        EXPECT_EQ(slurp(scratch / "a" / frame_name(n)), slurp(scratch / "b" / frame_name(n))) << n;
    EXPECT_EQ(slurp(scratch / "a" / "pelimora.json"), slurp(scratch / "b" / "pelimora.json"));
    EXPECT_EQ(
        scratch.run("pelimora-frames", { "check", scratch / "a", "--panel", scratch / "panel.json" }).status,
        0);
}

TEST(Probe, CardIsDrawnAsThePlayerWrites)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    constexpr uint32_t W = 320, H = 240;
    for (uint32_t bpp : { 16u, 32u }) {
        VirtualDevices devices;
        devices.fb = FbSettings { .xres = 320, .yres = 240, .bits_per_pixel = bpp };
        Probed p = probe(devices, frames.path(), { "--card" });
        EXPECT_EQ(p.run.exit_status, 0) << p.run.err;
        EXPECT_EQ(p.run.count(EventKind::kdsetmode), 1u) << "the console to graphics, as the player";
        ASSERT_EQ(p.run.screens.size(), 1u);
        const std::vector<uint8_t>& card = p.run.screens[0];
        ASSERT_EQ(card.size(), size_t(W) * H * bpp / 8);
        auto at = [&](uint32_t x, uint32_t y) {
            uint32_t value = 0;
            std::memcpy(&value, &card[(size_t(y) * W + x) * bpp / 8], bpp / 8);
            return value;
        };
        auto stored = [&](uint16_t code) { return bpp == 16 ? uint32_t(code) : expand565(code); };
        const CardBars bars = card_bars(W, H);
        const uint16_t colours[] = { CARD_RED, CARD_GREEN, CARD_BLUE, CARD_WHITE };
        for (uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(at(i * bars.width + 3, bars.top + 2), stored(colours[i]))
                << "bar " << i << " at " << bpp;
        EXPECT_EQ(at(0, 0), stored(CARD_MARK));
        EXPECT_EQ(at(W - 1, H - 1), stored(CARD_MARK));
        EXPECT_EQ(at(280, 280 * (H - 1) / (W - 1)), stored(CARD_WHITE)) << "the diagonal";
        EXPECT_EQ(at(32, 200), stored(CARD_GRID));
        EXPECT_EQ(at(33, 200), stored(CARD_BLACK));
    }
}

TEST(Probe, TimePlaysTheFramesAsThePlayerWithoutItsPauses)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    std::map<int, Frame> set;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        if (n != 9)
            append_run(set[n], uint16_t(n * 50), uint16_t(0x0841 * n));
    ASSERT_TRUE(frames.write(set));
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 64, .yres = 48, .bits_per_pixel = 32 };
    Probed p = probe(devices, frames.path(), { "--time" });
    ASSERT_FALSE(p.report.is_discarded()) << p.run.out;
    EXPECT_EQ(p.run.exit_status, 0);
    EXPECT_EQ(p.run.count(EventKind::sleep), 0u);
    EXPECT_EQ(p.run.pans, size_t(FRAME_COUNT - 1)) << "every frame drawn and panned but the missing one";
    EXPECT_EQ(p.run.kmsg, "<3>pelimora: cannot open '" + frame_path(9) + "'\n");
    const json& f = p.report["frames"];
    ASSERT_EQ(f.size(), size_t(FRAME_COUNT));
    int64_t total = 0, slowest = 0;
    std::vector<int64_t> us;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        EXPECT_EQ(f[n - 1]["bytes"], n == 9 ? 0 : n * 50 * 4) << n;
        us.push_back(f[n - 1]["us"].get<int64_t>());
        total += us.back();
        slowest = std::max(slowest, us.back());
    }
    EXPECT_EQ(p.report["total_us"], total);
    EXPECT_EQ(p.report["slowest"]["us"], slowest);
    std::sort(us.begin(), us.end());
    EXPECT_EQ(p.report["median_us"], (us[FRAME_COUNT / 2 - 1] + us[FRAME_COUNT / 2]) / 2);
    EXPECT_GT(p.report["fill_mb_per_s"].get<double>(), 0);
}

TEST(Probe, ArgumentsAreStrict)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    Probed bad = probe({}, frames.path(), { "--cards" });
    EXPECT_EQ(bad.run.exit_status, 2);
    EXPECT_NE(bad.run.err.find("Usage: pelimora-probe"), std::string::npos);
    EXPECT_EQ(bad.run.count(EventKind::open, Device::fb), 0u);
    Probed help = probe({}, frames.path(), { "--help" });
    EXPECT_EQ(help.run.exit_status, 0);
    EXPECT_NE(help.run.out.find("--card"), std::string::npos);
}

} // namespace

namespace {

TEST(Probe, PicksTheSetMadeForExactlyThisScreen)
{
    REQUIRE_DEVICE_SANDBOX();
    ProductLine line;
    FrameDir frames;
    struct Screen {
        uint32_t xres;
        const char* format;
        uint32_t line;
        const char* set; // "" for none
    };
    for (const Screen& s : { Screen { .xres = 32, .format = "RGB565", .line = 64, .set = "32x20-RGB565-64" },
             Screen { .xres = 40, .format = "XRGB8888", .line = 192, .set = "40x20-XRGB8888-192" },
             Screen { .xres = 32, .format = "ABGR8888", .line = 128, .set = "second-supplier" },
             // Alike but for one thing each: the lines, the format, the depth.
             Screen { .xres = 40, .format = "XRGB8888", .line = 160, .set = "" },
             Screen { .xres = 32, .format = "XBGR8888", .line = 128, .set = "" },
             Screen { .xres = 32, .format = "XRGB8888", .line = 128, .set = "" } }) {
        SCOPED_TRACE(std::to_string(s.xres) + "x20 " + s.format + " " + std::to_string(s.line));
        VirtualDevices devices;
        devices.fb = fb_of_format(s.xres, 20, *find_format(s.format), s.line);
        Probed p = probe(devices, frames.path(), { "--pick", line.bundle });
        // It reads and changes nothing: no pan, no console, no write to the screen.
        EXPECT_EQ(p.run.count(EventKind::pan), 0u);
        EXPECT_EQ(p.run.count(EventKind::open, Device::tty), 0u);
        EXPECT_EQ(p.run.screens.size(), 0u);
        if (*s.set) {
            EXPECT_EQ(p.run.exit_status, 0) << p.run.err;
            EXPECT_EQ(p.run.out, (line.bundle / s.set).string() + "\n");
            EXPECT_EQ(p.run.err, "");
        } else {
            EXPECT_EQ(p.run.exit_status, 1);
            EXPECT_EQ(p.run.out, "");
            EXPECT_NE(p.run.err.find("with " + std::to_string(s.line) + "-byte lines"), std::string::npos)
                << p.run.err;
            EXPECT_NE(
                p.run.err.find("32x20-RGB565-64, 40x20-XRGB8888-192, second-supplier"), std::string::npos)
                << p.run.err;
            EXPECT_EQ(std::count(p.run.err.begin(), p.run.err.end(), '\n'), 1);
        }
    }
    // Without a screen there is nothing to match.
    Probed none = probe({}, frames.path(), { "--pick", line.bundle });
    EXPECT_EQ(none.run.exit_status, 1);
    EXPECT_EQ(none.run.out, "");
}

TEST(Probe, RefusesABadBundleInOneLine)
{
    REQUIRE_DEVICE_SANDBOX();
    ProductLine line;
    FrameDir frames;
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 32, .yres = 20, .bits_per_pixel = 16 };
    const fs::path index = line.bundle / "index.json";
    const std::string good = slurp(index);
    for (const std::string& bad : { std::string(""), std::string("{\"sets\": [}"),
             good.substr(0, good.size() / 2), std::string("{\"sets\": [{\"name\": \"../etc\"}]}"),
             std::string("{\"sets\": [], \"extra\": 1}") }) {
        std::ofstream(index, std::ios::trunc) << bad;
        Probed p = probe(devices, frames.path(), { "--pick", line.bundle });
        EXPECT_EQ(p.run.exit_status, 2) << bad;
        EXPECT_EQ(p.run.out, "") << bad;
        EXPECT_EQ(std::count(p.run.err.begin(), p.run.err.end(), '\n'), 1) << bad << ": " << p.run.err;
        EXPECT_NE(p.run.err.find("index.json"), std::string::npos) << p.run.err;
    }
    fs::remove(index);
    EXPECT_EQ(probe(devices, frames.path(), { "--pick", line.bundle }).run.exit_status, 2);
    EXPECT_EQ(probe(devices, frames.path(), { "--pick" }).run.exit_status, 2); // usage
}

TEST(Probe, PicksOnlyAFolderTheBundleHolds)
{
    REQUIRE_DEVICE_SANDBOX();
    ProductLine line;
    FrameDir frames;
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = 32, .yres = 20, .bits_per_pixel = 16 };
    const fs::path set = line.bundle / "32x20-RGB565-64";
    fs::rename(set, line.scratch / "elsewhere");
    auto refused_because = [&](const std::string& why) {
        Probed p = probe(devices, frames.path(), { "--pick", line.bundle });
        EXPECT_EQ(p.run.exit_status, 1) << why;
        EXPECT_EQ(p.run.out, "") << why;
        EXPECT_NE(
            p.run.err.find(set.string() + ": listed in its bundle's index.json for this screen, but " + why),
            std::string::npos)
            << p.run.err;
        EXPECT_EQ(std::count(p.run.err.begin(), p.run.err.end(), '\n'), 1) << p.run.err;
    };
    refused_because("not there");
    std::ofstream(set) << "a file";
    refused_because("not a directory");
    fs::remove(set);
    fs::create_directory_symlink(line.scratch / "elsewhere", set);
    refused_because("a link, which may lead out of the bundle");
    fs::remove(set);
    fs::rename(line.scratch / "elsewhere", set);
    EXPECT_EQ(probe(devices, frames.path(), { "--pick", line.bundle }).run.out, set.string() + "\n");
}

// A DRM card in place of the framebuffer, of this size and line length.
VirtualDevices drm_card(
    const std::string& options, uint32_t xres = 64, uint32_t yres = 48, uint32_t pitch = 320)
{
    VirtualDevices devices;
    devices.fb = FbSettings { .xres = xres, .yres = yres, .bits_per_pixel = 32, .line_length = pitch };
    devices.drm = options;
    return devices;
}

// The DRM calls the probe made, by name.
std::vector<std::string> drm_calls(const PlayerRun& run)
{
    std::vector<std::string> made;
    for (const Event& e : run.of(EventKind::ioctl, Device::drm))
        made.push_back(e.path);
    return made;
}

TEST(ProbeKms, ReportsTheScreenPelimoraKmsDrawsOnAndChangesNothing)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    Probed p = probe(drm_card("card"), frames.path());
    ASSERT_FALSE(p.report.is_discarded()) << p.run.out;
    EXPECT_EQ(p.run.exit_status, 0) << p.run.out;
    const json& r = p.report;
    EXPECT_EQ(r["device"], "/dev/dri/card0");
    EXPECT_EQ(r["program"], "pelimora-kms");
    EXPECT_FALSE(r.contains("error")) << "no framebuffer is no error where pelimora-kms draws";
    EXPECT_EQ(r["framebuffer"], "cannot open: No such file or directory");
    EXPECT_EQ(std::tuple(r["xres"], r["yres"], r["bits_per_pixel"], r["line_length"], r["format"]),
        std::tuple(64, 48, 32, 320, "XRGB8888"));
    const json& card = r["drm"]["cards"][0];
    EXPECT_EQ(card["driver"], "vdev");
    EXPECT_EQ(card["held"], false);
    EXPECT_EQ(card["closefb"], true);
    EXPECT_EQ(card["connectors"][0]["name"], "Virtual-1");
    EXPECT_EQ(card["connectors"][0]["status"], "connected");
    EXPECT_EQ(card["connectors"][0]["modes"], json::array({ "64x48@60" }));
    EXPECT_EQ(card["connectors"][0]["orientation"], nullptr);
    EXPECT_EQ(card["display"]["mode"], "64x48@60");
    EXPECT_EQ(card["display"]["pitch"], 320);
    EXPECT_EQ(card["display"]["formats"], json::array({ "XR24" }));
    EXPECT_EQ(r["drm"]["fbdev_emulation"], false);
    EXPECT_EQ(r["drm"]["vt"], true);
    EXPECT_TRUE(has_advice(r, "install pelimora-kms")) << r["advice"];
    EXPECT_TRUE(has_advice(r, "make frames with --line-length 320")) << r["advice"];
    EXPECT_FALSE(has_advice(r, "CONFIG_FB_DEVICE")) << r["advice"];
    // Nothing shown, set or forced: the one buffer made is destroyed again.
    std::vector<std::string> made = drm_calls(p.run);
    for (const char* changing :
        { "SETCRTC", "DIRTYFB", "PAGE_FLIP", "ADDFB2", "GETCONNECTOR probe", "MAP_DUMB" })
        EXPECT_EQ(std::count(made.begin(), made.end(), changing), 0) << changing;
    EXPECT_EQ(std::count(made.begin(), made.end(), "CREATE_DUMB"),
        std::count(made.begin(), made.end(), "DESTROY_DUMB"));
    EXPECT_EQ(p.run.screens.size(), 0u);
}

TEST(ProbeKms, NamesWhatSpoilsTheSplashOnThisKernel)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    TempDir scratch("pelimora-probe-kms");
    auto system = [&](const std::string& name, const std::map<std::string, std::string>& files) {
        fs::path root = scratch / name;
        for (const auto& [path, text] : files) {
            fs::create_directories((root / path).parent_path());
            std::ofstream(root / path) << text << "\n";
        }
        return root.string();
    };
    struct Case {
        std::string drm, system = "", tty = "ok";
        int status; // the probe's exit
        std::string advice; // "": none of pelimora-kms's own
        std::string field = "", value = ""; // in the card's report
    };
    const std::string emulation = "sys/module/drm_kms_helper/parameters/fbdev_emulation";
    for (const Case& c : {
             Case { .drm = "no-closefb",
                    .status = 0,
                    .advice = "no CLOSEFB",
                    .field = "closefb",
                    .value = "false" },
             Case { .drm = "other-master",
                    .status = 1,
                    .advice = "another program",
                    .field = "held",
                    .value = "true" },
             Case {
                 .drm = "other-master,unprobed", .status = 1, .advice = "only it could probe the displays" },
             Case { .drm = "left-side-up", .status = 0, .advice = "encode --rotate 270" },
             Case { .drm = "right-side-up", .status = 0, .advice = "encode --rotate 90" },
             Case { .drm = "normal", .status = 0, .advice = "" },
             Case { .drm = "simpledrm", .status = 0, .advice = "hand-over DRM driver (\"simpledrm\"" },
             Case { .drm = "disconnected",
                    .status = 1,
                    .advice = "no connected display on /dev/dri/card0",
                    .field = "display",
                    .value = "null" },
             Case { .drm = "unprobed", .status = 1, .advice = "pelimora-kms probes them once" },
             Case { .drm = "card",
                    .system = system("emulation-on", { { emulation, "Y" } }),
                    .status = 0,
                    .advice = "CONFIG_FB_DEVICE is off" },
             // Its framebuffer, listed after a hand-over one, says so without the switch.
             Case { .drm = "card",
                    .system = system("emulated-fb", { { "proc/fb", "0 EFI VGA\n1 vdevdrmfb" } }),
                    .status = 0,
                    .advice = "the kernel's fbdev emulation is on (vdevdrmfb)" },
             Case { .drm = "card",
                    .system = system("emulation-off", { { emulation, "N" }, { "proc/fb", "" } }),
                    .status = 0,
                    .advice = "" },
             Case {
                 .drm = "card",
                 .system = system("log-client", { { "sys/module/drm_client_lib/parameters/active", "log" } }),
                 .status = 0,
                 .advice = "log client" },
             // No virtual console is normal for pelimora-kms.
             Case { .drm = "card", .tty = "missing", .status = 0, .advice = "" },
         }) {
        SCOPED_TRACE(c.drm + " " + c.system + " tty " + c.tty);
        VirtualDevices devices = drm_card(c.drm, 64, 48, 0);
        devices.system = c.system, devices.tty = c.tty;
        Probed p = probe(devices, frames.path());
        ASSERT_FALSE(p.report.is_discarded()) << p.run.out;
        EXPECT_EQ(p.run.exit_status, c.status);
        EXPECT_EQ(p.report["program"], "pelimora-kms");
        const json& card = p.report["drm"]["cards"][0];
        if (!c.field.empty()) {
            EXPECT_EQ(card[c.field].dump(), c.value);
        }
        // The first line says which program; the second on is about the display.
        std::vector<std::string> own;
        for (const json& line : p.report["advice"])
            if (line.get<std::string>().find("pelimora-kms") != std::string::npos
                || line.get<std::string>().find("/dev/dri/") != std::string::npos
                || line.get<std::string>().find("the panel") != std::string::npos)
                own.push_back(line);
        if (c.advice.empty())
            EXPECT_EQ(own.size(), 1u) << p.report["advice"];
        else
            EXPECT_TRUE(has_advice(p.report, c.advice)) << p.report["advice"];
        EXPECT_FALSE(has_advice(p.report, "CONFIG_VT")) << p.report["advice"];
        EXPECT_EQ(p.report["drm"]["vt"], c.tty == "ok");
        const std::vector<std::string> made = drm_calls(p.run);
        EXPECT_EQ(std::count(made.begin(), made.end(), "GETCONNECTOR probe"), 0) << "no probe forced";
    }
}

TEST(ProbeKms, TheFramebufferIsThePlayersWhereverThereIsOne)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    // The kernel's fbdev emulation gives both: the start files run the player.
    Probed both = probe(drm_card("card,beside-fb"), frames.path());
    EXPECT_EQ(both.report["program"], "pelimora");
    EXPECT_EQ(both.report["device"], "/dev/graphics/fb0");
    EXPECT_EQ(both.report["drm"]["cards"].size(), 1u);
    EXPECT_FALSE(has_advice(both.report, "pelimora-kms")) << both.report["advice"];
    // Neither: no program, and the framebuffer's error.
    VirtualDevices none;
    none.fb.reset();
    Probed neither = probe(none, frames.path());
    EXPECT_EQ(neither.run.exit_status, 1);
    EXPECT_EQ(neither.report["program"], nullptr);
    EXPECT_EQ(neither.report["drm"]["cards"], json::array());
    EXPECT_TRUE(neither.report.contains("error"));
}

TEST(ProbeKms, TheReportIsAPanelAndPicksTheSetForTheCard)
{
    REQUIRE_DEVICE_SANDBOX();
    FrameDir frames;
    ProductLine line;
    Probed p = probe(drm_card("card", 40, 20, 192), frames.path());
    std::ofstream(line.scratch / "report.json") << p.run.out;
    ToolRun by_report = line.scratch.run("pelimora-frames",
        { "encode", line.scratch / "art", "--panel", line.scratch / "report.json", "-q", "-o",
            line.scratch / "a" });
    ASSERT_EQ(by_report.status, 0) << by_report.err;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        EXPECT_EQ(slurp(line.scratch / "a" / frame_name(n)),
            slurp(line.bundle / "40x20-XRGB8888-192" / frame_name(n)))
            << n;
    Probed picked = probe(drm_card("card", 40, 20, 192), frames.path(), { "--pick", line.bundle });
    EXPECT_EQ(picked.run.exit_status, 0) << picked.run.err;
    EXPECT_EQ(picked.run.out, (line.bundle / "40x20-XRGB8888-192").string() + "\n");
    Probed unmatched = probe(drm_card("card", 40, 20, 0), frames.path(), { "--pick", line.bundle });
    EXPECT_EQ(unmatched.run.exit_status, 1);
    EXPECT_NE(unmatched.run.err.find("this screen is 40x20 at 32 bpp, XRGB8888, with 160-byte lines"),
        std::string::npos)
        << unmatched.run.err;
}

} // namespace
