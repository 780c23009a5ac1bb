// Which player the probe says to install, for each kind of ARM platform.
#include "probe/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

ProbedPlatform platform(const char* machine, const char* binary, bool aarch32, const char* cpus = "")
{
    ProbedPlatform p;
    std::snprintf(p.machine, sizeof p.machine, "%s", machine);
    p.binary = binary;
    p.compat = std::strcmp(binary, "armv7") == 0 && std::strcmp(machine, "aarch64") == 0;
    p.page_size = 4096;
    p.aarch32 = aarch32;
    std::snprintf(p.aarch32_cpus, sizeof p.aarch32_cpus, "%s", cpus);
    return p;
}

std::string advice(const ProbedPlatform& p)
{
    const char* text = binary_advice(p);
    return text ? text : "(none)";
}

TEST(Platform, SaysWhichPlayerRunsHere)
{
    EXPECT_NE(advice(platform("armv7l", "armv7", true)).find("32-bit kernel: install the ARMv7 player"),
        std::string::npos);
    // The ARMv7 probe in compat mode, and the AArch64 one on the same kernel.
    for (const char* binary : { "armv7", "aarch64" })
        EXPECT_NE(advice(platform("aarch64", binary, true)).find("ARMv7 player runs in compat mode"),
            std::string::npos)
            << binary;
    // Cores without AArch32, or a kernel without CONFIG_COMPAT.
    EXPECT_NE(
        advice(platform("aarch64", "aarch64", false)).find("runs no 32-bit programs"), std::string::npos);
    EXPECT_NE(advice(platform("aarch64", "aarch64", true, "0-3")).find("only some cores"), std::string::npos);
    EXPECT_EQ(advice(platform("x86_64", "host", false)), "(none)");
}

TEST(Platform, ReadsThisMachine)
{
    ProbedPlatform p;
    probe_platform(&p);
    EXPECT_STRNE(p.machine, "");
    EXPECT_GT(p.page_size, 0);
    EXPECT_FALSE(p.compat) << "a 64-bit host build";
}

} // namespace
