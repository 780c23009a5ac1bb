#include "tests/board/qemu_board.h"

#include "lib/process.h"
#include "tests/board/display.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

fs::path board_cache_entry(const std::string& current)
{
    const char* cache = std::getenv("PELIMORA_BOARD_CACHE");
    if (!cache)
        return {};
    std::ifstream file(fs::path(cache) / current);
    std::string name;
    file >> name;
    return name.empty() ? fs::path() : fs::path(cache) / name;
}

fs::path board_kernel_dir(bool arm64, const std::string& series)
{
    return board_cache_entry((arm64 ? "current-arm64" : "current") + (series.empty() ? "" : "-" + series));
}

QemuBoard::~QemuBoard()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : { to_console_, from_console_, qmp_fd_ })
        if (fd >= 0)
            (void)close(fd);
}

Error QemuBoard::boot(const BoardSetup& setup, const fs::path& kernel_dir, const std::string& initramfs)
{
    if (scratch_.path().empty())
        return input_error("cannot make a scratch directory");
    std::ofstream(scratch_ / "initramfs.cpio", std::ios::binary) << initramfs;

    // The last console is /dev/console, where the init reports.
    std::string append = std::string(setup.console_text ? "console=tty0 pelimora.burst " : "")
        + "console=ttyAMA0 quiet rdinit=" + setup.init + (setup.options[0] ? " " : "") + setup.options;
    SpawnRequest request;
    request.search_path = true;
    bool arm64 = setup.machine == Machine::virt64;
    request.argv
        = { arm64 ? "qemu-system-aarch64" : "qemu-system-arm", "-m", std::to_string(setup.memory_mb) + "M",
              "-display", "none", "-serial", "stdio", "-monitor", "none", "-no-reboot", "-nic", "none" };
    if (setup.machine == Machine::vexpress) {
        request.argv.insert(request.argv.end(),
            { "-M", "vexpress-a9", "-dtb", (kernel_dir / (setup.tree + ".dtb")).string() });
    } else {
        if (arm64)
            request.argv.insert(request.argv.end(), { "-M", "virt,gic-version=3", "-cpu", setup.cpu });
        else
            request.argv.insert(request.argv.end(), { "-M", "virt,highmem=off" });
        if (setup.gpu) {
            request.argv.insert(request.argv.end(),
                { "-global", "virtio-mmio.force-legacy=false", "-device",
                    setup.kms ? "virtio-gpu-device,xres=640,yres=480" : "virtio-gpu-device" });
            append += setup.kms ? " drm_kms_helper.fbdev_emulation=0 pelimora.wait_card"
                                : " video=640x480-32 pelimora.wait_fb";
            append += " pelimora.modules=virtio_mmio,virtio_dma_buf,drm,drm_kms_helper,drm_shmem_helper,"
                      "virtio-gpu";
        }
    }
    if (setup.rgba)
        append += " pelimora.rgba";
    if (setup.kms)
        append += " pelimora.kms";
    request.argv.insert(request.argv.end(),
        { "-kernel", (kernel_dir / "vmlinuz").string(), "-initrd", (scratch_ / "initramfs.cpio").string(),
            "-append", append, "-qmp", "unix:" + (scratch_ / "qmp").string() + ",server=on,wait=off" });

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return input_error("pipe failed");
    request.stdin_fd = in[0], request.stdout_fd = out[1], request.stderr_fd = out[1];
    Error error = spawn_process(request, &pid_);
    (void)close(in[0]), (void)close(out[1]);
    to_console_ = in[1], from_console_ = out[0];
    return error;
}

bool QemuBoard::read_until(const std::string& marker, Clock::time_point deadline)
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

std::vector<uint8_t> QemuBoard::screen_dump(uint32_t width, uint32_t height)
{
    fs::path file = scratch_ / "screen.ppm";
    fs::remove(file);
    if (!qmp("{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"" + file.string() + "\"}}"))
        return {};
    return read_ppm(file, width, height);
}

std::vector<uint8_t> QemuBoard::dump_until(
    uint32_t width, uint32_t height, const std::vector<uint8_t>& predicted, int* dumps)
{
    std::vector<uint8_t> shown;
    int taken = 0;
    for (auto until = Clock::now() + std::chrono::seconds(15); Clock::now() < until;) {
        shown = screen_dump(width, height);
        ++taken;
        if (shown == predicted)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (dumps)
        *dumps = taken;
    return shown;
}

bool QemuBoard::send_line(const std::string& line)
{
    std::string text = line + "\n";
    return write(to_console_, text.data(), text.size()) == ssize_t(text.size());
}

bool QemuBoard::power_off()
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

bool QemuBoard::qmp(const std::string& command)
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

bool QemuBoard::qmp_send(const std::string& command)
{
    std::string line = command + "\n";
    return write(qmp_fd_, line.data(), line.size()) == ssize_t(line.size()) && qmp_reply();
}

// Reads up to the reply (greeting, return or error), past any events.
bool QemuBoard::qmp_reply()
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
