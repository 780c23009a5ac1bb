#include "png_write.h"

#include <cstdio>
#include <png.h>
#include <system_error>

std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    if (rgb.size() != size_t(width) * height * 3)
        return path.string() + ": picture size does not match " + std::to_string(width) + "x"
            + std::to_string(height);
    std::filesystem::path temporary = path;
    temporary += ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return temporary.string() + ": cannot create";
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    bool written = png_image_write_to_stdio(&image, file, 0, rgb.data(), 0, nullptr) != 0;
    std::string error = written ? "" : path.string() + ": " + image.message;
    if (std::fclose(file) != 0 && error.empty())
        error = temporary.string() + ": cannot write";
    std::error_code ec;
    if (error.empty())
        std::filesystem::rename(temporary, path, ec);
    if (!error.empty() || ec) {
        std::filesystem::remove(temporary, ec);
        return error.empty() ? path.string() + ": cannot rename into place" : error;
    }
    return "";
}
