// Runs the host build of the player on the virtual devices (libvdev.so) and
// collects what it did: exit status, run time, the device log, the kernel log
// and the screen as it was at every pan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct VirtualDevices {
    // "WIDTHxHEIGHTxBPP"; empty: there is no framebuffer.
    std::string fb = "64x48x16";
    std::string fb_virtual; // "WIDTHxHEIGHT", larger than the visible screen
    std::string fb_line; // line length in bytes, when not the natural one
    // Comma-separated failure points: fb-open, fb-fix, fb-var, fb-mmap, fb-pan.
    std::string fail;
    std::string tty = "ok"; // ok, missing, refuse
    bool kmsg = true; // false: /dev/kmsg cannot be opened
    long signal_us = 0; // interrupt the player with SIGUSR1 this often
    bool clock = false; // log the monotonic clock at every pan ("clock pan=NS")
};

struct PlayerRun {
    int exit_status = -1; // -1 when the player did not exit normally
    int term_signal = 0;
    double seconds = 0;
    int64_t started_ns = 0; // monotonic clock just before the player was started
    std::vector<std::string> log; // one line per device call
    std::string kmsg; // everything written to the kernel log
    std::vector<std::vector<uint8_t>> screens; // the mapped screen at each pan
    std::string error; // why the player could not be run

    // Log lines starting with `prefix`.
    std::vector<std::string> lines(const std::string& prefix) const;
};

struct PlayerPaths {
    std::filesystem::path player; // host build of pelimora
    std::filesystem::path vdev; // libvdev.so
    std::string preload_first; // sanitizer runtime, when the build has one
};

// The paths of this build tree.
PlayerPaths built_player();

PlayerRun run_player(const PlayerPaths& paths, const VirtualDevices& devices,
    const std::filesystem::path& frames, const std::vector<std::string>& args = {});

// Moves this process into a private mount namespace with an empty tmpfs over
// /dev, so nothing it or its children start can reach a real device. Returns
// false, with the reason, where that is not permitted.
bool enter_device_sandbox(std::string* why);
