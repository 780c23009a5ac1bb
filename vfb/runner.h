// Runs the host build of the player on the virtual devices and collects what
// it did: exit status, run time, every device call as an Event, the kernel
// log and the screen as it was at every pan.
#pragma once

#include "core/frame_outcome.h"
#include "core/pixel_formats.h"
#include "lib/error.h"
#include "vfb/vdev/protocol.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct VirtualDevices {
    std::optional<FbSettings> fb = FbSettings {}; // nullopt: there is no framebuffer
    std::string fb_id; // the driver's id; empty: "vdev"
    std::string machine; // what uname says the machine is; empty: the host's
    // A folder standing in for /proc/cmdline and the console's sysfs
    // (FOLDER/proc/cmdline, FOLDER/sys/class/...); empty: none can be opened.
    std::string system;
    // Comma-separated failure points: fb-open, fb-fix, fb-var, fb-mmap, fb-pan,
    // and frame-open:N, frame-fstat:N, frame-mmap:N for frame N.
    std::string fail;
    std::string tty = "ok"; // ok, missing, refuse
    bool kmsg = true; // false: /dev/kmsg cannot be opened
    long signal_us = 0; // interrupt the player with SIGUSR1 this often
    bool clock = false; // the start and every pan carry the monotonic clock
    // Set: a DRM card in place of the framebuffer, of `fb`'s size and line
    // length, for pelimora-kms: "card", or what is odd about it (VDEV_DRM).
    std::string drm;
};

// A framebuffer of this size in this pixel format, with lines of
// `line_length` bytes (0: a row's).
FbSettings fb_of_format(uint32_t width, uint32_t height, const PixelFormat& format, uint32_t line_length = 0);

struct PlayerRun {
    int exit_status = -1; // -1 when the player did not exit normally
    int term_signal = 0;
    double seconds = 0;
    int64_t started_ns = 0; // monotonic clock just before the player was started
    std::vector<Event> events; // one per device call
    std::string kmsg; // everything written to the kernel log
    std::string out, err; // what the program printed
    std::vector<std::vector<uint8_t>> screens; // the mapped screen at each pan, unless kept on disk
    std::filesystem::path captures; // the screens on disk, one after the other, when kept there
    size_t screen_bytes = 0;
    size_t pans = 0;
    Error error; // why the player could not be run

    // The events of one kind, on one device or (nullopt) any.
    std::vector<Event> of(EventKind kind, std::optional<Device> device = std::nullopt) const;
    size_t count(EventKind kind, std::optional<Device> device = std::nullopt) const
    {
        return of(kind, device).size();
    }
};

struct PlayerPaths {
    std::filesystem::path player; // host build of pelimora (or of pelimora-probe)
    std::filesystem::path vdev; // libvdev.so
    std::string preload_first; // sanitizer runtime, when the build has one
    // pelimora-kms beside the player, run the same way.
    PlayerPaths kms() const
    {
        PlayerPaths paths = *this;
        paths.player.replace_filename("pelimora-kms");
        return paths;
    }
    // The host probe beside the player, run the same way.
    PlayerPaths probe() const
    {
        PlayerPaths paths = *this;
        paths.player.replace_filename("pelimora-probe");
        return paths;
    }
};

// The host player and the virtual devices beside the running executable, as
// both the build tree and an installation lay them out.
PlayerPaths installed_player();

// Plays the frames in `frames` (standing in for the frames' directory). With
// a `scratch` directory of the caller's, the captured screens stay there on
// disk (see read_capture) instead of coming back in memory.
[[nodiscard]] PlayerRun run_player(const PlayerPaths& paths, const VirtualDevices& devices,
    const std::filesystem::path& frames, const std::vector<std::string>& args = {},
    const std::filesystem::path& scratch = {});

// The screen captured at pan `index` (from 0); false when there is none.
[[nodiscard]] bool read_capture(const PlayerRun& run, size_t index, std::vector<uint8_t>* screen);

// One screen the player left, on disk among the captures.
struct Capture {
    std::filesystem::path file;
    size_t index = 0, bytes = 0;
};
// The screen read whole; false when it cannot be.
[[nodiscard]] bool read_capture(const Capture& capture, std::vector<uint8_t>* screen);
// Whether the capture holds exactly `screen`, read a piece at a time (false
// also when it cannot be read).
[[nodiscard]] bool capture_equals(const Capture& capture, std::span<const uint8_t> screen);

// What the player showed, held against a prediction of it replayed frame by
// frame: each capture is compared a piece at a time, and only a screen that
// is not as predicted is held apart. For each frame: the caller calls
// leaving() for each frame it predicts, draws it into predicted(), then
// calls shown().
class PredictedScreen {
public:
    explicit PredictedScreen(size_t bytes)
        : predicted_(bytes)
    {
    }
    // Before the prediction draws a frame after which the player left
    // `capture` (null: it left the screen as it was).
    void leaving(const Capture* capture);
    std::vector<uint8_t>& predicted() { return predicted_; }
    // After the prediction of the frame that left `capture` (as given to
    // leaving()): whether the screen is as predicted, and what it shows.
    [[nodiscard]] bool shown(const Capture* capture, std::span<const uint8_t>* screen);

private:
    std::vector<uint8_t> predicted_, apart_;
    bool as_predicted_ = true;
};

// What the screen showed after each of the schedule's frames, one at a time:
// a frame that panned shows its capture; any other (null) leaves the screen
// as it was.
using ShownCallback = std::function<void(int n, FrameOutcome outcome, const Capture* capture)>;
// Followed while the player runs: run_player with a `scratch` directory (on
// a thread of the caller's), and this reads the scratch's log and captures as
// they are written. Each frame is reported once the next has begun (its
// capture is then whole), the last at finish().
class FramesFollower {
public:
    FramesFollower(std::filesystem::path scratch, ShownCallback on_frame);
    // Takes the events logged since the last call.
    void poll();
    // After the run: the rest, and the last frame. Returns the number of
    // frames seen; `events` is what was read (the run's own list, if all is well).
    int finish(size_t* events);

private:
    void take(const Event& event);
    void end_frame();

    std::filesystem::path scratch_;
    ShownCallback on_frame_;
    std::string pending_; // a line not yet whole
    long long read_ = 0; // bytes of the log taken
    size_t events_ = 0, screen_bytes_ = 0, pans_ = 0;
    int frames_ = 0;
    FrameOutcome outcome_ = FrameOutcome::not_drawn;
};

// One line per event, as the log holds them: for messages and readable checks.
[[nodiscard]] std::string describe(const Event& event);
