// PNG in and out for the host tools, through libpng.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

struct RgbaImage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba; // 8 bits per channel, rows top to bottom
};

constexpr uint32_t MAX_IMAGE_SIDE = 16384;

// Reads any PNG libpng reads (grey, palette, RGB, with or without alpha, 1 to
// 16 bits) as 8-bit RGBA; 16-bit channels are rounded. Returns an empty
// string, or a one-line error naming the file.
std::string read_png_rgba(const std::filesystem::path& path, RgbaImage* image);
std::string read_png_rgba(std::span<const uint8_t> bytes, RgbaImage* image);

// Writes an 8-bit RGB PNG through a temporary file, so a failed write leaves
// nothing behind. Returns an empty string, or what went wrong.
std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);
