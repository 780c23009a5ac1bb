// The player's decoder on arbitrary bytes. The first five bytes choose the
// screen (width from byte 0, height from byte 2, up to 128 each; depth from
// byte 4); the rest is the frame file. The screen sits
// between guard pages with its last byte against the trailing one, and the
// result must equal the pixel-by-pixel reference decoder's.
#include "core/decode.h"
#include "tests/support/reference_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint8_t BEFORE = 0x5A;
constexpr size_t MAX_SIDE = 128, MAX_BYTES = MAX_SIDE * MAX_SIDE * 4, LEAD_CHECKED = 256;

// One mapping for all inputs: guard pages on both sides, the screen placed so
// that its last byte touches the trailing guard page.
uint8_t* screen_ending_at_guard(size_t bytes)
{
    static uint8_t* end = [] {
        size_t page = size_t(sysconf(_SC_PAGESIZE)), pages = (MAX_BYTES + LEAD_CHECKED + page - 1) / page;
        auto* region = static_cast<uint8_t*>(
            mmap(nullptr, (pages + 2) * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (region == MAP_FAILED || mprotect(region + page, pages * page, PROT_READ | PROT_WRITE) != 0)
            abort();
        return region + page + pages * page;
    }();
    return end - bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    uint32_t width = 1 + (data[0] & (MAX_SIDE - 1)), height = 1 + (data[2] & (MAX_SIDE - 1));
    uint32_t bpp = data[4] & 1 ? 32 : 16;
    const uint8_t* frame = data + 5;
    uint32_t frame_size = uint32_t(size - 5);
    size_t bytes = size_t(width) * height * bpp / 8;

    // The previous frame: a pattern the decoder must leave where it draws nothing.
    std::vector<uint8_t> expected(bytes);
    for (size_t i = 0; i < bytes; ++i)
        expected[i] = uint8_t((i * 2654435761u) >> 7);
    uint8_t* screen = screen_ending_at_guard(bytes);
    std::memset(screen - LEAD_CHECKED, BEFORE, LEAD_CHECKED);
    std::memcpy(screen, expected.data(), bytes);

    uint32_t drawn = decode_frame(frame, frame_size, screen, width, height, bpp);
    uint32_t records = reference_decode(frame, frame_size, expected.data(), width, height, bpp);
    if (drawn != records || std::memcmp(screen, expected.data(), bytes) != 0)
        abort();
    for (size_t i = 1; i <= LEAD_CHECKED; ++i)
        if (screen[-std::ptrdiff_t(i)] != BEFORE)
            abort();
    return 0;
}
