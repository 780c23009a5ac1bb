// What a panel of each format and line length shows for the memory the player
// writes, worked out by hand.
#include "frames/panel.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"
#include "frames/rgb565_codes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

const PixelFormat& format(const char* name)
{
    const PixelFormat* found = find_format(name);
    EXPECT_NE(found, nullptr) << name;
    return found ? *found : player_format(16);
}

TEST(PixelFormat, ThePlayersBytesThroughEachFormat)
{
    // The player's red at 32 bpp: bytes FF 00 00 FF.
    Bytes red32 = { 0xFF, 0x00, 0x00, 0xFF };
    EXPECT_EQ(panel_view(red32, 1, 1, 4, format("XBGR8888")), (Bytes { 0xFF, 0x00, 0x00 }));
    EXPECT_EQ(panel_view(red32, 1, 1, 4, format("ABGR8888")), (Bytes { 0xFF, 0x00, 0x00 }));
    EXPECT_EQ(panel_view(red32, 1, 1, 4, format("XRGB8888")), (Bytes { 0x00, 0x00, 0xFF })); // red shows blue
    EXPECT_EQ(panel_view(red32, 1, 1, 4, format("RGBX8888")),
        (Bytes { 0xFF, 0x00, 0x00 })); // red from the 0xFF byte
    // The player's RGB565 red, 0xF800, stored 00 F8.
    Bytes red16 = { 0x00, 0xF8 };
    EXPECT_EQ(panel_view(red16, 1, 1, 2, format("RGB565")), (Bytes { 0xFF, 0x00, 0x00 }));
    EXPECT_EQ(panel_view(red16, 1, 1, 2, format("BGR565")), (Bytes { 0x00, 0x00, 0xFF }));
    // 0xF800 as X1R5G5B5: the X bit, red 11110 (widened F7), green 000 00.
    EXPECT_EQ(panel_view(red16, 1, 1, 2, format("XRGB1555")), (Bytes { 0xF7, 0x00, 0x00 }));
    // Mid grey 0x8410 widens by repeating top bits, as expand565 does.
    EXPECT_EQ(panel_view(Bytes { 0x10, 0x84 }, 1, 1, 2, format("RGB565")), (Bytes { 0x84, 0x82, 0x84 }));
}

TEST(PixelFormat, LongerLinesShearTheStream)
{
    // A 2 x 2 screen at 16 bpp, lines of 6 bytes: the stream's four pixels
    // fill row 0 and spill into row 1's first pixel; the padding pixel of row
    // 0 takes the stream's third pixel.
    Bytes memory = { 0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0xFF, 0xFF, 0, 0, 0, 0 };
    EXPECT_EQ(panel_view(memory, 2, 2, 6, format("RGB565")),
        (Bytes { 0, 0, 0xFF, 0, 0xFF, 0, /* row 1: */ 0xFF, 0xFF, 0xFF, 0, 0, 0 }));
}

// A caveat is true of the frames in hand: the panel shows them otherwise
// than the screen they were made for would.
TEST(PixelFormat, CaveatsOnlyWhereThePanelShowsTheFramesWrongly)
{
    auto caveats = [](const ScreenGeometry& panel, const ScreenGeometry& made) {
        std::string all;
        for (const std::string& line : panel_caveats(panel, made))
            all += line + "\n";
        return all;
    };
    const PixelFormat* abgr = find_format("ABGR8888");
    const PixelFormat* xrgb = find_format("XRGB8888");
    // What the player writes, under another name, or at the other depth: nothing to say.
    EXPECT_EQ(caveats({ 64, 48, 32, 0, abgr }, { 64, 48, 32 }), "");
    EXPECT_EQ(caveats({ 64, 48, 32 }, { 64, 48, 16 }), "");
    // Frames made for the panel's own layout and padded lines show as made;
    // only the rows the stream cannot reach are said.
    EXPECT_EQ(caveats({ 1024, 600, 32, 4224, xrgb }, { 1024, 600, 32, 4224, xrgb }),
        "rows 581-599 of this panel are never drawn in full: the player's stream of 614400 pixels ends "
        "before them\n");
    // Frames made for the player's layout, on panels that read it otherwise.
    EXPECT_NE(
        caveats({ 64, 48, 32, 0, xrgb }, { 64, 48, 32 }).find("red and blue swapped"), std::string::npos);
    EXPECT_NE(
        caveats({ 64, 48, 32 }, { 64, 48, 32, 0, xrgb }).find("red and blue swapped"), std::string::npos);
    EXPECT_NE(caveats({ 64, 48, 16, 0, find_format("XRGB1555") }, { 64, 48, 16 }).find("fewer bits"),
        std::string::npos);
    std::string sheared = caveats({ 64, 48, 16, 160 }, { 64, 48, 16 });
    EXPECT_NE(sheared.find("lines of 80 pixels, not the 64"), std::string::npos) << sheared;
    EXPECT_NE(sheared.find("rows 38-47 of this panel are never drawn"), std::string::npos) << sheared;
    // Lines compared in pixels: 2112 bytes at 16 bpp hold the 1056 pixels of 4224 at 32.
    EXPECT_EQ(caveats({ 1024, 600, 16, 2112 }, { 1024, 600, 32, 4224 }).find("shears"), std::string::npos);
    EXPECT_EQ(rows_text(47, 47), "row 47");
}

TEST(PixelFormat, MemoryForAPictureShowsThePictureQuantised)
{
    Bytes rgb = { 0xFF, 0x00, 0x00, 0x12, 0x34, 0x56, 0x80, 0x80, 0x80 };
    for (const char* name :
        { "RGB565", "BGR565", "XRGB1555", "XBGR1555", "ARGB1555", "XBGR8888", "XRGB8888" }) {
        const PixelFormat& f = format(name);
        uint32_t line = 3 * f.bits_per_pixel / 8 + 4;
        Bytes shown = panel_view(panel_memory_for_rows(rgb, 3, 1, line, f), 3, 1, line, f);
        for (size_t i = 0; i < rgb.size(); ++i) {
            uint32_t bits = i % 3 == 1 ? f.green.length : f.red.length;
            EXPECT_LE(std::abs(int(shown[i]) - int(rgb[i])), 256 >> bits) << name << " byte " << i;
        }
    }
}

const PixelFormat* xrgb_format()
{
    return find_format("XRGB8888");
}

TEST(PixelFormat, KernelChannelOffsetsNameTheFormat)
{
    EXPECT_EQ(format_of_channels(32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 0, 0 }), find_format("XRGB8888"));
    EXPECT_EQ(format_of_channels(32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 24, 8 }), find_format("ARGB8888"));
    EXPECT_EQ(format_of_channels(32, { 0, 8 }, { 8, 8 }, { 16, 8 }, { 24, 8 }), find_format("ABGR8888"));
    EXPECT_EQ(format_of_channels(16, { 11, 5 }, { 5, 6 }, { 0, 5 }, { 0, 0 }), find_format("RGB565"));
    EXPECT_EQ(format_of_channels(16, { 10, 5 }, { 5, 5 }, { 0, 5 }, { 15, 1 }), find_format("ARGB1555"));
    EXPECT_EQ(format_of_channels(24, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 0, 0 }), nullptr);
    EXPECT_NE(find_format("RGBA8888")->refusal, nullptr);
    EXPECT_EQ(find_format("xrgb8888"), xrgb_format()); // any case
    EXPECT_EQ(find_format("RGB 565"), nullptr);
}

} // namespace

TEST(PixelFormat, TurnedClockwiseAsFbconTurnsTheConsole)
{
    // 3 x 2, one byte a pixel:  a b c
    //                           d e f
    Bytes upright = { 'a', 'b', 'c', 'd', 'e', 'f' };
    EXPECT_EQ(turn_clockwise(upright, 3, 2, 1, 0), upright);
    EXPECT_EQ(turn_clockwise(upright, 3, 2, 1, 90), (Bytes { 'd', 'a', 'e', 'b', 'f', 'c' })); // 2 x 3
    EXPECT_EQ(turn_clockwise(upright, 3, 2, 1, 180), (Bytes { 'f', 'e', 'd', 'c', 'b', 'a' }));
    EXPECT_EQ(turn_clockwise(upright, 3, 2, 1, 270), (Bytes { 'c', 'f', 'b', 'e', 'a', 'd' }));
    // Whole pixels move: two bytes a pixel.
    EXPECT_EQ(turn_clockwise(Bytes { 1, 2, 3, 4 }, 2, 1, 2, 90), (Bytes { 1, 2, 3, 4 }));
    EXPECT_EQ(turn_clockwise(Bytes { 1, 2, 3, 4 }, 2, 1, 2, 180), (Bytes { 3, 4, 1, 2 }));
}

TEST(PixelFormat, ATurnedPanelShowsThePictureUpright)
{
    // An upright 3 x 2 picture of colours each panel holds exactly.
    RgbaImage image { 3, 2, {} };
    const Bytes colours = { 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0, 255, 255, 255, 255, 255 };
    for (size_t i = 0; i < 6; ++i)
        image.rgba.insert(image.rgba.end(), { colours[i * 3], colours[i * 3 + 1], colours[i * 3 + 2], 255 });
    for (uint32_t rotate : { 0u, 90u, 180u, 270u })
        for (uint32_t depth : { 16u, 32u }) {
            ScreenGeometry panel { rotate % 180 ? 2u : 3u, rotate % 180 ? 3u : 2u, depth };
            panel.rotate = rotate;
            std::vector<uint16_t> stream = image_to_panel_stream(image, {}, false, panel);
            Bytes memory(panel.memory_bytes());
            for (size_t j = 0; j < stream.size(); ++j)
                if (depth == 16) {
                    memory[j * 2] = uint8_t(stream[j]), memory[j * 2 + 1] = uint8_t(stream[j] >> 8);
                } else {
                    Bytes rgb = screen_to_rgb(Bytes { uint8_t(stream[j]), uint8_t(stream[j] >> 8) }, 16);
                    std::copy(rgb.begin(), rgb.end(), &memory[j * 4]), memory[j * 4 + 3] = 0xFF;
                }
            EXPECT_EQ(upright_rgb(memory, panel), colours) << rotate << " degrees at " << depth << " bpp";
            EXPECT_EQ(upright_rgb(panel_memory_for_upright(colours, panel), panel), colours)
                << rotate << " degrees";
        }
}

// Every 8-bit colour to its RGB565 code, each channel at its nearest level,
// whichever way this processor makes them; and runs of every length up to
// a vector's width and past it, whose last pixels are made as the others.
TEST(PixelFormat, EveryColourGetsTheCodeOfItsNearestLevels)
{
    auto nearest = [](uint32_t r, uint32_t g, uint32_t b) {
        return uint16_t((r * 31 + 127) / 255 << 11 | (g * 63 + 127) / 255 << 5 | (b * 31 + 127) / 255);
    };
    std::vector<uint8_t> rgb(256 * 256 * 3);
    std::vector<uint16_t> codes(256 * 256 + 1);
    for (uint32_t r = 0; r < 256; ++r) {
        for (uint32_t gb = 0; gb < 65536; ++gb)
            rgb[gb * 3] = uint8_t(r), rgb[gb * 3 + 1] = uint8_t(gb >> 8), rgb[gb * 3 + 2] = uint8_t(gb);
        for (size_t pixels : { size_t(65536), size_t(r % 64 + 1) }) {
            codes.assign(codes.size(), 0xA5A5);
            rgb565_codes(rgb.data(), pixels, codes.data());
            for (uint32_t gb = 0; gb < pixels; ++gb)
                ASSERT_EQ(codes[gb], nearest(r, gb >> 8, gb & 255))
                    << r << "," << (gb >> 8) << "," << (gb & 255);
            ASSERT_EQ(codes[pixels], 0xA5A5) << "written past the end of " << pixels;
        }
    }
}
