#include "frames/panel_stream.h"

#include "frames/panel_view.h"
#include "frames/rgb565_codes.h"

#include <algorithm>
#include <cstring>

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

// Where each colour channel goes in the code, so that the panel reads it back.
struct CodeField {
    uint32_t bits, shift;
};
struct CodeLayout {
    CodeField red, green, blue;
    uint16_t fixed; // bits always set (a 16-bit panel's alpha: opaque)
};

bool is_rgb565(const CodeLayout& layout)
{
    return layout.red.bits == 5 && layout.red.shift == 11 && layout.green.bits == 6 && layout.green.shift == 5
        && layout.blue.bits == 5 && layout.blue.shift == 0 && layout.fixed == 0;
}

CodeLayout code_layout(const ScreenGeometry& panel)
{
    // A format that cannot show the player's output gets the player's own layout.
    const PixelFormat& f = panel.pixel_format().refusal ? player_format(panel.depth()) : panel.pixel_format();
    if (panel.depth() == 16) {
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

// 8-bit pixels of `Channels` channels (a fourth is alpha), `width` a row.
// A picture of fewer rows than the panel has the background below it.
template <int Channels>
void panel_stream(const uint8_t* pixels, uint32_t width, uint32_t rows, Rgb background, bool dither,
    const ScreenGeometry& panel, std::vector<uint16_t>& stream)
{
    CodeLayout layout = code_layout(panel);
    const CodeField fields[3] = { layout.red, layout.green, layout.blue };
    // Each channel's 8-bit level to its bits of the code, rounded to the nearest level.
    uint16_t bits_of[3][256];
    for (int c = 0; c < 3; ++c) {
        uint32_t top = (1u << fields[c].bits) - 1;
        for (uint32_t value = 0; value < 256; ++value)
            bits_of[c][value] = uint16_t((value * top + 127) / 255 << fields[c].shift);
    }
    const uint32_t under[3] = { background.r, background.g, background.b };
    auto code_of = [&](uint32_t x, uint32_t y) {
        const uint8_t* p = pixels + (size_t(y) * width + x) * Channels;
        uint32_t a = Channels == 4 ? p[3] : 255;
        uint32_t code = layout.fixed;
        for (int c = 0; c < 3; ++c) {
            uint32_t value = a == 255 ? p[c] : (p[c] * a + under[c] * (255 - a) + 127) / 255;
            if (dither) {
                float threshold = (BAYER[y % 8][x % 8] + 0.5f) / 64 - 0.5f;
                code |= dithered_level(value, (1u << fields[c].bits) - 1, threshold) << fields[c].shift;
            } else {
                code |= bits_of[c][value];
            }
        }
        return uint16_t(code);
    };
    const uint16_t below = uint16_t(
        layout.fixed | bits_of[0][background.r] | bits_of[1][background.g] | bits_of[2][background.b]);
    // Stream pixel j lands at memory pixel j of lines `per_line` pixels long.
    const size_t budget = size_t(panel.width) * panel.height;
    const size_t per_line = panel.stride() / (panel.depth() / 8);
    stream.resize(budget);
    if (Channels == 3 && !dither && per_line == panel.width && rows == panel.height) {
        // Opaque, lines without padding: pixel j is code j.
        if (is_rgb565(layout))
            return rgb565_codes(pixels, budget, stream.data());
        for (size_t j = 0; j < budget; ++j) {
            const uint8_t* p = pixels + j * 3;
            stream[j] = uint16_t(layout.fixed | bits_of[0][p[0]] | bits_of[1][p[1]] | bits_of[2][p[2]]);
        }
        return;
    }
    for (size_t j = 0, x = 0, y = 0; j < budget; ++j) {
        stream[j] = x >= panel.width || y >= panel.height ? stream[j ? j - 1 : 0]
            : y < rows                                    ? code_of(uint32_t(x), uint32_t(y))
                                                          : below;
        if (++x == per_line)
            x = 0, ++y;
    }
}

} // namespace

void image_into_panel_stream(const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel,
    std::vector<uint16_t>* stream)
{
    if (!panel.rotate)
        return panel_stream<4>(
            image.rgba.data(), image.width, image.height, background, dither, panel, *stream);
    std::vector<uint8_t> turned = turn_clockwise(image.rgba, image.width, image.height, 4, panel.rotate);
    bool quarter = panel.turned_sideways();
    panel_stream<4>(turned.data(), quarter ? image.height : image.width, quarter ? image.width : image.height,
        background, dither, panel, *stream);
}

void rgb_into_panel_stream(std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither,
    const ScreenGeometry& panel, std::vector<uint16_t>* stream)
{
    uint32_t height = uint32_t(rgb.size() / 3 / width);
    if (!panel.rotate)
        return panel_stream<3>(rgb.data(), width, height, background, dither, panel, *stream);
    std::vector<uint8_t> turned = turn_clockwise(rgb, width, height, 3, panel.rotate);
    bool quarter = panel.turned_sideways();
    panel_stream<3>(turned.data(), quarter ? height : width, quarter ? width : height, background, dither,
        panel, *stream);
}

std::vector<uint16_t> image_to_panel_stream(
    const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel)
{
    std::vector<uint16_t> stream;
    image_into_panel_stream(image, background, dither, panel, &stream);
    return stream;
}

std::vector<uint16_t> rgb_to_panel_stream(
    std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither, const ScreenGeometry& panel)
{
    std::vector<uint16_t> stream;
    rgb_into_panel_stream(rgb, width, background, dither, panel, &stream);
    return stream;
}

std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither)
{
    ScreenGeometry screen { image.width, image.height, 16 };
    return image_to_panel_stream(image, background, dither, screen);
}
