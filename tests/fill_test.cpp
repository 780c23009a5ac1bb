#include "core/decode.h"
#include "tests/support/fill_sweep.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint8_t UNTOUCHED = 0xCC;

TEST(Fill, BothPatternsAtEveryAlignmentAndLength)
{
    int shown = 0;
    int failures = fill_sweep([&shown](int width, int offset, int nbytes, int byte, int found, int expected) {
        if (shown++ < 10)
            ADD_FAILURE() << "fill" << width * 8 << " offset " << offset << " nbytes " << nbytes << ": byte "
                          << byte << " is " << found << ", not " << expected;
    });
    EXPECT_EQ(failures, 0);
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
