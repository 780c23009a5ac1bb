// The C library entry points the virtual devices interpose, each handing the
// call to the device it is for; every other call goes on to the C library.
#include "core/devices.h"
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>

namespace vdev {
namespace {

// The kernel's command line, its framebuffer list, the console's sysfs and
// the modules' parameters, from the caller's stand-in; never the host's.
bool is_system_path(const char* path)
{
    return !strcmp(path, "/proc/cmdline") || !strcmp(path, "/proc/fb")
        || !strncmp(path, "/sys/class/graphics/", 20) || !strncmp(path, "/sys/class/vtconsole/", 21)
        || !strncmp(path, "/sys/module/", 12);
}

int open_system(const char* path, int flags, int (*real_open)(const char*, int, ...))
{
    char stand_in[512];
    if (!config.system
        || snprintf(stand_in, sizeof stand_in, "%s%s", config.system, path) >= int(sizeof stand_in))
        return fail(ENOENT);
    return real_open(stand_in, flags & ~(O_CREAT | O_TRUNC | O_WRONLY | O_RDWR));
}

int open_device(const char* path, int flags, mode_t mode)
{
    int fd = frame_open(path, flags, mode);
    if (fd != -2)
        return fd;
    if (!strcmp(path, FB_PATH))
        return fb_open(flags);
    if (!strcmp(path, TTY_PATH))
        return tty_open(flags);
    if (!strcmp(path, KMSG_PATH))
        return kmsg_open(flags);
    if (!strncmp(path, "/dev/dri/card", 13))
        return drm_open(path, flags);
    if (!strncmp(path, "/dev/", 5) || !strcmp(path, "/dev")) {
        Event e = event(EventKind::refuse, Device::none, -1);
        snprintf(e.path, sizeof e.path, "%s", path);
        log_event(e);
        return fail(EACCES);
    }
    return -2; // not ours
}

int do_open(const char* path, int flags, mode_t mode, int (*real_open)(const char*, int, ...))
{
    if (path && is_system_path(path))
        return open_system(path, flags, real_open);
    int fd = path ? open_device(path, flags, mode) : -2;
    return fd != -2 ? fd : real_open(path, flags, mode);
}

mode_t mode_arg(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

void* do_mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset)
{
    Device device = device_of(fd);
    if (device == Device::fb)
        return fb_mmap(len, prot, flags, fd, offset);
    if (device == Device::drm)
        return drm_mmap(len, prot, flags, offset);
    Event e = event(EventKind::mmap, device, -1);
    e.length = int64_t(len), e.prot = prot, e.flags = flags, e.offset = offset;
    if (device == Device::frame && frame_mmap_fails(fd)) {
        log_event(e);
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* result = REAL(mmap)(addr, len, prot, flags, fd, offset);
    if (device == Device::frame) {
        int error = errno;
        e.rc = result == MAP_FAILED ? -1 : 0;
        log_event(e);
        if (result != MAP_FAILED)
            add_mapping({ static_cast<uint8_t*>(result), len, 0, Device::frame });
        errno = error;
    }
    return result;
}

// fstat on a frame file, with its failure injected where asked.
int fstat_frame(int fd, struct stat* info, int (*real)(int, struct stat*))
{
    OpenFile* file = find_open(fd, false);
    if (file && file->device == Device::frame) {
        bool failing = frame_fstat_fails(fd);
        Event e = event(EventKind::fstat, Device::frame, failing ? -1 : 0);
        memcpy(e.path, file->path, sizeof e.path);
        log_event(e);
        if (failing)
            return fail(EIO);
    }
    return real(fd, info);
}

} // namespace
} // namespace vdev

using namespace vdev;

extern "C" {

// Every name the C library may bind an open to; the mode is there only with O_CREAT or O_TMPFILE.
#define VDEV_OPEN(name)                                                                                      \
    int name(const char* path, int flags, ...)                                                               \
    {                                                                                                        \
        va_list args;                                                                                        \
        va_start(args, flags);                                                                               \
        mode_t mode = mode_arg(flags, args);                                                                 \
        va_end(args);                                                                                        \
        return do_open(path, flags, mode, next<int (*)(const char*, int, ...)>(#name));                      \
    }
#define VDEV_OPENAT(name)                                                                                    \
    int name(int dirfd, const char* path, int flags, ...)                                                    \
    {                                                                                                        \
        va_list args;                                                                                        \
        va_start(args, flags);                                                                               \
        mode_t mode = mode_arg(flags, args);                                                                 \
        va_end(args);                                                                                        \
        if (path[0] == '/' && is_system_path(path))                                                          \
            return open_system(path, flags, next<int (*)(const char*, int, ...)>("open"));                   \
        int fd = path[0] == '/' ? open_device(path, flags, mode) : -2;                                       \
        return fd != -2 ? fd : next<int (*)(int, const char*, int, ...)>(#name)(dirfd, path, flags, mode);   \
    }
VDEV_OPEN(open)
VDEV_OPEN(open64)
VDEV_OPENAT(openat)
VDEV_OPENAT(openat64)

int __open_2(const char* path, int flags)
{
    return do_open(path, flags, 0, next<int (*)(const char*, int, ...)>("open"));
}
int __open64_2(const char* path, int flags)
{
    return do_open(path, flags, 0, next<int (*)(const char*, int, ...)>("open64"));
}

int close(int fd)
{
    if (OpenFile* f = find_open(fd, false)) {
        Event e = event(EventKind::close, f->device);
        memcpy(e.path, f->path, sizeof e.path);
        log_event(e);
        f->fd = -1;
    }
    return REAL(close)(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    switch (Device device = device_of(fd)) {
    case Device::fb: return fb_ioctl(request, arg);
    case Device::tty: return tty_ioctl(request, arg);
    case Device::drm: return drm_ioctl(request, arg);
    case Device::kmsg:
    case Device::frame: {
        Event e = event(EventKind::ioctl, device, -1);
        e.request = int64_t(request);
        log_event(e);
        return fail(ENOTTY);
    }
    default: return next<int (*)(int, unsigned long, void*)>("ioctl")(fd, request, arg);
    }
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset)
{
    return do_mmap(addr, len, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t offset)
{
    return do_mmap(addr, len, prot, flags, fd, offset);
}

int munmap(void* addr, size_t len)
{
    Mapping* m = find_mapping(addr);
    if (!m)
        return REAL(munmap)(addr, len);
    Event e = event(EventKind::munmap, m->device);
    e.length = int64_t(len);
    log_event(e);
    size_t whole = len;
    if (m->device == Device::fb) {
        fb_unmapping(*m);
        whole = m->reserved;
    }
    *m = {};
    return REAL(munmap)(addr, whole);
}

ssize_t write(int fd, const void* data, size_t len)
{
    if (device_of(fd) == Device::kmsg) {
        Event e = event(EventKind::write, Device::kmsg);
        e.length = int64_t(len);
        log_event(e);
    }
    return REAL(write)(fd, data, len);
}

// The kernel's own names, but for the machine when the run pretends another.
int uname(struct utsname* names)
{
    int rc = REAL(uname)(names);
    if (rc == 0 && config.machine)
        snprintf(names->machine, sizeof names->machine, "%s", config.machine);
    return rc;
}

int fstat(int fd, struct stat* info)
{
    return fstat_frame(fd, info, REAL(fstat));
}
int fstat64(int fd, struct stat64* info)
{
    return fstat_frame(fd, reinterpret_cast<struct stat*>(info),
        reinterpret_cast<int (*)(int, struct stat*)>(REAL(fstat64)));
}

} // extern "C"
