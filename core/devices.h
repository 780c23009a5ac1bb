// The device files the player opens, by the names the device gives them;
// the virtual devices stand in for exactly these.
#pragma once

#include <fcntl.h>

constexpr char FB_PATH[] = "/dev/graphics/fb0";
constexpr char TTY_PATH[] = "/dev/tty0";
// Read-write with synchronous writes, as the console has always been opened.
constexpr int TTY_OPEN_FLAGS = O_RDWR | O_DSYNC;
static_assert(TTY_OPEN_FLAGS == 0x1002);
constexpr char KMSG_PATH[] = "/dev/kmsg";

// pelimora-kms: the DRM cards it looks through, card0 first.
constexpr char DRI_CARD_PATH_FORMAT[] = "/dev/dri/card%d";
constexpr int DRI_CARD_COUNT = 8;
