// Virtual devices for the host build of the player, preloaded with LD_PRELOAD.
//
// Stands in for the framebuffer, the console and the kernel log, redirects
// /bootimages/ to a directory of the caller's, and refuses every other path
// under /dev, so the player never reaches a real device. Configured through
// the environment (see vdev_run.h) and reports every device call, one line
// each, to the file named by VDEV_LOG.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/kd.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

enum class Kind { none, fb, tty, kmsg, frame };
const char* kind_name(Kind kind)
{
    switch (kind) {
    case Kind::fb: return "fb";
    case Kind::tty: return "tty";
    case Kind::kmsg: return "kmsg";
    case Kind::frame: return "frame";
    default: return "other";
    }
}

struct Config {
    bool fb = false;
    uint32_t xres = 0, yres = 0, bpp = 0, xres_virtual = 0, yres_virtual = 0, line_length = 0;
    bool fail_open = false, fail_fix = false, fail_var = false, fail_mmap = false, fail_pan = false;
    int fail_frame_open = 0, fail_frame_fstat = 0, fail_frame_mmap = 0; // frame numbers, 0 for none
    enum { tty_ok, tty_missing, tty_refuse } tty = tty_ok;
    const char* kmsg = nullptr;
    const char* bootimages = nullptr;
    const char* snapshots = nullptr;
    long signal_us = 0;
    bool clock = false;
};
Config config;
int log_fd = -1;
int fb_memory = -1; // the framebuffer's memory, there before the player starts

struct OpenFile {
    int fd = -1;
    Kind kind = Kind::none;
    dev_t dev = 0;
    ino_t ino = 0;
    char path[96] = "";
};
OpenFile open_files[64];

struct Mapping {
    uint8_t* addr = nullptr;
    size_t len = 0, reserved = 0; // reserved includes the page-rounded tail and the guard page
    Kind kind = Kind::none;
};
Mapping mappings[16];

constexpr uint8_t CANARY = 0xA5;
int pans = 0;
std::atomic<int> signals_delivered { 0 };
std::atomic<bool> stopping { false };
pthread_t main_thread, signal_thread;
bool signal_thread_running = false;

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
// The next definition of a C library function, looked up once.
#define REAL(name)                                                                                           \
    ([] {                                                                                                    \
        static auto real = next<decltype(&::name)>(#name);                                                   \
        return real;                                                                                         \
    }())

void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log(const char* format, ...)
{
    if (log_fd < 0)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > static_cast<int>(sizeof line) - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    // Straight to the kernel: our own write() is interposed.
    syscall(SYS_write, log_fd, line, n);
}

bool parse_pair(const char* text, uint32_t* a, uint32_t* b)
{
    return text && sscanf(text, "%ux%u", a, b) == 2;
}

size_t page_size()
{
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
}
size_t round_up(size_t n, size_t to)
{
    return (n + to - 1) / to * to;
}

uint32_t smem_len()
{
    uint64_t bytes = uint64_t(config.line_length) * config.yres_virtual;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

void on_signal(int)
{
    signals_delivered.fetch_add(1, std::memory_order_relaxed);
}

void* send_signals(void*)
{
    timespec interval = { config.signal_us / 1000000, config.signal_us % 1000000 * 1000 };
    while (!stopping.load()) {
        clock_nanosleep(CLOCK_MONOTONIC, 0, &interval, nullptr);
        if (!stopping.load())
            pthread_kill(main_thread, SIGUSR1);
    }
    return nullptr;
}

__attribute__((constructor)) void vdev_init()
{
    if (const char* path = getenv("VDEV_LOG"))
        log_fd = static_cast<int>(
            syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (const char* fb = getenv("VDEV_FB")) {
        config.fb = sscanf(fb, "%ux%ux%u", &config.xres, &config.yres, &config.bpp) == 3;
        config.xres_virtual = config.xres, config.yres_virtual = config.yres;
        parse_pair(getenv("VDEV_FB_VIRTUAL"), &config.xres_virtual, &config.yres_virtual);
        uint64_t line = uint64_t(config.xres_virtual) * config.bpp / 8;
        config.line_length = line > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(line);
        if (const char* l = getenv("VDEV_FB_LINE"))
            config.line_length = static_cast<uint32_t>(strtoul(l, nullptr, 0));
    }
    if (config.fb) {
        // Allocated up front, as device memory is, unless absurdly large.
        off_t size = static_cast<off_t>(round_up(smem_len(), page_size()));
        fb_memory = memfd_create("vdev-fb0", MFD_CLOEXEC);
        if (fb_memory >= 0 && ftruncate(fb_memory, size) == 0 && size <= (off_t(256) << 20))
            fallocate(fb_memory, 0, 0, size);
    }
    if (const char* fail = getenv("VDEV_FAIL")) {
        config.fail_open = strstr(fail, "fb-open");
        config.fail_fix = strstr(fail, "fb-fix");
        config.fail_var = strstr(fail, "fb-var");
        config.fail_mmap = strstr(fail, "fb-mmap");
        config.fail_pan = strstr(fail, "fb-pan");
        auto frame_number = [fail](const char* point) {
            const char* at = strstr(fail, point);
            return at ? atoi(at + strlen(point)) : 0;
        };
        config.fail_frame_open = frame_number("frame-open:");
        config.fail_frame_fstat = frame_number("frame-fstat:");
        config.fail_frame_mmap = frame_number("frame-mmap:");
    }
    if (const char* tty = getenv("VDEV_TTY"))
        config.tty = !strcmp(tty, "missing") ? Config::tty_missing
            : !strcmp(tty, "refuse")         ? Config::tty_refuse
                                             : Config::tty_ok;
    config.kmsg = getenv("VDEV_KMSG");
    config.bootimages = getenv("VDEV_BOOTIMAGES");
    config.snapshots = getenv("VDEV_SNAPSHOTS");
    config.clock = getenv("VDEV_CLOCK") != nullptr;
    if (config.clock) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        log("clock start=%lld", now.tv_sec * 1000000000LL + now.tv_nsec);
    }
    if (const char* us = getenv("VDEV_SIGNAL_US"))
        config.signal_us = strtol(us, nullptr, 10);
    if (config.signal_us > 0) {
        // No SA_RESTART: every signal interrupts whatever the player waits in.
        struct sigaction action = {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        main_thread = pthread_self();
        signal_thread_running = pthread_create(&signal_thread, nullptr, send_signals, nullptr) == 0;
    }
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

Kind kind_of(int fd)
{
    OpenFile* f = find_open(fd, true);
    return f ? f->kind : Kind::none;
}

void track(int fd, Kind kind, const char* path)
{
    struct stat info;
    if (fd < 0 || syscall(SYS_fstat, fd, &info) != 0)
        return;
    for (OpenFile& f : open_files)
        if (f.fd < 0) {
            f.fd = fd, f.kind = kind, f.dev = info.st_dev, f.ino = info.st_ino;
            snprintf(f.path, sizeof f.path, "%s", path);
            return;
        }
    log("error too-many-open-files");
}

int fail(int error)
{
    errno = error;
    return -1;
}

int open_fb(int flags)
{
    if (!config.fb || config.fail_open) {
        log("open fb flags=0x%x rc=-1", flags);
        return fail(ENOENT);
    }
    int fd = fb_memory >= 0 ? fcntl(fb_memory, F_DUPFD, 0) : -1;
    log("open fb flags=0x%x rc=%d", flags, fd);
    track(fd, Kind::fb, "/dev/graphics/fb0");
    return fd;
}

int open_memfd_device(Kind kind, const char* path, int flags)
{
    int fd = memfd_create(path, 0);
    log("open %s flags=0x%x rc=%d", kind_name(kind), flags, fd);
    track(fd, kind, path);
    return fd;
}

// 7 for "/bootimages/Loop_7.rle", otherwise 0.
int frame_number(const char* path)
{
    int n = 0;
    return sscanf(path, "/bootimages/Loop_%d.rle", &n) == 1 ? n : 0;
}

int open_device(const char* path, int flags, mode_t mode)
{
    if (!strncmp(path, "/bootimages/", 12) && config.fail_frame_open
        && frame_number(path) == config.fail_frame_open) {
        log("open frame %s flags=0x%x rc=-1", path, flags);
        return fail(EACCES);
    }
    if (!strncmp(path, "/bootimages/", 12)) {
        char redirected[4096];
        snprintf(redirected, sizeof redirected, "%s/%s",
            config.bootimages ? config.bootimages : "/nonexistent", path + 12);
        int fd = REAL(open)(redirected, flags, mode);
        int error = errno;
        log("open frame %s flags=0x%x rc=%d", path, flags, fd);
        track(fd, Kind::frame, path);
        errno = error;
        return fd;
    }
    if (!strcmp(path, "/dev/graphics/fb0"))
        return open_fb(flags);
    if (!strcmp(path, "/dev/tty0")) {
        if (config.tty == Config::tty_missing) {
            log("open tty flags=0x%x rc=-1", flags);
            return fail(ENOENT);
        }
        return open_memfd_device(Kind::tty, "vdev-tty0", flags);
    }
    if (!strcmp(path, "/dev/kmsg")) {
        int fd = config.kmsg ? REAL(open)(config.kmsg, (flags & O_ACCMODE) | O_CREAT | O_APPEND, 0644) : -1;
        log("open kmsg flags=0x%x rc=%d", flags, fd);
        if (fd < 0)
            return fail(EACCES);
        track(fd, Kind::kmsg, path);
        return fd;
    }
    if (!strncmp(path, "/dev/", 5) || !strcmp(path, "/dev")) {
        log("refuse %s", path);
        return fail(EACCES);
    }
    return -2; // not ours
}

int do_open(const char* path, int flags, mode_t mode, int (*real_open)(const char*, int, ...))
{
    int fd = path ? open_device(path, flags, mode) : -2;
    return fd != -2 ? fd : real_open(path, flags, mode);
}

mode_t mode_arg(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

void check_canary(const Mapping& m)
{
    size_t tail = round_up(m.len, page_size());
    for (const uint8_t* p = m.addr + m.len; p < m.addr + tail; ++p)
        if (*p != CANARY) {
            log("overrun fb offset=%zu", static_cast<size_t>(p - m.addr));
            return;
        }
}

Mapping* fb_mapping()
{
    for (Mapping& m : mappings)
        if (m.addr && m.kind == Kind::fb)
            return &m;
    return nullptr;
}

void* map_fb(size_t len, int prot, int flags, int fd, off_t offset)
{
    auto real_mmap = REAL(mmap);
    log("mmap fb len=%zu prot=%d flags=0x%x offset=%lld", len, prot, flags, static_cast<long long>(offset));
    if (config.fail_mmap || len == 0 || offset < 0 || uint64_t(offset) + len > smem_len()) {
        log("mmap fb rc=-1");
        errno = EINVAL;
        return MAP_FAILED;
    }
    // A guard page right after the rounded-up mapping faults on any write past
    // it; the canary in the rounding slack catches smaller overruns.
    size_t page = page_size(), mapped = round_up(len, page);
    void* region = real_mmap(nullptr, mapped + page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        return MAP_FAILED;
    // Populated at once, as a device's memory is: no page faults while drawing.
    void* addr = real_mmap(region, mapped, prot, flags | MAP_FIXED | MAP_POPULATE, fd, offset);
    if (addr == MAP_FAILED) {
        munmap(region, mapped + page);
        return MAP_FAILED;
    }
    if (size_t slack = mapped - len) {
        uint8_t canary[65536];
        memset(canary, CANARY, sizeof canary);
        for (size_t done = 0; done < slack;)
            done += pwrite(fd, canary, slack - done < sizeof canary ? slack - done : sizeof canary,
                static_cast<off_t>(uint64_t(offset) + len + done));
    }
    for (Mapping& m : mappings)
        if (!m.addr) {
            m = { static_cast<uint8_t*>(addr), len, mapped + page, Kind::fb };
            break;
        }
    log("mmap fb rc=0");
    return addr;
}

void* do_mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset)
{
    Kind kind = kind_of(fd);
    if (kind == Kind::fb)
        return map_fb(len, prot, flags, fd, offset);
    OpenFile* file = kind == Kind::frame ? find_open(fd, false) : nullptr;
    if (file && config.fail_frame_mmap && frame_number(file->path) == config.fail_frame_mmap) {
        log("mmap frame len=%zu prot=%d flags=0x%x offset=%lld rc=-1", len, prot, flags,
            static_cast<long long>(offset));
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* result = REAL(mmap)(addr, len, prot, flags, fd, offset);
    if (kind == Kind::frame) {
        int error = errno;
        log("mmap frame len=%zu prot=%d flags=0x%x offset=%lld rc=%d", len, prot, flags,
            static_cast<long long>(offset), result == MAP_FAILED ? -1 : 0);
        if (result != MAP_FAILED)
            for (Mapping& m : mappings)
                if (!m.addr) {
                    m = { static_cast<uint8_t*>(result), len, 0, Kind::frame };
                    break;
                }
        errno = error;
    }
    return result;
}

void snapshot(const Mapping& m)
{
    if (!config.snapshots)
        return;
    int fd = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, config.snapshots, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    for (size_t done = 0; fd >= 0 && done < m.len;) {
        long n = syscall(SYS_write, fd, m.addr + done, m.len - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (fd >= 0)
        syscall(SYS_close, fd);
}

int fb_ioctl(unsigned long request, void* arg)
{
    switch (request) {
    case FBIOGET_FSCREENINFO: {
        if (config.fail_fix) {
            log("ioctl fb fix rc=-1");
            return fail(EIO);
        }
        fb_fix_screeninfo fix = {};
        snprintf(fix.id, sizeof fix.id, "vdev");
        fix.smem_len = smem_len();
        fix.type = FB_TYPE_PACKED_PIXELS;
        fix.visual = FB_VISUAL_TRUECOLOR;
        fix.line_length = config.line_length;
        fix.ypanstep = 1;
        memcpy(arg, &fix, sizeof fix);
        log("ioctl fb fix rc=0");
        return 0;
    }
    case FBIOGET_VSCREENINFO: {
        if (config.fail_var) {
            log("ioctl fb var rc=-1");
            return fail(EIO);
        }
        fb_var_screeninfo var = {};
        var.xres = config.xres, var.yres = config.yres;
        var.xres_virtual = config.xres_virtual, var.yres_virtual = config.yres_virtual;
        var.bits_per_pixel = config.bpp;
        if (config.bpp == 16)
            var.red = { 11, 5, 0 }, var.green = { 5, 6, 0 }, var.blue = { 0, 5, 0 };
        else
            var.red = { 0, 8, 0 }, var.green = { 8, 8, 0 }, var.blue = { 16, 8, 0 },
            var.transp = { 24, 8, 0 };
        memcpy(arg, &var, sizeof var);
        log("ioctl fb var rc=0");
        return 0;
    }
    case FBIOPAN_DISPLAY: {
        const fb_var_screeninfo* var = static_cast<const fb_var_screeninfo*>(arg);
        int rc = config.fail_pan ? -1 : 0;
        if (config.clock) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            log("clock pan=%lld", now.tv_sec * 1000000000LL + now.tv_nsec);
        }
        log("pan n=%d xres=%u yres=%u bpp=%u xoffset=%u yoffset=%u rc=%d", ++pans, var->xres, var->yres,
            var->bits_per_pixel, var->xoffset, var->yoffset, rc);
        if (Mapping* m = fb_mapping()) {
            check_canary(*m);
            snapshot(*m);
        } else {
            log("error pan-without-mapping");
        }
        return rc ? fail(EINVAL) : 0;
    }
    default: log("ioctl fb request=0x%lx rc=-1", request); return fail(ENOTTY);
    }
}

} // namespace

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
        log("close %s %s", kind_name(f->kind), f->path);
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
    switch (kind_of(fd)) {
    case Kind::fb: return fb_ioctl(request, arg);
    case Kind::tty:
        if (request == KDSETMODE) {
            int rc = config.tty == Config::tty_refuse ? -1 : 0;
            log("ioctl tty kdsetmode mode=%lu rc=%d", reinterpret_cast<unsigned long>(arg), rc);
            return rc ? fail(EINVAL) : 0;
        }
        log("ioctl tty request=0x%lx rc=-1", request);
        return fail(ENOTTY);
    case Kind::kmsg:
    case Kind::frame: log("ioctl other request=0x%lx rc=-1", request); return fail(ENOTTY);
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
    for (Mapping& m : mappings)
        if (m.addr && m.addr == addr) {
            log("munmap %s len=%zu", kind_name(m.kind), len);
            size_t whole = len;
            if (m.kind == Kind::fb) {
                check_canary(m);
                whole = m.reserved;
            }
            m = {};
            return REAL(munmap)(addr, whole);
        }
    return REAL(munmap)(addr, len);
}

ssize_t write(int fd, const void* data, size_t len)
{
    if (kind_of(fd) == Kind::kmsg)
        log("write kmsg len=%zu", len);
    return REAL(write)(fd, data, len);
}

// fstat on a frame file, with its failure injected where asked.
static int fstat_frame(int fd, struct stat* info, int (*real)(int, struct stat*))
{
    OpenFile* file = find_open(fd, false);
    if (file && file->kind == Kind::frame) {
        bool failing = config.fail_frame_fstat && frame_number(file->path) == config.fail_frame_fstat;
        log("fstat frame %s rc=%d", file->path, failing ? -1 : 0);
        if (failing)
            return fail(EIO);
    }
    return real(fd, info);
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

int nanosleep(const struct timespec* request, struct timespec* remaining)
{
    // The player passes the same record for both; note what was asked first.
    timespec asked = request ? *request : timespec {};
    int rc = REAL(nanosleep)(request, remaining);
    int error = errno;
    log("sleep request=%ld.%09ld rc=%d errno=%d remaining=%ld.%09ld", static_cast<long>(asked.tv_sec),
        asked.tv_nsec, rc, rc ? error : 0, rc && remaining ? static_cast<long>(remaining->tv_sec) : 0L,
        rc && remaining ? remaining->tv_nsec : 0L);
    errno = error;
    return rc;
}

__attribute__((destructor)) void vdev_exit()
{
    if (signal_thread_running) {
        stopping.store(true);
        pthread_join(signal_thread, nullptr);
    }
    for (const OpenFile& f : open_files)
        if (f.fd >= 0)
            log("leak %s %s fd=%d", kind_name(f.kind), f.path, f.fd);
    log("exit signals=%d", signals_delivered.load());
}

} // extern "C"
