// What `pelimora-frames encode` does with a picture, animation or video, on
// arbitrary bytes: open it by its content, fit a few of its pictures to a
// small panel, encode them and decode the frames with the player's decoder.
// The SVG reference check sees the same bytes.
#include "artwork/artwork.h"
#include "artwork/sniff.h"
#include "artwork/svg_guard.h"
#include "core/decode.h"
#include "frames/panel_stream.h"
#include "frames/rle565.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)svg_stands_alone({ data, size });
    std::unique_ptr<Artwork> artwork;
    if (open_artwork({ data, size }, "fuzz input", &artwork))
        return 0;
    const Fit fits[] = { Fit::contain, Fit::cover, Fit::fill, Fit::none };
    Fitting fitting { 17, 11, fits[size % 4], { data[size / 2], 0, 0 } };
    for (int64_t time_us : { int64_t(0), int64_t(60000), int64_t(5000000) }) {
        LinearPicture picture;
        SourceFrame which;
        if (artwork->picture_at(time_us, fitting, &picture, &which))
            return 0;
        // Linear light, or (a picture already the panel's, opaque 8-bit sRGB) its bytes as read.
        const size_t values = size_t(picture.width) * picture.height * 3;
        if (picture.width != fitting.width || picture.height != fitting.height || which.index < 0
            || (picture.rgb.empty() ? picture.srgb.size() : picture.rgb.size() + picture.srgb.size())
                != values)
            abort();
        RgbaImage image = to_srgb(picture, time_us ? 0.5f : 1.0f, fitting.background);
        std::vector<uint16_t> pixels = image_to_rgb565(image, fitting.background, size & 1);
        std::vector<uint8_t> frame = encode_rle565(pixels);
        std::vector<uint16_t> screen(pixels.size() + 1, 0xA5A5);
        uint32_t records = decode_frame(
            frame.data(), uint32_t(frame.size()), screen.data(), image.width, image.height, 16);
        if (records != frame.size() / 4 || screen.back() != 0xA5A5
            || std::memcmp(screen.data(), pixels.data(), pixels.size() * 2) != 0)
            abort();
        if (!artwork->moving())
            break;
    }
    return 0;
}
