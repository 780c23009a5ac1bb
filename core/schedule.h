// The animation's schedule: which frame files are shown, in what order, at
// what pace. Compiled in; nothing about it is configurable on the device.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <time.h>

constexpr char FRAME_PATH_PREFIX[] = "/bootimages/Loop_";
// Prefix, frame number in decimal without leading zeros, ".rle".
constexpr const char* FRAME_PATH_FORMAT = "%s%d.rle"; // a literal: merged with the other strings
constexpr int FRAME_PATH_BUFFER_SIZE = 256;
constexpr int FRAME_COUNT = 40; // Loop_1.rle to Loop_40.rle
constexpr long FRAME_DELAY_US = 20000; // pause after every frame

// The path the player opens for frame n (1 to FRAME_COUNT).
inline void format_frame_path(char (&path)[FRAME_PATH_BUFFER_SIZE], int n)
{
    snprintf(path, sizeof path, FRAME_PATH_FORMAT, FRAME_PATH_PREFIX, n);
}

// Length of the directory part of FRAME_PATH_PREFIX, its trailing slash included.
constexpr unsigned frame_directory_length()
{
    unsigned length = 0;
    for (unsigned i = 0; FRAME_PATH_PREFIX[i]; ++i)
        if (FRAME_PATH_PREFIX[i] == '/')
            length = i + 1;
    return length;
}

// Sleeps the whole delay: a signal only splits the pause, it never shortens it.
inline void sleep_us(long microseconds)
{
    timespec left = { microseconds / 1000000, (microseconds % 1000000) * 1000 };
    while (nanosleep(&left, &left) != 0 && errno == EINTR) { }
}
