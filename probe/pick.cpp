// --pick BUNDLE: the set of a bundle made for exactly this screen, chosen at
// boot before the player starts. Reads, changes nothing.
#include "bundle.h"
#include "probe.h"
#include "screen.h"

#include <stdio.h>
#include <string.h>

namespace {

// What the screen is, as the index would record it, for the message of no match.
void describe_screen(const ProbedScreen& s, char* text, size_t size)
{
    if (!s.read) {
        snprintf(text, size, "%s %s", FB_PATH, s.error);
        return;
    }
    snprintf(text, size, "this screen is %ux%u at %u bpp, %s, with %u-byte lines", s.var.xres, s.var.yres,
        s.var.bits_per_pixel, s.format ? s.format->name : "channels of no known format", s.fix.line_length);
}

} // namespace

int probe_pick(const char* bundle)
{
    static BundleIndex index;
    if (!read_bundle_index(bundle, &index)) {
        fprintf(stderr, "pelimora-probe: %s\n", index.error);
        return 2;
    }
    ProbedScreen s;
    probe_screen(&s, false);
    int found = !s.read ? -1
                        : find_bundle_set(index, s.var.xres, s.var.yres, s.var.bits_per_pixel,
                            s.fix.line_length, s.format ? s.format->name : nullptr);
    if (found >= 0) {
        size_t length = strlen(bundle);
        while (length > 1 && bundle[length - 1] == '/')
            --length;
        printf("%.*s/%s\n", int(length), bundle, index.sets[found].name);
        return 0;
    }
    char screen_text[256];
    describe_screen(s, screen_text, sizeof screen_text);
    fprintf(stderr, "pelimora-probe: no set in %s is made for this screen: %s; the bundle holds", bundle,
        screen_text);
    for (int i = 0; i < index.count; ++i)
        fprintf(stderr, "%s %s", i ? "," : "", index.sets[i].name);
    fprintf(stderr, "%s\n", index.count ? "" : " no sets");
    return 1;
}
