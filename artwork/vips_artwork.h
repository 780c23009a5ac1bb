// The libvips reader: stills, SVG and animations (GIF, WebP), one picture
// at a time, fitted to the panel.
#pragma once

#include "artwork/artwork.h"
#include "artwork/sniff.h"

#include <memory>
#include <string>
#include <vector>
#include <vips/vips8>

// The largest SVG read: it is read whole, to be checked and drawn from memory.
constexpr size_t MAX_SVG_BYTES = size_t(64) << 20;

// The artwork in `source` (an SVG's own `svg` bytes, which the source reads,
// kept with it), its header read; errors name it `name`.
Error open_vips_artwork(const std::string& name, PictureFormat format, vips::VSource source,
    std::vector<uint8_t> svg, std::unique_ptr<Artwork>* artwork);
