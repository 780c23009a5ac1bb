#include "frames/panel.h"

#include "core/decode.h"
#include "frames/panel_view.h"

#include <cctype>
#include <cstring>

const PixelFormat* find_format(const std::string& name)
{
    return pixel_format_named(name.data(), name.size(), Spelling::any_case);
}

std::string format_names()
{
    std::string names;
    for (const PixelFormat& format : PIXEL_FORMATS)
        names += (names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

bool is_rotation(uint32_t degrees)
{
    return degrees == 0 || degrees == 90 || degrees == 180 || degrees == 270;
}

std::string rotation_text(const ScreenGeometry& geometry, bool shown_upright)
{
    if (!geometry.rotate)
        return "";
    return ", turned " + std::to_string(geometry.rotate) + " degrees clockwise in the panel's memory"
        + (shown_upright ? ", shown upright" : "");
}

Error player_refusal(const ScreenGeometry& geometry)
{
    uint64_t bits = uint64_t(geometry.width) * geometry.height * geometry.depth();
    if (bits > UINT32_MAX)
        return usage_error(geometry.size_text() + " at " + std::to_string(geometry.depth())
            + " bpp is more than the player can map (its size in bits must fit in 32 bits)");
    return {};
}

uint32_t rows_drawn_in_full(const ScreenGeometry& geometry)
{
    uint64_t budget = geometry.pixels(), per_line = geometry.stride() / (geometry.depth() / 8);
    if (budget < geometry.width || per_line == 0)
        return 0;
    return uint32_t(std::min<uint64_t>(geometry.height, (budget - geometry.width) / per_line + 1));
}

std::string rows_text(uint32_t first, uint32_t last)
{
    return first == last ? "row " + std::to_string(first)
                         : "rows " + std::to_string(first) + "-" + std::to_string(last);
}

namespace {

// What a panel of this depth and format shows for each of the 65536 colour
// codes the player may be given, as 8-bit RGB.
std::vector<uint8_t> colours_shown(uint32_t bits_per_pixel, const PixelFormat& format)
{
    constexpr uint32_t CODES = 65536;
    const uint32_t pixel_bytes = bits_per_pixel / 8;
    std::vector<uint8_t> memory(size_t(CODES) * pixel_bytes);
    for (uint32_t code = 0; code < CODES; ++code) {
        uint32_t written = bits_per_pixel == 16 ? code : expand565(uint16_t(code));
        std::memcpy(&memory[code * pixel_bytes], &written, pixel_bytes);
    }
    return panel_view(memory, CODES, 1, CODES * pixel_bytes, format);
}

} // namespace

bool shows_colours_alike(const ScreenGeometry& a, const ScreenGeometry& b)
{
    if (a.pixel_format().refusal || b.pixel_format().refusal)
        return a.pixel_format().refusal == b.pixel_format().refusal;
    return colours_shown(a.depth(), a.pixel_format()) == colours_shown(b.depth(), b.pixel_format());
}

uint32_t line_pixels(const ScreenGeometry& geometry)
{
    return geometry.stride() / (geometry.depth() / 8);
}

std::vector<std::string> panel_caveats(const ScreenGeometry& panel, const ScreenGeometry& made_for)
{
    std::vector<std::string> caveats;
    const PixelFormat& format = panel.pixel_format();
    const PixelFormat& intended = made_for.pixel_format();
    if (format.refusal) {
        caveats.push_back(
            std::string(format.name) + " cannot show what the player writes: it " + format.refusal);
    } else if (!intended.refusal) {
        std::vector<uint8_t> shown = colours_shown(panel.depth(), format);
        std::vector<uint8_t> meant = colours_shown(made_for.depth(), intended);
        if (shown != meant) {
            constexpr size_t RED = 0xF800 * 3;
            bool swapped = shown[RED] == meant[RED + 2] && shown[RED + 2] == meant[RED];
            caveats.push_back("the frames were made for " + std::string(intended.name) + " at "
                + std::to_string(made_for.depth()) + " bpp; on " + format.name + " at "
                + std::to_string(panel.depth()) + " bpp their colours show changed ("
                + (swapped ? "red and blue swapped" : "other channels or fewer bits") + ")");
        }
    }
    // The stream of width x height pixels, laid into lines of another length, shears.
    if (line_pixels(panel) != line_pixels(made_for))
        caveats.push_back("lines of " + std::to_string(line_pixels(panel)) + " pixels, not the "
            + std::to_string(line_pixels(made_for))
            + " the frames were made for: each row starts elsewhere in the player's stream, so the picture "
              "shears");
    if (panel.rotate != made_for.rotate)
        caveats.push_back("the frames were made turned " + std::to_string(made_for.rotate)
            + " degrees clockwise in the panel's memory; on a panel turned " + std::to_string(panel.rotate)
            + " degrees they show turned " + std::to_string((made_for.rotate + 360 - panel.rotate) % 360)
            + " degrees clockwise");
    if (uint32_t full_rows = rows_drawn_in_full(panel); full_rows < panel.height)
        caveats.push_back(rows_text(full_rows, panel.height - 1)
            + (full_rows + 1 == panel.height ? " of this panel is" : " of this panel are")
            + " never drawn in full: " + "the player's stream of " + std::to_string(panel.pixels())
            + " pixels ends before them");
    return caveats;
}
