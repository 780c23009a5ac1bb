#include "frames/screen_choice.h"

namespace {

// A note for each flag that overrides what the set was made for.
void note_overrides(
    const SetDescription& made, const ScreenGeometry& geometry, std::vector<std::string>* notes)
{
    if (made.xres != geometry.width || made.yres != geometry.height)
        notes->push_back("the set was made for " + ScreenGeometry { made.xres, made.yres }.size_text()
            + "; using " + geometry.size_text() + " as given");
    if (made.bits_per_pixel && made.bits_per_pixel != geometry.bits_per_pixel)
        notes->push_back("the set was made for " + std::to_string(made.bits_per_pixel) + " bpp; using "
            + std::to_string(geometry.bits_per_pixel) + " as given");
    if (made.format && geometry.format != made.format)
        notes->push_back("the set was made for " + std::string(made.format->name) + "; using "
            + geometry.pixel_format().name + " as given");
    if (made.line_length && made.line_length != geometry.stride())
        notes->push_back("the set was made for " + std::to_string(made.line_length) + "-byte lines; using "
            + std::to_string(geometry.stride()) + " as given");
    if (made.rotate != geometry.rotate)
        notes->push_back("the set was made turned " + std::to_string(made.rotate) + " degrees; using "
            + std::to_string(geometry.rotate) + " as given");
}

// What is given, laid over what the set's description says.
void lay_over(const ScreenOverrides& given, DescribedScreen* chosen)
{
    if (given.panel) {
        const PanelFile& panel = *given.panel;
        chosen->xres = panel.xres, chosen->yres = panel.yres;
        chosen->bits_per_pixel = panel.bits_per_pixel ? panel.bits_per_pixel : chosen->bits_per_pixel;
        chosen->line_length = panel.line_length, chosen->format = panel.format;
        chosen->rotate = panel.rotate;
    }
    if (given.width)
        chosen->xres = given.width, chosen->yres = given.height;
    if (given.bits_per_pixel)
        chosen->bits_per_pixel = given.bits_per_pixel;
    if (given.rotate)
        chosen->rotate = *given.rotate;
    if (given.format) {
        chosen->format = given.format;
        if (!given.bits_per_pixel)
            chosen->bits_per_pixel = given.format->bits_per_pixel;
    }
    if (given.line_length)
        chosen->line_length = given.line_length;
}

// The panel the chosen screen describes, once it is whole, or why it is not a panel.
Error panel_of(const DescribedScreen& chosen, ScreenGeometry* geometry)
{
    geometry->width = chosen.xres, geometry->height = chosen.yres;
    geometry->bits_per_pixel = chosen.bits_per_pixel ? chosen.bits_per_pixel : 16;
    geometry->format = chosen.format;
    geometry->line_length = chosen.line_length;
    geometry->rotate = chosen.rotate;
    if (chosen.format && chosen.format->bits_per_pixel != geometry->bits_per_pixel)
        return usage_error("format " + std::string(chosen.format->name) + " is "
            + std::to_string(chosen.format->bits_per_pixel) + " bpp, not "
            + std::to_string(geometry->bits_per_pixel));
    uint32_t pixel_bytes = geometry->bits_per_pixel / 8, row = geometry->width * pixel_bytes;
    if (chosen.line_length && (chosen.line_length < row || chosen.line_length % pixel_bytes))
        return usage_error("line length " + std::to_string(chosen.line_length) + ": a row of "
            + geometry->size_text() + " at " + std::to_string(geometry->bits_per_pixel) + " bpp takes "
            + std::to_string(row) + " bytes, and a line must hold it in whole pixels");
    return {};
}

} // namespace

ScreenOverrides listed_panel(const ScreenGeometry& panel)
{
    ScreenOverrides given;
    given.width = panel.width, given.height = panel.height, given.bits_per_pixel = panel.bits_per_pixel;
    given.format = &panel.pixel_format();
    given.line_length = panel.stride();
    return given;
}

Error choose_screen(const ScreenOverrides& given, const std::optional<SetDescription>& description,
    Depth depth, ChosenScreen* out)
{
    // Layers, each over the one before: the set's description, the panel file, the flags.
    DescribedScreen chosen
        = description ? static_cast<const DescribedScreen&>(*description) : DescribedScreen {};
    lay_over(given, &chosen);
    *out = {};
    if (!chosen.xres)
        return usage_error(
            "which screen? give --size WIDTHxHEIGHT (and --depth) or --panel FILE: there is no "
            + std::string(SET_DESCRIPTION_FILE)
            + " beside the frames (encode records the screen for a set, not for one frame file)");
    if (!chosen.bits_per_pixel && chosen.format)
        chosen.bits_per_pixel = chosen.format->bits_per_pixel;
    out->depth_known = chosen.bits_per_pixel != 0;
    if (chosen.line_length && !chosen.bits_per_pixel)
        return usage_error("line length " + std::to_string(chosen.line_length)
            + ": give --depth or --format too, so that it is in pixels");
    // A set made in the player's own format, with no depth recorded, is the
    // same picture at 16 and 32 bpp: the player expands its codes as the
    // panel widens them.
    if (!chosen.bits_per_pixel && depth == Depth::needed && description && !description->bits_per_pixel
        && !chosen.format && !chosen.line_length) {
        chosen.bits_per_pixel = 16;
        out->notes.push_back("the set was made for either depth, which shows it the same; shown at 16 bpp");
    }
    if (!chosen.bits_per_pixel && depth == Depth::needed)
        return usage_error("which depth? give --depth 16 or 32, or --format (encode --depth records it)");
    if (Error error = panel_of(chosen, &out->geometry))
        return error;
    if (description)
        note_overrides(*description, out->geometry, &out->notes);
    return player_refusal(out->geometry);
}
