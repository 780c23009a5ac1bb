// --card and --time: the screen taken as the player takes it.
#include "core/decode.h"
#include "core/schedule.h"
#include "probe/card.h"
#include "probe/probe.h"
#include "src/render.h"
#include "src/screen.h"

#include <stdio.h>
#include <sys/ioctl.h>
#include <time.h>

namespace {

int64_t now_ns()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The screen as the player opens it; a line on standard error when it cannot be.
bool take_screen()
{
    screen_open();
    if (screen_is_open())
        return true;
    fprintf(
        stderr, "pelimora-probe: cannot use %s: run pelimora-probe without arguments to see why\n", FB_PATH);
    return false;
}

} // namespace

int probe_card()
{
    if (!take_screen())
        return 1;
    const fb_var_screeninfo& v = screen.var_info;
    const PixelFormat* format = format_of_channels(v.bits_per_pixel, { v.red.offset, v.red.length },
        { v.green.offset, v.green.length }, { v.blue.offset, v.blue.length },
        { v.transp.offset, v.transp.length });
    CardText text {};
    card_text(v.xres, v.yres, v.bits_per_pixel, screen.fix_info.line_length, format, &text);
    (void)console_set_graphics();
    draw_card(screen.pixels, v.xres, v.yres, v.bits_per_pixel, text.lines);
    (void)ioctl(screen.fd, FBIOPAN_DISPLAY, &screen.var_info);
    screen_close();
    return 0;
}

int probe_time()
{
    if (!take_screen())
        return 1;
    const fb_var_screeninfo& v = screen.var_info;
    const uint32_t pixels = v.xres * v.yres, pixel_bytes = v.bits_per_pixel / 8;
    // The device's own limit: the fastest of three plain fills of the screen.
    int64_t fill_ns = 0;
    for (int i = 0; i < 3; ++i) {
        int64_t start = now_ns();
        if (pixel_bytes == 2)
            fill16(screen.pixels, 0, int(pixels * 2));
        else
            fill32(screen.pixels, 0xFF000000, int(pixels * 4));
        int64_t took = now_ns() - start;
        fill_ns = i == 0 || took < fill_ns ? took : fill_ns;
    }
    // The player's own path for each frame: console, mapping, decoding, pan.
    int64_t us[FRAME_COUNT];
    uint64_t written[FRAME_COUNT];
    char path[FRAME_PATH_BUFFER_SIZE];
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        format_frame_path(path, n);
        FrameCheck check = check_frame(path, pixels);
        int64_t start = now_ns();
        bool drawn = show_frame(path) == 0;
        us[n - 1] = (now_ns() - start) / 1000;
        written[n - 1] = drawn ? check.pixels_covered * pixel_bytes : 0;
    }
    screen_close();

    int64_t total_us = 0, sorted[FRAME_COUNT] = {};
    uint64_t total_bytes = 0;
    int slowest = 0;
    for (int i = 0; i < FRAME_COUNT; ++i) {
        total_us += us[i];
        total_bytes += written[i];
        slowest = us[i] > us[slowest] ? i : slowest;
        // Insertion into the sorted copy, for the median.
        int j = i;
        for (; j > 0 && sorted[j - 1] > us[i]; --j)
            sorted[j] = sorted[j - 1];
        sorted[j] = us[i];
    }
    double fill_mb_s = fill_ns ? double(pixels) * pixel_bytes * 1000.0 / double(fill_ns) : 0;
    printf("{\n  \"xres\": %u,\n  \"yres\": %u,\n  \"bits_per_pixel\": %u,\n  \"fill_mb_per_s\": %.1f,\n"
           "  \"frames\": [\n",
        v.xres, v.yres, v.bits_per_pixel, fill_mb_s);
    for (int i = 0; i < FRAME_COUNT; ++i)
        printf("    {\"n\": %d, \"us\": %lld, \"bytes\": %llu}%s\n", i + 1, static_cast<long long>(us[i]),
            static_cast<unsigned long long>(written[i]), i + 1 < FRAME_COUNT ? "," : "");
    printf("  ],\n  \"total_us\": %lld,\n  \"median_us\": %lld,\n  \"slowest\": {\"n\": %d, \"us\": %lld},\n"
           "  \"bytes\": %llu,\n  \"write_mb_per_s\": %.1f\n}\n",
        static_cast<long long>(total_us), static_cast<long long>((sorted[19] + sorted[20]) / 2), slowest + 1,
        static_cast<long long>(us[slowest]), static_cast<unsigned long long>(total_bytes),
        total_us ? double(total_bytes) / double(total_us) : 0.0);
    return 0;
}
