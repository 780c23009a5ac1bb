// What the kernel's command line and its console's sysfs say about the
// picture before the player starts: text and a cursor on the display, the
// kernel's logo, fbcon's rotation, and a hand-over framebuffer.
#pragma once

#include "probe/probe.h"

struct BootView {
    bool cmdline = false; // /proc/cmdline could be read
    char consoles[128] = ""; // the console= values, in order, comma-separated
    bool console_on_display = false; // a virtual terminal is a console (console=ttyN, or none given)
    int fbcon_bound = -1; // 1: a frame buffer console is bound to the display; -1: unknown
    int cursor = -1; // vt.global_cursor_default; -1: not given (the kernel's default shows it)
    bool nologo = false; // logo.nologo
    bool quiet = false;
    int loglevel = -1; // loglevel=; -1: not given
    bool nodefer = false; // fbcon=nodefer: no deferred take-over
    int rotate_option = -1; // fbcon=rotate:N; -1: not given
    int rotate = -1; // fbcon's rotation now, in quarter turns clockwise; -1: unknown
    bool handover = false; // the framebuffer's driver is a hand-over one
    // The console's turn in quarter turns clockwise: as it is now, else as asked; -1: unknown.
    int turn() const { return rotate >= 0 ? rotate : rotate_option; }
};

// Whether a framebuffer's id or a DRM driver's name is one of the drivers
// that keep the bootloader's picture until the real driver replaces them.
bool is_handover(const char* driver);

// Reads /proc/cmdline, /sys/class/vtconsole and /sys/class/graphics/fbcon;
// `driver` is the framebuffer's id, or "" when it could not be read.
void probe_boot(BootView* view, const char* driver);

// What to do about each thing that will spoil the splash, a line each.
void boot_advice(const BootView& view, const char* driver, Advice* advice);

// The report's "boot" object, printed on standard output.
void print_boot_view(const BootView& view);
