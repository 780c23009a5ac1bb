// Artwork FFmpeg's libraries read: video, and APNG (which libvips does not
// animate), one frame decoded at a time.
#pragma once

#include "artwork/artwork.h"

enum class Opened {
    not_mine, // no container FFmpeg is allowed to read here: the caller names the formats it takes
    opened,
    failed, // one of ours that cannot be read: `error` says why
};

// Opens `fd` (duplicated; or, when -1, `bytes`) as video or APNG.
[[nodiscard]] Opened open_ffmpeg_artwork(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error);
