#include "core/decode.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "frame records are read as native words");

// Screen memory is written as words and half-words but read back as bytes.
typedef uint32_t __attribute__((may_alias)) Word;
typedef uint16_t __attribute__((may_alias)) Half;

// Writes the low 16 / 8 / 4 bits' worth of `n` in 16-, 8- and 4-byte steps.
static inline uint8_t* fill_steps(uint8_t* p, uint32_t value, uint32_t n)
{
    Word* w = reinterpret_cast<Word*>(p);
    if (n & 16) {
        w[0] = value, w[1] = value, w[2] = value, w[3] = value;
        w += 4;
    }
    if (n & 8) {
        w[0] = value, w[1] = value;
        w += 2;
    }
    if (n & 4)
        *w++ = value;
    return reinterpret_cast<uint8_t*>(w);
}

// Whole 32-byte blocks of eight words from a 32-byte boundary.
static inline uint8_t* fill_blocks(uint8_t* p, uint32_t value, uint32_t blocks)
{
#if defined(__arm__) && !defined(__aarch64__)
    // One store-multiple of eight registers a block: GCC would emit eight
    // single stores, and a burst suits write-combined framebuffer memory.
    if (blocks) {
        register uint32_t r2 asm("r2") = value, r3 asm("r3") = value, r4 asm("r4") = value;
        register uint32_t r5 asm("r5") = value, r6 asm("r6") = value, r8 asm("r8") = value;
        register uint32_t r10 asm("r10") = value, r12 asm("r12") = value;
        __asm__ volatile("1: stmia %[p]!, {r2, r3, r4, r5, r6, r8, r10, r12}\n"
                         "   subs %[blocks], %[blocks], #1\n"
                         "   bne 1b"
                         : [p] "+r"(p), [blocks] "+r"(blocks)
                         : "r"(r2), "r"(r3), "r"(r4), "r"(r5), "r"(r6), "r"(r8), "r"(r10), "r"(r12)
                         : "cc", "memory");
    }
    return p;
#else
    // Aligned only when there is a block to write: a short run stops before the boundary.
    if (!blocks)
        return p;
    Word* w = static_cast<Word*>(__builtin_assume_aligned(p, 32));
    for (; blocks; --blocks, w += 8)
        w[0] = value, w[1] = value, w[2] = value, w[3] = value, w[4] = value, w[5] = value, w[6] = value,
        w[7] = value;
    return reinterpret_cast<uint8_t*>(w);
#endif
}

// The pattern over n bytes from a 4-byte aligned p: up to three steps to a
// 32-byte boundary, whole blocks, then the tail; an odd last byte is left.
static inline void fill_aligned(uint8_t* p, uint32_t value, uint32_t n)
{
    uint32_t lead = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(p)) & 28;
    if (lead > n)
        lead = n & ~3u;
    p = fill_steps(p, value, lead);
    n -= lead;
    p = fill_blocks(p, value, n >> 5);
    p = fill_steps(p, value, n);
    if (n & 2)
        *reinterpret_cast<Half*>(p) = static_cast<uint16_t>(value);
}

// Out of line: inlined into the decoder they would crowd its registers.
__attribute__((noinline)) void fill32(void* dst, uint32_t value, int nbytes)
{
    fill_aligned(static_cast<uint8_t*>(dst), value, nbytes > 0 ? static_cast<uint32_t>(nbytes) : 0);
}

__attribute__((noinline)) void fill16(void* dst, uint16_t value, int nbytes)
{
    if (nbytes <= 1)
        return;
    uint8_t* p = static_cast<uint8_t*>(dst);
    if (reinterpret_cast<uintptr_t>(p) & 2) {
        *reinterpret_cast<Half*>(p) = value;
        p += 2;
        nbytes -= 2;
    }
    fill_aligned(p, value | static_cast<uint32_t>(value) << 16, static_cast<uint32_t>(nbytes));
}

// expand565 split by the colour's two bytes, whose contributions never share
// a bit: two loads and an OR per run instead of a dozen shifts and masks.
struct ExpandTable {
    uint32_t by_byte[256];
};
constexpr ExpandTable expand_table(bool high_byte)
{
    ExpandTable table = {};
    for (uint32_t byte = 0; byte < 256; ++byte)
        table.by_byte[byte] = high_byte ? expand565(static_cast<uint16_t>(byte << 8))
                                        : expand565(static_cast<uint16_t>(byte)) & 0x00FFFFFFu;
    return table;
}
constexpr ExpandTable EXPAND_HIGH = expand_table(true), EXPAND_LOW = expand_table(false);
constexpr uint32_t expand_by_bytes(uint32_t colour)
{
    return EXPAND_HIGH.by_byte[colour >> 8] | EXPAND_LOW.by_byte[colour & 0xFF];
}
static_assert(expand_by_bytes(0xF800) == expand565(0xF800) && expand_by_bytes(0x07E0) == expand565(0x07E0)
    && expand_by_bytes(0x8410) == expand565(0x8410) && expand_by_bytes(0x001F) == expand565(0x001F));

// Runs of fewer than SHORT_RUN pixels, most runs of a detailed frame, are
// stored pixel by pixel: the same bytes the fills would write, without their
// alignment work. Longer ones, and count-0 records, go through the fills.
constexpr uint32_t SHORT_RUN = 8;

template <int BytesPerPixel> struct PixelOf;
template <> struct PixelOf<2> {
    typedef Half Type;
};
template <> struct PixelOf<4> {
    typedef Word Type;
};

// Loop vectorisation would only slow the short runs (fewer than eight stores).
#if defined(__clang__)
#define NO_LOOP_VECTORIZE
#else
#define NO_LOOP_VECTORIZE __attribute__((optimize("no-tree-loop-vectorize")))
#endif

template <int BytesPerPixel>
NO_LOOP_VECTORIZE static const uint8_t* decode_runs(
    const uint8_t* record, const uint8_t* end, uint8_t* dst, uint32_t pixels)
{
    typedef typename PixelOf<BytesPerPixel>::Type Pixel;
    for (; record != end; record += FRAME_RECORD_BYTES) {
        uint32_t word;
        __builtin_memcpy(&word, record, sizeof word);
        uint32_t count = word & 0xFFFF;
        if (count > pixels)
            break;
        pixels -= count;
        uint32_t pattern = BytesPerPixel == 2 ? word >> 16 : expand_by_bytes(word >> 16);
        if (count - 1 < SHORT_RUN - 1) {
            Pixel* p = reinterpret_cast<Pixel*>(dst);
            do
                *p++ = static_cast<Pixel>(pattern);
            while (--count);
            dst = reinterpret_cast<uint8_t*>(p);
            continue;
        }
        if (BytesPerPixel == 2)
            fill16(dst, static_cast<uint16_t>(pattern), static_cast<int>(count * 2));
        else
            fill32(dst, pattern, static_cast<int>(count * 4));
        dst += count * BytesPerPixel;
    }
    return record;
}

#if ((defined(__arm__) && defined(__thumb2__)) || defined(__aarch64__)) && !defined(PELIMORA_COMPILED_LOOP)
// decode_arm.S and decode_aarch64.S: the same loop, written out for ARMv7 and AArch64.
extern "C" const uint8_t* decode_runs16(
    const uint8_t* record, const uint8_t* end, uint8_t* dst, uint32_t pixels);
extern "C" const uint8_t* decode_runs32(const uint8_t* record, const uint8_t* end, uint8_t* dst,
    uint32_t pixels, const uint32_t* expand_low, const uint32_t* expand_high);
#else
static const uint8_t* decode_runs16(const uint8_t* record, const uint8_t* end, uint8_t* dst, uint32_t pixels)
{
    return decode_runs<2>(record, end, dst, pixels);
}
static const uint8_t* decode_runs32(const uint8_t* record, const uint8_t* end, uint8_t* dst, uint32_t pixels,
    const uint32_t*, const uint32_t*)
{
    return decode_runs<4>(record, end, dst, pixels);
}
#endif

uint32_t decode_frame(const uint8_t* frame, uint32_t frame_size, void* pixels, uint32_t xres, uint32_t yres,
    uint32_t bits_per_pixel)
{
    const uint8_t* end = frame + (frame_size & ~(FRAME_RECORD_BYTES - 1));
    uint8_t* dst = static_cast<uint8_t*>(pixels);
    // The loops take at least one record.
    if (frame == end || (bits_per_pixel != 16 && bits_per_pixel != 32))
        return 0;
    const uint8_t* stop = bits_per_pixel == 16
        ? decode_runs16(frame, end, dst, xres * yres)
        : decode_runs32(frame, end, dst, xres * yres, EXPAND_LOW.by_byte, EXPAND_HIGH.by_byte);
    return static_cast<uint32_t>(stop - frame) / FRAME_RECORD_BYTES;
}
