// The framebuffer: a geometry chosen by the test, memory in a memfd that
// exists before the player starts, a guard page and a canary after the
// mapping, and the screen captured at every pan.
#include "core/devices.h"
#include "vfb/vdev/vdev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vdev {
namespace {

constexpr uint8_t CANARY = 0xA5;
constexpr off_t PREALLOCATED_MAX = off_t(256) << 20;
int memory = -1; // the framebuffer's memory
int pans = 0;

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

void check_canary(const Mapping& m)
{
    size_t tail = round_up(m.len, page_size());
    for (const uint8_t* p = m.addr + m.len; p < m.addr + tail; ++p)
        if (*p != CANARY) {
            Event e = event(EventKind::overrun, Device::fb);
            e.offset = p - m.addr;
            log_event(e);
            return;
        }
}

Mapping* current = nullptr; // the player's mapping of the screen

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

} // namespace

void fb_load()
{
    FbSettings& s = config.fb_settings;
    if (!(config.fb = fb_from_env(
              getenv(VDEV_FB), getenv(VDEV_FB_VIRTUAL), getenv(VDEV_FB_LINE), getenv(VDEV_FB_CHANNELS), &s)))
        return;
    config.xres = s.xres, config.yres = s.yres, config.bpp = s.bits_per_pixel;
    config.xres_virtual = s.xres_virtual ? s.xres_virtual : s.xres;
    config.yres_virtual = s.yres_virtual ? s.yres_virtual : s.yres;
    uint64_t line = uint64_t(config.xres_virtual) * config.bpp / 8;
    config.line_length = s.line_length ? s.line_length
        : line > UINT32_MAX            ? UINT32_MAX
                                       : static_cast<uint32_t>(line);
    // Allocated up front, as device memory is, unless absurdly large.
    off_t size = static_cast<off_t>(round_up(smem_len(), page_size()));
    memory = memfd_create("vdev-fb0", MFD_CLOEXEC);
    if (memory >= 0 && ftruncate(memory, size) == 0 && size <= PREALLOCATED_MAX)
        fallocate(memory, 0, 0, size);
}

int fb_open(int flags)
{
    Event e = event(EventKind::open, Device::fb, -1);
    e.flags = flags;
    if (!config.fb || faults.fb_open || drm_replaces_fb()) {
        log_event(e);
        return fail(ENOENT);
    }
    int fd = memory >= 0 ? fcntl(memory, F_DUPFD, 0) : -1;
    e.rc = fd;
    log_event(e);
    track(fd, Device::fb, FB_PATH);
    return fd;
}

void* fb_mmap(size_t len, int prot, int flags, int fd, off_t offset)
{
    Event e = event(EventKind::mmap, Device::fb, -1);
    e.length = int64_t(len), e.prot = prot, e.flags = flags, e.offset = offset;
    if (faults.fb_mmap || len == 0 || offset < 0 || uint64_t(offset) + len > smem_len()) {
        log_event(e);
        errno = EINVAL;
        return MAP_FAILED;
    }
    // A guard page right after the rounded-up mapping faults on any write past
    // it; the canary in the rounding slack catches smaller overruns.
    auto real_mmap = REAL(mmap);
    size_t page = page_size(), mapped = round_up(len, page);
    void* region = real_mmap(nullptr, mapped + page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) {
        log_event(e);
        return MAP_FAILED;
    }
    // Populated at once, as a device's memory is: no page faults while drawing.
    void* addr = real_mmap(region, mapped, prot, flags | MAP_FIXED | MAP_POPULATE, fd, offset);
    if (addr == MAP_FAILED) {
        munmap(region, mapped + page);
        log_event(e);
        return MAP_FAILED;
    }
    if (size_t slack = mapped - len) {
        uint8_t canary[65536];
        memset(canary, CANARY, sizeof canary);
        for (size_t done = 0; done < slack;)
            done += pwrite(fd, canary, slack - done < sizeof canary ? slack - done : sizeof canary,
                static_cast<off_t>(uint64_t(offset) + len + done));
    }
    current = add_mapping({ static_cast<uint8_t*>(addr), len, mapped + page, Device::fb });
    e.rc = 0;
    log_event(e);
    return addr;
}

void fb_unmapping(const Mapping& mapping)
{
    check_canary(mapping);
    if (&mapping == current)
        current = nullptr;
}

namespace {

int get_fix(void* arg)
{
    if (faults.fb_fix) {
        log_event(event(EventKind::fix, Device::fb, -1));
        return fail(EIO);
    }
    fb_fix_screeninfo fix = {};
    snprintf(fix.id, sizeof fix.id, "%s", config.fb_id ? config.fb_id : "vdev");
    fix.smem_len = smem_len();
    fix.type = FB_TYPE_PACKED_PIXELS;
    fix.visual = FB_VISUAL_TRUECOLOR;
    fix.line_length = config.line_length;
    fix.ypanstep = 1;
    memcpy(arg, &fix, sizeof fix);
    log_event(event(EventKind::fix, Device::fb));
    return 0;
}

int get_var(void* arg)
{
    if (faults.fb_var) {
        log_event(event(EventKind::var, Device::fb, -1));
        return fail(EIO);
    }
    fb_var_screeninfo var = {};
    var.xres = config.xres, var.yres = config.yres;
    var.xres_virtual = config.xres_virtual, var.yres_virtual = config.yres_virtual;
    var.bits_per_pixel = config.bpp;
    if (config.bpp == 16)
        var.red = { 11, 5, 0 }, var.green = { 5, 6, 0 }, var.blue = { 0, 5, 0 };
    else
        var.red = { 0, 8, 0 }, var.green = { 8, 8, 0 }, var.blue = { 16, 8, 0 }, var.transp = { 24, 8, 0 };
    // A panel of another layout, when one is given.
    fb_bitfield* fields[] = { &var.red, &var.green, &var.blue, &var.transp };
    const auto& channels = config.fb_settings.channels;
    bool given = false;
    for (const auto& channel : channels)
        given = given || channel[0] || channel[1];
    for (size_t i = 0; given && i < 4; ++i)
        *fields[i] = { channels[i][0], channels[i][1], 0 };
    memcpy(arg, &var, sizeof var);
    log_event(event(EventKind::var, Device::fb));
    return 0;
}

int pan(const fb_var_screeninfo* var)
{
    Event e = event(EventKind::pan, Device::fb, faults.fb_pan ? -1 : 0);
    e.clock_ns = config.clock ? monotonic_ns() : 0;
    e.number = ++pans;
    e.xres = var->xres, e.yres = var->yres, e.bits_per_pixel = var->bits_per_pixel;
    e.xoffset = var->xoffset, e.yoffset = var->yoffset;
    log_event(e);
    if (current) {
        check_canary(*current);
        snapshot(*current);
    } else {
        Event error = event(EventKind::error, Device::fb, -1);
        snprintf(error.path, sizeof error.path, "pan without a mapping");
        log_event(error);
    }
    return e.rc ? fail(EINVAL) : 0;
}

} // namespace

int fb_ioctl(unsigned long request, void* arg)
{
    switch (request) {
    case FBIOGET_FSCREENINFO: return get_fix(arg);
    case FBIOGET_VSCREENINFO: return get_var(arg);
    case FBIOPAN_DISPLAY: return pan(static_cast<const fb_var_screeninfo*>(arg));
    default: {
        Event e = event(EventKind::ioctl, Device::fb, -1);
        e.request = int64_t(request);
        log_event(e);
        return fail(ENOTTY);
    }
    }
}

} // namespace vdev
