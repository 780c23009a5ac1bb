// What a panel shows, upright, kept from one frame to the next for the
// preview: only what changed is read again.
#pragma once

#include "frames/panel.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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
