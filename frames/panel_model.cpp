#include "frames/panel_model.h"
#include "frames/rgb565_codes.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <xxhash.h>

namespace {

uint8_t widen(uint32_t pixel, ChannelField field)
{
    uint32_t value = (pixel >> field.offset) & ((1u << field.length) - 1);
    uint32_t wide = 0;
    // The channel's bits repeated from the top down to fill eight.
    for (int shift = 8 - int(field.length); shift > -int(field.length); shift -= int(field.length))
        wide |= shift >= 0 ? value << shift : value >> -shift;
    return uint8_t(wide);
}

// Where row y of a width x height picture lands in the picture turned
// `degrees` clockwise: the pixel index of its first pixel, and the step
// from one of its pixels to the next.
struct TurnedRow {
    size_t first;
    ptrdiff_t step;
};

TurnedRow turned_row(uint32_t y, uint32_t width, uint32_t height, uint32_t degrees)
{
    switch (degrees % 360) {
    case 90: return { height - 1 - y, ptrdiff_t(height) };
    case 180: return { size_t(height - 1 - y) * width + width - 1, -1 };
    case 270: return { size_t(width - 1) * height + y, -ptrdiff_t(height) };
    default: return { size_t(y) * width, 1 };
    }
}

// How a panel of `format` reads a pixel of memory: a table of what each
// 16-bit value shows, or a 32-bit pixel's channels widened in place.
class PixelReader {
public:
    explicit PixelReader(const PixelFormat& format)
        : format_(format)
        , bytes_(format.bits_per_pixel / 8)
    {
        if (bytes_ != 2)
            return;
        table_.resize(size_t(65536) * 3);
        for (uint32_t value = 0; value < 65536; ++value)
            widen_into(value, &table_[size_t(value) * 3]);
    }
    uint32_t bytes() const { return bytes_; }
    // The RGB a pixel of memory (little-endian, as the panel reads it) shows.
    void read(const uint8_t* pixel, uint8_t* out) const
    {
        if (bytes_ == 2) {
            std::memcpy(out, &table_[size_t(pixel[0] | pixel[1] << 8) * 3], 3);
            return;
        }
        uint32_t value = 0;
        std::memcpy(&value, pixel, 4);
        if (whole_bytes_) {
            out[0] = uint8_t(value >> format_.red.offset), out[1] = uint8_t(value >> format_.green.offset),
            out[2] = uint8_t(value >> format_.blue.offset);
            return;
        }
        widen_into(value, out);
    }

private:
    void widen_into(uint32_t pixel, uint8_t* out) const
    {
        out[0] = widen(pixel, format_.red), out[1] = widen(pixel, format_.green),
        out[2] = widen(pixel, format_.blue);
    }

    const PixelFormat& format_;
    uint32_t bytes_;
    // Every channel eight bits: read as it is, nothing to widen.
    bool whole_bytes_ = format_.red.length == 8 && format_.green.length == 8 && format_.blue.length == 8;
    std::vector<uint8_t> table_;
};

} // namespace

std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    const PixelReader reader(format);
    const uint8_t none[4] = {};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            size_t at = size_t(y) * line_length + x * reader.bytes();
            reader.read(
                at + reader.bytes() <= memory.size() ? &memory[at] : none, &rgb[(size_t(y) * width + x) * 3]);
        }
    return rgb;
}

std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format)
{
    std::vector<uint8_t> memory(size_t(line_length) * height);
    const size_t bytes_per_pixel = format.bits_per_pixel / 8;
    auto level = [](uint8_t value, ChannelField field) {
        uint32_t top = (1u << field.length) - 1;
        return ((value * top + 127) / 255) << field.offset;
    };
    uint32_t opaque = format.transp.length ? ((1u << format.transp.length) - 1) << format.transp.offset : 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* in = &rgb[(size_t(y) * width + x) * 3];
            uint32_t pixel
                = level(in[0], format.red) | level(in[1], format.green) | level(in[2], format.blue) | opaque;
            std::memcpy(&memory[size_t(y) * line_length + x * bytes_per_pixel], &pixel, bytes_per_pixel);
        }
    return memory;
}

std::vector<uint8_t> panel_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry)
{
    return panel_view(memory, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
}

std::vector<uint8_t> upright_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry)
{
    std::vector<uint8_t> rgb = panel_rgb(memory, geometry);
    if (!geometry.rotate)
        return rgb;
    return turn_clockwise(rgb, geometry.width, geometry.height, 3, 360 - geometry.rotate);
}

struct UprightView::Reader : PixelReader {
    using PixelReader::PixelReader;
    uint32_t argb(const uint8_t* pixel) const
    {
        uint8_t rgb[3];
        read(pixel, rgb);
        return 0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
    }
};

UprightView::UprightView(const ScreenGeometry& geometry)
    : geometry_(geometry)
    , reader_(std::make_unique<Reader>(geometry.pixel_format()))
    , line_digests_(geometry.height)
    , pixels_(geometry.pixels())
    , changed_bits_((geometry.pixels() + 63) / 64)
{
}

UprightView::~UprightView() = default;

// The line of memory whose first and last changed pixels land at upright
// pixels `first` and `last`: the changed rectangle grown to hold them.
void UprightView::mark_changed(size_t first, size_t last)
{
    const uint32_t w = width(), x0 = uint32_t(first % w), y0 = uint32_t(first / w), x1 = uint32_t(last % w),
                   y1 = uint32_t(last / w);
    PixelRect at { std::min(x0, x1), std::min(y0, y1), 0, 0 };
    at.width = std::max(x0, x1) - at.x + 1, at.height = std::max(y0, y1) - at.y + 1;
    if (!changed_.width) {
        changed_ = at;
        return;
    }
    const uint32_t right = std::max(changed_.x + changed_.width, at.x + at.width),
                   bottom = std::max(changed_.y + changed_.height, at.y + at.height);
    changed_.x = std::min(changed_.x, at.x), changed_.y = std::min(changed_.y, at.y);
    changed_.width = right - changed_.x, changed_.height = bottom - changed_.y;
}

uint64_t UprightView::changed_in(PixelRect rect) const
{
    uint64_t changed = 0;
    for (uint32_t y = rect.y; y < rect.y + rect.height; ++y) {
        // The marks of the row's pixels [at, end), a word (or the part of one) at a time.
        for (size_t at = size_t(y) * width() + rect.x, end = at + rect.width; at < end;) {
            const size_t from = at % 64, upto = std::min<size_t>(64, from + (end - at));
            const uint64_t mask
                = (upto == 64 ? ~uint64_t(0) : (uint64_t(1) << upto) - 1) & ~uint64_t(0) << from;
            changed += uint64_t(std::popcount(changed_bits_[at / 64] & mask));
            at += upto - from;
        }
    }
    return changed;
}

std::span<const uint32_t> UprightView::show(std::span<const uint8_t> memory)
{
    const uint32_t width = geometry_.width, height = geometry_.height, turn = 360 - geometry_.rotate;
    const size_t stride = geometry_.stride(), row = size_t(width) * reader_->bytes();
    const uint8_t none[4] = {};
    std::fill(changed_bits_.begin(), changed_bits_.end(), 0);
    changed_ = {};
    for (uint32_t y = 0; y < height; ++y) {
        // A line the memory ends in or before reads as zeros from there on.
        const size_t start = y * stride,
                     held = start < memory.size() ? std::min(row, memory.size() - start) : 0;
        const uint8_t* line = held ? &memory[start] : none;
        const uint64_t digest = held == row ? XXH3_64bits(line, row) : 0;
        if (!first_ && held == row && digest == line_digests_[y])
            continue;
        line_digests_[y] = digest;
        // Where the line shows, the panel turned back upright.
        const TurnedRow to = turned_row(y, width, height, turn);
        size_t shown = to.first, first = SIZE_MAX, last = 0;
        for (size_t at = 0; at < row; at += reader_->bytes(), shown += size_t(to.step)) {
            const uint32_t pixel = reader_->argb(at + reader_->bytes() <= held ? line + at : none);
            if (pixel == pixels_[shown])
                continue;
            pixels_[shown] = pixel;
            changed_bits_[shown / 64] |= uint64_t(1) << (shown % 64);
            first = first == SIZE_MAX ? shown : first, last = shown;
        }
        if (first != SIZE_MAX)
            mark_changed(first, last);
    }
    first_ = false;
    return pixels_;
}

std::vector<uint8_t> panel_memory(std::span<const uint8_t> upright, const ScreenGeometry& geometry)
{
    std::vector<uint8_t> turned;
    if (geometry.rotate)
        turned = turn_clockwise(
            upright, geometry.upright_width(), geometry.upright_height(), 3, geometry.rotate);
    std::span<const uint8_t> rgb = geometry.rotate ? turned : upright;
    std::vector<uint8_t> memory
        = panel_memory(rgb, geometry.width, geometry.height, geometry.stride(), geometry.pixel_format());
    memory.resize(geometry.memory_bytes());
    return memory;
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

bool is_rgb565(const CodeLayout& layout)
{
    return layout.red.bits == 5 && layout.red.shift == 11 && layout.green.bits == 6 && layout.green.shift == 5
        && layout.blue.bits == 5 && layout.blue.shift == 0 && layout.fixed == 0;
}

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

namespace {

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
    const size_t per_line = panel.stride() / (panel.bits_per_pixel / 8);
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

std::vector<uint8_t> turn_clockwise(
    std::span<const uint8_t> pixels, uint32_t width, uint32_t height, uint32_t channels, uint32_t degrees)
{
    degrees %= 360;
    if (!degrees)
        return { pixels.begin(), pixels.end() };
    std::vector<uint8_t> turned(pixels.size());
    // Each row of the picture becomes a column (a quarter turn) or a row read backwards.
    for (uint32_t y = 0; y < height; ++y) {
        const TurnedRow to = turned_row(y, width, height, degrees);
        size_t shown = to.first;
        for (uint32_t x = 0; x < width; ++x, shown += size_t(to.step))
            std::memcpy(&turned[shown * channels], &pixels[(size_t(y) * width + x) * channels], channels);
    }
    return turned;
}

void image_to_panel_stream(const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel,
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

void rgb_to_panel_stream(std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither,
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
    image_to_panel_stream(image, background, dither, panel, &stream);
    return stream;
}

std::vector<uint16_t> rgb_to_panel_stream(
    std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither, const ScreenGeometry& panel)
{
    std::vector<uint16_t> stream;
    rgb_to_panel_stream(rgb, width, background, dither, panel, &stream);
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
