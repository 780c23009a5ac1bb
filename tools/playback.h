// The player's run over a directory of frames, replayed on the host with the
// player's own decoder: what the screen shows after each frame of the
// schedule, and what each frame file holds.
#pragma once

#include "screen_geometry.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct FrameReport {
    enum Status { drawn, missing, unreadable, empty } status = missing;
    std::string error; // why it could not be read
    uint64_t file_bytes = 0;
    uint32_t records = 0; // whole records in the file
    uint32_t drawn_records = 0; // records laid down before a run no longer fitted
    uint32_t zero_records = 0; // records with a count of 0
    uint32_t trailing_bytes = 0; // 1 to 3 bytes after the last whole record
    uint64_t pixels_covered = 0; // pixels the drawn records cover
    bool covers_exactly(const ScreenGeometry& screen) const
    {
        return status == drawn && drawn_records == records && pixels_covered == screen.pixels();
    }
};

// Walks the records of one frame file and lays it into `screen` (the screen
// memory at the geometry's depth) exactly as the player would.
FrameReport draw_frame(
    const std::vector<uint8_t>& file, const ScreenGeometry& geometry, std::vector<uint8_t>* screen);

struct Playback {
    std::vector<FrameReport> frames; // frame 1 to FRAME_COUNT
    std::vector<std::vector<uint8_t>> screens; // screen memory after each frame
};

// Plays the schedule's frame files from `dir` onto a screen that starts as
// `initial` (or black when empty). A frame that is missing, unreadable or empty
// leaves the screen as it was, as on the device.
Playback play_directory(const std::filesystem::path& dir, const ScreenGeometry& geometry,
    const std::vector<uint8_t>& initial = {});

// The path the player opens for frame n, and its file name alone.
std::string frame_path(int n);
std::string frame_name(int n);
