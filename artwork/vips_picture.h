// The pictures' reader, in its module: what libvips reads, opened by its
// content.
#pragma once

#include "artwork/readers.h"

[[nodiscard]] Opened open_vips_picture(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error);
