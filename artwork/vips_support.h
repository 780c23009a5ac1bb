// What the artwork readers share: libvips started once, its errors in one
// line, and the fitting of decoded pixels to the panel.
#pragma once

#include "artwork/artwork.h"

#include <vips/vips8>

// Starts libvips with loaders from outside its trusted set blocked and its
// operation cache off (every picture is used once), or says why not.
Error start_vips();

// The warning a library logged since the last call, or "": libvips's and
// its loaders' messages are kept, never printed.
std::string take_library_warning();

// The first line of a libvips error, and the error buffer cleared.
std::string vips_message(const vips::VError& error);

// Fits a decoded picture (any colour space, with or without alpha) to the
// panel: ICC profile to sRGB, into linear light, laid over the background,
// resampled, centred.
Error fit_image(vips::VImage image, const Fitting& fitting, LinearPicture* picture);

// The same for 8-bit RGB or RGBA rows in memory (video frames), first
// turned clockwise by `quarter_turns` of a turn.
Error fit_pixels(const uint8_t* pixels, uint32_t width, uint32_t height, int bands, int quarter_turns,
    const Fitting& fitting, LinearPicture* picture);
