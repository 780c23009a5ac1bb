// pelimora-frames logos: the bootloader's splash and the kernel's logo from
// the artwork, fitted as encode fits the first frame, so that each hand-over
// before the player shows the same pixels.
#include "commands/frame_commands.h"

#include "artwork/artwork.h"
#include "commands/command_support.h"
#include "commands/screen_flags.h"
#include "frames/panel_view.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/staged_files.h"
#include "preview/boot_logos.h"

#include <cmath>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

// The kernel's logo holds at most this many colours; U-Boot's 8-bit BMP 256.
constexpr uint32_t KERNEL_LOGO_COLOURS = 224, BMP8_COLOURS = 256;

// Frame 1 as the panel shows it: its memory, and its background's colour.
struct FirstFrame {
    ScreenGeometry panel;
    std::vector<uint8_t> memory;
    uint8_t background[3] = {};
};

// What the player leaves in the panel's memory after frame 1, over the whole
// picture (in the rows its stream never reaches, what the bootloader showed).
Error draw_first_frame(const LogosOptions& options, const Rgb& background, const Fit& fit, FirstFrame* first)
{
    std::unique_ptr<Artwork> artwork;
    if (Error error = open_artwork(options.input, &artwork))
        return error;
    const ScreenGeometry& panel = first->panel;
    const Fitting fitting { panel.upright_width(), panel.upright_height(), fit, background };
    LinearPicture picture;
    SourceFrame which;
    if (Error error
        = artwork->picture_at(int64_t(std::llround(options.start_seconds * 1e6)), fitting, &picture, &which))
        return error;
    RgbaImage image = to_srgb(picture);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < image.rgba.size(); i += 4)
        rgb.insert(rgb.end(), image.rgba.begin() + ptrdiff_t(i), image.rgba.begin() + ptrdiff_t(i) + 3);
    first->memory = panel_memory_for_upright(rgb, panel);
    std::vector<uint8_t> frame
        = encode_rle565(image_to_panel_stream(image, background, options.dither, panel));
    (void)draw_frame(frame, panel, &first->memory);
    // The background as this panel shows it: one pixel of it, drawn as the player draws.
    ScreenGeometry pixel { 1, 1, panel.depth(), 0, panel.format };
    std::vector<uint8_t> one(pixel.memory_bytes());
    const uint8_t colour[3] = { background.r, background.g, background.b };
    (void)draw_frame(encode_rle565(rgb_to_panel_stream(colour, 1, background, false, pixel)), pixel, &one);
    std::vector<uint8_t> shown = panel_rgb(one, pixel);
    std::copy(shown.begin(), shown.end(), first->background);
    return {};
}

// The kernel centres a logo of w pixels at (size - w) / 2: the smallest
// such span that holds [first, end).
uint32_t centred_span(uint32_t size, uint32_t first, uint32_t end)
{
    uint32_t width = end - first;
    while (width < size && !((size - width) / 2 <= first && (size - width) / 2 + width >= end))
        ++width;
    return width;
}

// The kernel's logo: the rectangle centred on the upright screen that holds
// every pixel of frame 1 that is not the background; 0 x 0 when there is none.
struct LogoArea {
    uint32_t x = 0, y = 0, width = 0, height = 0;
};
LogoArea logo_area(
    std::span<const uint8_t> upright, uint32_t width, uint32_t height, const uint8_t* background)
{
    uint32_t x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if (!std::equal(background, background + 3, &upright[(size_t(y) * width + x) * 3]))
                x0 = std::min(x0, x), x1 = std::max(x1, x + 1), y0 = std::min(y0, y),
                y1 = std::max(y1, y + 1);
    if (x0 >= x1)
        return {};
    LogoArea area;
    area.width = centred_span(width, x0, x1), area.height = centred_span(height, y0, y1);
    area.x = (width - area.width) / 2, area.y = (height - area.height) / 2;
    return area;
}

std::vector<uint8_t> crop(std::span<const uint8_t> rgb, uint32_t width, const LogoArea& area)
{
    std::vector<uint8_t> out;
    for (uint32_t y = area.y; y < area.y + area.height; ++y) {
        auto row = rgb.begin() + ptrdiff_t((size_t(y) * width + area.x) * 3);
        out.insert(out.end(), row, row + ptrdiff_t(area.width) * 3);
    }
    return out;
}

// The palette's colour for each pixel.
std::vector<uint8_t> expand(const PalettePicture& picture)
{
    std::vector<uint8_t> rgb;
    for (uint8_t index : picture.indices)
        rgb.insert(rgb.end(), &picture.palette[index * 3], &picture.palette[index * 3] + 3);
    return rgb;
}

// The options that place the logo where frame 1 has it and clear the
// console to frame 1's background (the console's colour 0).
std::string kernel_command_line(const FirstFrame& first, const LogoArea& area)
{
    std::string line = area.width ? "fbcon=logo-pos:center fbcon=logo-count:1" : "logo.nologo";
    const char* channels[] = { "red", "grn", "blu" };
    for (int c = 0; c < 3; ++c)
        line += std::string(" vt.default_") + channels[c] + "=" + std::to_string(first.background[c]);
    if (first.panel.rotate)
        line += " fbcon=rotate:" + std::to_string(first.panel.rotate / 90);
    return line;
}

std::string readme_text(const FirstFrame& first, const LogoArea& area, const std::string& command_line)
{
    const ScreenGeometry& panel = first.panel;
    std::string text
        = "The pictures before the animation, made from the same artwork as its first frame\n"
          "(pelimora-frames logos, with the panel, --fit, --background and --dither given to encode).\n\n"
          "splash.bmp       U-Boot's splash screen, 24 bits a pixel: the same pixels as "
        + frame_name(1)
        + ".\n"
          "                 Needs CONFIG_SPLASH_SCREEN and CONFIG_BMP_24BPP; load it at $splashimage\n"
          "                 (or name it in splashfile) or show it with `bmp display`.\n"
          "splash-8bit.bmp  The same with a palette of 256 colours, for a U-Boot without\n"
          "                 CONFIG_BMP_24BPP (8-bit BMPs are always read).\n"
          "                 Both are the whole "
        + panel.size_text() + " screen in the panel's memory order"
        + (panel.rotate ? ", already turned " + std::to_string(panel.rotate) + " degrees" : std::string())
        + ".\n";
    if (area.width)
        text += "logo_linux_clut224.ppm  The kernel's boot logo, " + std::to_string(area.width) + "x"
            + std::to_string(area.height)
            + ", upright: copy it over drivers/video/logo/logo_linux_clut224.ppm\n"
              "                 (or name it in LOGO_LINUX_CLUT224_FILE where the kernel takes a file) and "
              "build\n"
              "                 with CONFIG_LOGO=y and CONFIG_LOGO_LINUX_CLUT224=y.\n";
    else
        text += "(no logo_linux_clut224.ppm: frame 1 is all background, so the kernel shows none)\n";
    const std::string logo_words = area.width
        ? "It centres one logo where the frame has it and clears the console to the\n"
          "                 frame's background (colour 0 of the console's palette)"
            + std::string(panel.rotate
                    ? "; fbcon=rotate turns the logo\n                 as the frames are turned"
                    : "")
        : "logo.nologo hides the kernel's logo, as frame 1 has none, and the rest\n"
          "                 clears the console to the frame's background (colour 0 of the console's\n"
          "                 palette)"
            + std::string(panel.rotate
                    ? "; fbcon=rotate turns the console as the frames\n                 are turned"
                    : "");
    text += "cmdline.txt      Add to the kernel's command line:\n                 " + command_line + "\n"
        + "                 " + logo_words
        + ".\n"
          "pelimora-probe on the device names what else shows text or a cursor over the pictures.\n";
    return text;
}

// What was made: the files, and the kernel's command line.
struct Staged {
    std::vector<std::string> files;
    std::string command_line;
    std::vector<std::string> notes;
};

// The splash screens, the logo, the command line and the README, staged in `staged`.
Error stage_pictures(const FirstFrame& first, StagedFiles& staged, Staged* made)
{
    std::vector<std::string>* notes = &made->notes;
    const ScreenGeometry& panel = first.panel;
    std::vector<uint8_t> shown = panel_rgb(first.memory, panel);
    PalettePicture bmp8;
    if (Error error = to_palette(shown, panel.width, panel.height, BMP8_COLOURS, &bmp8))
        return error;
    if (!bmp8.exact)
        notes->push_back("splash-8bit.bmp: frame 1 has " + std::to_string(bmp8.colours_before)
            + " colours; each is shown as the nearest of 256 (splash.bmp holds them all)");
    std::vector<uint8_t> upright = upright_rgb(first.memory, panel);
    LogoArea area = logo_area(upright, panel.upright_width(), panel.upright_height(), first.background);
    const std::string command_line = made->command_line = kernel_command_line(first, area);
    if (area.width) {
        PalettePicture logo;
        if (Error error = to_palette(crop(upright, panel.upright_width(), area), area.width, area.height,
                KERNEL_LOGO_COLOURS, &logo))
            return error;
        if (!logo.exact)
            notes->push_back("logo_linux_clut224.ppm: the logo's area has "
                + std::to_string(logo.colours_before)
                + " colours; the kernel's logo holds 224, so each is shown as the nearest of them");
        if (Error error
            = staged.add("logo_linux_clut224.ppm", plain_ppm_bytes(expand(logo), area.width, area.height)))
            return error;
        made->files.push_back("logo_linux_clut224.ppm");
    }
    std::string readme = readme_text(first, area, command_line), line = command_line + "\n";
    for (const auto& [name, bytes] :
        { std::pair { "splash.bmp", bmp24_bytes(shown, panel.width, panel.height) },
            std::pair { "splash-8bit.bmp", bmp8_bytes(bmp8, panel.width, panel.height) },
            std::pair { "cmdline.txt", std::vector<uint8_t>(line.begin(), line.end()) },
            std::pair { "README", std::vector<uint8_t>(readme.begin(), readme.end()) } })
        if (Error error = staged.add(name, bytes))
            return error;
        else
            made->files.push_back(name);
    return {};
}

} // namespace

Error write_boot_logos(const LogosOptions& options)
{
    Rgb background;
    if (Error error = parse_colour(options.background, &background))
        return within("--background ", error);
    std::optional<Fit> fit = parse_fit(options.fit);
    if (!fit)
        return usage_error("--fit '" + options.fit + "': expected contain, cover, fill or none");
    if (!std::isfinite(options.start_seconds) || options.start_seconds < 0 || options.start_seconds > 1e6)
        return usage_error("--start must be a number of seconds from 0");
    FirstFrame first;
    Staged made;
    ScreenOverrides given;
    ChosenScreen chosen;
    if (Error error = parse_screen_flags(options.screen, &given))
        return error;
    if (Error error = choose_screen(given, std::nullopt, Depth::optional, &chosen))
        return error;
    first.panel = chosen.geometry;
    made.notes = chosen.notes;
    if (const char* refusal = first.panel.pixel_format().refusal)
        return usage_error("a " + std::string(first.panel.pixel_format().name)
            + " panel cannot show the player's frames: it " + refusal);
    if (Error error = draw_first_frame(options, background, *fit, &first))
        return error;
    StagedFiles staged(options.out);
    if (Error error = staged.prepare())
        return error;
    if (Error error = stage_pictures(first, staged, &made))
        return error;
    if (Error error = staged.commit())
        return error;
    for (const std::string& line : made.notes)
        note(line);
    std::printf("%s: %s; the splash screens are frame 1 on %s%s\n", options.out.c_str(),
        name_list(made.files, 8).c_str(), first.panel.size_text().c_str(),
        rotation_text(first.panel).c_str());
    std::printf("kernel command line: %s\n", made.command_line.c_str());
    return {};
}
