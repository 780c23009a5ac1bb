// The library's load and unload, and the bookkeeping of descriptors and
// mappings that the devices share.
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace vdev {

Config config;
namespace {
int log_fd = -1;
OpenFile open_files[64];
Mapping mappings[16];
} // namespace

Event event(EventKind kind, Device device, int64_t rc)
{
    Event e;
    e.kind = kind;
    e.device = device;
    e.rc = rc;
    return e;
}

void log_event(const Event& e)
{
    if (log_fd < 0)
        return;
    char line[EVENT_LINE_SIZE];
    int n = format_event(e, line, sizeof line - 1);
    line[n++] = '\n';
    // Straight to the kernel: our own write() is interposed.
    syscall(SYS_write, log_fd, line, n);
}

int64_t monotonic_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

int fail(int error)
{
    errno = error;
    return -1;
}

OpenFile* find_open(int fd, bool by_inode)
{
    struct stat info;
    if (fd < 0 || syscall(SYS_fstat, fd, &info) != 0)
        return nullptr;
    for (OpenFile& f : open_files)
        if (f.fd >= 0 && f.dev == info.st_dev && f.ino == info.st_ino && (by_inode || f.fd == fd))
            return &f;
    return nullptr;
}

Device device_of(int fd)
{
    OpenFile* f = find_open(fd, true);
    return f ? f->device : Device::none;
}

void track(int fd, Device device, const char* path)
{
    struct stat info;
    if (fd < 0 || syscall(SYS_fstat, fd, &info) != 0)
        return;
    for (OpenFile& f : open_files)
        if (f.fd < 0) {
            f.fd = fd, f.device = device, f.dev = info.st_dev, f.ino = info.st_ino;
            snprintf(f.path, sizeof f.path, "%s", path);
            return;
        }
    Event e = event(EventKind::error, device, -1);
    snprintf(e.path, sizeof e.path, "too many open files");
    log_event(e);
}

Mapping* add_mapping(const Mapping& mapping)
{
    for (Mapping& m : mappings)
        if (!m.addr)
            return &(m = mapping);
    return nullptr;
}

Mapping* find_mapping(const void* addr)
{
    for (Mapping& m : mappings)
        if (m.addr && m.addr == addr)
            return &m;
    return nullptr;
}

namespace {

__attribute__((constructor)) void load()
{
    if (getenv(VDEV_LOAD_CHECK))
        _exit(VDEV_LOADED_STATUS);
    if (const char* path = getenv(VDEV_LOG))
        log_fd = static_cast<int>(
            syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (const char* tty = getenv(VDEV_TTY))
        config.tty = !strcmp(tty, "missing") ? Config::tty_missing
            : !strcmp(tty, "refuse")         ? Config::tty_refuse
                                             : Config::tty_ok;
    config.kmsg = getenv(VDEV_KMSG);
    config.bootimages = getenv(VDEV_BOOTIMAGES);
    config.snapshots = getenv(VDEV_SNAPSHOTS);
    config.clock = getenv(VDEV_CLOCK) != nullptr;
    config.fb_id = getenv(VDEV_FB_ID);
    config.machine = getenv(VDEV_MACHINE);
    config.system = getenv(VDEV_SYSTEM);
    Event started = event(EventKind::start, Device::none);
    started.clock_ns = config.clock ? monotonic_ns() : 0;
    log_event(started);
    fb_load();
    drm_load();
    faults_load();
    signals_start();
}

__attribute__((destructor)) void unload()
{
    signals_stop();
    for (const OpenFile& f : open_files)
        if (f.fd >= 0) {
            Event e = event(EventKind::leak, f.device, f.fd);
            memcpy(e.path, f.path, sizeof e.path);
            log_event(e);
        }
    Event e = event(EventKind::exit, Device::none);
    e.signals = signals_delivered();
    log_event(e);
}

} // namespace
} // namespace vdev
