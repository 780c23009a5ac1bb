// A still picture of a known size read as RGBA, from any format encode takes.
#pragma once

#include "frames/panel_stream.h"

#include <cstdint>
#include <filesystem>
#include <string>

// A still picture of exactly `width` x `height` (any other size is refused
// before its pixels are decoded; 0 x 0 takes its own), in sRGB,
// transparency laid over black in linear light.
// Errors are one line, naming the file; they are of the input.
Error read_picture(const std::filesystem::path& path, uint32_t width, uint32_t height, RgbaImage* image);
