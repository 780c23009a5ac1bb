#include "png_io.h"

#include "file_io.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace {

struct ReadError {
    char message[256];
};

[[noreturn]] void on_png_error(png_structp png, png_const_charp message)
{
    auto* error = static_cast<ReadError*>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) { }

// The libpng part on its own: nothing here has a destructor for longjmp to skip.
bool decode_png(FILE* file, RgbaImage* image, std::vector<png_bytep>* rows, ReadError* error)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, error, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(error->message, sizeof error->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, MAX_IMAGE_SIDE, MAX_IMAGE_SIDE);
    png_read_info(png, info);
    int colour_type = png_get_color_type(png, info);
    png_set_expand(png); // palette to RGB, small greys to 8 bits, tRNS to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!(colour_type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image->width = png_get_image_width(png, info);
    image->height = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != size_t(image->width) * 4)
        png_error(png, "unexpected row layout");
    image->rgba.resize(size_t(image->width) * image->height * 4);
    rows->resize(image->height);
    for (uint32_t y = 0; y < image->height; ++y)
        (*rows)[y] = image->rgba.data() + size_t(y) * image->width * 4;
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

// Reads from an open file; `name` is what errors call it. Closes the file.
static std::string read_png_file(FILE* file, const std::string& name, RgbaImage* image)
{
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file) != sizeof signature
        || png_sig_cmp(signature, 0, sizeof signature)) {
        std::fclose(file);
        return name + ": not a PNG file";
    }
    std::vector<png_bytep> rows;
    ReadError error = {};
    bool read = decode_png(file, image, &rows, &error);
    std::fclose(file);
    if (!read) {
        *image = {};
        return name + ": not a readable PNG: " + error.message;
    }
    return "";
}

std::string read_png_rgba(const std::filesystem::path& path, RgbaImage* image)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return path.string() + ": cannot open: " + std::strerror(errno);
    return read_png_file(file, path.string(), image);
}

std::string read_png_rgba(std::span<const uint8_t> bytes, RgbaImage* image)
{
    FILE* file = bytes.empty() ? nullptr : fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!file)
        return "PNG in memory: empty";
    return read_png_file(file, "PNG in memory", image);
}

std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    if (rgb.size() != size_t(width) * height * 3)
        return path.string() + ": picture size does not match " + std::to_string(width) + "x"
            + std::to_string(height);
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr))
        return path.string() + ": " + image.message;
    std::vector<uint8_t> bytes(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr))
        return path.string() + ": " + image.message;
    bytes.resize(size);
    return write_atomically(path, bytes);
}
