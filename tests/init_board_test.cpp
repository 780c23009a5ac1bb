// The player started by real init systems with our start files, on the
// emulated boards: systemd with udev (Debian's arm64 packages) and BusyBox
// init with mdev (Debian's busybox-static for armhf). The display driver is
// kept out of the boot's coldplug and loaded seconds later, as a slow or
// modular driver would be: the framebuffer's event must start the player,
// which then draws every frame with the kernel's console drawing text at it.
// The same player started naively, early in the boot, must find no screen.
#include "core/decode.h"
#include "frames/bundle.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "preview/png.h"
#include "tests/board/board_art.h"
#include "tests/board/cpio.h"
#include "tests/board/init_report.h"
#include "tests/board/qemu_board.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto BOOT_TIMEOUT = std::chrono::seconds(240);
const fs::path BOOT_FILES = fs::path(PELIMORA_SOURCE_DIR) / "boot";
constexpr char DISPLAY_LOADED[] = "pelimora-board: display loaded";

enum class InitSystem { systemd, busybox };
enum class Start {
    display_event, // our start files: udev and systemd, or mdev
    naive, // a start early in the boot, before the display is there
};

struct StartCase {
    const char* name;
    InitSystem init;
    Start start;
    bool bundle = false; // a bundle in /bootimages.d instead of frames in /bootimages
    bool kms = false; // a kernel without fbdev emulation: the DRM card's event starts pelimora-kms
};
void PrintTo(const StartCase& c, std::ostream* out)
{
    *out << c.name;
}

// Waits, then loads the display driver: after the basic target (systemd),
// or in the background of the start-up script (BusyBox).
constexpr int DISPLAY_DELAY_S = 3;

fs::path cached_root(InitSystem init)
{
    return board_cache_entry(init == InitSystem::systemd ? "current-systemd-arm64" : "current-busybox-armhf");
}

void add_text(Cpio& cpio, const std::string& name, const std::string& text, uint32_t mode = 0100644)
{
    cpio.add(name, mode, text);
}

// systemd's part: the root's identity, a target that loads the display late,
// and either our rule and unit or a naive unit after sysinit.target.
void add_systemd(Cpio& cpio, Start start)
{
    add_text(cpio, "etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
    add_text(cpio, "etc/group", "root:x:0:\nvideo:x:44:\ntty:x:5:\n");
    add_text(cpio, "etc/os-release", "NAME=\"pelimora board\"\nID=pelimora-board\n");
    add_text(cpio, "etc/machine-id", "8a3d1c2e5f6b4a7980c1d2e3f4a5b6c7\n");
    cpio.add("etc/systemd", 040755);
    cpio.add("etc/systemd/system", 040755);
    cpio.add("etc/systemd/system/default.target", 0120777, "board.target");
    std::string wants = "board-display.service";
    if (start == Start::naive) {
        add_text(cpio, "etc/systemd/system/naive-pelimora.service",
            "[Unit]\nDescription=Boot animation, started early\nAfter=sysinit.target\n"
            "[Service]\nType=oneshot\nExecStart=/usr/bin/pelimora-boot\n");
        wants += " naive-pelimora.service";
    } else {
        EXPECT_TRUE(cpio.add_file(
            "lib/udev/rules.d/60-pelimora.rules", BOOT_FILES / "udev/60-pelimora.rules", 0100644));
        EXPECT_TRUE(cpio.add_file(
            "lib/systemd/system/pelimora.service", BOOT_FILES / "systemd/pelimora.service", 0100644));
    }
    add_text(cpio, "etc/systemd/system/board.target",
        "[Unit]\nDescription=Board test\nRequires=basic.target\nAfter=basic.target\nWants=" + wants + "\n");
    add_text(cpio, "etc/systemd/system/board-display.service",
        // After the naive start has ended, where there is one: a handshake, not a race.
        "[Unit]\nDescription=The display driver, late\nAfter=basic.target naive-pelimora.service\n"
        "[Service]\nType=oneshot\nExecStart=/usr/lib/pelimora-board/board_watch load "
            + std::to_string(DISPLAY_DELAY_S) + "\n");
}

// BusyBox's part: init, its start-up script with mdev as the hot-plug
// helper, and either our mdev line and script or a naive start.
void add_busybox(Cpio& cpio, Start start)
{
    for (const char* dir : { "sbin", "usr/sbin" })
        cpio.add(dir, 040755);
    cpio.add("sbin/init", 0120777, "/bin/busybox");
    cpio.add("bin/sh", 0120777, "busybox");
    add_text(cpio, "etc/inittab", "::sysinit:/etc/init.d/rcS\n");
    cpio.add("etc/init.d", 040755);
    // The naive start runs to its end before the display is loaded.
    std::string naive = start == Start::naive ? "/usr/bin/pelimora-boot\n" : "";
    add_text(cpio, "etc/init.d/rcS",
        "#!/bin/sh\n/bin/busybox mount -t proc proc /proc\n/bin/busybox --install -s\n"
        "mount -t sysfs sysfs /sys\nmount -t devtmpfs devtmpfs /dev\n"
        // Debian's kernels have no uevent helper: mdev hears of devices from BusyBox's netlink listener.
        "uevent mdev &\nmdev -s\n"
            + naive + "/usr/lib/pelimora-board/board_watch load " + std::to_string(DISPLAY_DELAY_S) + " &\n",
        0100755);
    if (start == Start::display_event) {
        EXPECT_TRUE(cpio.add_file("etc/mdev.conf", BOOT_FILES / "mdev/mdev.conf", 0100644));
        cpio.add("usr/libexec", 040755);
        cpio.add("usr/libexec/pelimora", 040755);
        EXPECT_TRUE(cpio.add_file("usr/libexec/pelimora/pelimora-mdev", BOOT_FILES / "mdev/pelimora-mdev"));
    } else {
        add_text(cpio, "etc/mdev.conf", "");
    }
}

// The whole root: Debian's packages, the init system's part, the player
// behind our stand-in, the probe and pelimora-boot, the display driver's
// modules, and the frames or the bundle.
std::string root(const StartCase& c, const fs::path& kernel, const std::vector<Frame>& frames)
{
    Cpio cpio;
    EXPECT_TRUE(cpio.add_tree("", cached_root(c.init)));
    for (const char* dir : { "dev", "proc", "sys", "run", "tmp", "etc", "var", "modules", "usr", "usr/bin",
             "usr/lib", "usr/lib/pelimora-board", "lib", "lib/udev", "lib/udev/rules.d", "lib/systemd",
             "lib/systemd/system" })
        cpio.add(dir, 040755);
    bool systemd = c.init == InitSystem::systemd;
    const char* player = systemd ? PELIMORA_ARM64_BINARY : PELIMORA_ARM_BINARY;
    const char* watch = systemd ? PELIMORA_ARM64_BOARD_WATCH : PELIMORA_BOARD_WATCH;
    EXPECT_TRUE(cpio.add_file("usr/lib/pelimora-board/pelimora", player));
    EXPECT_TRUE(cpio.add_file("usr/lib/pelimora-board/board_watch", watch));
    EXPECT_TRUE(cpio.add_file("usr/bin/pelimora", watch));
    EXPECT_TRUE(cpio.add_file("usr/bin/pelimora-probe", systemd ? PELIMORA_ARM64_PROBE : PELIMORA_ARM_PROBE));
    EXPECT_TRUE(cpio.add_file("usr/bin/pelimora-boot", BOOT_FILES / "pelimora-boot"));
    EXPECT_TRUE(cpio.add_file(
        "usr/lib/pelimora-board/pelimora-kms", systemd ? PELIMORA_ARM64_KMS : PELIMORA_ARM_KMS));
    EXPECT_TRUE(cpio.add_file("usr/bin/pelimora-kms", watch));
    for (const char* dir : { "usr/libexec", "usr/libexec/pelimora" })
        cpio.add(dir, 040755);
    EXPECT_TRUE(cpio.add_file("usr/libexec/pelimora/pelimora-drm-only", BOOT_FILES / "pelimora-drm-only"));
    for (const auto& module : fs::directory_iterator(kernel / "modules"))
        EXPECT_TRUE(cpio.add_file("modules/" + module.path().filename().string(), module.path(), 0100644));
    if (c.bundle) {
        cpio.add("bootimages.d", 040755);
        EXPECT_TRUE(cpio.add_tree("bootimages.d/", board_bundle(false)));
    } else {
        cpio.add("bootimages", 040755);
        for (int n = 1; n <= FRAME_COUNT; ++n)
            cpio.add(
                frame_path(n).substr(1), 0100644, std::string(frames[n - 1].begin(), frames[n - 1].end()));
    }
    systemd ? add_systemd(cpio, c.start) : add_busybox(cpio, c.start);
    return cpio.finish();
}

BoardSetup board_of(InitSystem init, bool kms)
{
    BoardSetup board;
    board.kms = kms;
    // drm.debug=0x04: every KMS call in the kernel log, pelimora-kms's first SETCRTC among them.
    board.options = kms ? "drm_kms_helper.fbdev_emulation=0 drm.debug=0x04" : "";
    board.machine = init == InitSystem::systemd ? Machine::virt64 : Machine::virt;
    board.init = init == InitSystem::systemd ? "/lib/systemd/systemd" : "/sbin/init";
    board.memory_mb = init == InitSystem::systemd ? 1024 : 256;
    board.console_text = true;
    return board;
}

std::string console_text(const std::vector<std::string>& console)
{
    std::string text;
    for (const std::string& line : console)
        text += line + "\n";
    return text;
}

// The frames of the set the board showed: ours, or the picked set's.
std::vector<Frame> shown_frames(
    const StartCase& c, const InitReport& report, const std::vector<Frame>& frames)
{
    if (!c.bundle)
        return frames;
    const Layout& l = report.layout;
    const PixelFormat* format = layout_format(l);
    EXPECT_NE(format, nullptr);
    if (!format)
        return {};
    return read_set_frames(board_bundle(false) / bundle_set_name({ l.xres, l.yres, l.bpp, l.line, format }));
}

class InitBoardTest : public testing::TestWithParam<StartCase> { };

TEST_P(InitBoardTest, StartsWhenTheDisplayArrives)
{
    const StartCase& c = GetParam();
    bool systemd = c.init == InitSystem::systemd;
    // The kernel devices ship now; Debian 12's 6.1 if its armhf 6.12 could not be had.
    fs::path kernel = board_kernel_dir(systemd, "6.12");
    if (!systemd && !fs::exists(kernel / "ready") && fs::exists(board_kernel_dir(false, "") / "ready")) {
        kernel = board_kernel_dir(false, "");
        std::printf("board %s: Debian's armhf 6.12 kernel is not in the cache: booting 6.1\n", c.name);
    }
    ASSERT_TRUE(fs::exists(kernel / "ready")) << "no kernel in PELIMORA_BOARD_CACHE; board.kernel fetches it";
    ASSERT_TRUE(fs::exists(cached_root(c.init) / "ready"))
        << "no root in PELIMORA_BOARD_CACHE; board.kernel fetches it";
    std::vector<Frame> frames = board_frames();
    QemuBoard board;
    ASSERT_OK(board.boot(board_of(c.init, c.kms), kernel, root(c, kernel, frames)));
    bool ready = board.read_until(INIT_READY, Clock::now() + BOOT_TIMEOUT);
    ASSERT_TRUE(ready) << "the player was never run:\n" << console_text(board.console);
    InitReport report = read_init_report(board.console);
    EXPECT_EQ(report.exit_status, 0) << console_text(board.console);

    if (c.start == Start::naive) {
        // Before the display: the player's one line, and then nothing drawn once the display is there.
        EXPECT_EQ(report.messages, std::vector<std::string> { "pelimora: cannot open '/dev/graphics/fb0'" })
            << console_text(board.console);
        EXPECT_EQ(report.layout.bpp, 0u);
        ASSERT_TRUE(board.read_until(DISPLAY_LOADED, Clock::now() + BOOT_TIMEOUT));
        std::vector<uint8_t> shown = board.screen_dump(WIDTH, HEIGHT);
        EXPECT_GT(count_differences(shown,
                      predicted_display(frames, { WIDTH, HEIGHT, 32, WIDTH * 4, 16, 8, 8, 8, 0, 8 }), WIDTH),
            size_t(WIDTH) * HEIGHT / 2)
            << "the frames are on the screen";
        return;
    }
    EXPECT_EQ(report.messages, std::vector<std::string> {}) << console_text(board.console);
    // One of the two programs, once: the card's event and fb0's never both start one.
    EXPECT_EQ(std::count_if(board.console.begin(), board.console.end(),
                  [](const std::string& line) {
                      return line.find("pelimora-init: starting the player") != std::string::npos;
                  }),
        1)
        << console_text(board.console);
    EXPECT_TRUE(std::any_of(board.console.begin(), board.console.end(), [](const std::string& line) {
        return line.find("pelimora-board: text for the console") != std::string::npos;
    })) << "no text for the console was written";
    // pelimora-kms draws on the card's XRGB8888 buffer, with no framebuffer to report.
    const Layout layout = c.kms ? Layout { WIDTH, HEIGHT, 32, WIDTH * 4, 16, 8, 8, 8, 0, 8 } : report.layout;
    EXPECT_EQ(report.layout.bpp, c.kms ? 0u : 32u) << console_text(board.console);
    ASSERT_EQ(layout.xres, WIDTH) << console_text(board.console);
    if (c.bundle) {
        EXPECT_EQ(report.pick_exit, -1) << "pelimora-boot picks, not the board";
    }
    std::cout << "board " << c.name << ": " << (c.kms ? "the DRM card" : "fb0") << " registered at "
              << report.display_registered_ms << " ms, the player started at " << report.player_started_ms
              << " ms: " << report.player_started_ms - report.display_registered_ms
              << " ms later (kernel log clock)\n";
    if (c.kms) {
        std::cout << "board " << c.name << ": the first frame shown at " << report.first_frame_ms << " ms, "
                  << report.first_frame_ms - report.display_registered_ms
                  << " ms after the card's registration (kernel log clock)\n";
        EXPECT_GE(report.first_frame_ms, report.player_started_ms);
    }
    EXPECT_GE(report.display_registered_ms, 0) << "no display's registration in the kernel log";
    EXPECT_GE(report.player_started_ms, report.display_registered_ms);

    std::vector<uint8_t> predicted = predicted_display(shown_frames(c, report, frames), layout);
    std::vector<uint8_t> shown = board.dump_until(WIDTH, HEIGHT, predicted);
    std::string where;
    EXPECT_EQ(count_differences(shown, predicted, WIDTH, &where), 0u) << where;
    EXPECT_OK(write_png_rgb(
        fs::path(PELIMORA_BOARD_PICTURES) / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown));
}

INSTANTIATE_TEST_SUITE_P(Board, InitBoardTest,
    testing::Values(
        StartCase { .name = "SystemdUdev", .init = InitSystem::systemd, .start = Start::display_event },
        StartCase { .name = "SystemdNaiveUnit", .init = InitSystem::systemd, .start = Start::naive },
        StartCase { .name = "SystemdUdevBundle",
            .init = InitSystem::systemd,
            .start = Start::display_event,
            .bundle = true },
        StartCase { .name = "BusyboxMdev", .init = InitSystem::busybox, .start = Start::display_event },
        StartCase { .name = "BusyboxNaiveStart", .init = InitSystem::busybox, .start = Start::naive },
        StartCase { .name = "BusyboxMdevBundle",
            .init = InitSystem::busybox,
            .start = Start::display_event,
            .bundle = true },
        // Kernels without fbdev emulation: the card's arrival starts pelimora-kms.
        StartCase { .name = "SystemdUdevKms",
            .init = InitSystem::systemd,
            .start = Start::display_event,
            .kms = true },
        StartCase { .name = "BusyboxMdevKms",
            .init = InitSystem::busybox,
            .start = Start::display_event,
            .kms = true }),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

} // namespace
