#include "probe/probe.h"

#include "core/coverage.h"
#include "core/decode.h"
#include "src/kmsg.h"
#include "src/render.h"
#include "src/screen.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/kd.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void probe_screen(ProbedScreen* probed, bool try_pan)
{
    int fd = open(FB_PATH, O_RDWR);
    if (fd < 0) {
        snprintf(probed->error, sizeof probed->error, "cannot open: %s", strerror(errno));
        return;
    }
    probed->opened = true;
    if (ioctl(fd, FBIOGET_FSCREENINFO, &probed->fix) != 0) {
        snprintf(probed->error, sizeof probed->error, "cannot read its fixed screen information: %s",
            strerror(errno));
    } else if (ioctl(fd, FBIOGET_VSCREENINFO, &probed->var) != 0) {
        snprintf(probed->error, sizeof probed->error, "cannot read its variable screen information: %s",
            strerror(errno));
    } else {
        probed->read = true;
        const fb_var_screeninfo& v = probed->var;
        probed->format = format_of_channels(v.bits_per_pixel, { v.red.offset, v.red.length },
            { v.green.offset, v.green.length }, { v.blue.offset, v.blue.length },
            { v.transp.offset, v.transp.length });
        uint32_t size = 0;
        if (!drawable_depth(v.bits_per_pixel))
            snprintf(probed->refusal, sizeof probed->refusal, "refuses %u bits per pixel: it draws 16 or 32",
                v.bits_per_pixel);
        else if (!screen_size_bytes(v, &size))
            snprintf(probed->refusal, sizeof probed->refusal,
                "refuses %ux%u at %u bits per pixel: its size in bits does not fit 32 bits", v.xres, v.yres,
                v.bits_per_pixel);
        if (!probed->refusal[0]) {
            void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (pixels == MAP_FAILED) {
                snprintf(
                    probed->error, sizeof probed->error, "cannot map %u bytes: %s", size, strerror(errno));
            } else {
                probed->mapped = true;
                if (try_pan) {
                    // The request the player makes after every frame: the
                    // record as read, so the screen does not move.
                    fb_var_screeninfo same = v;
                    probed->pans = ioctl(fd, FBIOPAN_DISPLAY, &same) == 0;
                    probed->pan_error = probed->pans ? 0 : errno;
                }
                (void)munmap(pixels, size);
            }
        }
    }
    (void)close(fd);
}

const char* probe_console()
{
    // The player's own open flags.
    int fd = open(TTY_PATH, TTY_OPEN_FLAGS);
    if (fd < 0)
        return "missing";
    int mode = -1;
    int rc = ioctl(fd, KDGETMODE, &mode);
    (void)close(fd);
    return rc != 0 ? "unusable" : mode == KD_GRAPHICS ? "graphics" : "text";
}

bool probe_kmsg()
{
    int fd = open(KMSG_PATH, O_WRONLY);
    if (fd < 0)
        return false;
    (void)close(fd);
    return true;
}

FrameCheck check_frame(const char* path, uint32_t pixels)
{
    FrameCheck check;
    // Without blocking: a FIFO would hang the probe as it hangs the player.
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        check.status = errno == ENOENT ? FrameCheck::missing : FrameCheck::unreadable;
        return check;
    }
    struct stat info { };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        (void)close(fd);
        check.status = FrameCheck::unreadable;
        return check;
    }
    check.bytes = uint64_t(info.st_size);
    // The player maps the low 32 bits of the size.
    uint32_t mapped = uint32_t(info.st_size);
    if (!mapped) {
        (void)close(fd);
        check.status = FrameCheck::empty;
        return check;
    }
    check.records = mapped / FRAME_RECORD_BYTES;
    if (!pixels) {
        (void)close(fd);
        check.status = FrameCheck::unmeasured;
        return check;
    }
    void* map = mmap(nullptr, mapped, PROT_READ, MAP_SHARED, fd, 0);
    (void)close(fd);
    if (map == MAP_FAILED) {
        check.status = FrameCheck::unreadable;
        return check;
    }
    FrameCoverage coverage;
    bool fits = cover_records(static_cast<const uint8_t*>(map), check.records, pixels, &coverage);
    check.pixels_covered = coverage.pixels;
    check.status = !fits           ? FrameCheck::over
        : coverage.pixels < pixels ? FrameCheck::short_of_screen
                                   : FrameCheck::exact;
    (void)munmap(map, mapped);
    return check;
}

const char* frame_status_name(FrameCheck::Status status)
{
    static const char* const names[]
        = { "exact", "short", "over", "missing", "empty", "unreadable", "unmeasured" };
    return names[status];
}

bool read_text(const char* path, char* text, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, text, size - 1);
    (void)close(fd);
    size_t length = n > 0 ? size_t(n) : 0;
    while (length && text[length - 1] == '\n')
        --length;
    text[length] = '\0';
    return n >= 0;
}

void print_json_string(const char* text)
{
    putchar('"');
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
        if (*c == '"' || *c == '\\')
            printf("\\%c", *c);
        else if (*c < 0x20)
            printf("\\u%04x", *c);
        else
            putchar(*c);
    }
    putchar('"');
}
