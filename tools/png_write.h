#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// Writes an 8-bit RGB PNG through a temporary file, so a failed write leaves
// nothing behind. Returns an empty string, or what went wrong.
std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);
