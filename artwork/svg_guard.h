// The SVG guard: an SVG is drawn only when it refers to nothing outside
// itself, which librsvg would otherwise fetch or read.
#pragma once

#include "lib/error.h"

#include <cstdint>
#include <span>
#include <string>

// Whether an SVG stands alone; fails (the input's) for a reference to
// anything outside itself (an image, a style sheet, an entity, a font),
// which would be fetched or read, saying which.
Error svg_stands_alone(std::span<const uint8_t> svg);
