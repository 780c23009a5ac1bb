#include "frames/rle565.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void append_run(std::vector<uint8_t>& frame, uint16_t count, uint16_t colour)
{
    frame.insert(frame.end(), { uint8_t(count), uint8_t(count >> 8), uint8_t(colour), uint8_t(colour >> 8) });
}

namespace {

// Bit k set where pixel k of the 16 at `at` differs from the pixel before it.
inline uint32_t colour_changes(const uint16_t* at)
{
#if defined(__SSE2__)
    const auto load
        = [](const uint16_t* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); };
    // The compares' words packed to one byte a pixel.
    const __m128i same = _mm_packs_epi16(
        _mm_cmpeq_epi16(load(at), load(at - 1)), _mm_cmpeq_epi16(load(at + 8), load(at + 7)));
    return ~uint32_t(_mm_movemask_epi8(same)) & 0xFFFF;
#else
    uint32_t changes = 0;
    for (int k = 0; k < 16; ++k)
        changes |= uint32_t(at[k] != at[k - 1]) << k;
    return changes;
#endif
}

// The same for the 64 pixels at `at`: a run's end is found a bit at a time
// in one word, and the loop over them ends (a branch that cannot be
// foreseen) once every 64 pixels.
inline uint64_t colour_changes_64(const uint16_t* at)
{
    return colour_changes(at) | uint64_t(colour_changes(at + 16)) << 16
        | uint64_t(colour_changes(at + 32)) << 32 | uint64_t(colour_changes(at + 48)) << 48;
}

// Calls take(run, colour) for each run of `pixels`, runs merged up to
// MAX_RUN. The colour changes are found 64 pixels at a time, so the work
// goes with the runs, not the pixels: a photograph's short runs take a step
// each rather than a guessed branch a pixel, and a plain screen passes at
// memory speed.
template <typename Take> void each_run(std::span<const uint16_t> pixels, Take&& take)
{
    const size_t size = pixels.size();
    if (size == 0)
        return;
    const uint16_t* pixel = pixels.data();
    size_t start = 0;
    const auto end_run = [&](size_t end) {
        size_t run = end - start;
        for (; run > MAX_RUN; run -= MAX_RUN)
            take(MAX_RUN, pixel[start]);
        take(run, pixel[start]);
        start = end;
    };
    size_t at = 1;
    for (; at + 64 <= size; at += 64)
        for (uint64_t changes = colour_changes_64(pixel + at); changes != 0; changes &= changes - 1)
            end_run(at + size_t(std::countr_zero(changes)));
    for (; at < size; ++at)
        if (pixel[at] != pixel[at - 1])
            end_run(at);
    end_run(size);
}

// A record at `out`, little-endian whatever the host (one store on a
// little-endian one); the place after it.
inline uint8_t* put_record(uint8_t* out, size_t run, uint16_t colour)
{
    if constexpr (std::endian::native == std::endian::little) {
        const uint32_t record = uint32_t(run) | uint32_t(colour) << 16;
        std::memcpy(out, &record, 4);
    } else {
        out[0] = uint8_t(run), out[1] = uint8_t(run >> 8), out[2] = uint8_t(colour),
        out[3] = uint8_t(colour >> 8);
    }
    return out + 4;
}

uint8_t* put_records(std::span<const uint16_t> pixels, uint8_t* out)
{
    each_run(pixels, [&out](size_t run, uint16_t colour) { out = put_record(out, run, colour); });
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

bool encode_rle565_through(std::span<const uint16_t> pixels, std::span<uint8_t> room,
    const std::function<bool(std::span<const uint8_t>)>& put)
{
    uint8_t* const begin = room.data();
    uint8_t* const end = begin + room.size() / 4 * 4;
    if (begin == end)
        return false;
    uint8_t* out = begin;
    bool going = true;
    each_run(pixels, [&](size_t run, uint16_t colour) {
        if (out == end) {
            going = going && put({ begin, end });
            out = begin;
        }
        out = put_record(out, run, colour);
    });
    return going && (out == begin || put({ begin, out }));
}
