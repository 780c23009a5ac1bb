#include "rle565.h"

#include <cstring>

void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour)
{
    frame.insert(frame.end(), { uint8_t(count), uint8_t(count >> 8), uint8_t(colour), uint8_t(colour >> 8) });
}

std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels)
{
    std::vector<uint8_t> frame;
    for (size_t at = 0; at < pixels.size();) {
        size_t run = 1;
        while (at + run < pixels.size() && run < MAX_RUN && pixels[at + run] == pixels[at])
            ++run;
        append_run(frame, static_cast<uint16_t>(run), pixels[at]);
        at += run;
    }
    return frame;
}

namespace {

// Bayer's 8x8 ordered-dither matrix.
constexpr uint8_t BAYER[8][8] = { { 0, 32, 8, 40, 2, 34, 10, 42 }, { 48, 16, 56, 24, 50, 18, 58, 26 },
    { 12, 44, 4, 36, 14, 46, 6, 38 }, { 60, 28, 52, 20, 62, 30, 54, 22 }, { 3, 35, 11, 43, 1, 33, 9, 41 },
    { 51, 19, 59, 27, 49, 17, 57, 25 }, { 15, 47, 7, 39, 13, 45, 5, 37 },
    { 63, 31, 55, 23, 61, 29, 53, 21 } };

uint32_t dithered_level(uint32_t value, uint32_t levels, float threshold)
{
    float level = value * float(levels) / 255 + threshold + 0.5f;
    return level <= 0 ? 0 : level >= levels ? levels : uint32_t(level);
}

} // namespace

namespace {

// Where each colour channel goes in the code, so that the panel reads it back.
struct CodeField {
    uint32_t bits, shift;
};
struct CodeLayout {
    CodeField red, green, blue;
    uint16_t fixed; // bits always set (a 16-bit panel's alpha: opaque)
};

CodeLayout code_layout(const ScreenGeometry& panel)
{
    // A format that cannot show the player's output gets the player's own layout.
    const PixelFormat& f
        = panel.pixel_format().refusal ? player_format(panel.bits_per_pixel) : panel.pixel_format();
    if (panel.bits_per_pixel == 16) {
        uint16_t alpha = uint16_t(f.transp.length ? ((1u << f.transp.length) - 1) << f.transp.offset : 0);
        return { { f.red.length, f.red.offset }, { f.green.length, f.green.offset },
            { f.blue.length, f.blue.offset }, alpha };
    }
    // At 32 bpp the player stores a code as the bytes red, green, blue, 0xFF
    // from its 5, 6 and 5 bit fields: a channel read from byte k comes from field k.
    constexpr CodeField BYTE_FIELDS[3] = { { 5, 11 }, { 6, 5 }, { 5, 0 } };
    return { BYTE_FIELDS[f.red.offset / 8], BYTE_FIELDS[f.green.offset / 8], BYTE_FIELDS[f.blue.offset / 8],
        0 };
}

} // namespace

std::vector<uint16_t> image_to_panel_stream(
    const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel)
{
    CodeLayout layout = code_layout(panel);
    auto code_of = [&](uint32_t x, uint32_t y) {
        const uint8_t* p = &image.rgba[(size_t(y) * image.width + x) * 4];
        uint32_t a = p[3];
        auto over = [a](uint32_t fg, uint32_t bg) { return (fg * a + bg * (255 - a) + 127) / 255; };
        uint32_t rgb[3] = { over(p[0], background.r), over(p[1], background.g), over(p[2], background.b) };
        float threshold = (BAYER[y % 8][x % 8] + 0.5f) / 64 - 0.5f;
        uint32_t code = layout.fixed;
        const CodeField fields[3] = { layout.red, layout.green, layout.blue };
        for (int c = 0; c < 3; ++c) {
            uint32_t top = (1u << fields[c].bits) - 1;
            uint32_t level = dither ? dithered_level(rgb[c], top, threshold) : (rgb[c] * top + 127) / 255;
            code |= level << fields[c].shift;
        }
        return uint16_t(code);
    };
    // Stream pixel j lands at memory pixel j of lines `per_line` pixels long.
    const size_t budget = size_t(panel.width) * panel.height;
    const size_t per_line = panel.stride() / (panel.bits_per_pixel / 8);
    std::vector<uint16_t> stream(budget);
    for (size_t j = 0; j < budget; ++j) {
        size_t x = j % per_line, y = j / per_line;
        stream[j]
            = x < panel.width && y < panel.height ? code_of(uint32_t(x), uint32_t(y)) : stream[j ? j - 1 : 0];
    }
    return stream;
}

std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither)
{
    ScreenGeometry screen { image.width, image.height, 16 };
    return image_to_panel_stream(image, background, dither, screen);
}

std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel)
{
    // One long row of the player's own format: the panel that matches it.
    uint32_t pixels = uint32_t(screen.size() / (bits_per_pixel / 8));
    return panel_view(screen, pixels, 1, uint32_t(screen.size()), player_format(bits_per_pixel));
}
