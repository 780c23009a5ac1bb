// Starting a program and waiting for it: the one way the harness, the tests
// and the benchmarks run another process.
#pragma once

#include "lib/error.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct SpawnRequest {
    std::vector<std::string> argv; // argv[0] is the program
    bool search_path = false; // look argv[0] up in PATH
    std::vector<std::string> env; // the whole environment; empty: this process's
    // Descriptors for the child's standard input, output and error; -1 keeps ours.
    int stdin_fd = -1, stdout_fd = -1, stderr_fd = -1;
};

// Starts the program, its pid in `pid`, or why it could not.
Error spawn_process(SpawnRequest request, pid_t* pid);

struct ProcessExit {
    int exit_status = -1; // -1 when it did not exit normally
    int term_signal = 0;
    long peak_kib = 0; // its peak resident memory
    double cpu_seconds = 0; // its user and system time, its children's included
    double system_seconds = 0; // of which the kernel's
};
ProcessExit wait_process(pid_t pid);
// Waits until the child stops itself (SIGSTOP) or ends: true when it
// stopped (it stays stopped), false with how it ended in `exit`.
[[nodiscard]] bool wait_stopped(pid_t pid, ProcessExit* exit);

struct ProcessRun : ProcessExit {
    Error error; // why it could not be started
    double seconds = 0;
    int64_t started_ns = 0; // monotonic clock just before the start
    std::string out, err; // its output, when captured
};

// Starts the program and waits for it; with `capture`, its standard output
// and error are collected.
[[nodiscard]] ProcessRun run_process(const SpawnRequest& request, bool capture = false);
