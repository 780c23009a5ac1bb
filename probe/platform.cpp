#include "probe/platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr char AARCH32_CPUS_PATH[] = "/sys/devices/system/cpu/aarch32_el0";

#if defined(__aarch64__)
constexpr const char* BINARY = "aarch64";
#elif defined(__arm__)
constexpr const char* BINARY = "armv7";
#else
constexpr const char* BINARY = "host";
#endif

// An arm64 kernel refuses the 32-bit personality when no core can run
// 32-bit code at EL0, or when it was built without CONFIG_COMPAT.
bool kernel_runs_aarch32()
{
    if (sizeof(void*) == 4)
        return true; // this probe is one
#if defined(__aarch64__)
    int previous = personality(0xffffffff);
    if (personality(PER_LINUX32) == -1)
        return false;
    (void)personality(static_cast<unsigned long>(previous));
    return true;
#else
    return false;
#endif
}

} // namespace

void probe_platform(ProbedPlatform* platform)
{
    utsname names;
    if (uname(&names) == 0)
        snprintf(platform->machine, sizeof platform->machine, "%s", names.machine);
    platform->binary = BINARY;
    // A 32-bit program on arm64 sees "aarch64" unless started under linux32.
    platform->compat = sizeof(void*) == 4 && strcmp(platform->machine, "aarch64") == 0;
    platform->page_size = sysconf(_SC_PAGESIZE);
    platform->aarch32 = kernel_runs_aarch32();
    int fd = open(AARCH32_CPUS_PATH, O_RDONLY);
    if (fd >= 0) {
        ssize_t n = read(fd, platform->aarch32_cpus, sizeof platform->aarch32_cpus - 1);
        platform->aarch32_cpus[n > 0 ? n : 0] = '\0';
        platform->aarch32_cpus[strcspn(platform->aarch32_cpus, "\n")] = '\0';
        (void)close(fd);
    }
}

const char* binary_advice(const ProbedPlatform& p)
{
    bool arm64 = strcmp(p.machine, "aarch64") == 0;
    if (!arm64 && strncmp(p.machine, "arm", 3) != 0)
        return nullptr;
    if (!arm64)
        return "a 32-bit kernel: install the ARMv7 player (share/pelimora/armv7)";
    if (!p.aarch32)
        return "this kernel runs no 32-bit programs (no core with AArch32 at EL0, or no CONFIG_COMPAT): "
               "install the AArch64 player (share/pelimora/aarch64)";
    if (p.aarch32_cpus[0])
        return "only some cores run 32-bit programs (aarch32_el0): install the AArch64 player "
               "(share/pelimora/aarch64), which runs on every core";
    return "an arm64 kernel with CONFIG_COMPAT: the ARMv7 player runs in compat mode; the AArch64 player "
           "(share/pelimora/aarch64) runs without it";
}
