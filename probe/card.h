// The test card: what the report says in numbers, shown by eye. Drawn as the
// player draws, one stream of xres x yres pixels from the start of the
// mapping in RGB565 (widened at 32 bpp), so a panel that reads the player's
// pixels wrongly shows the card wrongly in the same way: a swapped panel
// shows the bar labelled RED in blue, a longer line shears the grid.
#pragma once

#include "core/pixel_formats.h"

#include <stdint.h>

// Colours of the card, as the player's RGB565 codes.
constexpr uint16_t CARD_RED = 0xF800, CARD_GREEN = 0x07E0, CARD_BLUE = 0x001F, CARD_WHITE = 0xFFFF,
                   CARD_BLACK = 0x0000, CARD_GRID = 0x4208, CARD_MARK = 0xFFE0;

constexpr uint32_t CARD_GRID_STEP = 32;

// Where the colour bars are: a band across the middle fifth, four bars of a
// quarter of the width each (the last takes what is left over).
struct CardBars {
    uint32_t top, bottom; // rows [top, bottom)
    uint32_t width; // of each bar but the last
};
constexpr CardBars card_bars(uint32_t xres, uint32_t yres)
{
    return { yres * 2 / 5, yres * 3 / 5, xres / 4 };
}

// What the card prints across its top: the probe's name, the screen's size
// and depth, its format (or UNKNOWN) and line length.
struct CardText {
    char size[48], layout[64];
    const char* lines[4];
};
void card_text(uint32_t xres, uint32_t yres, uint32_t bits_per_pixel, uint32_t line_length,
    const PixelFormat* format, CardText* text);

// Draws the card into `pixels` (xres * yres pixels at 16 or 32 bits), with
// `lines` (up to three, null-terminated) printed across its top.
void draw_card(void* pixels, uint32_t xres, uint32_t yres, uint32_t bits_per_pixel, const char* const* lines);
