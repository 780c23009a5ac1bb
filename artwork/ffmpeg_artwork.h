// Artwork FFmpeg's libraries read: video, and APNG (which libvips does not
// animate), one frame decoded at a time.
#pragma once

#include "artwork/readers.h"

// Opens `fd` (duplicated; or, when -1, `bytes`) as video or APNG.
[[nodiscard]] Opened open_ffmpeg_artwork(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error);

// How frames not already the panel's picture are fitted to it (by the
// pictures' module, libvips), given when the video's module is loaded.
void fit_video_frames_with(FitPixels fit);
