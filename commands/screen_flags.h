// The screen flags every tool takes, as given on the command line, and
// their parsers. Every error here is of the command line.
#pragma once

#include "frames/screen_choice.h"

#include <string>

// As given; empty when not given.
struct ScreenFlags {
    std::string size {}, depth {}, format {}, line_length {}, panel {}, rotate {};
};

// Whether any flag that names one panel's screen is given: --size, --depth,
// --format, --line-length or --rotate (not --panel).
bool names_one_panel(const ScreenFlags& flags);

// The flags parsed and the panel file read; errors name the flag or the file.
Error parse_screen_flags(const ScreenFlags& flags, ScreenOverrides* given);

// "WIDTHxHEIGHT" (or "WIDTHXHEIGHT"), decimal digits only, each 1 to
// MAX_SCREEN_SIDE.
Error parse_screen_size(const std::string& text, ScreenGeometry* geometry);
// "16" or "32".
Error parse_depth(const std::string& text, uint32_t* bits_per_pixel);
// "0", "90", "180" or "270": degrees clockwise.
Error parse_rotation(const std::string& text, uint32_t* degrees);
