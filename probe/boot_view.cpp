#include "probe/boot_view.h"

#include "probe/probe.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr int MAX_VTCONSOLES = 8;

// Reads a small file whole, without its last newline; false if it cannot.

void append_console(BootView* view, const char* value, size_t length)
{
    size_t used = strlen(view->consoles);
    if (used + length + 2 > sizeof view->consoles)
        return;
    snprintf(
        view->consoles + used, sizeof view->consoles - used, "%s%.*s", used ? "," : "", int(length), value);
    // A virtual terminal: "tty" and a number (ttyS0, ttyAMA0 are serial).
    view->console_on_display |= length > 3 && !strncmp(value, "tty", 3) && value[3] >= '0' && value[3] <= '9';
}

void read_option(BootView* view, const char* word, size_t length)
{
    auto is = [&](const char* name) { return length == strlen(name) && !strncmp(word, name, length); };
    auto value_of = [&](const char* prefix) -> const char* {
        size_t n = strlen(prefix);
        return length > n && !strncmp(word, prefix, n) ? word + n : nullptr;
    };
    if (const char* console = value_of("console=")) {
        // "tty0" or "ttyS0,115200n8": the device is up to the comma.
        size_t rest = length - strlen("console="), device = 0;
        while (device < rest && console[device] != ',')
            ++device;
        append_console(view, console, device);
    } else if (const char* cursor = value_of("vt.global_cursor_default="))
        view->cursor = atoi(cursor);
    else if (const char* level = value_of("loglevel="))
        view->loglevel = atoi(level);
    else if (const char* turn = value_of("fbcon=rotate:"))
        view->rotate_option = atoi(turn);
    view->nologo |= is("logo.nologo");
    view->quiet |= is("quiet");
    view->nodefer |= is("fbcon=nodefer");
}

void read_cmdline(BootView* view)
{
    char line[4096];
    if (!read_text("/proc/cmdline", line, sizeof line))
        return;
    view->cmdline = true;
    for (const char* word = line; *word;) {
        size_t length = strcspn(word, " ");
        if (length)
            read_option(view, word, length);
        word += length + (word[length] == ' ');
    }
    // With no console= at all the kernel's console is the current virtual terminal.
    if (!view->consoles[0])
        view->console_on_display = true;
}

// A console is bound to the display when one of the kernel's consoles is
// the frame buffer's, and bound.
void read_vtconsoles(BootView* view)
{
    for (int n = 0; n < MAX_VTCONSOLES; ++n) {
        char path[64], name[96], bind[8];
        snprintf(path, sizeof path, "/sys/class/vtconsole/vtcon%d/name", n);
        if (!read_text(path, name, sizeof name))
            continue;
        if (view->fbcon_bound < 0)
            view->fbcon_bound = 0;
        snprintf(path, sizeof path, "/sys/class/vtconsole/vtcon%d/bind", n);
        // "(M) frame buffer device", "(S) dummy device".
        const char* kind = strchr(name, ' ');
        if (kind && !strncmp(kind + 1, "frame buffer", 12) && read_text(path, bind, sizeof bind)
            && bind[0] == '1')
            view->fbcon_bound = 1;
    }
}

} // namespace

// The drivers that keep the bootloader's picture until the real driver
// replaces them: simplefb, the DRM ones (simpledrm, efidrm, vesadrm, ofdrm,
// whose emulated framebuffers are "NAMEdrmfb"), efifb, vesafb, offb. The same names
// as the start files' in share/pelimora/boot.
bool is_handover(const char* driver)
{
    static const char* const names[] = { "simple", "EFI VGA", "VESA VGA" };
    static const char* const prefixes[]
        = { "simpledrm", "efidrm", "vesadrm", "ofdrm", "efifb", "vesafb", "OFfb", "offb" };
    for (const char* name : names)
        if (!strcmp(driver, name))
            return true;
    for (const char* prefix : prefixes)
        if (!strncmp(driver, prefix, strlen(prefix)))
            return true;
    return false;
}

void probe_boot(BootView* view, const char* driver)
{
    read_cmdline(view);
    read_vtconsoles(view);
    char rotate[8];
    if (read_text("/sys/class/graphics/fbcon/rotate", rotate, sizeof rotate))
        view->rotate = atoi(rotate);
    view->handover = driver[0] && is_handover(driver);
}

void boot_advice(const BootView& view, const char* driver, Advice* advice)
{
    if (view.handover)
        advice->add("a hand-over framebuffer (\"%s\", keeping the bootloader's picture): the real display "
                    "driver replaces it during the boot and an animation on it vanishes; start the player "
                    "when the real driver's framebuffer arrives (share/pelimora/boot)",
            driver);
    if (view.nodefer)
        advice->add("fbcon=nodefer: the console takes the display at once, over the bootloader's picture; "
                    "drop it");
    if (view.fbcon_bound != 1)
        return;
    if (view.console_on_display)
        advice->add("the kernel's console writes boot text on the display until the player starts (%s%s): "
                    "keep console=tty0 and the other virtual terminals off the command line%s",
            view.consoles[0] ? "console=" : "no console= given, so tty0", view.consoles,
            view.quiet ? "" : ", and add quiet");
    if (view.cursor != 0)
        advice->add("the console's cursor shows on the display until the player starts: add "
                    "vt.global_cursor_default=0");
    if (!view.nologo)
        advice->add(
            "the kernel draws its logo on the display before the player starts: add logo.nologo, or make "
            "the logo from the artwork (pelimora-frames logos)");
    int turn = view.turn();
    if (turn > 0 && turn < 4)
        advice->add("the console is turned by %d degrees clockwise (fbcon rotation %d): the panel is mounted "
                    "turned: make the frames with encode --rotate %d to show upright",
            turn * 90, turn, turn * 90);
}

void print_boot_view(const BootView& view)
{
    auto number = [](int value) {
        if (value < 0)
            printf("null");
        else
            printf("%d", value);
    };
    printf("  \"boot\": {\n    \"cmdline\": %s,\n    \"consoles\": ", view.cmdline ? "true" : "false");
    print_json_string(view.consoles);
    printf(",\n    \"console_on_display\": %s,\n    \"fbcon_bound\": ",
        view.console_on_display ? "true" : "false");
    if (view.fbcon_bound < 0)
        printf("null");
    else
        printf(view.fbcon_bound ? "true" : "false");
    printf(",\n    \"cursor\": ");
    number(view.cursor);
    printf(",\n    \"logo\": %s,\n    \"quiet\": %s,\n    \"loglevel\": ", view.nologo ? "false" : "true",
        view.quiet ? "true" : "false");
    number(view.loglevel);
    printf(",\n    \"deferred_takeover\": %s,\n    \"fbcon_rotate\": ", view.nodefer ? "false" : "true");
    number(view.turn());
    printf(",\n    \"handover\": %s\n  },\n", view.handover ? "true" : "false");
}
