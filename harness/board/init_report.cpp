#include "init_report.h"

#include <cstdio>

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
        // Kernel log records reach the console as "[    4.28] text".
        if (size_t at = line.find("] pelimora: "); line.starts_with("[") && at != std::string::npos)
            report.messages.push_back(line.substr(at + 2));
    }
    return report;
}
