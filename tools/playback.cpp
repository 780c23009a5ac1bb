#include "playback.h"

#include "file_io.h"
#include "render.h"
#include "schedule.h"

#include <cstdio>

namespace fs = std::filesystem;

std::string frame_path(int n)
{
    char path[FRAME_PATH_BUFFER_SIZE];
    std::snprintf(path, sizeof path, FRAME_PATH_FORMAT, FRAME_PATH_PREFIX, n);
    return path;
}

std::string frame_name(int n)
{
    return frame_path(n).substr(frame_directory_length());
}

FrameReport draw_frame(
    const std::vector<uint8_t>& file, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    FrameReport report;
    report.file_bytes = file.size();
    if (file.empty()) {
        report.status = FrameReport::empty; // cannot be mapped: never drawn, never panned
        return report;
    }
    report.status = FrameReport::drawn;
    uint32_t size = uint32_t(file.size()); // the player uses the size's low 32 bits
    report.records = size / FRAME_RECORD_BYTES;
    report.trailing_bytes = size % FRAME_RECORD_BYTES;
    report.drawn_records = decode_frame(
        file.data(), size, screen->data(), geometry.width, geometry.height, geometry.bits_per_pixel);
    for (uint32_t i = 0; i < report.records; ++i) {
        uint32_t count = file[i * 4] | file[i * 4 + 1] << 8;
        report.zero_records += count == 0;
        if (i < report.drawn_records)
            report.pixels_covered += count;
    }
    return report;
}

Playback play_directory(
    const fs::path& dir, const ScreenGeometry& geometry, const std::vector<uint8_t>& initial)
{
    Playback playback;
    std::vector<uint8_t> screen = initial.empty() ? std::vector<uint8_t>(geometry.bytes()) : initial;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        fs::path path = dir / frame_name(n);
        FrameReport report;
        std::vector<uint8_t> file;
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            report.status = FrameReport::missing;
        } else if (fs::is_directory(path, ec)) {
            report.status = FrameReport::empty; // opens, but cannot be mapped
        } else if (std::string error = read_whole_file(path, &file); !error.empty()) {
            report.status = FrameReport::unreadable;
            report.error = error;
        } else {
            report = draw_frame(file, geometry, &screen);
        }
        playback.frames.push_back(report);
        playback.screens.push_back(screen);
    }
    return playback;
}
