#include "core/bundle_index.h"

#include "core/pixel_formats.h"
#include "core/screen_limits.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A strict reader of the one shape the index has.
struct IndexReader {
    const char* start;
    const char* at;
    const char* end;
    BundleIndex* index;

    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        if (!index->error[0]) {
            va_list args;
            va_start(args, format);
            vsnprintf(index->error, sizeof index->error, format, args);
            va_end(args);
        }
        return false;
    }
    long offset() const { return long(at - start); }
    void space()
    {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
            ++at;
    }
    bool take(char c)
    {
        space();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
    bool expect(char c) { return take(c) || fail("expected '%c' at byte %ld", c, offset()); }

    // Names and formats need no escapes, so a string holds none.
    bool string(char* out, size_t size)
    {
        if (!expect('"'))
            return false;
        size_t n = 0;
        for (; at < end && *at != '"'; ++at) {
            if (*at == '\\' || static_cast<unsigned char>(*at) < 0x20)
                return fail("an escape or control character in a string at byte %ld", offset());
            if (n + 1 == size)
                return fail("a string of over %zu bytes at byte %ld", size - 1, offset());
            out[n++] = *at;
        }
        if (at == end)
            return fail("a string that does not end");
        ++at;
        out[n] = 0;
        return true;
    }

    bool number(uint32_t* value)
    {
        space();
        if (at == end || *at < '0' || *at > '9')
            return fail("expected a whole number at byte %ld", offset());
        uint64_t v = 0;
        for (; at < end && *at >= '0' && *at <= '9'; ++at)
            if ((v = v * 10 + uint64_t(*at - '0')) > UINT32_MAX)
                return fail("a number too large at byte %ld", offset());
        if (at < end && (*at == '.' || *at == 'e' || *at == 'E' || *at == '-'))
            return fail("expected a whole number at byte %ld", offset());
        *value = uint32_t(v);
        return true;
    }

    bool member(BundleSet* set, BundleSetKey key);
    bool set_entry(BundleSet* set);
    bool whole();
};

bool IndexReader::member(BundleSet* set, BundleSetKey key)
{
    switch (key) {
    case SET_NAME: return string(set->name, sizeof set->name);
    case SET_FORMAT: return string(set->format, sizeof set->format);
    case SET_XRES: return number(&set->xres);
    case SET_YRES: return number(&set->yres);
    case SET_BITS_PER_PIXEL: return number(&set->bits_per_pixel);
    default: return number(&set->line_length);
    }
}

bool IndexReader::set_entry(BundleSet* set)
{
    *set = {};
    bool seen[SET_KEY_COUNT] = {};
    if (!expect('{'))
        return false;
    do {
        char key[32];
        if (!string(key, sizeof key) || !expect(':'))
            return false;
        int k = 0;
        while (k < SET_KEY_COUNT && strcmp(key, BUNDLE_SET_KEYS[k]) != 0)
            ++k;
        if (k == SET_KEY_COUNT)
            return fail("set %d: unknown key \"%s\"", index->count + 1, key);
        if (seen[k])
            return fail("set %d: key \"%s\" is given twice", index->count + 1, key);
        seen[k] = true;
        if (!member(set, BundleSetKey(k)))
            return false;
    } while (take(','));
    if (!expect('}'))
        return false;
    for (int k = 0; k < SET_KEY_COUNT; ++k)
        if (!seen[k])
            return fail("set %d: no \"%s\"", index->count + 1, BUNDLE_SET_KEYS[k]);
    if (!plain_set_name(set->name))
        return fail("set %d: \"%s\" is not a plain folder name", index->count + 1, set->name);
    if (set->xres < 1 || set->yres < 1 || set->xres > MAX_SCREEN_SIDE || set->yres > MAX_SCREEN_SIDE
        || (set->bits_per_pixel != 16 && set->bits_per_pixel != 32)
        || uint64_t(set->line_length) < uint64_t(set->xres) * (set->bits_per_pixel / 8))
        return fail("%s: not a screen the player draws (%ux%u at %u bpp, %u-byte lines)", set->name,
            set->xres, set->yres, set->bits_per_pixel, set->line_length);
    // Named exactly as DRM names it, and of the set's depth: one spelling a screen.
    if (const PixelFormat* format = pixel_format_named(set->format, strlen(set->format), Spelling::exact))
        return format->bits_per_pixel == set->bits_per_pixel
            || fail("%s: %s is not a format of %u bpp", set->name, set->format, set->bits_per_pixel);
    return fail("%s: \"%s\" is not a pixel format's name", set->name, set->format);
}

bool IndexReader::whole()
{
    char key[32];
    if (!expect('{') || !string(key, sizeof key))
        return false;
    if (strcmp(key, BUNDLE_SETS_KEY) != 0)
        return fail("unknown key \"%s\": an index holds only \"%s\"", key, BUNDLE_SETS_KEY);
    if (!expect(':') || !expect('['))
        return false;
    if (!take(']')) {
        do {
            if (index->count == MAX_BUNDLE_SETS)
                return fail("over %d sets", MAX_BUNDLE_SETS);
            if (!set_entry(&index->sets[index->count]))
                return false;
            ++index->count;
        } while (take(','));
        if (!expect(']'))
            return false;
    }
    if (!expect('}'))
        return false;
    space();
    if (at != end)
        return fail("more after the index at byte %ld", offset());
    return true;
}

} // namespace

bool same_bundle_screen(const BundleSet& a, const BundleSet& b)
{
    return a.xres == b.xres && a.yres == b.yres && a.bits_per_pixel == b.bits_per_pixel
        && a.line_length == b.line_length && strcmp(a.format, b.format) == 0;
}

bool plain_set_name(const char* name)
{
    if (!name[0] || name[0] == '.' || strlen(name) >= size_t(BUNDLE_NAME_SIZE))
        return false;
    for (const char* c = name; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '.'
                || *c == '_' || *c == '-'))
            return false;
    return true;
}

bool parse_bundle_index(const char* text, size_t length, BundleIndex* index)
{
    index->count = 0;
    index->error[0] = 0;
    IndexReader reader { text, text, text + length, index };
    if (!reader.whole())
        return false;
    for (int i = 0; i < index->count; ++i)
        for (int j = 0; j < i; ++j) {
            if (strcmp(index->sets[i].name, index->sets[j].name) == 0)
                return reader.fail("two sets named %s", index->sets[i].name);
            if (same_bundle_screen(index->sets[i], index->sets[j]))
                return reader.fail(
                    "%s and %s are made for the same screen", index->sets[j].name, index->sets[i].name);
        }
    return true;
}

bool read_bundle_index(const char* dir, BundleIndex* index)
{
    static char text[MAX_BUNDLE_INDEX_BYTES];
    char path[512];
    index->count = 0;
    snprintf(path, sizeof path, "%s/%s", dir, BUNDLE_INDEX_FILE);
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info { };
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        snprintf(index->error, sizeof index->error, "%.100s: %s", path,
            fd < 0 ? strerror(errno) : "not a regular file");
        if (fd >= 0)
            (void)close(fd);
        return false;
    }
    const char* problem = info.st_size > off_t(MAX_BUNDLE_INDEX_BYTES) ? "over 64 KiB" : nullptr;
    ssize_t got = 0;
    while (!problem && got < info.st_size) {
        ssize_t n = read(fd, text + got, size_t(info.st_size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            problem = n < 0 ? strerror(errno) : "it got shorter";
        else
            got += n;
    }
    (void)close(fd);
    if (problem) {
        snprintf(index->error, sizeof index->error, "%.100s: cannot read: %.60s", path, problem);
        return false;
    }
    if (parse_bundle_index(text, size_t(got), index))
        return true;
    char reason[sizeof index->error];
    memcpy(reason, index->error, sizeof reason);
    snprintf(index->error, sizeof index->error, "%.100s: %.200s", path, reason);
    return false;
}

int find_bundle_set(const BundleIndex& index, uint32_t xres, uint32_t yres, uint32_t bits_per_pixel,
    uint32_t line_length, const char* format)
{
    BundleSet screen {};
    screen.xres = xres, screen.yres = yres, screen.bits_per_pixel = bits_per_pixel;
    screen.line_length = line_length;
    snprintf(screen.format, sizeof screen.format, "%s", format ? format : "");
    for (int i = 0; i < index.count; ++i)
        if (same_bundle_screen(index.sets[i], screen))
            return i;
    return -1;
}
