#include "vfb/vdev/protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr const char* KIND_NAMES[] = { "start", "open", "close", "fix", "var", "pan", "kdsetmode", "ioctl",
    "mmap", "munmap", "fstat", "write", "sleep", "refuse", "leak", "overrun", "error", "exit" };
constexpr const char* DEVICE_NAMES[] = { "-", "fb", "tty", "kmsg", "frame" };
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
