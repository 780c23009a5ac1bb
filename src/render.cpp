#include "render.h"

#include "kmsg.h"
#include "screen.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

void fill32(void* dst, uint32_t value, int nbytes)
{
    uint8_t* p = static_cast<uint8_t*>(dst);
    uint32_t n = nbytes > 0 ? static_cast<uint32_t>(nbytes) : 0;
    // Align to a 32-byte boundary so the bulk goes out in whole blocks.
    uint32_t lead = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(p)) & 28;
    if (lead > n)
        lead = n & ~3u;
    p = fill_steps(p, value, lead);
    n -= lead;
    for (; n >= 32; n -= 32, p += 32) {
        Word* w = reinterpret_cast<Word*>(p);
        w[0] = value, w[1] = value, w[2] = value, w[3] = value;
        w[4] = value, w[5] = value, w[6] = value, w[7] = value;
    }
    p = fill_steps(p, value, n);
    if (n & 2)
        *reinterpret_cast<Half*>(p) = static_cast<uint16_t>(value);
}

void fill16(void* dst, uint16_t value, int nbytes)
{
    if (nbytes <= 1)
        return;
    uint8_t* p = static_cast<uint8_t*>(dst);
    if (reinterpret_cast<uintptr_t>(p) & 2) {
        *reinterpret_cast<Half*>(p) = value;
        p += 2;
        nbytes -= 2;
    }
    fill32(p, value | static_cast<uint32_t>(value) << 16, nbytes);
}

template <int BytesPerPixel>
static const uint8_t* decode_runs(const uint8_t* record, const uint8_t* end, uint8_t* dst, uint32_t remaining)
{
    for (; record != end; record += FRAME_RECORD_BYTES) {
        uint32_t word;
        __builtin_memcpy(&word, record, sizeof word);
        uint32_t count = word & 0xFFFF;
        uint16_t colour = static_cast<uint16_t>(word >> 16);
        if (count > remaining)
            break;
        if constexpr (BytesPerPixel == 2)
            fill16(dst, colour, static_cast<int>(count * 2));
        else
            fill32(dst, expand565(colour), static_cast<int>(count * 4));
        dst += count * BytesPerPixel;
        remaining -= count;
    }
    return record;
}

uint32_t decode_frame(const uint8_t* frame, uint32_t frame_size, void* pixels, uint32_t xres, uint32_t yres,
    uint32_t bits_per_pixel)
{
    const uint8_t* end = frame + (frame_size & ~(FRAME_RECORD_BYTES - 1));
    uint8_t* dst = static_cast<uint8_t*>(pixels);
    const uint8_t* stop = frame;
    if (bits_per_pixel == 16)
        stop = decode_runs<2>(frame, end, dst, xres * yres);
    else if (bits_per_pixel == 32)
        stop = decode_runs<4>(frame, end, dst, xres * yres);
    return static_cast<uint32_t>(stop - frame) / FRAME_RECORD_BYTES;
}

int console_set_graphics()
{
    // Read-write with synchronous writes, as the console has always been opened.
    static_assert((O_RDWR | O_DSYNC) == 0x1002);
    int fd = open(TTY_PATH, O_RDWR | O_DSYNC);
    if (fd < 0)
        return -1;
    int result = ioctl(fd, KDSETMODE, KD_GRAPHICS);
    close(fd);
    return result;
}

int show_frame(const char* path)
{
    if (console_set_graphics() != 0)
        return -1;
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        kmsg_print(3, CANNOT_OPEN_FORMAT, path);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        close(fd);
        return -1;
    }
    uint32_t size = static_cast<uint32_t>(info.st_size);
    void* frame = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (frame == MAP_FAILED) {
        close(fd);
        return -1;
    }
    decode_frame(static_cast<const uint8_t*>(frame), size, screen.pixels, screen.var_info.xres,
        screen.var_info.yres, screen.var_info.bits_per_pixel);
    munmap(frame, size);
    ioctl(screen.fd, FBIOPAN_DISPLAY, &screen.var_info);
    close(fd);
    return 0;
}
