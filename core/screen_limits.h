// The largest screen the player's files, a bundle's index, the panels and
// the artwork are taken for: far beyond any panel, and within what a 32-bit
// count of a screen's bytes at 32 bpp can hold a row of.
#pragma once

#include <stdint.h>

constexpr uint32_t MAX_SCREEN_SIDE = 16384;
