// The static ARM player on a real Linux kernel on an emulated ARM board: the
// board boots an initramfs holding our init, the player and the frames, and
// the host compares the display, read back through QEMU, pixel by pixel with
// what the player's own decoder predicts.
#include "png_io.h"
#include "render.h"
#include "rle565.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Frame = std::vector<uint8_t>;

extern char** environ;

namespace {

constexpr uint32_t WIDTH = 640, HEIGHT = 480, BAND = WIDTH * HEIGHT / 40;
constexpr auto BOOT_TIMEOUT = std::chrono::seconds(180);

// Frame n covers the screen from its first pixel up to band 40 - n, ending a
// little short of the band's end: band k ends up showing frame 40 - k, which
// proves all 40 frames were drawn in order, and the ragged ends show the
// leftovers of the frame before. Each frame has a hue of its own, shaded run
// by run, with short runs of random colours: every alignment and every bit of
// every channel gets exercised.
uint16_t frame_hue(int n, uint32_t shade)
{
    float hue = float(n * 17 % 40) / 40 * 6, f = hue - int(hue);
    float v = 0.6f + 0.4f * (shade % 64) / 63, p = v * 0.2f, q = v * (1 - 0.8f * f),
          t = v * (0.2f + 0.8f * f);
    float rgb[6][3] = { { v, t, p }, { q, v, p }, { p, v, t }, { p, q, v }, { t, p, v }, { v, p, q } };
    const float* c = rgb[int(hue) % 6];
    return rgb565(uint8_t(c[0] * 255), uint8_t(c[1] * 255), uint8_t(c[2] * 255));
}

Frame board_frame(int n)
{
    uint32_t length = (41 - n) * BAND - (n - 1) * 13;
    std::vector<uint16_t> pixels;
    uint32_t state = 2654435761u * n;
    while (pixels.size() < length) {
        state = state * 1664525 + 1013904223;
        bool speckle = (state >> 28) == 0;
        uint32_t run = speckle ? 1 + (state >> 8) % 4 : 1 + (state >> 8) % 300;
        uint16_t colour = speckle ? uint16_t(state >> 12) : frame_hue(n, state >> 20);
        pixels.insert(pixels.end(), std::min<size_t>(run, length - pixels.size()), colour);
    }
    return encode_rle565(pixels);
}

std::vector<Frame> board_frames()
{
    std::vector<Frame> frames;
    for (int n = 1; n <= 40; ++n)
        frames.push_back(board_frame(n));
    return frames;
}

// initramfs: a newc cpio archive.
class Cpio {
public:
    void add(const std::string& name, uint32_t mode, const std::string& content = "")
    {
        char header[111];
        std::snprintf(header, sizeof header, "070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X",
            inode_++, mode, 0, 0, 1, 0, unsigned(content.size()), 0, 0, 0, 0, unsigned(name.size() + 1), 0);
        data_ += header + name + '\0';
        pad();
        data_ += content;
        pad();
    }
    void add_file(const std::string& name, const fs::path& from, uint32_t mode = 0100755)
    {
        std::ifstream in(from, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        ASSERT_TRUE(in.good()) << from;
        add(name, mode, content.str());
    }
    std::string finish()
    {
        add("TRAILER!!!", 0);
        return data_;
    }

private:
    void pad() { data_.append((4 - data_.size() % 4) % 4, '\0'); }
    std::string data_;
    uint32_t inode_ = 1;
};

struct Layout {
    uint32_t xres = 0, yres = 0, bpp = 0, line = 0;
    uint32_t red = 0, red_bits = 0, green = 0, green_bits = 0, blue = 0, blue_bits = 0;
};

// What the display shows, as 8-bit RGB, for the screen memory the frames leave.
// QEMU widens short channels by shifting, not by repeating bits.
std::vector<uint8_t> predicted_display(const std::vector<Frame>& frames, const Layout& l)
{
    std::vector<uint8_t> memory(size_t(l.line) * l.yres);
    for (const Frame& frame : frames)
        decode_frame(frame.data(), uint32_t(frame.size()), memory.data(), l.xres, l.yres, l.bpp);
    // A line longer than the row leaves the player's contiguous stream wrapped
    // differently: map memory to the display through the line length.
    std::vector<uint8_t> contiguous = memory;
    for (uint32_t y = 0; y < l.yres; ++y)
        std::memcpy(
            &memory[size_t(y) * l.line], &contiguous[size_t(y) * l.xres * l.bpp / 8], l.xres * l.bpp / 8);
    std::vector<uint8_t> rgb;
    auto channel = [](uint32_t pixel, uint32_t offset, uint32_t bits) {
        return uint8_t(((pixel >> offset) & ((1u << bits) - 1)) << (8 - bits));
    };
    for (uint32_t y = 0; y < l.yres; ++y)
        for (uint32_t x = 0; x < l.xres; ++x) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, &memory[size_t(y) * l.line + x * l.bpp / 8], l.bpp / 8);
            rgb.insert(rgb.end(),
                { channel(pixel, l.red, l.red_bits), channel(pixel, l.green, l.green_bits),
                    channel(pixel, l.blue, l.blue_bits) });
        }
    return rgb;
}

std::vector<uint8_t> read_ppm(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    uint32_t width = 0, height = 0, max = 0;
    in >> magic >> width >> height >> max;
    in.get();
    if (magic != "P6" || width != WIDTH || height != HEIGHT || max != 255)
        return {};
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    return in ? rgb : std::vector<uint8_t> {};
}

// Differing pixels, with the first few described.
size_t count_differences(
    const std::vector<uint8_t>& shown, const std::vector<uint8_t>& predicted, std::string* first = nullptr)
{
    if (shown.size() != predicted.size())
        return SIZE_MAX;
    size_t differences = 0;
    for (size_t i = 0; i < shown.size(); i += 3)
        if (std::memcmp(&shown[i], &predicted[i], 3) != 0 && differences++ < 3 && first) {
            char text[128];
            std::snprintf(text, sizeof text, "(%zu,%zu) shows %02x%02x%02x, predicted %02x%02x%02x; ",
                i / 3 % WIDTH, i / 3 / WIDTH, shown[i], shown[i + 1], shown[i + 2], predicted[i],
                predicted[i + 1], predicted[i + 2]);
            *first += text;
        }
    return differences;
}

struct BoardCase {
    const char* name;
    bool virt; // board 2: virtio GPU behind DRM's framebuffer emulation
    const char* tree; // vexpress device tree: ca9-16, ca9-32, or ca9 (stock: no display)
    bool rgba; // the init asks for red at offset 0 on 32-bit screens
    bool frames; // whether /bootimages holds the frames
    Layout expected; // the channel layout the kernel reports
};
void PrintTo(const BoardCase& c, std::ostream* out)
{
    *out << c.name;
}

// One boot of the board, driven over the serial console and QMP.
class Board {
public:
    ~Board()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : { to_console_, from_console_ })
            if (fd >= 0)
                close(fd);
        if (!scratch_.empty())
            fs::remove_all(scratch_);
    }

    // Boots; returns an empty string or what went wrong.
    std::string boot(const BoardCase& c, const fs::path& kernel_dir, const std::string& initramfs)
    {
        char pattern[] = "/tmp/pelimora-board-XXXXXX";
        if (!mkdtemp(pattern))
            return "cannot make a scratch directory";
        scratch_ = pattern;
        std::ofstream(scratch_ / "initramfs.cpio", std::ios::binary) << initramfs;

        std::string append = "console=ttyAMA0 quiet rdinit=/init";
        std::vector<std::string> args = { "qemu-system-arm", "-m", "256M", "-display", "none", "-serial",
            "stdio", "-monitor", "none", "-no-reboot", "-nic", "none" };
        if (c.virt) {
            args.insert(args.end(),
                { "-M", "virt,highmem=off", "-global", "virtio-mmio.force-legacy=false", "-device",
                    "virtio-gpu-device" });
            append += " video=640x480-32 pelimora.wait_fb pelimora.modules=virtio_mmio,virtio_dma_buf,drm,"
                      "drm_kms_helper,drm_shmem_helper,virtio-gpu";
        } else {
            args.insert(args.end(),
                { "-M", "vexpress-a9", "-dtb", (kernel_dir / (std::string(c.tree) + ".dtb")).string() });
        }
        if (c.rgba)
            append += " pelimora.rgba";
        args.insert(args.end(),
            { "-kernel", (kernel_dir / "vmlinuz").string(), "-initrd", (scratch_ / "initramfs.cpio").string(),
                "-append", append, "-qmp", "unix:" + (scratch_ / "qmp").string() + ",server=on,wait=off" });

        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return "pipe failed";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int error = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]), close(out[1]);
        to_console_ = in[1], from_console_ = out[0];
        return error ? std::string("cannot start qemu-system-arm: ") + std::strerror(error) : "";
    }

    // Console lines up to and including the one that starts with `marker`.
    bool read_until(const std::string& marker, Clock::time_point deadline)
    {
        for (;;) {
            size_t newline;
            while ((newline = pending_.find('\n')) != std::string::npos) {
                std::string line = pending_.substr(0, newline);
                pending_.erase(0, newline + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                console.push_back(line);
                if (line.starts_with(marker))
                    return true;
            }
            int left
                = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            pollfd p = { from_console_, POLLIN, 0 };
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return false;
            char buffer[4096];
            ssize_t n = read(from_console_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            pending_.append(buffer, size_t(n));
        }
    }

    // The display as QEMU shows it, or empty.
    std::vector<uint8_t> screen_dump()
    {
        fs::path file = scratch_ / "screen.ppm";
        fs::remove(file);
        if (!qmp("{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"" + file.string() + "\"}}"))
            return {};
        return read_ppm(file);
    }

    // Lets the init power off; true when QEMU exits in time.
    bool power_off()
    {
        (void)!write(to_console_, "\n", 1);
        for (auto deadline = Clock::now() + std::chrono::seconds(30); Clock::now() < deadline;) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::vector<std::string> console;

private:
    bool qmp(const std::string& command)
    {
        if (qmp_fd_ < 0) {
            qmp_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (scratch_ / "qmp").c_str());
            if (connect(qmp_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || !qmp_reply()
                || !qmp_send("{\"execute\":\"qmp_capabilities\"}"))
                return false;
        }
        return qmp_send(command);
    }
    bool qmp_send(const std::string& command)
    {
        std::string line = command + "\n";
        return write(qmp_fd_, line.data(), line.size()) == ssize_t(line.size()) && qmp_reply();
    }
    // Reads up to the reply (greeting, return or error), past any events.
    bool qmp_reply()
    {
        std::string reply;
        char c;
        while (read(qmp_fd_, &c, 1) == 1) {
            if (c != '\n') {
                reply += c;
                continue;
            }
            if (reply.find("\"event\"") == std::string::npos)
                return reply.find("\"error\"") == std::string::npos;
            reply.clear();
        }
        return false;
    }

    pid_t pid_ = -1;
    int to_console_ = -1, from_console_ = -1, qmp_fd_ = -1;
    std::string pending_;
    fs::path scratch_;
};

fs::path kernel_dir()
{
    fs::path cache = std::getenv("PELIMORA_BOARD_CACHE") ? std::getenv("PELIMORA_BOARD_CACHE") : "";
    std::ifstream current(cache / "current");
    std::string version;
    current >> version;
    return version.empty() ? fs::path() : cache / version;
}

class BoardTest : public testing::TestWithParam<BoardCase> { };

TEST_P(BoardTest, PlaysOnARealKernel)
{
    const BoardCase& c = GetParam();
    fs::path kernel = kernel_dir();
    ASSERT_TRUE(fs::exists(kernel / "ready"))
        << "no kernel in PELIMORA_BOARD_CACHE; the board.kernel test fetches it";

    std::vector<Frame> frames = board_frames();
    Cpio cpio;
    cpio.add_file("init", PELIMORA_BOARD_INIT);
    cpio.add_file("pelimora", PELIMORA_ARM_BINARY);
    if (c.virt) {
        cpio.add("modules", 040755);
        for (const auto& module : fs::directory_iterator(kernel / "modules"))
            cpio.add_file("modules/" + module.path().filename().string(), module.path(), 0100644);
    }
    if (c.frames) {
        cpio.add("bootimages", 040755);
        for (int n = 1; n <= 40; ++n)
            cpio.add("bootimages/Loop_" + std::to_string(n) + ".rle", 0100644,
                std::string(frames[n - 1].begin(), frames[n - 1].end()));
    }

    Board board;
    ASSERT_EQ(board.boot(c, kernel, cpio.finish()), "");
    auto deadline = Clock::now() + BOOT_TIMEOUT;
    bool ready = board.read_until("pelimora-init: ready", deadline);
    std::string console;
    for (const std::string& line : board.console)
        console += line + "\n";
    ASSERT_TRUE(ready) << "the board never got ready:\n" << console;

    int exit_status = -1;
    double ms = -1;
    Layout layout;
    std::vector<std::string> messages;
    for (const std::string& line : board.console) {
        std::sscanf(line.c_str(), "pelimora-init: player exit=%d signal=%*d ms=%lf", &exit_status, &ms);
        std::sscanf(line.c_str(),
            "pelimora-init: screen %ux%u bpp=%u line=%u red=%u/%u green=%u/%u blue=%u/%u", &layout.xres,
            &layout.yres, &layout.bpp, &layout.line, &layout.red, &layout.red_bits, &layout.green,
            &layout.green_bits, &layout.blue, &layout.blue_bits);
        // Kernel log records reach the console as "[    4.28] text".
        if (size_t at = line.find("] pelimora: "); line.starts_with("[") && at != std::string::npos)
            messages.push_back(line.substr(at + 2));
    }
    EXPECT_EQ(exit_status, 0) << console;
    std::cout << "board " << c.name << ": player ran " << ms << " ms by the guest's clock\n";

    if (std::string(c.tree) == "ca9" && !c.virt) {
        EXPECT_EQ(messages, std::vector<std::string> { "pelimora: cannot open '/dev/graphics/fb0'" });
        EXPECT_LT(ms, 800) << "the schedule should not run without a screen";
        EXPECT_EQ(layout.bpp, 0u);
        EXPECT_TRUE(board.power_off());
        return;
    }
    EXPECT_GE(ms, 800);
    EXPECT_EQ(layout.xres, c.expected.xres);
    EXPECT_EQ(layout.bpp, c.expected.bpp);
    EXPECT_EQ(layout.red, c.expected.red);
    EXPECT_EQ(layout.blue, c.expected.blue);
    // PL111 has no pan and says so; the player ignores the answer either way.
    std::string pan = c.virt ? "pelimora-init: pan works" : "pelimora-init: pan Invalid argument";
    EXPECT_NE(std::find(board.console.begin(), board.console.end(), pan), board.console.end()) << console;
    if (!c.frames) {
        std::vector<std::string> expected;
        for (int n = 1; n <= 40; ++n)
            expected.push_back("pelimora: cannot open '/bootimages/Loop_" + std::to_string(n) + ".rle'");
        EXPECT_EQ(messages, expected);
        EXPECT_TRUE(board.power_off());
        return;
    }
    EXPECT_EQ(messages, std::vector<std::string> {});

    // DRM's framebuffer emulation reaches the display a little later: poll.
    std::vector<uint8_t> predicted = predicted_display(frames, layout), shown;
    for (auto until = Clock::now() + std::chrono::seconds(15); Clock::now() < until;) {
        shown = board.screen_dump();
        if (shown == predicted)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(board.power_off());
    std::string where;
    EXPECT_EQ(count_differences(shown, predicted, &where), 0u) << where;

    fs::path pictures = fs::path(PELIMORA_BOARD_PICTURES);
    fs::create_directories(pictures);
    if (!shown.empty()) {
        EXPECT_EQ(write_png_rgb(pictures / (std::string(c.name) + ".png"), WIDTH, HEIGHT, shown), "");
    }
    EXPECT_EQ(
        write_png_rgb(pictures / (std::string(c.name) + "-predicted.png"), WIDTH, HEIGHT, predicted), "");

    // The comparison catches a single wrong pixel: frame 40 owns pixel 0.
    if (c.name == std::string("Vexpress16")) {
        std::vector<uint8_t> drawn(size_t(WIDTH) * HEIGHT * 4);
        for (const Frame& frame : frames)
            decode_frame(frame.data(), uint32_t(frame.size()), drawn.data(), WIDTH, HEIGHT, 32);
        EXPECT_EQ(write_png_rgb(pictures / "player-drew.png", WIDTH, HEIGHT, screen_to_rgb(drawn, 32)), "");
        std::vector<Frame> wrong = frames;
        uint16_t count = uint16_t(wrong[39][0] | wrong[39][1] << 8);
        uint16_t colour = uint16_t(wrong[39][2] | wrong[39][3] << 8);
        Frame patched;
        append_run(patched, 1, colour ^ 0x8410);
        append_run(patched, count - 1, colour);
        wrong[39].erase(wrong[39].begin(), wrong[39].begin() + 4);
        wrong[39].insert(wrong[39].begin(), patched.begin(), patched.end());
        EXPECT_EQ(count_differences(shown, predicted_display(wrong, layout)), 1u);
    }
}

constexpr Layout RGB565 = { 640, 480, 16, 1280, 11, 5, 5, 6, 0, 5 };
constexpr Layout XRGB = { 640, 480, 32, 2560, 16, 8, 8, 8, 0, 8 };
constexpr Layout RGBA = { 640, 480, 32, 2560, 0, 8, 8, 8, 16, 8 };

INSTANTIATE_TEST_SUITE_P(Board, BoardTest,
    testing::Values(BoardCase { "Vexpress16", false, "ca9-16", false, true, RGB565 },
        BoardCase { "Vexpress32RedFirst", false, "ca9-32", true, true, RGBA },
        BoardCase { "Vexpress32RedAt16", false, "ca9-32", false, true, XRGB },
        BoardCase { "Virt32WithPan", true, "", false, true, XRGB },
        BoardCase { "Vexpress16NoFrames", false, "ca9-16", false, false, RGB565 },
        BoardCase { "VexpressNoDisplay", false, "ca9", false, true, {} }),
    [](const testing::TestParamInfo<BoardCase>& info) { return std::string(info.param.name); });

} // namespace
