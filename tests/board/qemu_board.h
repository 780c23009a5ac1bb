// One boot of an emulated ARM board under qemu-system-arm or -aarch64, driven
// over its serial console and QMP: Debian's armhf or arm64 kernel, an
// initramfs of ours.
#pragma once

#include "lib/error.h"
#include "lib/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

enum class Machine {
    vexpress, // Cortex-A9 with a PL111 display controller, armhf kernel
    virt, // virt with a virtio GPU behind DRM's framebuffer emulation, armhf kernel
    virt64, // the same on the arm64 kernel
};

struct BoardSetup {
    Machine machine = Machine::vexpress;
    std::string tree = {}; // vexpress device tree in the kernel cache: ca9-16, ca9-32, or ca9 (no display)
    bool rgba = false; // the init asks for red at offset 0 on 32-bit screens
    const char* cpu = "cortex-a72"; // virt64: the core (a64fx runs no 32-bit code at EL0)
    bool gpu = true; // virt boards: with the virtio GPU
    const char* init = "/init"; // the initramfs's first program
    unsigned memory_mb = 256;
    bool console_text = false; // the kernel's console on the display too, and text for it
    const char* options = ""; // more kernel command line options
    // virt boards: DRM without fbdev emulation, for pelimora-kms: the init
    // waits for the card (with a GPU) and runs it in place of the player.
    bool kms = false;
};

// The cached kernel's directory (from PELIMORA_BOARD_CACHE) for the armhf or
// the arm64 kernel, of Debian 12's default series (6.1) or of `series`
// ("6.12"), or empty.
std::filesystem::path board_kernel_dir(bool arm64 = false, const std::string& series = "");
// The cache's entry that the file `current` (as fetch-kernel and fetch-root
// leave it) names, or empty.
std::filesystem::path board_cache_entry(const std::string& current);

class QemuBoard {
public:
    using Clock = std::chrono::steady_clock;
    QemuBoard() = default;
    ~QemuBoard();
    QemuBoard(const QemuBoard&) = delete;
    QemuBoard& operator=(const QemuBoard&) = delete;

    // Boots, or says what went wrong.
    Error boot(
        const BoardSetup& setup, const std::filesystem::path& kernel_dir, const std::string& initramfs);
    // Reads console lines into `console` up to and including one that starts with `marker`.
    [[nodiscard]] bool read_until(const std::string& marker, Clock::time_point deadline);
    // The display through QMP's screendump, as 8-bit RGB of the given size, or empty.
    std::vector<uint8_t> screen_dump(uint32_t width, uint32_t height);
    // Dumps until the display shows `predicted`, for at most 15 s: a driver
    // that copies a shadow buffer to the display (DRM's emulation) may copy
    // a little later. The last dump; `dumps` gets how many were taken.
    std::vector<uint8_t> dump_until(
        uint32_t width, uint32_t height, const std::vector<uint8_t>& predicted, int* dumps = nullptr);
    // A line to the init on the serial console.
    [[nodiscard]] bool send_line(const std::string& line);
    // Lets the init power off; true when QEMU exits in time.
    [[nodiscard]] bool power_off();

    std::vector<std::string> console;

private:
    [[nodiscard]] bool qmp(const std::string& command);
    [[nodiscard]] bool qmp_send(const std::string& command);
    [[nodiscard]] bool qmp_reply();

    pid_t pid_ = -1;
    int to_console_ = -1, from_console_ = -1, qmp_fd_ = -1;
    std::string pending_;
    TempDir scratch_ { "pelimora-board" };
};
