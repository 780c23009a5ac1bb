// The commands of pelimora-frames, each taking what its command line gave it
// and returning the exit status. They report on standard output and put
// one-line errors, each naming the file, on standard error.
#pragma once

#include "screen_geometry.h"

#include <string>
#include <vector>

// PNG images to frame files: one image to one file, or several (a directory
// or a list, in natural order) to OUT/Loop_1.rle ... Loop_N.rle.
int encode_frames(
    std::vector<std::string> inputs, std::string out, const std::string& background_text, bool dither);
// A frame file to a PNG of what the player leaves on the screen.
int decode_frame_file(const std::string& input, const ScreenGeometry& geometry, const std::string& base,
    const std::string& out);
// A frame directory to what the device shows: OUT/animation.webp and OUT/contact-sheet.png.
int preview_frames(
    const std::string& dir, const ScreenGeometry& geometry, const std::string& base, const std::string& out);
// A table of every frame against the screen; 0 only when each covers it exactly.
int check_frames(const std::string& dir, const ScreenGeometry& geometry);
// The built-in sample animation as PNG images.
int write_sample(const std::string& out, const ScreenGeometry& geometry);
