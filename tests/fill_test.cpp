#include "render.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint8_t UNTOUCHED = 0xCC;
constexpr int MAX_BYTES = 300;

struct alignas(64) Buffer {
    uint8_t bytes[64 + MAX_BYTES + 64];
};

// Every destination alignment and length: the pattern lands on exactly the
// even part of the range and nothing outside it changes.
template <typename Fill, typename Value> void sweep(Fill fill, Value value, int step)
{
    uint8_t pattern[sizeof value];
    std::memcpy(pattern, &value, sizeof value);
    for (int offset = 0; offset < 32; offset += step)
        for (int nbytes = 0; nbytes <= MAX_BYTES; ++nbytes) {
            Buffer buffer;
            std::memset(buffer.bytes, UNTOUCHED, sizeof buffer.bytes);
            uint8_t* dst = buffer.bytes + 64 + offset;
            fill(dst, value, nbytes);
            int written = nbytes < 2 ? 0 : nbytes & ~1;
            for (int i = -64 - offset; i < MAX_BYTES + 64 - offset; ++i) {
                uint8_t expected = i >= 0 && i < written ? pattern[i % sizeof value] : UNTOUCHED;
                ASSERT_EQ(dst[i], expected) << "offset " << offset << " nbytes " << nbytes << " byte " << i;
            }
        }
}

TEST(Fill, SixteenBitPatternAtEveryAlignmentAndLength)
{
    sweep(fill16, uint16_t { 0xA1B2 }, 2);
}

TEST(Fill, ThirtyTwoBitPatternAtEveryAlignmentAndLength)
{
    sweep(fill32, uint32_t { 0xA1B2C3D4 }, 4);
}

TEST(Fill, HalfWordTailsAndLeads)
{
    alignas(32) uint8_t bytes[16];
    std::memset(bytes, UNTOUCHED, sizeof bytes);
    fill16(bytes + 2, 0x1234, 2); // 2 past a word boundary: one half-word, nothing more
    const uint8_t after16[] = { 0xCC, 0xCC, 0x34, 0x12, 0xCC, 0xCC };
    EXPECT_EQ(0, std::memcmp(bytes, after16, sizeof after16));

    std::memset(bytes, UNTOUCHED, sizeof bytes);
    fill32(bytes, 0x11223344, 6); // one word, then the pattern's low half
    const uint8_t after32[] = { 0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0xCC, 0xCC };
    EXPECT_EQ(0, std::memcmp(bytes, after32, sizeof after32));
}

} // namespace
