// The preview's animated WebP on its own: each frame stored as the rectangle
// that changed, decoded back to every picture given, at the player's pace.
#include "core/schedule.h"
#include "frames/panel_view.h"
#include "lib/temp_dir.h"
#include "preview/animation.h"
#include "tests/support/expect_ok.h"
#include "tests/support/webp_frames.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using Rgb8 = std::vector<uint8_t>;
constexpr uint32_t W = 64, H = 48;

// Each ANMF chunk's rectangle (x, y, width, height) and whether it is blended.
std::vector<std::array<uint32_t, 5>> frame_rects(const std::string& file)
{
    auto le = [&](size_t at, int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= uint32_t(uint8_t(file[at + size_t(i)])) << (8 * i);
        return value;
    };
    std::vector<std::array<uint32_t, 5>> rects;
    for (size_t at = 12; at + 8 <= file.size(); at += 8 + ((le(at + 4, 4) + 1) & ~1u))
        if (file.compare(at, 4, "ANMF") == 0)
            rects.push_back({ le(at + 8, 3) * 2, le(at + 11, 3) * 2, le(at + 14, 3) + 1, le(at + 17, 3) + 1,
                uint32_t(!(file[at + 23] & 2)) });
    return rects;
}

} // namespace

TEST(Animation, EachFrameIsTheRectangleThatChanged)
{
    Rgb8 first(W * H * 3);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = uint8_t(i * 7 / 3);
    Rgb8 second = first; // a 3 x 2 block at an odd place changes
    for (uint32_t y = 5; y < 7; ++y)
        for (uint32_t x = 9; x < 12; ++x)
            second[(y * W + x) * 3 + 1] ^= 0x80;
    Rgb8 last = second;
    for (uint8_t& byte : last)
        byte = uint8_t(~byte);
    TempDir dir;
    const std::filesystem::path path = dir.path() / "a.webp";
    std::FILE* out = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(out, nullptr);
    {
        // The view of a 32 bpp panel's memory; the last two frames are read from it in place.
        const ScreenGeometry panel { W, H, 32, W * 4 };
        UprightView view(panel);
        AnimationWriter animation(out, W, H);
        for (const Rgb8* picture : { &first, &second, &second, &last, &first }) {
            animation.release_view();
            view.show(panel_memory_for_upright(*picture, panel));
            ASSERT_OK(animation.add(view));
        }
        ASSERT_OK(animation.finish());
    }
    std::fclose(out);
    std::vector<int> ends;
    EXPECT_EQ(webp_frames(path, &ends), (std::vector<Rgb8> { first, second, last, first }));
    const int pause = int(FRAME_DELAY_US / 1000);
    EXPECT_EQ(ends,
        (std::vector<int> { pause, 3 * pause, 4 * pause, 5 * pause })); // the repeat lengthens its frame
    // Whole, then the block widened to the even place WebP stores (blended: half of it stayed), then
    // whole again twice (opaque: nothing stayed).
    EXPECT_EQ(frame_rects(slurp(path)),
        (std::vector<std::array<uint32_t, 5>> {
            { 0, 0, W, H, 0 }, { 8, 4, 4, 3, 1 }, { 0, 0, W, H, 0 }, { 0, 0, W, H, 0 } }));
}
