// --pick BUNDLE: the set of a bundle made for exactly this screen, chosen at
// boot before the player starts. Reads, changes nothing.
#include "core/bundle_index.h"
#include "probe/kms_view.h"
#include "probe/probe.h"
#include "src/screen.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

namespace {

// The screen a set is picked for, as a bundle's index records one: the
// player's framebuffer, else the buffer pelimora-kms draws in.
struct PickedScreen {
    bool known;
    uint32_t xres, yres, bits_per_pixel, line_length;
    const char* format; // null: channels of no known format
};

PickedScreen screen_to_pick_for(const ProbedScreen& s)
{
    if (s.read)
        return { true, s.var.xres, s.var.yres, s.var.bits_per_pixel, s.fix.line_length,
            s.format ? s.format->name : nullptr };
    static KmsView kms;
    if (s.opened)
        return { false, 0, 0, 0, 0, nullptr };
    probe_kms(&kms);
    const ProbedCard* card = kms.chosen_card();
    if (!card || !card->pitch)
        return { false, 0, 0, 0, 0, nullptr };
    return { true, card->target.mode.hdisplay, card->target.mode.vdisplay, 32, card->pitch, "XRGB8888" };
}

// What the screen is, as the index would record it, for the message of no match.
void describe_screen(const ProbedScreen& s, const PickedScreen& p, char* text, size_t size)
{
    if (!p.known) {
        snprintf(text, size, "%s %s%s", FB_PATH, s.error, s.opened ? "" : ", and no DRM display either");
        return;
    }
    snprintf(text, size, "this screen is %ux%u at %u bpp, %s, with %u-byte lines", p.xres, p.yres,
        p.bits_per_pixel, p.format ? p.format : "channels of no known format", p.line_length);
}

// Why `path` is not a set the bundle holds, or null: only a folder of the
// bundle's own is, since a link may lead out of it.
const char* not_a_set_folder(const char* path)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return "not there";
    if (S_ISLNK(info.st_mode))
        return "a link, which may lead out of the bundle";
    return S_ISDIR(info.st_mode) ? nullptr : "not a directory";
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
    const PickedScreen screen = screen_to_pick_for(s);
    int found = !screen.known ? -1
                              : find_bundle_set(index, screen.xres, screen.yres, screen.bits_per_pixel,
                                  screen.line_length, screen.format);
    if (found >= 0) {
        size_t length = strlen(bundle);
        while (length > 1 && bundle[length - 1] == '/')
            --length;
        char set[PATH_MAX];
        int written = snprintf(set, sizeof set, "%.*s/%s", int(length), bundle, index.sets[found].name);
        const char* refusal = written >= int(sizeof set) ? "a path too long" : not_a_set_folder(set);
        if (refusal) {
            fprintf(stderr, "pelimora-probe: %s: listed in its bundle's %s for this screen, but %s\n", set,
                BUNDLE_INDEX_FILE, refusal);
            return 1;
        }
        printf("%s\n", set);
        return 0;
    }
    char screen_text[256];
    describe_screen(s, screen, screen_text, sizeof screen_text);
    fprintf(stderr, "pelimora-probe: no set in %s is made for this screen: %s; the bundle holds", bundle,
        screen_text);
    for (int i = 0; i < index.count; ++i)
        fprintf(stderr, "%s %s", i ? "," : "", index.sets[i].name);
    fprintf(stderr, "%s\n", index.count ? "" : " no sets");
    return 1;
}
