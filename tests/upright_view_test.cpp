// The preview's view of a panel kept from frame to frame: what it shows
// against the panel read whole, and the pixels it marks as changed.
#include "frames/panel_view.h"
#include "preview/upright_view.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

} // namespace

namespace {

// The view's pixels as 8-bit RGB.
Bytes rgb_of(std::span<const uint32_t> pixels)
{
    Bytes rgb;
    for (uint32_t pixel : pixels)
        rgb.insert(rgb.end(), { uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel) });
    return rgb;
}

// The pixels that differ between two upright pictures: their rectangle and
// whether the view marks exactly those.
void expect_changes(const UprightView& view, const Bytes& before, const Bytes& after, const std::string& what,
    const std::string& change)
{
    const uint32_t w = view.width(), h = view.height();
    uint32_t left = w, top = h, right = 0, bottom = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t at = (size_t(y) * w + x) * 3;
            const bool changed = !std::equal(&before[at], &before[at] + 3, &after[at]);
            EXPECT_EQ(view.changed_at(x, y), changed) << what << ", " << change << " at " << x << "," << y;
            if (changed)
                left = std::min(left, x), top = std::min(top, y), right = std::max(right, x + 1),
                bottom = y + 1;
        }
    const PixelRect expected = right ? PixelRect { left, top, right - left, bottom - top } : PixelRect {};
    EXPECT_TRUE(view.changed() == expected) << what << ", " << change;
}

} // namespace

TEST(UprightView, ShowsWhatTheMemoryShowsAndMarksWhatChanged)
{
    for (const char* name : { "RGB565", "XRGB1555", "XBGR8888" })
        for (uint32_t rotate : { 0u, 90u, 180u, 270u }) {
            const PixelFormat& f = *find_format(name);
            ScreenGeometry panel { 5, 3, f.bits_per_pixel, 5 * f.bits_per_pixel / 8 + 4, &f };
            panel.rotate = rotate;
            const std::string what = std::string(name) + " at " + std::to_string(rotate);
            Bytes memory(panel.memory_bytes());
            for (size_t i = 0; i < memory.size(); ++i)
                memory[i] = uint8_t(i * 37 + 11);
            UprightView view(panel);
            Bytes shown = rgb_of(view.show(memory));
            EXPECT_EQ(shown, upright_rgb(memory, panel)) << what;
            EXPECT_TRUE(view.changed() == (PixelRect { 0, 0, view.width(), view.height() })) << what;
            // Two pixels of the middle line change, then only a line's padding, then the memory ends
            // inside a line (the rest reads as zeros): each shows as it is, and only what changed is marked.
            auto step = [&](const Bytes& now, const std::string& change) {
                Bytes after = rgb_of(view.show(now));
                EXPECT_EQ(after, upright_rgb(now, panel)) << what << ", " << change;
                expect_changes(view, shown, after, what, change);
                shown = after;
            };
            memory[panel.stride() + 1 * f.bits_per_pixel / 8] ^= 0xA5;
            memory[panel.stride() + 3 * f.bits_per_pixel / 8] ^= 0x5A;
            step(memory, "two pixels");
            memory[panel.stride() * 2 - 1] ^= 0xFF;
            step(memory, "padding");
            step(Bytes(memory.begin(), memory.begin() + ptrdiff_t(panel.stride()) + 5), "shorter");
        }
}

// Rows that cross the view's 64-bit words of marks: the changed pixels of a
// rectangle counted a word at a time are those counted one by one.
TEST(UprightView, CountsTheChangedPixelsOfARectangle)
{
    const PixelFormat& f = *find_format("RGB565");
    ScreenGeometry panel { 150, 4, 16, 300, &f };
    Bytes memory(panel.memory_bytes());
    UprightView view(panel);
    (void)view.show(memory);
    for (size_t i = 0; i < memory.size(); i += 2)
        memory[i] = uint8_t(i % 7 == 0 || i % 130 < 3 ? 0xFF : 0);
    (void)view.show(memory);
    for (PixelRect rect : { PixelRect { 0, 0, 150, 4 }, PixelRect { 1, 1, 127, 2 }, PixelRect { 63, 0, 2, 4 },
             PixelRect { 64, 3, 64, 1 }, PixelRect { 100, 2, 50, 2 }, PixelRect { 5, 1, 0, 3 } }) {
        uint64_t one_by_one = 0;
        for (uint32_t y = rect.y; y < rect.y + rect.height; ++y)
            for (uint32_t x = rect.x; x < rect.x + rect.width; ++x)
                one_by_one += view.changed_at(x, y);
        EXPECT_EQ(view.changed_in(rect), one_by_one)
            << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height;
    }
}
