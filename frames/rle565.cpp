#include "frames/rle565.h"

#include <cstring>

void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour)
{
    frame.insert(frame.end(), { uint8_t(count), uint8_t(count >> 8), uint8_t(colour), uint8_t(colour >> 8) });
}

namespace {

// Calls take(run, colour) for each run of `pixels`, runs merged up to MAX_RUN.
template <typename Take> void each_run(std::span<const uint16_t> pixels, Take&& take)
{
    const size_t size = pixels.size();
    for (size_t at = 0; at < size;) {
        size_t run = 1;
        const uint16_t colour = pixels[at];
        // Four pixels at a time while they all match, then one at a time.
        const uint64_t four = colour * 0x0001000100010001ull;
        for (uint64_t next; at + run + 4 <= size && run + 4 <= MAX_RUN; run += 4) {
            std::memcpy(&next, &pixels[at + run], 8);
            if (next != four)
                break;
        }
        while (at + run < size && run < MAX_RUN && pixels[at + run] == colour)
            ++run;
        take(run, colour);
        at += run;
    }
}

uint8_t* put_records(std::span<const uint16_t> pixels, uint8_t* out)
{
    each_run(pixels, [&out](size_t run, uint16_t colour) {
        out[0] = uint8_t(run), out[1] = uint8_t(run >> 8), out[2] = uint8_t(colour),
        out[3] = uint8_t(colour >> 8);
        out += 4;
    });
    return out;
}

} // namespace

std::vector<uint8_t> encode_rle565(std::span<const uint16_t> pixels)
{
    // Runs are counted first, so the frame is made in place at its size.
    size_t runs = 0;
    each_run(pixels, [&runs](size_t, uint16_t) { ++runs; });
    std::vector<uint8_t> frame(runs * 4);
    put_records(pixels, frame.data());
    return frame;
}

std::span<const uint8_t> encode_rle565_into(std::span<const uint16_t> pixels, std::span<uint8_t> room)
{
    if (room.size() < pixels.size() * 4)
        return {};
    return room.first(size_t(put_records(pixels, room.data()) - room.data()));
}
