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

namespace {

// The player's own path for each frame, timed: console, mapping, decoding, pan.
struct FrameTimes {
    int64_t fill_ns; // the fastest of three plain fills of the screen: the device's own limit
    int64_t us[FRAME_COUNT];
    uint64_t written[FRAME_COUNT]; // bytes of screen memory the frame's records reach
};

void time_frames(FrameTimes* t)
{
    const fb_var_screeninfo& v = screen.var_info;
    const uint32_t pixels = v.xres * v.yres, pixel_bytes = v.bits_per_pixel / 8;
    for (int i = 0; i < 3; ++i) {
        int64_t start = now_ns();
        if (pixel_bytes == 2)
            fill16(screen.pixels, 0, int(pixels * 2));
        else
            fill32(screen.pixels, 0xFF000000, int(pixels * 4));
        int64_t took = now_ns() - start;
        t->fill_ns = i == 0 || took < t->fill_ns ? took : t->fill_ns;
    }
    char path[FRAME_PATH_BUFFER_SIZE];
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        format_frame_path(path, n);
        FrameCheck check = check_frame(path, pixels);
        int64_t start = now_ns();
        bool drawn = show_frame(path) == 0;
        t->us[n - 1] = (now_ns() - start) / 1000;
        t->written[n - 1] = drawn ? check.pixels_covered * pixel_bytes : 0;
    }
}

// The middle of `count` values: the middle one, or the mean of the middle two.
int64_t median(const int64_t* values, int count)
{
    int64_t sorted[FRAME_COUNT] = {};
    for (int i = 0; i < count; ++i) {
        int j = i; // insertion into the sorted copy
        for (; j > 0 && sorted[j - 1] > values[i]; --j)
            sorted[j] = sorted[j - 1];
        sorted[j] = values[i];
    }
    return count % 2 ? sorted[count / 2] : (sorted[count / 2 - 1] + sorted[count / 2]) / 2;
}

void print_times(const FrameTimes& t, const fb_var_screeninfo& v)
{
    int64_t total_us = 0;
    uint64_t total_bytes = 0;
    int slowest = 0;
    for (int i = 0; i < FRAME_COUNT; ++i) {
        total_us += t.us[i];
        total_bytes += t.written[i];
        slowest = t.us[i] > t.us[slowest] ? i : slowest;
    }
    const uint64_t screen_bytes = uint64_t(v.xres) * v.yres * (v.bits_per_pixel / 8);
    double fill_mb_s = t.fill_ns ? double(screen_bytes) * 1000.0 / double(t.fill_ns) : 0;
    printf("{\n  \"xres\": %u,\n  \"yres\": %u,\n  \"bits_per_pixel\": %u,\n  \"fill_mb_per_s\": %.1f,\n"
           "  \"frames\": [\n",
        v.xres, v.yres, v.bits_per_pixel, fill_mb_s);
    for (int i = 0; i < FRAME_COUNT; ++i)
        printf("    {\"n\": %d, \"us\": %lld, \"bytes\": %llu}%s\n", i + 1, static_cast<long long>(t.us[i]),
            static_cast<unsigned long long>(t.written[i]), i + 1 < FRAME_COUNT ? "," : "");
    printf("  ],\n  \"total_us\": %lld,\n  \"median_us\": %lld,\n  \"slowest\": {\"n\": %d, \"us\": %lld},\n"
           "  \"bytes\": %llu,\n  \"write_mb_per_s\": %.1f\n}\n",
        static_cast<long long>(total_us), static_cast<long long>(median(t.us, FRAME_COUNT)), slowest + 1,
        static_cast<long long>(t.us[slowest]), static_cast<unsigned long long>(total_bytes),
        total_us ? double(total_bytes) / double(total_us) : 0.0);
}

} // namespace

int probe_time()
{
    if (!take_screen())
        return 1;
    static FrameTimes times;
    time_frames(&times);
    const fb_var_screeninfo v = screen.var_info;
    screen_close();
    print_times(times, v);
    return 0;
}
