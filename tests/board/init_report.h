// What the board's init (board_init.cpp) reports on the serial console, one
// "pelimora-init: ..." line each, read back by the host; and the kernel log
// records that reach the console.
#pragma once

#include "tests/board/display.h"

#include <string>
#include <vector>

constexpr char INIT_READY[] = "pelimora-init: ready";

struct InitReport {
    int exit_status = -1; // the player's
    double ms = -1; // the player's run time by the guest's clock
    Layout layout; // all 0 when there is no screen
    std::string pan; // "works", or why FBIOPAN_DISPLAY failed
    std::vector<std::string> messages; // kernel log records from the player, without their timestamps
    std::string machine; // the kernel's uname -m, as a 64-bit init sees it
    long page_size = 0;
    std::string aarch32_el0; // the kernel's list of cores with 32-bit execution, or "none"
    std::string armv7_exec; // why the ARMv7 player could not be run, when it was tried and failed
    int armv7_exit = -1; // its exit status, when it was tried
    int pick_exit = -1; // pelimora-probe --pick's, when a bundle was there
    std::string picked; // the set it printed, or "none"
    // Under a real init system, by the kernel log's clock: when the
    // display was registered (fb0, or the DRM card) and when the player was started.
    double display_registered_ms = -1, player_started_ms = -1;
    double first_frame_ms = -1; // pelimora-kms's first SETCRTC, with drm.debug=0x04
};

InitReport read_init_report(const std::vector<std::string>& console);
