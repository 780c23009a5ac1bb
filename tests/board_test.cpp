// The static ARM player on a real Linux kernel on an emulated ARM board: the
// board boots an initramfs holding our init, the player and the frames, and
// the host compares the display, read back through QEMU, pixel by pixel with
// what the player's own decoder predicts.
#include "artwork/sample.h"
#include "commands/encode.h"
#include "core/decode.h"
#include "core/schedule.h"
#include "frames/bundle.h"
#include "frames/panel.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/temp_dir.h"
#include "preview/png.h"
#include "probe/card.h"
#include "tests/board/board_art.h"
#include "tests/board/cpio.h"
#include "tests/board/display.h"
#include "tests/board/init_report.h"
#include "tests/board/qemu_board.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto BOOT_TIMEOUT = std::chrono::seconds(180);

enum class Player { armv7, aarch64 };

struct BoardCase {
    const char* name;
    BoardSetup board;
    bool frames; // whether the frames' directory holds the frames
    Layout expected; // the channel layout the kernel reports
    Player player = Player::armv7; // the player and probe on the board
    bool try_armv7 = false; // the init tries the ARMv7 player first (a core without AArch32)
    const char* series = ""; // the kernel: Debian 12's default (6.1), or "6.12"
};
void PrintTo(const BoardCase& c, std::ostream* out)
{
    *out << c.name;
}

class BoardTest : public testing::TestWithParam<BoardCase> { };

constexpr Layout RGB565 = { .xres = 640,
    .yres = 480,
    .bpp = 16,
    .line = 1280,
    .red = 11,
    .red_bits = 5,
    .green = 5,
    .green_bits = 6,
    .blue_bits = 5 };
constexpr Layout XRGB = { .xres = 640,
    .yres = 480,
    .bpp = 32,
    .line = 2560,
    .red = 16,
    .red_bits = 8,
    .green = 8,
    .green_bits = 8,
    .blue_bits = 8 };
constexpr Layout RGBA = { .xres = 640,
    .yres = 480,
    .bpp = 32,
    .line = 2560,
    .red_bits = 8,
    .green = 8,
    .green_bits = 8,
    .blue = 16,
    .blue_bits = 8 };

bool arm64_kernel(const BoardCase& c)
{
    return c.board.machine == Machine::virt64;
}

bool has_display(const BoardSetup& board)
{
    return board.machine == Machine::vexpress ? board.tree != "ca9" : board.gpu;
}

// The initramfs: our init (AArch64 on the arm64 kernel, which may run nothing
// else), the player and probe, the virt board's GPU modules, the frames.
std::string initramfs(
    const BoardCase& c, const fs::path& kernel, const std::vector<Frame>& frames, const fs::path& bundle = {})
{
    Cpio cpio;
    bool aarch64 = c.player == Player::aarch64;
    EXPECT_TRUE(cpio.add_file("init", arm64_kernel(c) ? PELIMORA_ARM64_BOARD_INIT : PELIMORA_BOARD_INIT));
    EXPECT_TRUE(cpio.add_file("pelimora", aarch64 ? PELIMORA_ARM64_BINARY : PELIMORA_ARM_BINARY));
    EXPECT_TRUE(cpio.add_file("pelimora-probe", aarch64 ? PELIMORA_ARM64_PROBE : PELIMORA_ARM_PROBE));
    if (c.board.kms) {
        EXPECT_TRUE(cpio.add_file("pelimora-kms", aarch64 ? PELIMORA_ARM64_KMS : PELIMORA_ARM_KMS));
    }
    if (c.try_armv7) {
        EXPECT_TRUE(cpio.add_file("pelimora-armv7", PELIMORA_ARM_BINARY));
    }
    if (c.board.machine != Machine::vexpress && c.board.gpu) {
        cpio.add("modules", 040755);
        for (const auto& module : fs::directory_iterator(kernel / "modules"))
            EXPECT_TRUE(
                cpio.add_file("modules/" + module.path().filename().string(), module.path(), 0100644));
    }
    if (c.frames) {
        std::string directory = frame_path(1).substr(1, frame_directory_length() - 2);
        cpio.add(directory, 040755);
        for (int n = 1; n <= FRAME_COUNT; ++n)
            cpio.add(
                frame_path(n).substr(1), 0100644, std::string(frames[n - 1].begin(), frames[n - 1].end()));
    }
    // A bundle in /bootimages.d, from which the init has the probe pick.
    if (!bundle.empty()) {
        cpio.add("bootimages.d", 040755);
        for (const auto& entry : fs::recursive_directory_iterator(bundle)) {
            std::string name = "bootimages.d/" + fs::relative(entry.path(), bundle).string();
            if (entry.is_directory())
                cpio.add(name, 040755);
            else
                EXPECT_TRUE(cpio.add_file(name, entry.path(), 0100644));
        }
    }
    return cpio.finish();
}

// Frame FRAME_COUNT owns pixel 0: one pixel changed there must show as exactly one difference.
std::vector<Frame> with_first_pixel_changed(std::vector<Frame> frames)
{
    Frame& last = frames.back();
    uint16_t count = uint16_t(last[0] | last[1] << 8), colour = uint16_t(last[2] | last[3] << 8);
    Frame patched;
    append_run(patched, 1, colour ^ 0x8410);
    append_run(patched, count - 1, colour);
    last.erase(last.begin(), last.begin() + 4);
    last.insert(last.begin(), patched.begin(), patched.end());
    return frames;
}

// The lines the init printed between "probe PART begins" and "probe PART
// exit=N", kernel records left out; `exit` gets N.
std::string probe_output(const std::vector<std::string>& console, const std::string& part, int* exit)
{
    std::string text, begins = "pelimora-init: probe " + part + " begins",
                      ends = "pelimora-init: probe " + part + " exit=";
    bool inside = false;
    for (const std::string& line : console) {
        if (line == begins) {
            inside = true;
        } else if (inside && line.starts_with(ends)) {
            *exit = std::atoi(line.c_str() + ends.size());
            break;
        } else if (inside && !line.starts_with("[")) {
            text += line + "\n";
        }
    }
    return text;
}

// What the probe read of the command line the board booted with, and of
// the kernel's console on the display.
void check_boot_view(const nlohmann::json& report, const BoardSetup& board)
{
    const nlohmann::json& boot = report["boot"];
    EXPECT_EQ(boot["cmdline"], true);
    EXPECT_EQ(boot["fbcon_bound"], true) << "Debian's kernels have fbcon built in";
    EXPECT_EQ(boot["quiet"], true);
    EXPECT_EQ(boot["handover"], false);
    bool spoiling = board.console_text;
    EXPECT_EQ(boot["consoles"], spoiling ? "tty0,ttyAMA0" : "ttyAMA0");
    EXPECT_EQ(boot["console_on_display"], spoiling);
    EXPECT_EQ(boot["cursor"], spoiling ? nlohmann::json(1) : nlohmann::json());
    EXPECT_EQ(boot["fbcon_rotate"], spoiling ? 1 : 0);
    bool text = false, cursor = false, turned = false;
    for (const auto& line : report["advice"]) {
        std::string words = line.get<std::string>();
        text |= words.find("keep console=tty0") != std::string::npos;
        cursor |= words.find("add vt.global_cursor_default=0") != std::string::npos;
        turned |= words.find("turned by 90 degrees") != std::string::npos;
    }
    EXPECT_EQ(text, spoiling) << report["advice"];
    EXPECT_EQ(cursor, true) << "the board's command line leaves the cursor on";
    EXPECT_EQ(turned, spoiling) << report["advice"];
}

// The static probe on the board after the player: its report against what
// the kernel told the init, its timing of the frames, and its card on the
// display against the card the host's build of it draws.
void check_probe(QemuBoard& board, const BoardCase& c, const InitReport& init)
{
    ASSERT_TRUE(board.send_line("probe"));
    ASSERT_TRUE(board.read_until("pelimora-init: card ready", Clock::now() + std::chrono::seconds(60)));
    int report_exit = -1, time_exit = -1;
    nlohmann::json report
        = nlohmann::json::parse(probe_output(board.console, "report", &report_exit), nullptr, false);
    nlohmann::json time
        = nlohmann::json::parse(probe_output(board.console, "time", &time_exit), nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << probe_output(board.console, "report", &report_exit);
    // The platform, against what the kernel told the (64-bit, on arm64) init.
    bool aarch64 = c.player == Player::aarch64;
    EXPECT_EQ(report["machine"], init.machine);
    EXPECT_EQ(report["binary"], aarch64 ? "aarch64" : "armv7");
    EXPECT_EQ(report["compat"], !aarch64 && arm64_kernel(c));
    EXPECT_EQ(report["page_size"], init.page_size);
    EXPECT_EQ(report["aarch32"], !c.try_armv7);
    EXPECT_TRUE(report["aarch32_cpus"].is_null());
    std::string binary_advice = !arm64_kernel(c) ? "install the ARMv7 player"
        : c.try_armv7                            ? "runs no 32-bit programs"
                                                 : "ARMv7 player runs in compat mode";
    bool advised = false;
    for (const auto& line : report["advice"])
        advised |= line.get<std::string>().find(binary_advice) != std::string::npos;
    EXPECT_TRUE(advised) << report["advice"];
    const Layout& l = init.layout;
    if (!l.bpp) {
        EXPECT_EQ(report_exit, 1);
        EXPECT_EQ(report["error"], "cannot open: No such file or directory");
        EXPECT_NE(time_exit, 0);
        return;
    }
    EXPECT_EQ(report_exit, 0);
    EXPECT_EQ(report["xres"], l.xres);
    EXPECT_EQ(report["yres"], l.yres);
    EXPECT_EQ(report["bits_per_pixel"], l.bpp);
    EXPECT_EQ(report["line_length"], l.line);
    EXPECT_EQ(report["red"]["offset"], l.red);
    EXPECT_EQ(report["green"]["offset"], l.green);
    EXPECT_EQ(report["blue"]["offset"], l.blue);
    const PixelFormat* format = layout_format(l);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(report["format"], format->name);
    EXPECT_EQ(report["pans"], init.pan == "works");
    EXPECT_EQ(report["emulated"], c.board.machine != Machine::vexpress) << "virtio-gpu's fbdev emulation";
    EXPECT_EQ(report["console"], "graphics") << "the player left it so";
    check_boot_view(report, c.board);
    for (int n = 1; n <= FRAME_COUNT; ++n)
        EXPECT_EQ(report["frames"][n - 1]["status"], !c.frames ? "missing" : n == 1 ? "exact" : "short") << n;

    ASSERT_FALSE(time.is_discarded());
    EXPECT_EQ(time_exit, 0);
    for (int n = 1; n <= FRAME_COUNT; ++n)
        EXPECT_EQ(time["frames"][n - 1]["bytes"], c.frames ? uint64_t(frame_pixels(n)) * l.bpp / 8 : 0) << n;
    std::cout << "board " << c.name << ": probe --time: " << time["total_us"] << " us for the frames, median "
              << time["median_us"] << " us, fill " << time["fill_mb_per_s"] << " MB/s, frames written at "
              << time["write_mb_per_s"] << " MB/s\n";

    CardText text {};
    card_text(l.xres, l.yres, l.bpp, l.line, format, &text);
    std::vector<uint8_t> card(size_t(l.xres) * l.yres * l.bpp / 8);
    draw_card(card.data(), l.xres, l.yres, l.bpp, text.lines);
    std::vector<uint8_t> predicted = displayed(card, l);
    std::vector<uint8_t> shown = board.dump_until(l.xres, l.yres, predicted);
    std::string where;
    EXPECT_EQ(count_differences(shown, predicted, l.xres, &where), 0u) << where;
    fs::path pictures = fs::path(PELIMORA_BOARD_PICTURES);
    fs::create_directories(pictures);
    std::string name = "card-" + std::string(c.name) + ".png";
    std::ofstream(pictures / ("probe-" + std::string(c.name) + ".json"))
        << probe_output(board.console, "report", &report_exit);
    if (!shown.empty()) {
        EXPECT_OK(write_png_rgb(pictures / name, l.xres, l.yres, shown));
    }
}

// What the kernel told the init of the platform, and the ARMv7 player's exec
// on a core that runs no 32-bit code.
void check_platform(const BoardCase& c, const InitReport& report)
{
    EXPECT_EQ(report.machine, arm64_kernel(c) ? "aarch64" : "armv7l");
    EXPECT_EQ(report.page_size, 4096);
    // The kernel lists the cores with AArch32 only on a system of mixed cores.
    EXPECT_EQ(report.aarch32_el0, "none");
    if (c.try_armv7) {
        EXPECT_EQ(report.armv7_exec, "Exec format error") << "the core runs 32-bit programs";
        EXPECT_EQ(report.armv7_exit, 127);
    }
}

// Boots the case's board on its kernel and reads the console until the
// init is ready: "" then, else what went wrong. `console` gets what it said.
Error boot_until_ready(
    const BoardCase& c, const std::vector<Frame>& frames, QemuBoard& board, std::string* console)
{
    fs::path kernel = board_kernel_dir(arm64_kernel(c), c.series);
    if (!fs::exists(kernel / "ready"))
        return input_error("no kernel in PELIMORA_BOARD_CACHE; the board.kernel test fetches it");
    if (Error error = board.boot(c.board, kernel, initramfs(c, kernel, frames)))
        return error;
    bool ready = board.read_until(INIT_READY, Clock::now() + BOOT_TIMEOUT);
    for (const std::string& line : board.console)
        *console += line + "\n";
    if (!ready)
        return input_error("the board never got ready:\n" + *console);
    return {};
}

TEST_P(BoardTest, PlaysOnARealKernel)
{
    const BoardCase& c = GetParam();
    std::vector<Frame> frames = board_frames();
    QemuBoard board;
    std::string console;
    ASSERT_OK(boot_until_ready(c, frames, board, &console));

    InitReport report = read_init_report(board.console);
    EXPECT_EQ(report.exit_status, 0) << console;
    std::cout << "board " << c.name << ": player ran " << report.ms << " ms by the guest's clock\n";
    const double schedule_ms = FRAME_COUNT * FRAME_DELAY_US / 1e3;
    check_platform(c, report);

    if (!has_display(c.board)) {
        EXPECT_EQ(report.messages, std::vector<std::string> { "pelimora: cannot open '/dev/graphics/fb0'" });
        EXPECT_LT(report.ms, schedule_ms) << "the schedule should not run without a screen";
        EXPECT_EQ(report.layout.bpp, 0u);
        check_probe(board, c, report);
        EXPECT_TRUE(board.power_off());
        return;
    }
    EXPECT_GE(report.ms, schedule_ms);
    EXPECT_EQ(report.layout.xres, c.expected.xres);
    EXPECT_EQ(report.layout.bpp, c.expected.bpp);
    EXPECT_EQ(report.layout.red, c.expected.red);
    EXPECT_EQ(report.layout.blue, c.expected.blue);
    // PL111 has no pan and says so; the player ignores the answer either way.
    EXPECT_EQ(report.pan, c.board.machine != Machine::vexpress ? "works" : "Invalid argument") << console;
    if (!c.frames) {
        std::vector<std::string> expected;
        for (int n = 1; n <= FRAME_COUNT; ++n)
            expected.push_back("pelimora: cannot open '" + frame_path(n) + "'");
        EXPECT_EQ(report.messages, expected);
        check_probe(board, c, report);
        EXPECT_TRUE(board.power_off());
        return;
    }
    EXPECT_EQ(report.messages, std::vector<std::string> {});

    // The player has exited and nothing has touched the screen since. DRM's
    // framebuffer emulation copies its shadow buffer to the display from a
    // worker: poll, so a late copy passes and a lost last frame fails.
    std::vector<uint8_t> predicted = predicted_display(frames, report.layout);
    auto exited = Clock::now();
    int dumps = 0;
    std::vector<uint8_t> shown = board.dump_until(WIDTH, HEIGHT, predicted, &dumps);
    std::cout << "board " << c.name << ": the display showed the last frame at dump " << dumps << ", "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exited).count()
              << " ms after the player's exit was read\n";
    check_probe(board, c, report);
    EXPECT_TRUE(board.power_off());
    std::string where;
    EXPECT_EQ(count_differences(shown, predicted, WIDTH, &where), 0u) << where;

    fs::path pictures = fs::path(PELIMORA_BOARD_PICTURES);
    fs::create_directories(pictures);
    if (!shown.empty()) {
        EXPECT_OK(write_png_rgb(pictures / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown));
    }
    EXPECT_OK(write_png_rgb(pictures / (std::string(c.name) + "-predicted.png"), WIDTH, HEIGHT, predicted));
    if (c.name == std::string("Vexpress16")) {
        std::vector<uint8_t> drawn(size_t(WIDTH) * HEIGHT * 4);
        for (const Frame& frame : frames)
            decode_frame(frame.data(), uint32_t(frame.size()), drawn.data(), WIDTH, HEIGHT, 32);
        EXPECT_OK(write_png_rgb(pictures / "player-drew.png", WIDTH, HEIGHT, screen_to_rgb(drawn, 32)));
        EXPECT_EQ(count_differences(
                      shown, predicted_display(with_first_pixel_changed(frames), report.layout), WIDTH),
            1u);
    }
}

const BoardSetup VIRT64 { .machine = Machine::virt64 };
const BoardSetup VIRT32_SPOILING {
    .machine = Machine::virt, .console_text = true, .options = "fbcon=rotate:1 vt.global_cursor_default=1"
};
const BoardSetup VIRT64_NO_GPU { .machine = Machine::virt64, .gpu = false };
const BoardSetup VIRT64_A64FX { .machine = Machine::virt64, .cpu = "a64fx" };

INSTANTIATE_TEST_SUITE_P(Board, BoardTest,
    testing::Values(BoardCase { .name = "Vexpress16",
                        .board = { .machine = Machine::vexpress, .tree = "ca9-16" },
                        .frames = true,
                        .expected = RGB565 },
        BoardCase { .name = "Vexpress32RedFirst",
            .board = { .machine = Machine::vexpress, .tree = "ca9-32", .rgba = true },
            .frames = true,
            .expected = RGBA },
        BoardCase { .name = "Vexpress32RedAt16",
            .board = { .machine = Machine::vexpress, .tree = "ca9-32" },
            .frames = true,
            .expected = XRGB },
        BoardCase { .name = "Virt32WithPan",
            .board = { .machine = Machine::virt },
            .frames = true,
            .expected = XRGB },
        // Kernel text, a cursor and a turned console on the display: the
        // animation shows all the same, and the probe names each.
        BoardCase {
            .name = "Virt32SpoilingCommandLine", .board = VIRT32_SPOILING, .frames = true, .expected = XRGB },
        BoardCase { .name = "Vexpress16NoFrames",
            .board = { .machine = Machine::vexpress, .tree = "ca9-16" },
            .frames = false,
            .expected = RGB565 },
        BoardCase { .name = "VexpressNoDisplay",
            .board = { .machine = Machine::vexpress, .tree = "ca9" },
            .frames = true,
            .expected = {} },
        // The arm64 kernel: the ARMv7 player in compat mode and the AArch64 one.
        BoardCase { .name = "Arm64KernelArmv7", .board = VIRT64, .frames = true, .expected = XRGB },
        BoardCase { .name = "Arm64KernelAarch64",
            .board = VIRT64,
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64 },
        BoardCase { .name = "Arm64KernelArmv7NoFrames", .board = VIRT64, .frames = false, .expected = XRGB },
        BoardCase { .name = "Arm64KernelAarch64NoFrames",
            .board = VIRT64,
            .frames = false,
            .expected = XRGB,
            .player = Player::aarch64 },
        BoardCase {
            .name = "Arm64KernelArmv7NoDisplay", .board = VIRT64_NO_GPU, .frames = true, .expected = {} },
        BoardCase { .name = "Arm64KernelAarch64NoDisplay",
            .board = VIRT64_NO_GPU,
            .frames = true,
            .expected = {},
            .player = Player::aarch64 },
        // A core with no 32-bit execution at EL0.
        BoardCase { .name = "Arm64OnlyCoreAarch64",
            .board = VIRT64_A64FX,
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64,
            .try_armv7 = true },
        // The same on Linux 6.12, the kernel devices ship now.
        BoardCase { .name = "Arm64Kernel612Armv7",
            .board = VIRT64,
            .frames = true,
            .expected = XRGB,
            .player = Player::armv7,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Aarch64",
            .board = VIRT64,
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Armv7NoFrames",
            .board = VIRT64,
            .frames = false,
            .expected = XRGB,
            .player = Player::armv7,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Aarch64NoFrames",
            .board = VIRT64,
            .frames = false,
            .expected = XRGB,
            .player = Player::aarch64,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Armv7NoDisplay",
            .board = VIRT64_NO_GPU,
            .frames = true,
            .expected = {},
            .player = Player::armv7,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Aarch64NoDisplay",
            .board = VIRT64_NO_GPU,
            .frames = true,
            .expected = {},
            .player = Player::aarch64,
            .series = "6.12" },
        BoardCase { .name = "Arm64OnlyCore612Aarch64",
            .board = VIRT64_A64FX,
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64,
            .try_armv7 = true,
            .series = "6.12" }),
    [](const testing::TestParamInfo<BoardCase>& info) { return std::string(info.param.name); });

// The static probe after pelimora-kms: its DRM report against the board (the
// card, its mode, CLOSEFB on 6.12 and not on 6.1, fbdev emulation off).
void check_kms_probe(QemuBoard& board, const BoardCase& c, bool held)
{
    ASSERT_TRUE(board.send_line("probe"));
    ASSERT_TRUE(board.read_until("pelimora-init: card ready", Clock::now() + std::chrono::seconds(60)));
    int exit = -1;
    const std::string out = probe_output(board.console, "report", &exit);
    nlohmann::json report = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << out;
    std::ofstream(fs::path(PELIMORA_BOARD_PICTURES) / ("probe-Kms" + std::string(c.name) + ".json")) << out;
    EXPECT_EQ(report["program"], c.board.gpu ? nlohmann::json("pelimora-kms") : nlohmann::json(nullptr));
    EXPECT_EQ(report["drm"]["fbdev_emulation"], false);
    EXPECT_EQ(report["drm"]["emulated_fb"], nullptr);
    if (!c.board.gpu) {
        EXPECT_EQ(report["drm"]["cards"], nlohmann::json::array());
        EXPECT_EQ(exit, 1);
        return;
    }
    const nlohmann::json& card = report["drm"]["cards"][0];
    EXPECT_EQ(card["driver"], "virtio_gpu");
    EXPECT_EQ(card["held"], held);
    EXPECT_EQ(card["closefb"], std::string(c.series) == "6.12");
    EXPECT_EQ(card["connectors"][0]["name"], "Virtual-1");
    if (held) {
        // The init holds the card and never probed it: only a master may.
        EXPECT_EQ(exit, 1);
        EXPECT_EQ(card["connectors"][0]["status"], "unknown");
        EXPECT_EQ(card["display"], nullptr);
        EXPECT_NE(out.find("another program (a compositor) holds /dev/dri/card0"), std::string::npos) << out;
        return;
    }
    EXPECT_EQ(exit, 0) << out;
    EXPECT_EQ(report["device"], "/dev/dri/card0");
    EXPECT_EQ(std::tuple(report["xres"], report["yres"], report["bits_per_pixel"], report["line_length"],
                  report["format"]),
        std::tuple(WIDTH, HEIGHT, 32, WIDTH * 4, "XRGB8888"));
    EXPECT_EQ(card["connectors"][0]["status"], "connected");
    // No console set a mode: pelimora-kms set the preferred one, and left it.
    EXPECT_EQ(card["display"]["mode"], card["connectors"][0]["preferred"]);
    EXPECT_TRUE(card["display"]["mode"].get<std::string>().starts_with("640x480@")) << card["display"];
    EXPECT_EQ(card["display"]["pitch"], WIDTH * 4);
    EXPECT_EQ(card["display"]["formats"], nlohmann::json::array({ "XR24" })) << "virtio-gpu's primary plane";
}

// pelimora-kms on kernels booted with drm_kms_helper.fbdev_emulation=0:
// virtio-gpu behind DRM alone, no /dev/fb0. It finds the card, draws every
// frame, and at exit leaves the last one on the display where the kernel
// has CLOSEFB (6.12); on 6.1 the display goes dark when it exits.
class KmsBoardTest : public testing::TestWithParam<BoardCase> { };

TEST_P(KmsBoardTest, PlaysOnAKernelWithoutFbdev)
{
    const BoardCase& c = GetParam();
    std::vector<Frame> frames = board_frames();
    QemuBoard board;
    std::string console;
    ASSERT_OK(boot_until_ready(c, frames, board, &console));
    InitReport report = read_init_report(board.console);
    EXPECT_EQ(report.exit_status, 0) << console;
    EXPECT_EQ(report.layout.bpp, 0u) << "a framebuffer, with fbdev emulation off";
    std::cout << "board " << c.name << ": pelimora-kms ran " << report.ms << " ms by the guest's clock\n";
    const double schedule_ms = FRAME_COUNT * FRAME_DELAY_US / 1e3;
    const bool held = std::string(c.board.options).find("pelimora.hold_card") != std::string::npos;
    if (!c.board.gpu || held) {
        EXPECT_EQ(report.messages,
            std::vector<std::string> { c.board.gpu
                    ? "pelimora: another program holds '/dev/dri/card0': nothing drawn"
                    : "pelimora: cannot open '/dev/dri/card0'" });
        EXPECT_LT(report.ms, schedule_ms) << "the schedule should not run without a display to draw on";
        check_kms_probe(board, c, held);
        EXPECT_TRUE(board.power_off());
        return;
    }
    std::vector<std::string> messages;
    for (int n = 1; !c.frames && n <= FRAME_COUNT; ++n)
        messages.push_back("pelimora: cannot open '" + frame_path(n) + "'");
    EXPECT_EQ(report.messages, messages) << console;
    EXPECT_GE(report.ms, schedule_ms);
    if (!c.frames) {
        check_kms_probe(board, c, false);
        EXPECT_TRUE(board.power_off());
        return;
    }
    std::vector<uint8_t> predicted = predicted_display(frames, c.expected);
    const bool keeps_the_last_frame = std::string(c.series) == "6.12";
    std::vector<uint8_t> shown = keeps_the_last_frame ? board.dump_until(WIDTH, HEIGHT, predicted)
                                                      : board.screen_dump(WIDTH, HEIGHT);
    check_kms_probe(board, c, false);
    EXPECT_TRUE(board.power_off());
    std::string where;
    if (keeps_the_last_frame) {
        EXPECT_EQ(count_differences(shown, predicted, WIDTH, &where), 0u) << where;
    } else {
        // 6.1 has no CLOSEFB: the display goes inactive, and QEMU shows a line of text on black.
        const auto lit = size_t(std::count_if(shown.begin(), shown.end(), [](uint8_t v) { return v != 0; }));
        EXPECT_FALSE(shown.empty());
        EXPECT_LT(lit, shown.size() / 100) << "the display should have gone dark at exit";
    }
    fs::path pictures = fs::path(PELIMORA_BOARD_PICTURES);
    fs::create_directories(pictures);
    if (!shown.empty()) {
        EXPECT_OK(write_png_rgb(pictures / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown));
    }
}

BoardSetup kms_board(Machine machine, bool gpu = true, const char* options = "")
{
    BoardSetup setup { .machine = machine, .gpu = gpu, .options = options };
    setup.kms = true;
    return setup;
}

INSTANTIATE_TEST_SUITE_P(Kms, KmsBoardTest,
    testing::Values(BoardCase { .name = "Arm64Kernel612Aarch64",
                        .board = kms_board(Machine::virt64),
                        .frames = true,
                        .expected = XRGB,
                        .player = Player::aarch64,
                        .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612Armv7",
            .board = kms_board(Machine::virt64),
            .frames = true,
            .expected = XRGB,
            .player = Player::armv7,
            .series = "6.12" },
        BoardCase { .name = "Virt32Kernel612",
            .board = kms_board(Machine::virt),
            .frames = true,
            .expected = XRGB,
            .player = Player::armv7,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel61Aarch64",
            .board = kms_board(Machine::virt64),
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64 },
        BoardCase { .name = "Arm64Kernel612NoFrames",
            .board = kms_board(Machine::virt64),
            .frames = false,
            .expected = XRGB,
            .player = Player::aarch64,
            .series = "6.12" },
        BoardCase { .name = "Arm64Kernel612NoGpu",
            .board = kms_board(Machine::virt64, false),
            .frames = true,
            .expected = {},
            .player = Player::aarch64,
            .series = "6.12" },
        // The init holds the card, as a compositor would: one line, nothing drawn.
        BoardCase { .name = "Arm64Kernel612AnotherMaster",
            .board = kms_board(Machine::virt64, true, "pelimora.hold_card"),
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64,
            .series = "6.12" }),
    [](const testing::TestParamInfo<BoardCase>& info) { return std::string(info.param.name); });

// Frames made by the tools for an X,R,G,B panel show the artwork's colours
// on one, where the player's plain bytes show red and blue swapped: on the
// vexpress board at 32 bpp, and with the AArch64 player on the arm64 kernel's
// virtio GPU.
class XrgbBoardTest : public testing::TestWithParam<BoardCase> { };

TEST_P(XrgbBoardTest, FramesMadeForTheXrgbPanelShowTheArtwork)
{
    const BoardCase& c = GetParam();
    fs::path kernel = board_kernel_dir(arm64_kernel(c));
    ASSERT_TRUE(fs::exists(kernel / "ready"))
        << "no kernel in PELIMORA_BOARD_CACHE; the board.kernel test fetches it";
    // Bands of pure red, green, blue and white, then a gradient in every channel.
    RgbaImage art { WIDTH, HEIGHT, std::vector<uint8_t>(size_t(WIDTH) * HEIGHT * 4, 0xFF) };
    for (uint32_t y = 0; y < HEIGHT; ++y)
        for (uint32_t x = 0; x < WIDTH; ++x) {
            uint8_t* p = &art.rgba[(size_t(y) * WIDTH + x) * 4];
            const uint8_t bands[4][3] = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 } };
            if (y < 160)
                std::copy_n(bands[y / 40], 3, p);
            else
                p[0] = uint8_t(x * 255 / WIDTH), p[1] = uint8_t((y - 160) * 255 / (HEIGHT - 160)),
                p[2] = uint8_t(255 - x * 255 / WIDTH);
        }
    ScreenGeometry panel { WIDTH, HEIGHT, 32, 0, find_format("XRGB8888") };
    Frame frame = encode_rle565(image_to_panel_stream(art, {}, false, panel));
    QemuBoard board;
    ASSERT_OK(board.boot(c.board, kernel, initramfs(c, kernel, std::vector<Frame>(FRAME_COUNT, frame))));
    ASSERT_TRUE(board.read_until(INIT_READY, Clock::now() + BOOT_TIMEOUT));
    InitReport report = read_init_report(board.console);
    EXPECT_EQ(report.exit_status, 0);
    ASSERT_EQ(report.layout.red, 16u) << "not an X,R,G,B panel";
    std::vector<uint8_t> shown;
    size_t wrong = 0;
    // DRM's framebuffer emulation reaches the display a little later: poll.
    for (auto until = Clock::now() + std::chrono::seconds(15); Clock::now() < until;) {
        shown = board.screen_dump(WIDTH, HEIGHT);
        ASSERT_EQ(shown.size(), size_t(WIDTH) * HEIGHT * 3);
        wrong = 0;
        for (size_t i = 0; i < size_t(WIDTH) * HEIGHT; ++i)
            for (int ch = 0; ch < 3; ++ch)
                wrong += std::abs(int(shown[i * 3 + ch]) - int(art.rgba[i * 4 + ch])) > (ch == 1 ? 4 : 8);
        if (!wrong)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(board.power_off());
    EXPECT_EQ(wrong, 0u) << "pixels off the artwork";
    EXPECT_OK(write_png_rgb(
        fs::path(PELIMORA_BOARD_PICTURES) / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown));
}

INSTANTIATE_TEST_SUITE_P(Board, XrgbBoardTest,
    testing::Values(BoardCase { .name = "Vexpress32XrgbFrames",
                        .board = { .machine = Machine::vexpress, .tree = "ca9-32" },
                        .frames = true,
                        .expected = XRGB },
        BoardCase { .name = "Arm64KernelAarch64XrgbFrames",
            .board = VIRT64,
            .frames = true,
            .expected = XRGB,
            .player = Player::aarch64 }),
    [](const testing::TestParamInfo<BoardCase>& info) { return std::string(info.param.name); });

// One image for a product line: a bundle with a set for each panel the
// boards have (and some they do not), made by encode from the sample
// animation. Each board boots with the whole bundle, the probe picks its set
// and the player shows it; a bundle without the board's panel shows nothing.
struct BundleCase {
    const char* name;
    BoardSetup board;
    Player player = Player::armv7;
    bool has_panel = true; // the bundle holds a set for this board's panel
};
void PrintTo(const BundleCase& c, std::ostream* out)
{
    *out << c.name;
}

class BundleBoardTest : public testing::TestWithParam<BundleCase> { };

TEST_P(BundleBoardTest, EachBoardShowsItsOwnSetFromTheOneBundle)
{
    const BundleCase& c = GetParam();
    const BoardCase board { c.name, c.board, false, {}, c.player };
    fs::path kernel = board_kernel_dir(arm64_kernel(board));
    ASSERT_TRUE(fs::exists(kernel / "ready"))
        << "no kernel in PELIMORA_BOARD_CACHE; the board.kernel test fetches it";
    fs::path bundle = board_bundle(!c.has_panel);
    QemuBoard qemu;
    ASSERT_OK(qemu.boot(c.board, kernel, initramfs(board, kernel, {}, bundle)));
    ASSERT_TRUE(qemu.read_until(INIT_READY, Clock::now() + BOOT_TIMEOUT));
    std::string console;
    for (const std::string& line : qemu.console)
        console += line + "\n";
    InitReport report = read_init_report(qemu.console);
    EXPECT_EQ(report.exit_status, 0) << console;
    const Layout& l = report.layout;
    const PixelFormat* format = layout_format(l);
    ASSERT_NE(format, nullptr) << console;
    if (!c.has_panel) {
        // Nothing picked, so no frames: the player's message for each, nothing drawn.
        EXPECT_EQ(report.pick_exit, 1) << console;
        EXPECT_EQ(report.picked, "none");
        EXPECT_EQ(report.messages.size(), size_t(FRAME_COUNT)) << console;
        EXPECT_TRUE(qemu.power_off());
        return;
    }
    const std::string set = bundle_set_name({ l.xres, l.yres, l.bpp, l.line, format });
    EXPECT_EQ(report.pick_exit, 0) << console;
    EXPECT_EQ(report.picked, "/bootimages.d/" + set) << console;
    EXPECT_EQ(report.messages, std::vector<std::string> {}) << console;
    std::vector<uint8_t> predicted = predicted_display(read_set_frames(bundle / set), l);
    std::vector<uint8_t> shown = qemu.dump_until(WIDTH, HEIGHT, predicted);
    EXPECT_TRUE(qemu.power_off());
    std::string where;
    EXPECT_EQ(count_differences(shown, predicted, WIDTH, &where), 0u) << set << ": " << where;
    EXPECT_OK(write_png_rgb(
        fs::path(PELIMORA_BOARD_PICTURES) / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown));
}

INSTANTIATE_TEST_SUITE_P(Board, BundleBoardTest,
    testing::Values(BundleCase { .name = "BundleVexpress16",
                        .board = { .machine = Machine::vexpress, .tree = "ca9-16" } },
        BundleCase { .name = "BundleVexpress32RedFirst",
            .board = { .machine = Machine::vexpress, .tree = "ca9-32", .rgba = true } },
        BundleCase {
            .name = "BundleVexpress32Xrgb", .board = { .machine = Machine::vexpress, .tree = "ca9-32" } },
        BundleCase { .name = "BundleVirt32", .board = { .machine = Machine::virt } },
        BundleCase { .name = "BundleArm64KernelAarch64", .board = VIRT64, .player = Player::aarch64 },
        BundleCase { .name = "BundleWithoutThisPanel",
            .board = { .machine = Machine::vexpress, .tree = "ca9-16" },
            .has_panel = false }),
    [](const testing::TestParamInfo<BundleCase>& info) { return std::string(info.param.name); });

} // namespace
