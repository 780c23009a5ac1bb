#include "preview/png.h"

#include "artwork/artwork_vips.h"
#include "lib/file_io.h"

Error encode_png_rgb(uint32_t width, uint32_t height, std::span<const uint8_t> rgb, std::vector<uint8_t>* png)
{
    if (rgb.size() != size_t(width) * height * 3)
        return input_error(
            "picture size does not match " + std::to_string(width) + "x" + std::to_string(height));
    if (Error error = start_vips())
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
        return {};
    } catch (const vips::VError& error) {
        return input_error(vips_message(error));
    }
}

Error write_png_rgb(
    const std::filesystem::path& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb)
{
    std::vector<uint8_t> bytes;
    if (Error error = encode_png_rgb(width, height, rgb, &bytes))
        return within(path.string() + ": ", error);
    return write_atomically(path, bytes);
}
