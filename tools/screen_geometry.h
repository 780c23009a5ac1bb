// The screen a set of frames is drawn on, as the host tools take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t MAX_SCREEN_SIDE = 16384;

struct ScreenGeometry {
    uint32_t width = 0, height = 0, bits_per_pixel = 16;
    size_t bytes() const { return size_t(width) * height * bits_per_pixel / 8; }
    size_t pixels() const { return size_t(width) * height; }
    std::string size_text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

// "WIDTHxHEIGHT" (or "WIDTHXHEIGHT"), decimal digits only, each 1 to
// MAX_SCREEN_SIDE; returns an empty string or the error.
std::string parse_screen_size(const std::string& text, ScreenGeometry* geometry);
// "16" or "32".
std::string parse_depth(const std::string& text, uint32_t* bits_per_pixel);

// Why the player would refuse this screen (its size in bits must fit 32
// bits), or an empty string.
std::string player_refusal(const ScreenGeometry& geometry);
