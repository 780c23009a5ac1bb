// What passes between the virtual devices (libvdev.so, preloaded into the
// player) and the runner that starts it: the configuration, in environment
// variables the runner sets and the library reads at load, and the record of
// every device call, one line each in the log, which the library writes with
// format_event and the runner reads back with parse_event.
//
// C library only: this is compiled into the preloaded library too.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The configuration.
constexpr char VDEV_LOG[] = "VDEV_LOG"; // file for the event log
constexpr char VDEV_SNAPSHOTS[] = "VDEV_SNAPSHOTS"; // file the screen is appended to at each pan
constexpr char VDEV_BOOTIMAGES[] = "VDEV_BOOTIMAGES"; // directory standing in for the frames' directory
// The framebuffer, written by fb_to_env and read by fb_from_env (below).
constexpr char VDEV_FB[] = "VDEV_FB"; // absent: no framebuffer
constexpr char VDEV_FB_VIRTUAL[] = "VDEV_FB_VIRTUAL";
constexpr char VDEV_FB_LINE[] = "VDEV_FB_LINE";
constexpr char VDEV_FB_CHANNELS[] = "VDEV_FB_CHANNELS";
constexpr char VDEV_FB_ID[] = "VDEV_FB_ID"; // the driver's id; absent: "vdev"
constexpr char VDEV_MACHINE[] = "VDEV_MACHINE"; // what uname says the machine is; absent: the host's
// directory standing in for the kernel's command line and its console's
// sysfs: /proc/cmdline, /proc/fb, /sys/class/graphics/..., /sys/class/vtconsole/...
// and /sys/module/... are read below it; absent: they cannot be opened.
constexpr char VDEV_SYSTEM[] = "VDEV_SYSTEM";
// set: a DRM card at /dev/dri/card0 in place of the framebuffer, of the
// framebuffer settings' size and line length: "card", or a comma-separated
// list of what is odd about it: disconnected, unprobed (its connector never
// probed), unbound (no encoder on its connector yet), mode-unset (its CRTC
// shows no mode), other-master (another program holds it), no-closefb,
// many-modes (more modes than a program may have room for), a panel
// orientation (normal, upside-down, left-side-up, right-side-up), beside-fb
// (the framebuffer stays too, as with the kernel's fbdev emulation),
// simpledrm (the driver's name is the hand-over one's).
constexpr char VDEV_DRM[] = "VDEV_DRM";
constexpr char VDEV_FAIL[] = "VDEV_FAIL"; // failure points, see VirtualDevices::fail
constexpr char VDEV_TTY[] = "VDEV_TTY"; // ok, missing, refuse
constexpr char VDEV_KMSG[] = "VDEV_KMSG"; // file standing in for the kernel log; absent: unopenable
constexpr char VDEV_CLOCK[] = "VDEV_CLOCK"; // set: the start and every pan carry the monotonic clock
constexpr char VDEV_SIGNAL_US[] = "VDEV_SIGNAL_US"; // interrupt the player with SIGUSR1 this often
// set: the library only says that it was loaded, by ending the program it
// was loaded into at once with VDEV_LOADED_STATUS, before that program runs.
constexpr char VDEV_LOAD_CHECK[] = "VDEV_LOAD_CHECK";
constexpr int VDEV_LOADED_STATUS = 86;
constexpr char VDEV_PREFIX[] = "VDEV_";

// The framebuffer the devices present.
struct FbSettings {
    uint32_t xres = 64, yres = 48, bits_per_pixel = 16;
    uint32_t xres_virtual = 0, yres_virtual = 0; // 0: the visible size
    uint32_t line_length = 0; // 0: a virtual row's bytes
    // Offset and length of red, green, blue and transp, as the kernel
    // reports them; all 0: the player's own layout at this depth.
    uint32_t channels[4][2] = {};
};
// The settings as the environment carries them, each "" when not given.
struct FbEnv {
    char fb[40], fb_virtual[24], fb_line[12], fb_channels[64];
};
void fb_to_env(const FbSettings& settings, FbEnv* env);
// Back from the environment's values (null when absent): false when there
// is no framebuffer (VDEV_FB absent or not one).
[[nodiscard]] bool fb_from_env(const char* fb, const char* fb_virtual, const char* fb_line,
    const char* fb_channels, FbSettings* settings);

// The record.
enum class EventKind : uint8_t {
    start, // the library was loaded
    open,
    close,
    fix, // FBIOGET_FSCREENINFO
    var, // FBIOGET_VSCREENINFO
    pan, // FBIOPAN_DISPLAY, or a DRM card's SETCRTC, DIRTYFB, PAGE_FLIP: the screen was captured
    kdsetmode,
    ioctl, // any other request
    mmap,
    munmap,
    fstat,
    write,
    sleep,
    refuse, // a device path the virtual devices do not provide
    leak, // a device descriptor still open at exit
    overrun, // screen memory past the mapping changed
    error, // the virtual devices could not do their part
    exit,
};
enum class Device : uint8_t { none, fb, tty, kmsg, frame, drm };

// Every field a call may carry; what a kind leaves unused stays 0.
struct Event {
    EventKind kind = EventKind::error;
    Device device = Device::none;
    int64_t rc = 0; // result: 0, a descriptor, or -1
    int64_t error = 0; // errno of a failed call
    int64_t flags = 0; // open and mmap flags
    int64_t prot = 0; // mmap protection
    int64_t length = 0; // bytes mapped, unmapped or written; a DRM card's pan: bytes captured
    int64_t offset = 0; // mmap offset; overrun: the first byte that changed
    int64_t request = 0; // ioctl request; KDSETMODE: the mode
    int64_t number = 0; // pan: its count from 1
    int64_t xres = 0, yres = 0, bits_per_pixel = 0, xoffset = 0, yoffset = 0; // pan
    int64_t asked_ns = 0, remaining_ns = 0; // sleep
    int64_t clock_ns = 0; // start and pan, with VDEV_CLOCK: the monotonic clock
    int64_t signals = 0; // exit: signals delivered
    char path[96] = "";

    bool operator==(const Event&) const = default;
};

constexpr size_t EVENT_LINE_SIZE = 512;

// "kind device rc=N key=value ... path=P": the fields that are not 0, in a
// fixed order. Returns the length written, without a newline.
int format_event(const Event& event, char* line, size_t size);
// Reads a line format_event wrote; false for anything else.
[[nodiscard]] bool parse_event(const char* line, Event* event);

const char* event_kind_name(EventKind kind);
const char* device_name(Device device);
