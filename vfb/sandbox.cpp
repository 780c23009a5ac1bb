#include "vfb/sandbox.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

static bool write_text(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    bool written = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        (void)close(fd);
    return written;
}

Error enter_device_sandbox()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        // Unprivileged: a user namespace of our own grants the mount.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !write_text("/proc/self/setgroups", "deny")
            || !write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return input_error(std::string("cannot make a private mount namespace: ") + std::strerror(errno));
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("pelimora-dev", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0)
        return input_error(std::string("cannot put a tmpfs over /dev: ") + std::strerror(errno));
    return {};
}
