// The run coder: the runs it finds against the runs found one pixel at a
// time, and where its records stop.
#include "frames/rle565.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Codes = std::vector<uint16_t>;

// The coder's answer worked out one pixel at a time.
std::vector<uint8_t> runs_by_pixel(const Codes& pixels)
{
    std::vector<uint8_t> frame;
    for (size_t at = 0; at < pixels.size();) {
        size_t run = 1;
        while (at + run < pixels.size() && run < MAX_RUN && pixels[at + run] == pixels[at])
            ++run;
        append_run(frame, uint16_t(run), pixels[at]);
        at += run;
    }
    return frame;
}

} // namespace

// Runs of every length from a pixel to beyond MAX_RUN twice, starting and
// ending anywhere in the coder's blocks of pixels, and streams of every
// length up to a few blocks (the tail the blocks leave).
TEST(RunCoder, FindsTheRunsThatOnePixelAtATimeFinds)
{
    std::mt19937 random(31);
    std::vector<Codes> streams = { {}, { 9 }, Codes(MAX_RUN, 4), Codes(MAX_RUN + 1, 4), Codes(2 * MAX_RUN, 4),
        Codes(2 * MAX_RUN + 17, 4) };
    for (size_t length = 1; length <= 140; ++length) {
        Codes stream(length);
        for (uint16_t& code : stream)
            code = uint16_t(random() % 3); // neighbours often alike
        streams.push_back(stream);
    }
    for (uint32_t longest : { 2u, 20u, 200u, 70000u }) {
        Codes stream;
        while (stream.size() < 400000)
            stream.insert(stream.end(), 1 + random() % longest, uint16_t(random() % 4 * 0x4321));
        streams.push_back(stream);
    }
    for (const Codes& stream : streams) {
        const std::vector<uint8_t> expected = runs_by_pixel(stream);
        EXPECT_EQ(encode_rle565(stream), expected) << stream.size() << " pixels";
        // In pieces of a few records, a record, and of more than the frame.
        for (size_t room_bytes : { size_t(12), size_t(4), size_t(7), expected.size() + 8 }) {
            std::vector<uint8_t> room(room_bytes), made;
            EXPECT_TRUE(encode_rle565_through(stream, room, [&made](std::span<const uint8_t> piece) {
                made.insert(made.end(), piece.begin(), piece.end());
                return !piece.empty() && piece.size() % 4 == 0;
            }));
            EXPECT_EQ(made, expected) << stream.size() << " pixels, " << room_bytes << " bytes of room";
        }
    }
}

TEST(RunCoder, StopsWhereItsRecordsCannotGo)
{
    const Codes stripes = { 1, 2, 1, 2, 1, 2, 1, 2 };
    std::vector<uint8_t> room(8);
    int pieces = 0;
    EXPECT_FALSE(encode_rle565_through(stripes, room, [&pieces](std::span<const uint8_t>) {
        ++pieces;
        return false;
    }));
    EXPECT_GE(pieces, 1);
    std::vector<uint8_t> no_room(3);
    EXPECT_FALSE(encode_rle565_through(stripes, no_room, [](std::span<const uint8_t>) { return true; }));
}
