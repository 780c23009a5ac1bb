// Virtual devices for the host build of the player, preloaded with LD_PRELOAD.
//
// They stand in for the framebuffer, the console and the kernel log, redirect
// the frames' directory to one of the caller's, and refuse every other path
// under /dev, so the player never reaches a real device. Configured through
// the environment and reporting every device call as an Event (protocol.h).
// Each device has a file of its own; this header is what they share.
#pragma once

#include "vfb/vdev/protocol.h"

#include <dlfcn.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

namespace vdev {

struct Config {
    bool fb = false;
    uint32_t xres = 0, yres = 0, bpp = 0, xres_virtual = 0, yres_virtual = 0, line_length = 0;
    FbSettings fb_settings; // as given
    enum { tty_ok, tty_missing, tty_refuse } tty = tty_ok;
    const char* kmsg = nullptr;
    const char* bootimages = nullptr;
    const char* snapshots = nullptr;
    bool clock = false;
    const char* fb_id = nullptr;
    const char* machine = nullptr;
    const char* system = nullptr;
};
extern Config config;

// Where the player is made to fail (VDEV_FAIL).
struct Faults {
    bool fb_open = false, fb_fix = false, fb_var = false, fb_mmap = false, fb_pan = false;
    int frame_open = 0, frame_fstat = 0, frame_mmap = 0; // frame numbers, 0 for none
    bool drm_dumb = false, drm_mmap = false, drm_addfb = false, drm_setcrtc = false, drm_dirty = false;
};
extern Faults faults;

// A descriptor the player holds on one of our devices or frame files,
// recognised by inode: dup'd descriptors are the same device.
struct OpenFile {
    int fd = -1;
    Device device = Device::none;
    dev_t dev = 0;
    ino_t ino = 0;
    char path[96] = "";
};
OpenFile* find_open(int fd, bool by_inode);
Device device_of(int fd);
void track(int fd, Device device, const char* path);

struct Mapping {
    uint8_t* addr = nullptr;
    size_t len = 0, reserved = 0; // reserved: the whole region, guard page included
    Device device = Device::none;
};
Mapping* add_mapping(const Mapping& mapping);
Mapping* find_mapping(const void* addr);

// An event of this kind on this device, to be filled in and logged.
Event event(EventKind kind, Device device, int64_t rc = 0);
void log_event(const Event& event);
int64_t monotonic_ns();
// errno = error, -1.
int fail(int error);

// The devices. Each open returns a descriptor, or -1 with errno set.
int fb_open(int flags);
void* fb_mmap(size_t len, int prot, int flags, int fd, off_t offset);
int fb_ioctl(unsigned long request, void* arg);
void fb_unmapping(const Mapping& mapping);
void fb_load();
int tty_open(int flags);
int tty_ioctl(unsigned long request, void* arg);
int kmsg_open(int flags);
void drm_load();
bool drm_replaces_fb();
int drm_open(const char* path, int flags);
int drm_ioctl(unsigned long request, void* arg);
void* drm_mmap(size_t len, int prot, int flags, off_t offset);
// Frame paths go to the caller's directory: a descriptor, -1, or -2 when the
// path is not a frame's.
int frame_open(const char* path, int flags, mode_t mode);
bool frame_mmap_fails(int fd);
bool frame_fstat_fails(int fd);
// 7 for the path of frame 7, otherwise 0.
int frame_number(const char* path);

void faults_load();
void signals_start();
void signals_stop();
int signals_delivered();

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace vdev

// The next definition of a C library function, looked up once.
#define REAL(name)                                                                                           \
    ([] {                                                                                                    \
        static auto real = vdev::next<decltype(&::name)>(#name);                                             \
        return real;                                                                                         \
    }())
