#include "preview/upright_view.h"

#include "frames/pixel_reader.h"

#include <algorithm>
#include <bit>
#include <xxhash.h>

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
