// The player's drawing: the console put into graphics mode, and frame files
// drawn into the open screen with the frame decoder and panned.
#pragma once

#include "core/devices.h"
#include "src/kmsg.h"

#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Puts the virtual console into graphics mode: 0, or -1 when it cannot be.
int console_set_graphics();

// A frame file open and mapped read-only, as far as it is long.
struct MappedFrame {
    int fd;
    const uint8_t* bytes;
    uint32_t size;
};
// Opens and maps the frame file: 0, or -1 with nothing held. Only a file
// that cannot be opened is logged. The caller unmaps it and closes `fd`.
// Inline: each program has one caller, and no byte of a call to spare.
inline int map_frame(const char* path, MappedFrame* frame)
{
    frame->fd = open(path, O_RDONLY);
    if (frame->fd < 0) {
        kmsg_print(3, CANNOT_OPEN_FORMAT, path);
        return -1;
    }
    struct stat info;
    if (fstat(frame->fd, &info) != 0) {
        (void)close(frame->fd);
        return -1;
    }
    frame->size = static_cast<uint32_t>(info.st_size);
    void* bytes = mmap(nullptr, frame->size, PROT_READ, MAP_SHARED, frame->fd, 0);
    if (bytes == MAP_FAILED) {
        (void)close(frame->fd);
        return -1;
    }
    frame->bytes = static_cast<const uint8_t*>(bytes);
    return 0;
}

// Draws one frame file into the open screen and pans: 0, or -1 when nothing
// was drawn. Only a frame file that cannot be opened is logged.
int show_frame(const char* path);
