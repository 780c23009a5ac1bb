// --pick BUNDLE: the set of a bundle made for exactly this screen, chosen at
// boot before the player starts. Reads, changes nothing.
#include "core/bundle_index.h"
#include "probe/probe.h"
#include "src/screen.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

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
    int found = !s.read ? -1
                        : find_bundle_set(index, s.var.xres, s.var.yres, s.var.bits_per_pixel,
                            s.fix.line_length, s.format ? s.format->name : nullptr);
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
    describe_screen(s, screen_text, sizeof screen_text);
    fprintf(stderr, "pelimora-probe: no set in %s is made for this screen: %s; the bundle holds", bundle,
        screen_text);
    for (int i = 0; i < index.count; ++i)
        fprintf(stderr, "%s %s", i ? "," : "", index.sets[i].name);
    fprintf(stderr, "%s\n", index.count ? "" : " no sets");
    return 1;
}
