// The player's run over a directory of frames, replayed on the host with the
// player's own decoder: what the screen shows after each frame of the
// schedule, and what each frame file holds. One screen at a time, and each
// file read no further than the player reads it.
#pragma once

#include "core/frame_outcome.h"
#include "frames/panel.h"
#include "frames/set_description.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct FrameReport {
    enum Status {
        drawn,
        missing, // the player logs it; the screen stays
        unreadable, // cannot be opened: the player logs it; the screen stays
        empty, // nothing to map: not drawn, not panned
        directory, // opens but cannot be mapped: not drawn, not panned
        not_regular, // a FIFO, socket or device: the player would hang on it or misread it
    } status
        = missing;
    Error error; // why it could not be read
    uint64_t file_bytes = 0;
    uint32_t records = 0; // whole records among the bytes the player maps
    uint32_t drawn_records = 0; // records laid down before a run no longer fitted
    uint32_t zero_records = 0; // drawn records with a count of 0
    uint32_t trailing_bytes = 0; // 1 to 3 bytes after the last whole record
    uint64_t pixels_covered = 0; // pixels the drawn records cover
    FrameOutcome outcome() const
    {
        return status == drawn  ? FrameOutcome::drawn
            : status == missing ? FrameOutcome::missing
                                : FrameOutcome::not_drawn;
    }
    bool covers_exactly(const ScreenGeometry& screen) const
    {
        return status == drawn && drawn_records == records && pixels_covered == screen.pixels();
    }
};

// Lays the records of a frame file into `screen` (screen memory at the
// geometry's depth; null only to count) exactly as the player would.
FrameReport draw_frame(
    std::span<const uint8_t> file, const ScreenGeometry& geometry, std::vector<uint8_t>* screen);
// The same for a file on disk, read only as far as the player reads it;
// throws Interrupted when a signal stops a read.
FrameReport draw_frame_file(
    const std::filesystem::path& path, const ScreenGeometry& geometry, std::vector<uint8_t>* screen);

// Plays the schedule's frame files from `dir` onto a screen that starts as
// `initial` (or black when empty) and calls `on_frame` after each, with what
// the screen then shows; throws Interrupted between frames when a signal
// asked to stop. A frame that is not drawn leaves the screen as it
// was, as on the device. Without `draw`, the frames are only counted and
// `on_frame` sees an empty screen.
using FrameCallback
    = std::function<void(int n, const FrameReport& report, const std::vector<uint8_t>& screen)>;
void play_directory(const std::filesystem::path& dir, const ScreenGeometry& geometry,
    std::vector<uint8_t> initial, bool draw, const FrameCallback& on_frame);

// A digest of the colour codes a screen holds, over their bytes low byte
// first, which a set's description records for each frame.
uint64_t screen_digest(std::span<const uint16_t> codes, ScreenDigest kind);

// Plays the set in `dir`, made for `width` x `height`, and returns the
// frames after which the screen is not as `screens` (digested by `kind`)
// records, throwing Interrupted as play_directory does.
std::vector<int> frames_not_as_intended(const std::filesystem::path& dir, uint32_t width, uint32_t height,
    const std::vector<uint64_t>& screens, ScreenDigest kind);

// The same for a set's description on this screen: nullopt when it records
// no screens, or records them for another size.
std::optional<std::vector<int>> frames_not_as_made(const std::filesystem::path& dir,
    const std::optional<SetDescription>& description, const ScreenGeometry& geometry);

// The path the player opens for frame n, and its file name alone.
[[nodiscard]] std::string frame_path(int n);
[[nodiscard]] std::string frame_name(int n);
