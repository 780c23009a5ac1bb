#include "probe/card.h"

#include "core/decode.h"
#include "probe/font.h"

#include <stdio.h>

namespace {

struct Canvas {
    uint8_t* pixels;
    uint32_t xres, yres, bits_per_pixel;

    void span(uint32_t x, uint32_t y, uint32_t length, uint16_t colour) const
    {
        if (y >= yres || x >= xres)
            return;
        if (length > xres - x)
            length = xres - x;
        uint32_t bytes = bits_per_pixel / 8, at = (y * xres + x) * bytes;
        if (bits_per_pixel == 16)
            fill16(pixels + at, colour, int(length * 2));
        else
            fill32(pixels + at, expand565(colour), int(length * 4));
    }
    void dot(uint32_t x, uint32_t y, uint16_t colour) const { span(x, y, 1, colour); }
    void box(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint16_t colour) const
    {
        for (uint32_t row = y; row < y + height && row < yres; ++row)
            span(x, row, width, colour);
    }
};

uint32_t text_width(const char* text, uint32_t scale)
{
    uint32_t n = 0;
    while (text[n])
        ++n;
    return n ? (n * GLYPH_ADVANCE - 1) * scale : 0;
}

// Text at (x, y), each font pixel a square of `scale`, kept within [left, right).
void text(const Canvas& canvas, uint32_t x, uint32_t y, uint32_t scale, const char* s, uint16_t colour,
    uint32_t left, uint32_t right)
{
    for (; *s; ++s, x += GLYPH_ADVANCE * scale) {
        const uint8_t* rows = glyph(*s);
        for (int row = 0; row < GLYPH_HEIGHT; ++row)
            for (int column = 0; column < GLYPH_WIDTH; ++column) {
                if (!(rows[row] & (0x10 >> column)))
                    continue;
                uint32_t px = x + uint32_t(column) * scale;
                for (uint32_t dx = 0; dx < scale; ++dx)
                    if (px + dx >= left && px + dx < right)
                        canvas.box(px + dx, y + uint32_t(row) * scale, 1, scale, colour);
            }
    }
}

// The text centred on `centre`, within [left, right).
void centred(const Canvas& canvas, uint32_t centre, uint32_t y, uint32_t scale, const char* s,
    uint16_t colour, uint32_t left, uint32_t right)
{
    uint32_t width = text_width(s, scale);
    text(canvas, centre > width / 2 ? centre - width / 2 : 0, y, scale, s, colour, left, right);
}

} // namespace

void draw_card(void* pixels, uint32_t xres, uint32_t yres, uint32_t bits_per_pixel, const char* const* lines)
{
    const Canvas canvas { static_cast<uint8_t*>(pixels), xres, yres, bits_per_pixel };
    canvas.box(0, 0, xres, yres, CARD_BLACK);

    // A one-pixel grid: its columns lean when a line is longer than a row.
    for (uint32_t y = 0; y < yres; ++y) {
        if (y % CARD_GRID_STEP == 0) {
            canvas.span(0, y, xres, CARD_GRID);
            continue;
        }
        for (uint32_t x = 0; x < xres; x += CARD_GRID_STEP)
            canvas.dot(x, y, CARD_GRID);
    }
    // The diagonal from corner to corner, one pixel wide along its longer axis.
    if (xres >= yres)
        for (uint32_t x = 0; x < xres; ++x)
            canvas.dot(x, xres > 1 ? uint32_t(uint64_t(x) * (yres - 1) / (xres - 1)) : 0, CARD_WHITE);
    else
        for (uint32_t y = 0; y < yres; ++y)
            canvas.dot(yres > 1 ? uint32_t(uint64_t(y) * (xres - 1) / (yres - 1)) : 0, y, CARD_WHITE);
    // The corners, each an L two pixels thick.
    uint32_t arm = (xres < yres ? xres : yres) / 8 + 2;
    for (uint32_t corner = 0; corner < 4; ++corner) {
        uint32_t x = corner & 1 ? xres - (arm < xres ? arm : xres) : 0;
        uint32_t y = corner & 2 ? yres - (arm < yres ? arm : yres) : 0;
        canvas.box(x, corner & 2 ? yres - 2 : 0, arm, 2, CARD_MARK);
        canvas.box(corner & 1 ? xres - 2 : 0, y, 2, arm, CARD_MARK);
    }

    // The bars, each labelled with its colour's name in black.
    const CardBars bars = card_bars(xres, yres);
    const uint16_t colours[4] = { CARD_RED, CARD_GREEN, CARD_BLUE, CARD_WHITE };
    const char* names[4] = { "RED", "GREEN", "BLUE", "WHITE" };
    uint32_t scale = (yres < xres ? yres : xres) / 160 + 1;
    uint32_t label_y = (bars.top + bars.bottom) / 2 > GLYPH_HEIGHT * scale / 2
        ? (bars.top + bars.bottom) / 2 - GLYPH_HEIGHT * scale / 2
        : 0;
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t left = i * bars.width, right = i == 3 ? xres : left + bars.width;
        canvas.box(left, bars.top, right - left, bars.bottom - bars.top, colours[i]);
        centred(canvas, (left + right) / 2, label_y, scale, names[i], CARD_BLACK, left, right);
    }

    // What the probe learnt, across the top.
    uint32_t y = GLYPH_HEIGHT * scale + 2;
    for (int i = 0; i < 3 && lines[i]; ++i, y += (GLYPH_HEIGHT + 3) * scale)
        centred(canvas, xres / 2, y, scale, lines[i], CARD_WHITE, 0, xres);
}

void card_text(uint32_t xres, uint32_t yres, uint32_t bits_per_pixel, uint32_t line_length,
    const PixelFormat* format, CardText* text)
{
    snprintf(text->size, sizeof text->size, "%ux%u %u BPP", xres, yres, bits_per_pixel);
    snprintf(text->layout, sizeof text->layout, "%s LINE %u", format ? format->name : "UNKNOWN", line_length);
    text->lines[0] = "PELIMORA PROBE";
    text->lines[1] = text->size;
    text->lines[2] = text->layout;
    text->lines[3] = nullptr;
}
