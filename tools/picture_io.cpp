#include "picture_io.h"

#include "artwork.h"
#include "artwork_vips.h"
#include "file_io.h"

std::string read_picture(const std::filesystem::path& path, uint32_t width, uint32_t height, RgbaImage* image)
{
    std::unique_ptr<Artwork> artwork;
    if (std::string error = open_artwork(path, &artwork); !error.empty())
        return error;
    uint32_t own_width = 0, own_height = 0;
    artwork->native_size(&own_width, &own_height);
    if (!width && !height && own_width && own_height) {
        width = own_width;
        height = own_height;
    }
    if (artwork->moving() || own_width != width || own_height != height)
        return path.string() + ": a " + (artwork->moving() ? artwork->kind() + " of " : "")
            + std::to_string(own_width) + "x" + std::to_string(own_height) + " picture, not a still of "
            + std::to_string(width) + "x" + std::to_string(height);
    LinearPicture picture;
    SourceFrame which;
    if (std::string error = artwork->picture_at(0, { width, height, Fit::none, {} }, &picture, &which);
        !error.empty())
        return error;
    *image = to_srgb(picture);
    return "";
}

std::string encode_png_rgb(
    uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png)
{
    if (rgb.size() != size_t(width) * height * 3)
        return "picture size does not match " + std::to_string(width) + "x" + std::to_string(height);
    if (std::string error = start_vips(); !error.empty())
        return error;
    try {
        vips::VImage image = vips::VImage::new_from_memory(
            const_cast<uint8_t*>(rgb.data()), rgb.size(), int(width), int(height), 3, VIPS_FORMAT_UCHAR);
        VipsBlob* blob = image.pngsave_buffer(vips::VImage::option()->set("compression", 6));
        size_t size = 0;
        const auto* data
            = static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &size, nullptr, nullptr, nullptr));
        png->assign(data, data + size);
        vips_area_unref(&blob->area);
        return "";
    } catch (const vips::VError& error) {
        return vips_message(error);
    }
}

std::string write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    std::vector<uint8_t> bytes;
    if (std::string error = encode_png_rgb(width, height, rgb, &bytes); !error.empty())
        return path.string() + ": " + error;
    return write_atomically(path, bytes);
}
