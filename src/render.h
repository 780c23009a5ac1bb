// The player's drawing: the console put into graphics mode, and frame files
// drawn into the open screen with the frame decoder and panned.
#pragma once

#include "core/devices.h"

// Puts the virtual console into graphics mode: 0, or -1 when it cannot be.
int console_set_graphics();

// Draws one frame file into the open screen and pans: 0, or -1 when nothing
// was drawn. Only a frame file that cannot be opened is logged.
int show_frame(const char* path);
