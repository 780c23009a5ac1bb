#include "vfb/vdev/protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr const char* KIND_NAMES[] = { "start", "open", "close", "fix", "var", "pan", "kdsetmode", "ioctl",
    "mmap", "munmap", "fstat", "write", "sleep", "refuse", "leak", "overrun", "error", "exit" };
constexpr const char* DEVICE_NAMES[] = { "-", "fb", "tty", "kmsg", "frame", "drm" };
static_assert(sizeof DEVICE_NAMES / sizeof *DEVICE_NAMES == size_t(Device::drm) + 1);
static_assert(sizeof KIND_NAMES / sizeof *KIND_NAMES == size_t(EventKind::exit) + 1);

struct Field {
    const char* key;
    int64_t Event::*member;
    bool hex;
};
// The order in which fields are written; rc is always written.
constexpr Field FIELDS[] = { { "rc", &Event::rc, false }, { "error", &Event::error, false },
    { "flags", &Event::flags, true }, { "prot", &Event::prot, false }, { "length", &Event::length, false },
    { "offset", &Event::offset, false }, { "request", &Event::request, true },
    { "number", &Event::number, false }, { "xres", &Event::xres, false }, { "yres", &Event::yres, false },
    { "bpp", &Event::bits_per_pixel, false }, { "xoffset", &Event::xoffset, false },
    { "yoffset", &Event::yoffset, false }, { "asked_ns", &Event::asked_ns, false },
    { "remaining_ns", &Event::remaining_ns, false }, { "clock_ns", &Event::clock_ns, false },
    { "signals", &Event::signals, false } };

template <size_t N> int index_of(const char* const (&names)[N], const char* name, size_t length)
{
    for (size_t i = 0; i < N; ++i)
        if (strlen(names[i]) == length && !strncmp(names[i], name, length))
            return int(i);
    return -1;
}

} // namespace

const char* event_kind_name(EventKind kind)
{
    return KIND_NAMES[size_t(kind)];
}

const char* device_name(Device device)
{
    return DEVICE_NAMES[size_t(device)];
}

void fb_to_env(const FbSettings& s, FbEnv* env)
{
    snprintf(env->fb, sizeof env->fb, "%ux%ux%u", s.xres, s.yres, s.bits_per_pixel);
    env->fb_virtual[0] = env->fb_line[0] = env->fb_channels[0] = 0;
    if (s.xres_virtual || s.yres_virtual)
        snprintf(env->fb_virtual, sizeof env->fb_virtual, "%ux%u", s.xres_virtual, s.yres_virtual);
    if (s.line_length)
        snprintf(env->fb_line, sizeof env->fb_line, "%u", s.line_length);
    bool given = false;
    for (const auto& channel : s.channels)
        given = given || channel[0] || channel[1];
    for (size_t i = 0, at = 0; given && i < 4; ++i)
        at += size_t(snprintf(env->fb_channels + at, sizeof env->fb_channels - at, "%u/%u,", s.channels[i][0],
            s.channels[i][1]));
}

bool fb_from_env(
    const char* fb, const char* fb_virtual, const char* fb_line, const char* fb_channels, FbSettings* s)
{
    *s = {};
    if (!fb || sscanf(fb, "%ux%ux%u", &s->xres, &s->yres, &s->bits_per_pixel) != 3)
        return false;
    if (fb_virtual)
        (void)sscanf(fb_virtual, "%ux%u", &s->xres_virtual, &s->yres_virtual);
    if (fb_line)
        s->line_length = static_cast<uint32_t>(strtoul(fb_line, nullptr, 0));
    for (size_t i = 0; fb_channels && i < 4; ++i) {
        int used = 0;
        if (sscanf(fb_channels, "%u/%u,%n", &s->channels[i][0], &s->channels[i][1], &used) != 2 || used <= 0)
            break;
        fb_channels += used;
    }
    return true;
}

int format_event(const Event& event, char* line, size_t size)
{
    size_t n = 0;
    auto add = [&](const char* format, auto... values) {
        int written = snprintf(line + n, n < size ? size - n : 0, format, values...);
        n += written > 0 ? size_t(written) : 0;
    };
    add("%s %s", event_kind_name(event.kind), device_name(event.device));
    for (const Field& field : FIELDS) {
        long long value = event.*field.member;
        if (value || field.member == &Event::rc)
            add(field.hex ? " %s=0x%llx" : " %s=%lld", field.key, value);
    }
    if (event.path[0])
        add(" path=%s", event.path);
    return int(n < size ? n : size - 1);
}

bool parse_event(const char* line, Event* event)
{
    *event = Event {};
    const char* space = strchr(line, ' ');
    if (!space)
        return false;
    int kind = index_of(KIND_NAMES, line, size_t(space - line));
    const char* device = space + 1;
    space = strchrnul(device, ' ');
    int device_index = index_of(DEVICE_NAMES, device, size_t(space - device));
    if (kind < 0 || device_index < 0)
        return false;
    event->kind = EventKind(kind);
    event->device = Device(device_index);
    for (const char* at = space; *at == ' ';) {
        const char* key = at + 1;
        const char* equals = strchr(key, '=');
        if (!equals)
            return false;
        size_t key_length = size_t(equals - key);
        if (key_length == 4 && !strncmp(key, "path", 4)) {
            // The path runs to the end of the line.
            snprintf(event->path, sizeof event->path, "%s", equals + 1);
            return true;
        }
        const Field* field = nullptr;
        for (const Field& f : FIELDS)
            if (strlen(f.key) == key_length && !strncmp(f.key, key, key_length))
                field = &f;
        char* end;
        long long value = strtoll(equals + 1, &end, 0);
        if (!field || end == equals + 1 || (*end && *end != ' '))
            return false;
        event->*field->member = value;
        at = end;
    }
    return true;
}
