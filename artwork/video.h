// Video and APNG through FFmpeg's libraries, one frame decoded at a time.
#pragma once

#include "artwork/artwork.h"

// Opens `fd` (duplicated; or, when -1, `bytes`) as video. Returns false when
// it is no container FFmpeg is allowed to read here, so the caller names the
// formats it takes; true with `error` set ("" when opened) otherwise.
[[nodiscard]] bool open_video(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, std::string* error);
