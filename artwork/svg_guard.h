// The SVG guard: an SVG is drawn only when it refers to nothing outside
// itself, which librsvg would otherwise fetch or read.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Why an SVG may not be drawn: a reference to anything outside itself
// (an image, a style sheet, an entity, a font), which would be fetched or
// read. "" when it stands alone.
[[nodiscard]] std::string svg_outside_reference(std::span<const uint8_t> svg);
