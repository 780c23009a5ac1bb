// What `pelimora-frames encode` does with a PNG, on arbitrary bytes: read it,
// convert and encode it, then decode the frame with the player's decoder and
// compare with the converted pixels.
#include "png_io.h"
#include "render.h"
#include "rle565.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RgbaImage image;
    if (!read_png_rgba({ data, size }, &image).empty())
        return 0;
    if (image.rgba.size() != size_t(image.width) * image.height * 4
        || image.width * image.height > (1u << 22))
        abort();
    bool dither = size & 1;
    std::vector<uint16_t> pixels = image_to_rgb565(image, { data[size / 2], 0, 0 }, dither);
    std::vector<uint8_t> frame = encode_rle565(pixels);
    std::vector<uint16_t> screen(pixels.size() + 1, 0xA5A5);
    uint32_t records
        = decode_frame(frame.data(), uint32_t(frame.size()), screen.data(), image.width, image.height, 16);
    if (records != frame.size() / 4 || screen.back() != 0xA5A5
        || std::memcmp(screen.data(), pixels.data(), pixels.size() * 2) != 0)
        abort();
    return 0;
}
