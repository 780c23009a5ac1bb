#include "tests/board/init_report.h"

#include <cstdio>
#include <cstring>

InitReport read_init_report(const std::vector<std::string>& console)
{
    InitReport report;
    for (const std::string& line : console) {
        std::sscanf(
            line.c_str(), "pelimora-init: player exit=%d signal=%*d ms=%lf", &report.exit_status, &report.ms);
        Layout& l = report.layout;
        std::sscanf(line.c_str(),
            "pelimora-init: screen %ux%u bpp=%u line=%u red=%u/%u green=%u/%u blue=%u/%u transp=%u/%u",
            &l.xres, &l.yres, &l.bpp, &l.line, &l.red, &l.red_bits, &l.green, &l.green_bits, &l.blue,
            &l.blue_bits, &l.transp, &l.transp_bits);
        if (line.starts_with("pelimora-init: pan "))
            report.pan = line.substr(19);
        char machine[65], cpus[65];
        if (std::sscanf(line.c_str(), "pelimora-init: platform machine=%64s page_size=%ld aarch32_el0=%64s",
                machine, &report.page_size, cpus)
            == 3)
            report.machine = machine, report.aarch32_el0 = cpus;
        std::sscanf(line.c_str(), "pelimora-init: armv7 player exit=%d", &report.armv7_exit);
        std::sscanf(line.c_str(), "pelimora-init: display registered at %lf ms, player started at %lf ms",
            &report.display_registered_ms, &report.player_started_ms);
        std::sscanf(line.c_str(), "pelimora-init: first frame at %lf ms", &report.first_frame_ms);
        char picked[256];
        if (std::sscanf(line.c_str(), "pelimora-init: pick exit=%d set=%255s", &report.pick_exit, picked)
            == 2)
            report.picked = picked;
        if (constexpr char exec[] = "pelimora-init: exec /pelimora-armv7: "; line.starts_with(exec))
            report.armv7_exec = line.substr(std::strlen(exec));
        // Kernel log records reach the console as "[    4.28] text".
        if (size_t at = line.find("] pelimora: "); line.starts_with("[") && at != std::string::npos)
            report.messages.push_back(line.substr(at + 2));
    }
    return report;
}
