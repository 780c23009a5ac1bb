// The report: one JSON object on standard output, which the host tools take
// as a panel description (pelimora-frames --panel FILE).
#include "probe/boot_view.h"
#include "probe/kms_view.h"
#include "probe/platform.h"
#include "probe/probe.h"

#include "core/schedule.h"
#include "src/kmsg.h"
#include "src/render.h"
#include "src/screen.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void Advice::add(const char* format, ...)
{
    if (count == MAX_LINES)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(lines[count++], LINE_LENGTH, format, args);
    va_end(args);
}

namespace {

// Which program to install, and whether it would draw: the player wherever
// there is a framebuffer (as the start files choose), else pelimora-kms
// wherever there is a DRM card.
enum class Program { none, player, kms };

struct Findings {
    ProbedScreen screen;
    KmsView kms;
    Program program = Program::none;
    bool draws = false;
    uint32_t pixels = 0; // of the screen the program draws on, when known
};

void print_field(const char* name, const fb_bitfield& field)
{
    printf("  \"%s\": {\"offset\": %u, \"length\": %u},\n", name, field.offset, field.length);
}

// A DRM driver's fbdev emulation names itself "<driver>drmfb".
bool emulated(const ProbedScreen& s)
{
    size_t length = strnlen(s.fix.id, sizeof s.fix.id);
    return length >= 5 && memcmp(s.fix.id + length - 5, "drmfb", 5) == 0;
}

// What the player's screen needs, one line each.
void screen_advice(const ProbedScreen& s, Advice* advice)
{
    const fb_var_screeninfo& v = s.var;
    if (emulated(s))
        advice->add("a DRM driver's framebuffer emulation: it pans only within yres_virtual %u unless "
                    "CONFIG_DRM_FBDEV_OVERALLOC is raised, and keeps the depth it was set up with",
            v.yres_virtual);
    uint32_t row = v.xres * (v.bits_per_pixel / 8);
    if (drawable_depth(v.bits_per_pixel) && s.fix.line_length != row)
        advice->add("line length %u is not %u x %u: make frames with --line-length %u", s.fix.line_length,
            v.xres, v.bits_per_pixel / 8, s.fix.line_length);
    if (s.format && s.format->refusal)
        advice->add(
            "format %s %s: the player's frames cannot show right on it", s.format->name, s.format->refusal);
    else if (s.format && s.format != &player_format(v.bits_per_pixel))
        advice->add("red and blue at offsets %u / %u: make frames with --format %s", v.red.offset,
            v.blue.offset, s.format->name);
    else if (!s.format && drawable_depth(v.bits_per_pixel))
        advice->add("channels red %u/%u, green %u/%u, blue %u/%u are no format the tools know", v.red.offset,
            v.red.length, v.green.offset, v.green.length, v.blue.offset, v.blue.length);
    if (s.mapped && !s.pans)
        advice->add(
            "the driver refuses the pan request (%s): the player draws all the same", strerror(s.pan_error));
}

void frame_advice(const FrameCheck* frames, Advice* advice)
{
    int missing = 0, first_missing = 0, other = 0;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        FrameCheck::Status status = frames[n - 1].status;
        if (status == FrameCheck::missing && !missing++)
            first_missing = n;
        other += status != FrameCheck::missing && status != FrameCheck::exact
            && status != FrameCheck::unmeasured;
    }
    if (missing)
        advice->add("%d of %d frames missing from %.*s, the first Loop_%d.rle", missing, FRAME_COUNT,
            int(frame_directory_length()), FRAME_PATH_PREFIX, first_missing);
    if (other)
        advice->add(
            "%d frames do not cover the screen exactly: check them with pelimora-frames check --panel "
            "on this report",
            other);
}

// What to do about what was found, one line each.
void advise(const Findings& f, const ProbedPlatform& platform, const char* console, bool kmsg,
    const FrameCheck* frames, Advice* advice)
{
    const ProbedScreen& s = f.screen;
    if (const char* binary = binary_advice(platform))
        advice->add("%s", binary);
    if (f.program == Program::none)
        advice->add("no %s and no DRM card: the node needs CONFIG_FB_DEVICE (since Linux 6.6) and, for a DRM "
                    "driver, CONFIG_DRM_FBDEV_EMULATION; make it where the player looks (ln -s /dev/fb0 %s) "
                    "before the player starts",
            FB_PATH, FB_PATH);
    if (s.read)
        screen_advice(s, advice);
    kms_advice(f.kms, f.program == Program::player, advice);
    // Without a virtual console pelimora-kms draws all the same.
    if (f.program == Program::player && strcmp(console, "graphics") != 0 && strcmp(console, "text") != 0)
        advice->add("%s is %s: the player draws nothing without the console in graphics mode (CONFIG_VT)",
            TTY_PATH, console);
    if (!kmsg)
        advice->add("no %s: the player's messages are lost", KMSG_PATH);
    frame_advice(frames, advice);
}

// Each frame file against a screen of `pixels` (0: none).
void check_frames(uint32_t pixels, FrameCheck (&frames)[FRAME_COUNT])
{
    char path[FRAME_PATH_BUFFER_SIZE];
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        format_frame_path(path, n);
        frames[n - 1] = check_frame(path, pixels);
    }
}

// The screen's fields of the report, when it could be read.
void print_screen(const ProbedScreen& s, const char* driver)
{
    const fb_var_screeninfo& v = s.var;
    printf("  \"driver\": ");
    print_json_string(driver);
    printf(",\n  \"xres\": %u,\n  \"yres\": %u,\n  \"xres_virtual\": %u,\n  \"yres_virtual\": %u,\n"
           "  \"bits_per_pixel\": %u,\n  \"line_length\": %u,\n",
        v.xres, v.yres, v.xres_virtual, v.yres_virtual, v.bits_per_pixel, s.fix.line_length);
    print_field("red", v.red);
    print_field("green", v.green);
    print_field("blue", v.blue);
    print_field("transp", v.transp);
    printf("  \"format\": \"%s\",\n  \"pans\": %s,\n  \"emulated\": %s,\n",
        s.format ? s.format->name : "unknown", s.pans ? "true" : "false", emulated(s) ? "true" : "false");
}

} // namespace

namespace {

void find_program(Findings* f)
{
    const ProbedScreen& s = f->screen;
    const ProbedCard* card = f->kms.chosen_card();
    if (s.opened) {
        f->program = Program::player;
        f->draws = s.mapped && !s.refusal[0];
        f->pixels = s.read && !s.refusal[0] ? s.var.xres * s.var.yres : 0;
    } else if (f->kms.card_count) {
        f->program = Program::kms;
        f->draws = kms_draws(f->kms);
        f->pixels = card ? uint32_t(card->target.mode.hdisplay) * card->target.mode.vdisplay : 0;
    }
}

// The screen's fields for pelimora-kms: its buffer, as --panel takes them.
void print_kms_screen(const ProbedCard& card)
{
    const PixelFormat& xrgb = *pixel_format_named("XRGB8888", 8, Spelling::exact);
    printf("  \"driver\": ");
    print_json_string(card.driver);
    printf(",\n  \"xres\": %u,\n  \"yres\": %u,\n  \"bits_per_pixel\": 32,\n  \"line_length\": %u,\n",
        card.target.mode.hdisplay, card.target.mode.vdisplay, card.pitch);
    print_field("red", { xrgb.red.offset, xrgb.red.length });
    print_field("green", { xrgb.green.offset, xrgb.green.length });
    print_field("blue", { xrgb.blue.offset, xrgb.blue.length });
    print_field("transp", { xrgb.transp.offset, xrgb.transp.length });
    printf("  \"format\": \"%s\",\n", xrgb.name);
}

// The device, the platform, and the screen the program draws on.
void print_head(const Findings& f, const ProbedPlatform& platform, const char* driver)
{
    const ProbedScreen& s = f.screen;
    const ProbedCard* card = f.program == Program::kms ? f.kms.chosen_card() : nullptr;
    printf("{\n  \"device\": ");
    print_json_string(card ? card->path : FB_PATH);
    printf(",\n  \"program\": ");
    printf(f.program == Program::player ? "\"pelimora\""
            : f.program == Program::kms ? "\"pelimora-kms\""
                                        : "null");
    printf(",\n  \"machine\": ");
    print_json_string(platform.machine);
    printf(",\n  \"binary\": \"%s\",\n  \"compat\": %s,\n  \"page_size\": %ld,\n  \"aarch32\": %s,\n"
           "  \"aarch32_cpus\": ",
        platform.binary, platform.compat ? "true" : "false", platform.page_size,
        platform.aarch32 ? "true" : "false");
    if (platform.aarch32_cpus[0])
        print_json_string(platform.aarch32_cpus);
    else
        printf("null");
    printf(",\n");
    if (s.error[0]) {
        // A framebuffer pelimora-kms does without is no error of the screen's.
        printf(card && card->pitch ? "  \"framebuffer\": " : "  \"error\": ");
        print_json_string(s.error);
        printf(",\n");
    }
    if (s.read)
        print_screen(s, driver);
    else if (card && card->pitch)
        print_kms_screen(*card);
}

} // namespace

int probe_report()
{
    static Findings f;
    probe_screen(&f.screen, true);
    const ProbedScreen& s = f.screen;
    probe_kms(&f.kms);
    find_program(&f);
    const char* console = probe_console();
    bool kmsg = probe_kmsg();
    FrameCheck frames[FRAME_COUNT];
    check_frames(f.pixels, frames);
    ProbedPlatform platform;
    probe_platform(&platform);
    char driver[sizeof s.fix.id + 1] = {};
    if (s.read)
        memcpy(driver, s.fix.id, sizeof s.fix.id);
    BootView boot;
    probe_boot(&boot, driver);
    Advice advice;
    advise(f, platform, console, kmsg, frames, &advice);
    boot_advice(boot, driver, &advice);

    print_head(f, platform, driver);
    print_boot_view(boot);
    print_kms_view(f.kms, strcmp(console, "missing") != 0);
    printf("  \"player\": ");
    print_json_string(s.mapped && !s.refusal[0] ? "ok" : s.refusal[0] ? s.refusal : "cannot use the screen");
    printf(",\n  \"advice\": [");
    for (int i = 0; i < advice.count; ++i) {
        printf(i ? ",\n    " : "\n    ");
        print_json_string(advice.lines[i]);
    }
    printf(advice.count ? "\n  ],\n" : "],\n");
    printf("  \"console\": \"%s\",\n  \"kmsg\": \"%s\",\n  \"frames\": [\n", console,
        kmsg ? "writable" : "missing");
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        const FrameCheck& c = frames[n - 1];
        printf("    {\"n\": %d, \"status\": \"%s\", \"records\": %u, \"bytes\": %llu}%s\n", n,
            frame_status_name(c.status), c.records, static_cast<unsigned long long>(c.bytes),
            n < FRAME_COUNT ? "," : "");
    }
    printf("  ]\n}\n");
    return f.draws ? 0 : 1;
}
