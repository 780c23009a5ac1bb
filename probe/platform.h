// The platform the probe runs on, as the kernel tells it: which of the
// players can run here, and what the kernel gives them.
#pragma once

struct ProbedPlatform {
    char machine[65] = ""; // uname -m
    const char* binary = ""; // what this probe is: "armv7", "aarch64", or "host"
    bool compat = false; // a 32-bit probe on a 64-bit kernel
    long page_size = 0;
    bool aarch32 = false; // the kernel runs 32-bit programs
    char aarch32_cpus[64] = ""; // the cores that do, on a system of mixed cores; else empty
};

void probe_platform(ProbedPlatform* platform);

// Which player to install here, in words; null when this is no ARM kernel.
const char* binary_advice(const ProbedPlatform& platform);
