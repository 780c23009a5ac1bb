// Pictures in and out for the host tools: a still of a known size read as
// RGBA (any format encode takes), and PNG written; both through libvips.
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

// A still picture of exactly `width` x `height` (any other size is refused
// before its pixels are decoded; 0 x 0 takes its own), in sRGB,
// transparency laid over black in linear light.
// "" or a one-line error naming the file.
std::string read_picture(
    const std::filesystem::path& path, uint32_t width, uint32_t height, RgbaImage* image);

// An 8-bit RGB picture as PNG bytes; "" or the error.
std::string encode_png_rgb(
    uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png);
// The same, written all or nothing.
std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);
