// What the programs of ours that run on the emulated board share: lines on
// the console, the guest's clock, the kernel's modules, the screen as the
// kernel reports it.
#pragma once

#include <stddef.h>

// Standard output to /dev/console, for a program the init system started elsewhere.
void output_to_console();
// Loads the modules the kernel command line names (pelimora.modules=a,b,c),
// each with the parameters the command line gives it (a.param=value), as
// modprobe passes them: the kernel applies them only to built-in code.
void load_named_modules(const char* cmdline);
// One line on standard output (the console), whole.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// CLOCK_MONOTONIC in milliseconds.
double now_ms();
// The kernel's command line, or an empty string.
void read_cmdline(char* line, size_t size);
// Loads /modules/a.ko, b.ko, ... for "a,b,..." in that order, each said,
// with the parameters `cmdline` gives it.
void load_modules(char* list, const char* cmdline = "");
// "pelimora-init: screen ..." and "pelimora-init: pan ..." for `device`, or "screen none".
void report_screen(const char* device);
// What the player drew, on the display before the host looks.
void flush_display();
// Runs `program` (with one argument or none) and waits: its wait status. A
// failed exec is said on the console and exits 127.
int run(const char* program, const char* argument);
