#include "frames/screen_choice.h"

namespace {

// A note for each flag that overrides what the set was made for.
void note_overrides(
    const SetDescription& made, const ScreenGeometry& geometry, std::vector<std::string>* notes)
{
    if (made.width != geometry.width || made.height != geometry.height)
        notes->push_back(
            "the set was made for " + made.size_text() + "; using " + geometry.size_text() + " as given");
    if (made.bits_per_pixel && made.bits_per_pixel != geometry.depth())
        notes->push_back("the set was made for " + std::to_string(made.bits_per_pixel) + " bpp; using "
            + std::to_string(geometry.depth()) + " as given");
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
void lay_over(const ScreenOverrides& given, ScreenGeometry* chosen)
{
    if (given.panel) {
        const PanelFile& panel = *given.panel;
        chosen->width = panel.width, chosen->height = panel.height;
        chosen->bits_per_pixel = panel.bits_per_pixel ? panel.bits_per_pixel : chosen->bits_per_pixel;
        chosen->line_length = panel.line_length, chosen->format = panel.format;
        chosen->rotate = panel.rotate;
    }
    const ScreenGeometry& flags = given.flags;
    if (flags.width)
        chosen->width = flags.width, chosen->height = flags.height;
    if (flags.bits_per_pixel)
        chosen->bits_per_pixel = flags.bits_per_pixel;
    if (given.rotate_given)
        chosen->rotate = flags.rotate;
    if (flags.format) {
        chosen->format = flags.format;
        if (!flags.bits_per_pixel)
            chosen->bits_per_pixel = flags.format->bits_per_pixel;
    }
    if (flags.line_length)
        chosen->line_length = flags.line_length;
}

// Why the chosen screen, once it is whole, is not a panel.
Error panel_refusal(const ScreenGeometry& chosen)
{
    const uint32_t depth = chosen.depth();
    if (chosen.format && chosen.format->bits_per_pixel != depth)
        return usage_error("format " + std::string(chosen.format->name) + " is "
            + std::to_string(chosen.format->bits_per_pixel) + " bpp, not " + std::to_string(depth));
    uint32_t pixel_bytes = depth / 8, row = chosen.width * pixel_bytes;
    if (chosen.line_length && (chosen.line_length < row || chosen.line_length % pixel_bytes))
        return usage_error("line length " + std::to_string(chosen.line_length) + ": a row of "
            + chosen.size_text() + " at " + std::to_string(depth) + " bpp takes " + std::to_string(row)
            + " bytes, and a line must hold it in whole pixels");
    return {};
}

} // namespace

ScreenOverrides listed_panel(const ScreenGeometry& panel)
{
    ScreenOverrides given;
    given.flags = { .width = panel.width,
        .height = panel.height,
        .bits_per_pixel = panel.bits_per_pixel,
        .line_length = panel.stride(),
        .format = &panel.pixel_format() };
    return given;
}

Error choose_screen(const ScreenOverrides& given, const std::optional<SetDescription>& description,
    Depth depth, ChosenScreen* out)
{
    // Layers, each over the one before: the set's description, the panel file, the flags.
    ScreenGeometry chosen
        = description ? static_cast<const ScreenGeometry&>(*description) : ScreenGeometry {};
    lay_over(given, &chosen);
    *out = {};
    if (!chosen.width)
        return usage_error(
            "which screen? give --size WIDTHxHEIGHT (and --depth) or --panel FILE: there is no "
            + std::string(SET_DESCRIPTION_FILE)
            + " beside the frames (encode records the screen for a set, not for one frame file)");
    if (!chosen.bits_per_pixel && chosen.format)
        chosen.bits_per_pixel = chosen.format->bits_per_pixel;
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
    if (Error error = panel_refusal(chosen))
        return error;
    out->geometry = chosen;
    if (description)
        note_overrides(*description, out->geometry, &out->notes);
    return player_refusal(out->geometry);
}
