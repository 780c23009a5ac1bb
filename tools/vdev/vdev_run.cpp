#include "vdev_run.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

std::vector<std::string> PlayerRun::lines(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const std::string& line : log)
        if (line.starts_with(prefix))
            out.push_back(line);
    return out;
}

PlayerPaths built_player()
{
    return { PELIMORA_HOST_BINARY, PELIMORA_VDEV_LIBRARY, PELIMORA_PRELOAD_FIRST };
}

static std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

PlayerRun run_player(const PlayerPaths& paths, const VirtualDevices& devices, const fs::path& frames,
    const std::vector<std::string>& args)
{
    PlayerRun run;
    char pattern[] = "/tmp/pelimora-vdev-XXXXXX";
    if (!mkdtemp(pattern)) {
        run.error = std::string("cannot make a scratch directory: ") + std::strerror(errno);
        return run;
    }
    fs::path scratch = pattern;

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!std::string_view(*e).starts_with("VDEV_") && !std::string_view(*e).starts_with("LD_PRELOAD="))
            env.emplace_back(*e);
    std::string preload = paths.vdev.string();
    if (!paths.preload_first.empty())
        preload = paths.preload_first + ":" + preload;
    env.push_back("LD_PRELOAD=" + preload);
    env.push_back("VDEV_LOG=" + (scratch / "log").string());
    env.push_back("VDEV_SNAPSHOTS=" + (scratch / "screens").string());
    env.push_back("VDEV_BOOTIMAGES=" + fs::absolute(frames).string());
    env.push_back("VDEV_TTY=" + devices.tty);
    if (!devices.fb.empty())
        env.push_back("VDEV_FB=" + devices.fb);
    if (!devices.fb_virtual.empty())
        env.push_back("VDEV_FB_VIRTUAL=" + devices.fb_virtual);
    if (!devices.fb_line.empty())
        env.push_back("VDEV_FB_LINE=" + devices.fb_line);
    if (!devices.fail.empty())
        env.push_back("VDEV_FAIL=" + devices.fail);
    if (devices.kmsg)
        env.push_back("VDEV_KMSG=" + (scratch / "kmsg").string());
    if (devices.clock)
        env.push_back("VDEV_CLOCK=1");
    if (devices.signal_us > 0)
        env.push_back("VDEV_SIGNAL_US=" + std::to_string(devices.signal_us));

    std::vector<std::string> argv_text = { paths.player.string() };
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    run.started_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    pid_t pid;
    int error = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
    if (error) {
        run.error = "cannot start " + paths.player.string() + ": " + std::strerror(error);
    } else {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (WIFEXITED(status))
            run.exit_status = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            run.term_signal = WTERMSIG(status);
    }

    std::istringstream log(read_file(scratch / "log"));
    size_t screen_bytes = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("mmap fb len="))
            screen_bytes = std::stoul(line.substr(12));
        run.log.push_back(line);
    }
    run.kmsg = read_file(scratch / "kmsg");
    std::string screens = read_file(scratch / "screens");
    for (size_t at = 0; screen_bytes && at + screen_bytes <= screens.size(); at += screen_bytes)
        run.screens.emplace_back(screens.begin() + at, screens.begin() + at + screen_bytes);
    fs::remove_all(scratch);
    return run;
}

static bool write_text(const char* path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    return bool(out.flush());
}

bool enter_device_sandbox(std::string* why)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        // Unprivileged: a user namespace of our own grants the mount.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !write_text("/proc/self/setgroups", "deny")
            || !write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            *why = std::string("cannot make a private mount namespace: ") + std::strerror(errno);
            return false;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("pelimora-dev", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) {
        *why = std::string("cannot put a tmpfs over /dev: ") + std::strerror(errno);
        return false;
    }
    return true;
}
