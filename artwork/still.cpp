#include "artwork/still.h"

#include "artwork/artwork.h"

Error read_picture(const std::filesystem::path& path, uint32_t width, uint32_t height, RgbaImage* image)
{
    std::unique_ptr<Artwork> artwork;
    if (Error error = open_artwork(path, &artwork))
        return error;
    uint32_t own_width = 0, own_height = 0;
    artwork->native_size(&own_width, &own_height);
    if (!width && !height && own_width && own_height) {
        width = own_width;
        height = own_height;
    }
    if (artwork->moving() || own_width != width || own_height != height)
        return input_error(path.string() + ": a " + (artwork->moving() ? artwork->kind() + " of " : "")
            + std::to_string(own_width) + "x" + std::to_string(own_height) + " picture, not a still of "
            + std::to_string(width) + "x" + std::to_string(height));
    LinearPicture picture;
    SourceFrame which;
    if (Error error = artwork->picture_at(0, { width, height, Fit::none, {} }, &picture, &which))
        return error;
    *image = to_srgb(picture);
    return {};
}
