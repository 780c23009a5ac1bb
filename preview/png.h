// PNG out, through libpng.
#pragma once

#include "lib/error.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// An 8-bit RGB picture as PNG bytes.
Error encode_png_rgb(
    uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png);
// The same, written all or nothing.
Error write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);
