// The panel model, both ways: the RGB565 codes that make a panel show a
// picture, and what a panel shows for the memory the player writes.
#pragma once

#include "frames/panel.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct RgbaImage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba; // 8 bits per channel, rows top to bottom
};

// 8-bit channels to RGB565, each rounded to the nearest level.
constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(
        ((r * 31 + 127) / 255) << 11 | ((g * 63 + 127) / 255) << 5 | (b * 31 + 127) / 255);
}

// Pixels of `channels` bytes, `width` x `height`, turned `degrees` (0, 90,
// 180, 270) clockwise: height x width for a quarter turn.
std::vector<uint8_t> turn_clockwise(
    std::span<const uint8_t> pixels, uint32_t width, uint32_t height, uint32_t channels, uint32_t degrees);

// An image in RGB565, alpha composited over `background`; each channel rounded
// to the nearest level, or with `dither` spread by an 8x8 ordered pattern
// (smoother gradients, shorter runs).
std::vector<uint16_t> image_to_rgb565(const RgbaImage& image, Rgb background, bool dither);

// The stream of RGB565 codes that makes `panel` show the image, given upright
// and turned into the panel's memory by its `rotate` (there of the panel's
// width, and its height or fewer rows, the background below them): each code chosen so that the bytes
// the player stores for it are read by the panel's format as the pixel's colour, rounded (or dithered) to the
// precision that survives; laid into the panel's lines, the padding pixels of each line joining the run
// before them; cut at the player's budget of width x height pixels.
std::vector<uint16_t> image_to_panel_stream(
    const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel);
// The same from opaque 8-bit RGB, `width` pixels a row.
std::vector<uint16_t> rgb_to_panel_stream(
    std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither, const ScreenGeometry& panel);
// Both made in `*stream`, whose room is kept from one frame to the next.
void image_to_panel_stream(const RgbaImage& image, Rgb background, bool dither, const ScreenGeometry& panel,
    std::vector<uint16_t>* stream);
void rgb_to_panel_stream(std::span<const uint8_t> rgb, uint32_t width, Rgb background, bool dither,
    const ScreenGeometry& panel, std::vector<uint16_t>* stream);

// Screen memory (16 or 32 bits per pixel, as the player writes it) to 8-bit
// RGB, widened exactly as the player widens colours for 32-bit screens.
std::vector<uint8_t> screen_to_rgb(std::span<const uint8_t> screen, uint32_t bits_per_pixel);

// What a panel of this format shows for each pixel of `memory`: the player's
// stream laid into rows of `line_length` bytes, each pixel read through the
// format, short channels widened by repeating their top bits. 8-bit RGB.
std::vector<uint8_t> panel_view(std::span<const uint8_t> memory, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);
// The reverse: device memory (rows of `line_length` bytes) that shows `rgb`
// on this panel, each channel rounded to the nearest level it holds, any
// alpha opaque.
std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
    uint32_t line_length, const PixelFormat& format);

// What this panel shows for the device memory `memory` (memory_bytes() long).
std::vector<uint8_t> panel_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry);
// The same as a person in front of the device sees it: turned back by the
// panel's `rotate`, upright_width() x upright_height().
std::vector<uint8_t> upright_rgb(std::span<const uint8_t> memory, const ScreenGeometry& geometry);
// A rectangle of pixels; empty when its width is 0.
struct PixelRect {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PixelRect&) const = default;
};

// What a panel shows, upright, as 0xFFRRGGBB pixels, kept as the memory
// changes from one frame to the next: only the lines of memory that changed
// are read again, known by their digests (a 64-bit XXH3 each, a few bytes a
// line instead of a copy of the memory), and the pixels that changed are
// marked.
class UprightView {
public:
    explicit UprightView(const ScreenGeometry& geometry);
    ~UprightView();
    UprightView(const UprightView&) = delete;
    UprightView& operator=(const UprightView&) = delete;
    // upright_rgb(memory) as pixels, the memory past the end of `memory`
    // (which may be shorter than memory_bytes()) read as zeros.
    std::span<const uint32_t> show(std::span<const uint8_t> memory);
    std::span<const uint32_t> pixels() const { return pixels_; }
    uint32_t width() const { return geometry_.upright_width(); }
    uint32_t height() const { return geometry_.upright_height(); }
    // Since the show before (everything, after the first): the smallest
    // rectangle holding every pixel that changed, and whether one did.
    PixelRect changed() const { return changed_; }
    bool changed_at(uint32_t x, uint32_t y) const
    {
        const size_t i = size_t(y) * width() + x;
        return changed_bits_[i / 64] >> (i % 64) & 1;
    }
    // How many pixels of `rect` changed, counted a 64-bit word of marks at a time.
    uint64_t changed_in(PixelRect rect) const;

private:
    struct Reader;
    void mark_changed(size_t first, size_t last);
    ScreenGeometry geometry_;
    std::unique_ptr<Reader> reader_;
    std::vector<uint64_t> line_digests_; // of the memory as last read
    std::vector<uint32_t> pixels_;
    std::vector<uint64_t> changed_bits_; // one a pixel
    PixelRect changed_;
    bool first_ = true;
};

// The device memory (memory_bytes() long) that shows `rgb` on this panel,
// `rgb` as seen upright.
std::vector<uint8_t> panel_memory(std::span<const uint8_t> rgb, const ScreenGeometry& geometry);
