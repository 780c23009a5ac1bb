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
// 16 bits) as 8-bit RGBA; 16-bit channels are rounded. With a size given, an
// image of another size is refused before its pixels are decoded; without,
// each side may be up to MAX_IMAGE_SIDE. A palette index past the palette is
// an error. Returns an empty string, or a one-line error naming the file.
std::string read_png_rgba(
    const std::filesystem::path& path, RgbaImage* image, uint32_t want_width = 0, uint32_t want_height = 0);
std::string read_png_rgba(std::span<const uint8_t> bytes, RgbaImage* image);

// The size a PNG's header gives, without decoding it; "" or the error.
std::string read_png_size(const std::filesystem::path& path, uint32_t* width, uint32_t* height);

// An 8-bit RGB picture as PNG bytes; "" or the error.
std::string encode_png_rgb(
    uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png);
// The same, written all or nothing.
std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);
