// Built with -O3 whatever the build: the AVX2 version is the loop below
// vectorized, 16 pixels at a time; without AVX2 the arithmetic does not
// vectorize, and three table look-ups a pixel are faster.
#include "frames/rgb565_codes.h"

#include <array>

namespace {

// (v * top + 127) / 255, with the division as (t + 1 + (t >> 8)) >> 8,
// exact while t < 65535.
constexpr uint32_t level(uint32_t v, uint32_t top)
{
    const uint32_t t = v * top + 127;
    return (t + 1 + (t >> 8)) >> 8;
}

constexpr bool level_is_exact(uint32_t top)
{
    for (uint32_t v = 0; v < 256; ++v)
        if (level(v, top) != (v * top + 127) / 255)
            return false;
    return true;
}
static_assert(level_is_exact(31) && level_is_exact(63));

// Each channel's 8-bit level to its bits of the code.
struct Tables {
    std::array<uint16_t, 256> red, green, blue;
};

constexpr Tables make_tables()
{
    Tables tables {};
    for (uint32_t v = 0; v < 256; ++v) {
        tables.red[v] = uint16_t(level(v, 31) << 11);
        tables.green[v] = uint16_t(level(v, 63) << 5);
        tables.blue[v] = uint16_t(level(v, 31));
    }
    return tables;
}

// The loop vectorized, 16 pixels at a time.
__attribute__((target("avx2"))) void codes_by_avx2(
    const uint8_t* __restrict rgb, size_t pixels, uint16_t* __restrict codes)
{
    for (size_t j = 0; j < pixels; ++j)
        codes[j] = uint16_t(
            level(rgb[j * 3], 31) << 11 | level(rgb[j * 3 + 1], 63) << 5 | level(rgb[j * 3 + 2], 31));
}

void codes_by_tables(const uint8_t* rgb, size_t pixels, uint16_t* codes)
{
    static constexpr Tables tables = make_tables();
    for (size_t j = 0; j < pixels; ++j) {
        const uint8_t* p = rgb + j * 3;
        codes[j] = uint16_t(tables.red[p[0]] | tables.green[p[1]] | tables.blue[p[2]]);
    }
}

} // namespace

void rgb565_codes(const uint8_t* rgb, size_t pixels, uint16_t* codes)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? codes_by_avx2(rgb, pixels, codes) : codes_by_tables(rgb, pixels, codes);
}
