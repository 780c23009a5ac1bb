// The player's drawing: the console put into graphics mode, and frame files
// drawn into the open screen with the frame decoder and panned.
#pragma once

#include "core/devices.h"

#include <stdint.h>

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
int map_frame(const char* path, MappedFrame* frame);

// Draws one frame file into the open screen and pans: 0, or -1 when nothing
// was drawn. Only a frame file that cannot be opened is logged.
int show_frame(const char* path);
