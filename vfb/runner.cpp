#include "vfb/runner.h"

#include "lib/error.h"
#include "lib/file_io.h"
#include "lib/helpers.h"
#include "lib/process.h"
#include "lib/temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

std::vector<Event> PlayerRun::of(EventKind kind, std::optional<Device> device) const
{
    std::vector<Event> out;
    for (const Event& e : events)
        if (e.kind == kind && (!device || e.device == *device))
            out.push_back(e);
    return out;
}

std::string describe(const Event& event)
{
    char line[EVENT_LINE_SIZE];
    int n = format_event(event, line, sizeof line);
    return std::string(line, size_t(n));
}

PlayerPaths installed_player()
{
    fs::path helpers = helpers_dir();
    return { helpers / "pelimora", helpers / "libvdev.so", PELIMORA_PRELOAD_FIRST };
}

static std::string read_text(const fs::path& path)
{
    std::vector<uint8_t> bytes;
    (void)read_whole_file(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

namespace {

// LD_PRELOAD is split at spaces and colons: a library whose path holds one
// is reached through a link of a plain name.
Error preload_name(
    const fs::path& library, const fs::path& scratch, std::optional<TempDir>* links, std::string* name)
{
    auto plain
        = [](const fs::path& path) { return path.string().find_first_of(" :\t\n") == std::string::npos; };
    *name = library.string();
    if (plain(library))
        return {};
    links->emplace(plain(scratch) ? scratch : fs::path("/tmp"), "vdev-link");
    std::error_code ec;
    fs::path link = (*links)->path() / library.filename();
    if (!(*links)->path().empty())
        fs::create_symlink(fs::absolute(library, ec), link, ec);
    if ((*links)->path().empty() || ec || !plain(link))
        return usage_error(library.string()
            + ": its path holds a space or colon, which LD_PRELOAD cannot carry, "
              "and no link to it could be made");
    *name = link.string();
    return {};
}

// Whether a program started with `env` gets the virtual devices: a harmless
// program is started with it first, which the library, once loaded, ends at
// once. The player itself is never run without them.
Error devices_load(std::vector<std::string> env, const fs::path& library)
{
    env.push_back(std::string(VDEV_LOAD_CHECK) + "=1");
    SpawnRequest request;
    request.argv = { "/bin/true" };
    request.env = std::move(env);
    ProcessRun check = run_process(request, true);
    if (check.exit_status == VDEV_LOADED_STATUS)
        return {};
    return input_error(library.string() + ": the virtual devices do not load into a program ("
        + (check.error ? check.error.message : "the dynamic loader refused them")
        + "): the player was not run");
}

// What the devices write in a run's scratch directory, named in one place
// for the run that sets them up and reads them and for its follower.
struct RunFiles {
    explicit RunFiles(const fs::path& scratch)
        : log(scratch / "log")
        , screens(scratch / "screens")
        , kmsg(scratch / "kmsg")
    {
    }
    fs::path log; // the event log, a line an event
    fs::path screens; // the screen at each pan, one after the other
    fs::path kmsg; // what the player wrote to the kernel log
};

// The player's environment: ours without any earlier devices' settings,
// then the library preloaded and the devices as asked.
std::vector<std::string> player_environment(const PlayerPaths& paths, const std::string& library,
    const VirtualDevices& devices, const fs::path& frames, const fs::path& scratch)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!std::string_view(*e).starts_with(VDEV_PREFIX)
            && !std::string_view(*e).starts_with("LD_PRELOAD="))
            env.emplace_back(*e);
    auto set = [&](const char* name, const std::string& value) { env.push_back(name + ("=" + value)); };
    set("LD_PRELOAD", paths.preload_first.empty() ? library : paths.preload_first + ":" + library);
    const RunFiles files(scratch);
    set(VDEV_LOG, files.log);
    set(VDEV_SNAPSHOTS, files.screens);
    set(VDEV_BOOTIMAGES, fs::absolute(frames));
    set(VDEV_TTY, devices.tty);
    // The devices' settings that are given; the library's defaults for the rest.
    FbEnv fb {};
    if (devices.fb)
        fb_to_env(*devices.fb, &fb);
    for (const auto& [name, value] :
        { std::pair(VDEV_FB, std::string(fb.fb)), std::pair(VDEV_FB_VIRTUAL, std::string(fb.fb_virtual)),
            std::pair(VDEV_FB_LINE, std::string(fb.fb_line)),
            std::pair(VDEV_FB_CHANNELS, std::string(fb.fb_channels)), std::pair(VDEV_FB_ID, devices.fb_id),
            std::pair(VDEV_MACHINE, devices.machine), std::pair(VDEV_SYSTEM, devices.system),
            std::pair(VDEV_FAIL, devices.fail), std::pair(VDEV_DRM, devices.drm) })
        if (!value.empty())
            set(name, value);
    if (devices.kmsg)
        set(VDEV_KMSG, files.kmsg);
    if (devices.clock)
        set(VDEV_CLOCK, "1");
    if (devices.signal_us > 0)
        set(VDEV_SIGNAL_US, std::to_string(devices.signal_us));
    return env;
}

} // namespace

FbSettings fb_of_format(uint32_t width, uint32_t height, const PixelFormat& format, uint32_t line_length)
{
    FbSettings fb;
    fb.xres = width, fb.yres = height, fb.bits_per_pixel = format.bits_per_pixel,
    fb.line_length = line_length;
    const ChannelField fields[] = { format.red, format.green, format.blue, format.transp };
    for (size_t i = 0; i < 4; ++i)
        fb.channels[i][0] = fields[i].offset, fb.channels[i][1] = fields[i].length;
    return fb;
}

namespace {

// The bytes of one captured screen, when `e` tells them: the player's
// mapping of the framebuffer, or a DRM card's capture itself; else 0.
size_t captured_screen_bytes(const Event& e)
{
    const bool tells = (e.kind == EventKind::mmap && e.device == Device::fb && e.rc == 0)
        || (e.kind == EventKind::pan && e.device == Device::drm);
    return tells ? size_t(e.length) : 0;
}

// The run's events from the log, with what they tell of its screens.
void read_events(const RunFiles& files, PlayerRun* run)
{
    std::istringstream log(read_text(files.log));
    for (std::string line; std::getline(log, line);) {
        Event event;
        if (!parse_event(line.c_str(), &event)) {
            run->error = input_error("the virtual devices wrote an unreadable line: " + line);
            continue;
        }
        if (size_t bytes = captured_screen_bytes(event))
            run->screen_bytes = bytes;
        run->pans += event.kind == EventKind::pan;
        run->events.push_back(event);
    }
}

} // namespace

PlayerRun run_player(const PlayerPaths& paths, const VirtualDevices& devices, const fs::path& frames,
    const std::vector<std::string>& args, const fs::path& kept)
{
    PlayerRun run;
    TempDir own("pelimora-vdev");
    const fs::path& scratch = kept.empty() ? own.path() : kept;
    if (scratch.empty()) {
        run.error = input_error("cannot make a scratch directory");
        return run;
    }
    std::optional<TempDir> links;
    std::string library;
    if ((run.error = preload_name(paths.vdev, scratch, &links, &library)))
        return run;

    SpawnRequest request;
    request.env = player_environment(paths, library, devices, frames, scratch);
    request.argv = { paths.player.string() };
    request.argv.insert(request.argv.end(), args.begin(), args.end());
    if ((run.error = devices_load(request.env, paths.vdev)))
        return run;

    ProcessRun process = run_process(request, true);
    run.out = process.out;
    run.err = process.err;
    run.exit_status = process.exit_status;
    run.term_signal = process.term_signal;
    run.seconds = process.seconds;
    run.started_ns = process.started_ns;
    run.error = process.error;

    const RunFiles files(scratch);
    read_events(files, &run);
    if (!run.error && (run.events.empty() || run.events.front().kind != EventKind::start))
        run.error = input_error(
            "the virtual devices did not load into the player: its run is not the player's on them");
    run.kmsg = read_text(files.kmsg);
    run.captures = files.screens;
    if (kept.empty()) {
        std::vector<uint8_t> screen;
        for (size_t i = 0; read_capture(run, i, &screen); ++i)
            run.screens.push_back(screen);
        run.captures.clear();
    }
    return run;
}

bool read_capture(const PlayerRun& run, size_t index, std::vector<uint8_t>* screen)
{
    if (run.captures.empty())
        return index < run.screens.size() && (*screen = run.screens[index], true);
    return run.screen_bytes && read_capture(Capture { run.captures, index, run.screen_bytes }, screen);
}

bool read_capture(const Capture& capture, std::vector<uint8_t>* screen)
{
    int fd = open(capture.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    screen->resize(capture.bytes);
    ssize_t n = pread(fd, screen->data(), capture.bytes, off_t(capture.index * capture.bytes));
    (void)close(fd);
    return n == ssize_t(capture.bytes);
}

bool capture_equals(const Capture& capture, std::span<const uint8_t> screen)
{
    if (capture.bytes != screen.size())
        return false;
    int fd = open(capture.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t piece[65536];
    size_t at = 0;
    for (ssize_t n = 1; at < screen.size() && n > 0; at += size_t(n)) {
        n = pread(
            fd, piece, std::min(sizeof piece, screen.size() - at), off_t(capture.index * capture.bytes + at));
        if (n > 0 && std::memcmp(piece, &screen[at], size_t(n)) != 0)
            break;
    }
    (void)close(fd);
    return at == screen.size();
}

void PredictedScreen::leaving(const Capture* capture)
{
    // The screen stays, whatever the prediction draws.
    if (!capture && as_predicted_)
        apart_ = predicted_, as_predicted_ = false;
}

bool PredictedScreen::shown(const Capture* capture, std::span<const uint8_t>* screen)
{
    if (capture) {
        as_predicted_ = capture_equals(*capture, predicted_);
        if (!as_predicted_ && !read_capture(*capture, &apart_))
            apart_.assign(capture->bytes, 0);
    } else if (!as_predicted_) {
        as_predicted_ = apart_ == predicted_;
    }
    if (as_predicted_)
        apart_ = {};
    *screen = as_predicted_ ? predicted_ : apart_;
    return as_predicted_;
}

FramesFollower::FramesFollower(fs::path scratch, ShownCallback on_frame)
    : scratch_(std::move(scratch))
    , on_frame_(std::move(on_frame))
{
}

void FramesFollower::poll()
{
    int fd = open(RunFiles(scratch_).log.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return; // not yet made
    char buffer[65536];
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, off_t(read_))) > 0;) {
        read_ += n;
        pending_.append(buffer, size_t(n));
    }
    (void)close(fd);
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        Event event;
        std::string line = pending_.substr(start, end - start);
        if (parse_event(line.c_str(), &event))
            take(event);
    }
    pending_.erase(0, start);
}

void FramesFollower::take(const Event& e)
{
    ++events_;
    if (size_t bytes = captured_screen_bytes(e))
        screen_bytes_ = bytes;
    if (e.kind == EventKind::open && e.device == Device::tty) {
        end_frame();
        ++frames_;
        outcome_ = FrameOutcome::not_drawn;
    } else if (e.kind == EventKind::open && e.device == Device::frame) {
        outcome_ = e.rc < 0 && e.error == ENOENT ? FrameOutcome::missing : FrameOutcome::not_drawn;
    } else if (e.kind == EventKind::pan && frames_ > 0 && screen_bytes_) {
        // Read when the frame ends: the capture is written just after the pan is logged.
        outcome_ = FrameOutcome::drawn;
        ++pans_;
    }
}

void FramesFollower::end_frame()
{
    if (frames_ == 0)
        return;
    Capture capture { RunFiles(scratch_).screens, pans_ - 1, screen_bytes_ };
    struct stat status;
    // The capture is whole once the next frame has begun, unless it was never written.
    if (outcome_ == FrameOutcome::drawn
        && (stat(capture.file.c_str(), &status) != 0 || size_t(status.st_size) < pans_ * screen_bytes_))
        outcome_ = FrameOutcome::not_drawn;
    on_frame_(frames_, outcome_, outcome_ == FrameOutcome::drawn ? &capture : nullptr);
}

int FramesFollower::finish(size_t* events)
{
    poll();
    end_frame();
    *events = events_;
    return frames_;
}
