#include "core/decode.h"
#include "frames/rle565.h"
#include "tests/support/decode_sweep.h"
#include "tests/support/reference_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Frame = std::vector<uint8_t>;

Frame runs(std::initializer_list<std::pair<uint16_t, uint16_t>> records)
{
    Frame frame;
    for (auto [count, colour] : records)
        append_run(frame, count, colour);
    return frame;
}

// A screen of width x height at 16 or 32 bits with guard bytes after it.
struct TestScreen {
    static constexpr uint8_t GUARD = 0x5A;
    uint32_t width, height, bpp;
    std::vector<uint32_t> words; // word storage keeps the pixels aligned

    TestScreen(uint32_t w, uint32_t h, uint32_t depth, uint8_t fill = 0)
        : width(w)
        , height(h)
        , bpp(depth)
        , words((bytes() + 64) / 4 + 1)
    {
        std::memset(data(), fill, bytes());
        std::memset(data() + bytes(), GUARD, words.size() * 4 - bytes());
    }
    size_t bytes() const { return size_t(width) * height * bpp / 8; }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(words.data()); }
    uint32_t draw(const Frame& frame)
    {
        return decode_frame(frame.data(), static_cast<uint32_t>(frame.size()), data(), width, height, bpp);
    }
    uint32_t pixel(size_t i)
    {
        uint32_t value = 0;
        std::memcpy(&value, data() + i * bpp / 8, bpp / 8);
        return value;
    }
    bool guard_intact()
    {
        for (size_t i = bytes(); i < words.size() * 4; ++i)
            if (data()[i] != GUARD)
                return false;
        return true;
    }
    std::vector<uint32_t> pixels()
    {
        std::vector<uint32_t> all;
        for (size_t i = 0; i < size_t(width) * height; ++i)
            all.push_back(pixel(i));
        return all;
    }
};

TEST(Expand565, WidensByRepeatingTopBitsAndStoresRedGreenBlueAlpha)
{
    EXPECT_EQ(expand565(0xFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(expand565(0x0000), 0xFF000000u);
    EXPECT_EQ(expand565(0xF800), 0xFF0000FFu);
    EXPECT_EQ(expand565(0x07E0), 0xFF00FF00u);
    EXPECT_EQ(expand565(0x001F), 0xFFFF0000u);
    EXPECT_EQ(expand565(0x8410), 0xFF848284u); // top bits repeated: 0x84, 0x82, 0x84

    TestScreen screen(1, 1, 32);
    screen.draw(runs({ { 1, 0xF800 } }));
    const uint8_t red[] = { 0xFF, 0x00, 0x00, 0xFF };
    EXPECT_EQ(0, std::memcmp(screen.data(), red, 4));
}

TEST(Decode, SixteenBitColoursAreStoredLittleEndian)
{
    TestScreen screen(2, 1, 16);
    EXPECT_EQ(screen.draw(runs({ { 2, 0x1234 } })), 1u);
    const uint8_t expected[] = { 0x34, 0x12, 0x34, 0x12 };
    EXPECT_EQ(0, std::memcmp(screen.data(), expected, 4));
}

TEST(Decode, RunThatNoLongerFitsStopsDecoding)
{
    for (uint32_t bpp : { 16u, 32u }) {
        TestScreen screen(4, 2, bpp);
        EXPECT_EQ(screen.draw(runs({ { 3, 0xF800 }, { 5, 0x001F }, { 1, 0xFFFF } })), 2u);
        uint32_t red = bpp == 16 ? 0xF800 : expand565(0xF800), blue = bpp == 16 ? 0x001F : expand565(0x001F);
        EXPECT_EQ(screen.pixels(), (std::vector<uint32_t> { red, red, red, blue, blue, blue, blue, blue }));
        EXPECT_TRUE(screen.guard_intact());

        // A run that does not fit is not drawn even in part, and nothing after it is.
        TestScreen partial(4, 2, bpp);
        EXPECT_EQ(partial.draw(runs({ { 6, 0x1111 }, { 3, 0x2222 }, { 1, 0x3333 } })), 1u);
        EXPECT_EQ(partial.pixel(5), bpp == 16 ? 0x1111 : expand565(0x1111));
        EXPECT_EQ(partial.pixel(6), 0u);
        EXPECT_EQ(partial.pixel(7), 0u);
    }
}

TEST(Decode, ExactCoverAcceptsZeroRunsButNoMore)
{
    TestScreen screen(3, 3, 16);
    EXPECT_EQ(
        screen.draw(runs({ { 0, 0x1111 }, { 9, 0x2222 }, { 0, 0x3333 }, { 1, 0x4444 }, { 0, 0x5555 } })), 3u);
    EXPECT_EQ(screen.pixels(), std::vector<uint32_t>(9, 0x2222));
    EXPECT_TRUE(screen.guard_intact());
}

TEST(Decode, OverlongFirstRunDrawsNothing)
{
    for (uint32_t bpp : { 16u, 32u }) {
        TestScreen screen(8, 8, bpp, 0x77);
        EXPECT_EQ(screen.draw(runs({ { 65, 0xFFFF }, { 1, 0xFFFF } })), 0u);
        EXPECT_EQ(screen.pixels(), std::vector<uint32_t>(64, bpp == 16 ? 0x7777 : 0x77777777));
        EXPECT_TRUE(screen.guard_intact());
    }
}

TEST(Decode, ShortFilesAndTrailingBytesHoldNoRecords)
{
    Frame one_run = runs({ { 2, 0xABCD } });
    for (size_t size : { 0, 1, 2, 3 }) {
        TestScreen screen(2, 2, 16);
        EXPECT_EQ(screen.draw(Frame(one_run.begin(), one_run.begin() + size)), 0u);
        EXPECT_EQ(screen.pixels(), std::vector<uint32_t>(4, 0));
    }
    Frame trailing = runs({ { 1, 0xABCD } });
    trailing.insert(trailing.end(), { 0x02, 0x00, 0xFF }); // a record cut short
    TestScreen screen(2, 2, 16);
    EXPECT_EQ(screen.draw(trailing), 1u);
    EXPECT_EQ(screen.pixels(), (std::vector<uint32_t> { 0xABCD, 0, 0, 0 }));
}

TEST(Decode, ShortFrameLeavesThePreviousOneShowing)
{
    for (uint32_t bpp : { 16u, 32u }) {
        TestScreen screen(5, 3, bpp);
        screen.draw(runs({ { 15, 0x07E0 } }));
        screen.draw(runs({ { 4, 0xF800 }, { 0, 0x001F }, { 3, 0x001F } }));
        auto colour = [bpp](uint16_t c) { return bpp == 16 ? c : expand565(c); };
        std::vector<uint32_t> expected(15, colour(0x07E0));
        std::fill_n(expected.begin(), 4, colour(0xF800));
        std::fill_n(expected.begin() + 4, 3, colour(0x001F));
        EXPECT_EQ(screen.pixels(), expected);
    }
}

TEST(Decode, OddPixelCountsAndUnalignedRecordsStayInside)
{
    // Odd runs put 16-bit runs 2 bytes past a word boundary; the records
    // themselves need not be aligned in the caller's buffer.
    Frame frame = runs({ { 1, 0x1111 }, { 3, 0x2222 }, { 1, 0x3333 }, { 2, 0x4444 } });
    Frame shifted(1, 0);
    shifted.insert(shifted.end(), frame.begin(), frame.end());
    TestScreen screen(7, 1, 16);
    EXPECT_EQ(
        decode_frame(shifted.data() + 1, static_cast<uint32_t>(frame.size()), screen.data(), 7, 1, 16), 4u);
    EXPECT_EQ(
        screen.pixels(), (std::vector<uint32_t> { 0x1111, 0x2222, 0x2222, 0x2222, 0x3333, 0x4444, 0x4444 }));
    EXPECT_TRUE(screen.guard_intact());
}

TEST(Decode, LongRunsAcrossManyBlocks)
{
    TestScreen screen(300, 500, 32);
    Frame frame = encode_rle565(std::vector<uint16_t>(150000, 0x1234));
    ASSERT_EQ(frame.size(), 12u); // 65535 + 65535 + 18930
    EXPECT_EQ(screen.draw(frame), 3u);
    EXPECT_EQ(screen.pixels(), std::vector<uint32_t>(150000, expand565(0x1234)));
    EXPECT_TRUE(screen.guard_intact());
}

TEST(Decode, OtherDepthsDrawNothing)
{
    for (uint32_t bpp : { 8u, 24u }) {
        TestScreen screen(4, 4, bpp);
        EXPECT_EQ(screen.draw(runs({ { 1, 0xFFFF } })), 0u);
        EXPECT_TRUE(screen.guard_intact());
        EXPECT_EQ(screen.pixel(0), 0u);
    }
}

} // namespace

namespace {

// The decoder's short and long paths against the reference: the same sweep
// the ARM build runs under emulation.
TEST(Decode, MatchesTheReferenceDecoder)
{
    static DecodeSweep sweep;
    int failures = decode_sweep(sweep, [](uint32_t bpp, int case_number) {
        ADD_FAILURE() << "case " << case_number << " at " << bpp << " bpp differs from the reference";
    });
    EXPECT_EQ(failures, 0);
}

// Every RGB565 colour, as a 1-pixel run through the decoder's 32-bit path
// (two byte tables) and as a long run through the fill, against expand565
// and against the reference's own widening.
TEST(Decode, EveryColourWidensAsTheFormatSays)
{
    TestScreen screen(256, 256, 32);
    Frame frame;
    for (uint32_t colour = 0; colour < 65536; ++colour)
        append_run(frame, 1, uint16_t(colour));
    ASSERT_EQ(screen.draw(frame), 65536u);
    for (uint32_t colour = 0; colour < 65536; ++colour) {
        uint8_t reference[4];
        reference_pixel(uint16_t(colour), 32, reference);
        ASSERT_EQ(screen.pixel(colour), expand565(uint16_t(colour))) << std::hex << colour;
        ASSERT_EQ(0, std::memcmp(screen.data() + colour * 4, reference, 4)) << std::hex << colour;
    }
    for (uint32_t colour = 0; colour < 65536; colour += 257) {
        TestScreen wide(64, 1, 32);
        wide.draw(runs({ { 64, uint16_t(colour) } }));
        ASSERT_EQ(wide.pixels(), std::vector<uint32_t>(64, expand565(uint16_t(colour))))
            << std::hex << colour;
    }
}

} // namespace
