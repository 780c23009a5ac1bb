#include "preview/png.h"

#include "lib/file_io.h"

#include <png.h>

Error encode_png_rgb(uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png)
{
    if (rgb.size() != size_t(width) * height * 3)
        return input_error(
            "picture size does not match " + std::to_string(width) + "x" + std::to_string(height));
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    // Written once into room for the largest file such a picture can give.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    png->resize(size);
    if (!png_image_write_to_memory(&image, png->data(), &size, 0, rgb.data(), 0, nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        return input_error("cannot write a PNG: " + why);
    }
    png->resize(size);
    return {};
}

Error write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    std::vector<uint8_t> bytes;
    if (Error error = encode_png_rgb(width, height, rgb, &bytes))
        return within(path.string() + ": ", error);
    return write_atomically(path, bytes);
}
