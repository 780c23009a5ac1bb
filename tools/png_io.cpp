#include "png_io.h"

#include "file_io.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <unistd.h>

namespace {

struct ReadError {
    char message[256];
    uint32_t want_width, want_height; // 0: any size up to MAX_IMAGE_SIDE
    bool wrong_size; // the header's size is not wanted: nothing decoded
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
    // The size is checked here, in the tool's words, before any pixel is decoded.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    image->width = png_get_image_width(png, info);
    image->height = png_get_image_height(png, info);
    error->wrong_size = error->want_width
        ? image->width != error->want_width || image->height != error->want_height
        : image->width > MAX_IMAGE_SIDE || image->height > MAX_IMAGE_SIDE;
    if (error->wrong_size) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    int colour_type = png_get_color_type(png, info);
    // Palette images are read as indices and looked up here, so that an index
    // past the palette is caught rather than drawn black.
    bool indexed = colour_type == PNG_COLOR_TYPE_PALETTE;
    if (indexed) {
        png_set_packing(png);
    } else {
        png_set_expand(png); // small greys to 8 bits, tRNS to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        if (!(colour_type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(image->width) * (indexed ? 1 : 4))
        png_error(png, "unexpected row layout");
    image->rgba.resize(size_t(image->width) * image->height * 4);
    rows->resize(image->height);
    for (uint32_t y = 0; y < image->height; ++y)
        (*rows)[y] = image->rgba.data() + size_t(y) * image->width * 4;
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    if (indexed) {
        png_colorp palette = nullptr;
        int colours = 0, transparent = 0;
        png_bytep alpha = nullptr;
        png_get_PLTE(png, info, &palette, &colours);
        png_get_tRNS(png, info, &alpha, &transparent, nullptr);
        for (uint32_t y = 0; y < image->height; ++y) {
            uint8_t* row = (*rows)[y];
            // Backwards: each index widens to four bytes in place.
            for (uint32_t x = image->width; x-- > 0;) {
                int index = row[x];
                if (index >= colours) {
                    std::snprintf(error->message, sizeof error->message,
                        "palette index %d past the palette of %d colours", index, colours);
                    png_destroy_read_struct(&png, &info, nullptr);
                    return false;
                }
                row[x * 4] = palette[index].red, row[x * 4 + 1] = palette[index].green;
                row[x * 4 + 2] = palette[index].blue,
                            row[x * 4 + 3] = index < transparent ? alpha[index] : 0xFF;
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

// Why an image of this size is refused, or "".
static std::string size_refusal(
    const std::string& name, uint32_t width, uint32_t height, uint32_t want_width, uint32_t want_height)
{
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (want_width && (width != want_width || height != want_height))
        return name + ": " + size + ", but the screen is " + std::to_string(want_width) + "x"
            + std::to_string(want_height);
    if (!want_width && (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE))
        return name + ": " + size + " is larger than a screen can be (" + std::to_string(MAX_IMAGE_SIDE)
            + " a side at most)";
    return "";
}

// Reads from an open file; `name` is what errors call it. Closes the file.
static std::string read_png_file(
    FILE* file, const std::string& name, RgbaImage* image, uint32_t want_width = 0, uint32_t want_height = 0)
{
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file) != sizeof signature
        || png_sig_cmp(signature, 0, sizeof signature)) {
        std::fclose(file);
        return name + ": not a PNG file";
    }
    // The header's size, checked before libpng reads any further.
    png_byte header[16];
    if (std::fread(header, 1, sizeof header, file) == sizeof header && !std::memcmp(header + 4, "IHDR", 4)) {
        auto be32 = [](const png_byte* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; };
        std::string refusal
            = size_refusal(name, be32(header + 8), be32(header + 12), want_width, want_height);
        if (!refusal.empty()) {
            std::fclose(file);
            return refusal;
        }
    }
    std::fseek(file, sizeof signature, SEEK_SET);
    std::vector<png_bytep> rows;
    ReadError error = {};
    error.want_width = want_width, error.want_height = want_height;
    bool read = decode_png(file, image, &rows, &error);
    std::fclose(file);
    if (read)
        return "";
    std::string refusal = size_refusal(name, image->width, image->height, want_width, want_height);
    *image = {};
    if (error.wrong_size)
        return refusal;
    return name + ": not a readable PNG: " + error.message;
}

std::string read_png_rgba(
    const std::filesystem::path& path, RgbaImage* image, uint32_t want_width, uint32_t want_height)
{
    std::string error;
    int fd = open_regular_file(path, &error);
    if (fd < 0)
        return error;
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        (void)close(fd);
        return path.string() + ": cannot open: " + std::strerror(errno);
    }
    return read_png_file(file, path.string(), image, want_width, want_height);
}

std::string read_png_rgba(std::span<const uint8_t> bytes, RgbaImage* image)
{
    FILE* file = bytes.empty() ? nullptr : fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!file)
        return "PNG in memory: empty";
    return read_png_file(file, "PNG in memory", image);
}

std::string read_png_size(const std::filesystem::path& path, uint32_t* width, uint32_t* height)
{
    std::vector<uint8_t> start;
    if (std::string error = read_file_start(path, 24, &start); !error.empty())
        return error;
    if (start.size() < 24 || png_sig_cmp(start.data(), 0, 8) != 0 || std::memcmp(&start[12], "IHDR", 4) != 0)
        return path.string() + ": not a PNG file";
    auto be32 = [](const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; };
    *width = be32(&start[16]), *height = be32(&start[20]);
    return size_refusal(path.string(), *width, *height, 0, 0);
}

std::string encode_png_rgb(
    uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png)
{
    if (rgb.size() != size_t(width) * height * 3)
        return "picture size does not match " + std::to_string(width) + "x" + std::to_string(height);
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr))
        return image.message;
    png->resize(size);
    if (!png_image_write_to_memory(&image, png->data(), &size, 0, rgb.data(), 0, nullptr))
        return image.message;
    png->resize(size);
    return "";
}

std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    std::vector<uint8_t> bytes;
    if (std::string error = encode_png_rgb(width, height, rgb, &bytes); !error.empty())
        return path.string() + ": " + error;
    return write_atomically(path, bytes);
}
