#include "lib/process.h"

#include "lib/interrupt.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// A nameless file in memory, read back after the child is done.
int scratch_file()
{
    return memfd_create("pelimora-output", MFD_CLOEXEC);
}

std::string read_back(int fd)
{
    std::string text;
    char buffer[65536];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
        at += n;
    }
    return text;
}

} // namespace

Error spawn_process(SpawnRequest request, pid_t* started)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int sources[3] = { request.stdin_fd, request.stdout_fd, request.stderr_fd };
    for (int target = 0; target < 3; ++target)
        if (sources[target] >= 0)
            posix_spawn_file_actions_adddup2(&actions, sources[target], target);
    std::vector<char*> argv = pointers(request.argv);
    std::vector<char*> envp = pointers(request.env);
    char** env = request.env.empty() ? environ : envp.data();
    pid_t pid = -1;
    *started = -1;
    int result = request.search_path ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env)
                                     : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        return input_error("cannot start " + request.argv[0] + ": " + std::strerror(result));
    *started = pid;
    return {};
}

ProcessExit wait_process(pid_t pid)
{
    ProcessExit exit;
    int status = 0;
    bool forwarded = false;
    struct rusage usage = {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return exit;
        // Asked to stop: the child is asked too, and then waited for.
        if (interrupt_signal() && !forwarded)
            forwarded = kill(pid, SIGTERM) == 0;
    }
    exit.peak_kib = usage.ru_maxrss;
    exit.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    exit.system_seconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    if (WIFEXITED(status))
        exit.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exit.term_signal = WTERMSIG(status);
    return exit;
}

bool wait_stopped(pid_t pid, ProcessExit* exit)
{
    int status = 0;
    while (waitpid(pid, &status, WUNTRACED) < 0)
        if (errno != EINTR)
            return false;
    if (WIFSTOPPED(status))
        return true;
    *exit = {};
    if (WIFEXITED(status))
        exit->exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exit->term_signal = WTERMSIG(status);
    return false;
}

ProcessRun run_process(const SpawnRequest& request, bool capture)
{
    ProcessRun run;
    SpawnRequest started = request;
    int out = -1, err = -1;
    if (capture) {
        out = scratch_file(), err = scratch_file();
        started.stdout_fd = out, started.stderr_fd = err;
    }
    auto start = std::chrono::steady_clock::now();
    run.started_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    pid_t pid = -1;
    run.error = spawn_process(started, &pid);
    if (!run.error) {
        static_cast<ProcessExit&>(run) = wait_process(pid);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (capture) {
        run.out = read_back(out), run.err = read_back(err);
        (void)close(out), (void)close(err);
    }
    return run;
}
