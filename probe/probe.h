// pelimora-probe: what the player would find on this device, learnt with the
// player's own calls and flags, and reported without changing anything.
#pragma once

#include "core/pixel_formats.h"

#include <linux/fb.h>
#include <stddef.h>
#include <stdint.h>

// The framebuffer as the player would open it.
struct ProbedScreen {
    bool opened = false, read = false, mapped = false;
    char error[160] = ""; // why it could not be opened, read or mapped
    fb_fix_screeninfo fix {};
    fb_var_screeninfo var {};
    const PixelFormat* format = nullptr; // null: channels of no known format
    char refusal[160] = ""; // the player's reason to refuse the screen, in words
    bool pans = false; // the pan request, offsets unchanged, was accepted (asked only of a mapped screen)
    int pan_error = 0;
};

// Opens, reads and maps the framebuffer as the player does, then unmaps and
// closes it; with `try_pan`, makes the player's pan request once while mapped.
void probe_screen(ProbedScreen* probed, bool try_pan);

// "text", "graphics", "missing" or "unusable": the console's mode, asked
// without changing it.
const char* probe_console();

// Whether the kernel log can be opened for writing (nothing is written).
bool probe_kmsg();

// A frame file as the player would take it against a screen of `pixels`.
struct FrameCheck {
    enum Status { exact, short_of_screen, over, missing, empty, unreadable, unmeasured } status = missing;
    uint32_t records = 0;
    uint64_t bytes = 0;
    uint64_t pixels_covered = 0; // by the records drawn
};
// With `pixels` 0 (no screen), a readable file is `unmeasured`.
FrameCheck check_frame(const char* path, uint32_t pixels);
const char* frame_status_name(FrameCheck::Status status);

// The report's advice: what to do about what was found, a line each.
struct Advice {
    static constexpr int MAX_LINES = 20, LINE_LENGTH = 256;
    char lines[MAX_LINES][LINE_LENGTH];
    int count = 0;
    void add(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// A small file of the kernel's (sysfs, procfs) as text, without its last
// newline; false when it cannot be read.
[[nodiscard]] bool read_text(const char* path, char* text, size_t size);

// Prints `text` as a JSON string, quoted and escaped.
void print_json_string(const char* text);

// The things the probe does; each returns the exit status.
int probe_report();
int probe_card();
int probe_time();
// The set of BUNDLE made for this screen: its path on standard output and
// 0; 1 when none is (or the screen cannot be read); 2 for a bad bundle.
int probe_pick(const char* bundle);
