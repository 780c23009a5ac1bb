// pelimora-frames: artwork to frame files, and frame files to what the device
// will show, with the player's own decoder.
#include "commands/command_support.h"
#include "commands/frame_commands.h"
#include "commands/screen_options.h"
#include "core/schedule.h"
#include "frames/replay.h"
#include "lib/interrupt.h"
#include "lib/tool_main.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace {

// Where a view command's screen comes from when no flag gives it.
const char SIZE_HELP[] = "Screen size, WIDTHxHEIGHT (default: the set's pelimora.json)";

const char DITHER_HELP[] = "Ordered dithering: smoother gradients, larger files";

// How the artwork is fitted to the panel, alike for the frames and the logos.
void add_fitting_options(CLI::App* command, std::string* fit, std::string* background, double* start_seconds)
{
    command
        ->add_option("--fit", *fit,
            "contain: whole, centred on the background; cover: fills the panel, cropped centrally; fill: "
            "stretched; none: pixels as they are, centred")
        ->capture_default_str();
    command
        ->add_option(
            "--background", *background, "Colour around the picture and under its transparent pixels, RRGGBB")
        ->capture_default_str();
    command->add_option("--start", *start_seconds, "Seconds into an animation or video to begin")
        ->capture_default_str();
}

CLI::App* add_logos_command(CLI::App& app, LogosOptions& logos)
{
    CLI::App* command = app.add_subcommand("logos",
        "The bootloader's splash screen (BMP, for U-Boot) and the kernel's boot logo (PPM) from the artwork, "
        "fitted as encode fits "
            + frame_name(1)
            + " (give the same panel, --fit, --background and --dither), with the kernel command line that "
              "places the logo where the frame has it and a README: OUT/splash.bmp, splash-8bit.bmp, "
              "logo_linux_clut224.ppm, cmdline.txt");
    command->add_option("input", logos.input, "A picture, an animation or a video")->required();
    add_size_options(command, &logos.screen, "The panel's size, WIDTHxHEIGHT");
    add_panel_options(command, &logos.screen);
    add_fitting_options(command, &logos.fit, &logos.background, &logos.start_seconds);
    command->add_flag("--dither", logos.dither, DITHER_HELP);
    command->add_option("-o,--out", logos.out, "Output directory, replaced as a whole")->required();
    return command;
}

CLI::App* add_encode_command(CLI::App& app, EncodeOptions& encode)
{
    CLI::App* encode_command = app.add_subcommand("encode",
        "Artwork to frame files fitted to the panel: stills (PNG, JPEG, WebP, GIF, TIFF, SVG), animations "
        "(GIF, WebP, APNG) and video (MP4, WebM, MOV, MKV, ...). One still to one file; several stills (a "
        "list, a directory in natural order, or a NAME%02d.png sequence), an animation or a video to the set "
        "OUT/"
            + frame_name(1)
            + " ... with its description; the set in OUT is replaced as a whole or not at all");
    encode_command->add_option("inputs", encode.inputs, "Pictures, an animation or a video, or directories")
        ->required();
    encode_command->add_option(
        "-o,--out", encode.out, "Frame file, or directory for a set (default: PICTURE.rle)");
    add_size_options(encode_command, &encode.screen,
        "The panel's size, WIDTHxHEIGHT (default: a raster picture's own size; needed for SVG and video)");
    add_panel_options(encode_command, &encode.screen, &encode.panels, &encode.panels_dir);
    add_fitting_options(encode_command, &encode.fit, &encode.background, &encode.start_seconds);
    CLI::Option* every = encode_command
                             ->add_option("--every", encode.every_ms,
                                 "Milliseconds of the source between frames (the player's own pace is "
                                     + std::to_string(FRAME_DELAY_US / 1000) + " ms plus drawing)")
                             ->capture_default_str();
    CLI::Option* spread = encode_command->add_flag(
        "--spread", encode.spread, "The frames spread evenly over the whole animation or video");
    spread->excludes(every);
    CLI::Option* loop = encode_command->add_flag("--loop", encode.loop,
        "A source shorter than the frames repeats, rather than holding its last picture");
    CLI::Option* hold = encode_command->add_flag("--hold", encode.hold,
        "One picture in " + frame_name(1) + "; the other frames draw nothing and keep it on the screen");
    CLI::Option* fade = encode_command->add_flag("--fade-in", encode.fade_in,
        "From the background to the picture over the " + std::to_string(FRAME_COUNT)
            + " frames, in linear light");
    hold->excludes(fade)->excludes(loop)->excludes(spread);
    fade->excludes(loop)->excludes(spread);
    encode_command->add_flag("--trim", encode.trim,
        "Each frame after the first ends after its last pixel that changes the screen: fewer bytes for the "
        "device to write, but the set needs every frame in order");
    encode_command->add_flag("--reachable", encode.reachable,
        "On a panel whose lines are longer than a row, fit the artwork into the rows the player's stream "
        "reaches, so that nothing of it is cut off at the bottom");
    encode_command->add_flag("--allow-short", encode.allow_short,
        "Use a damaged or cut clip as far as its frames go (it is refused otherwise)");
    encode_command->add_flag("--dither", encode.dither, DITHER_HELP);
    encode_command->add_flag("-q,--quiet", encode.quiet, "No progress line");
    return encode_command;
}

struct ViewCommands {
    CLI::App *decode = nullptr, *preview = nullptr, *check = nullptr, *sample = nullptr;
};

ViewCommands add_view_commands(CLI::App& app, ViewOptions& view, std::string& sample_size)
{
    const std::string set_dir = "Directory holding " + frame_name(1) + " ... " + frame_name(FRAME_COUNT);
    const std::string screen_size = SIZE_HELP;

    CLI::App* decode_command
        = app.add_subcommand("decode", "A frame file to a PNG of what the player leaves on the screen");
    decode_command->add_option("frame", view.input, "Frame file")->required();
    add_size_options(decode_command, &view.screen, screen_size);
    add_panel_options(decode_command, &view.screen);
    decode_command->add_option(
        "--base", view.base, "Picture the screen shows before the frame (default: black)");
    decode_command->add_option("-o,--out", view.out, "PNG to write")->required();

    CLI::App* preview_command = app.add_subcommand("preview",
        "A set to what the device shows: OUT/animation.webp (lossless, at the player's pace) and "
        "OUT/contact-sheet.png");
    preview_command->add_option("dir", view.input, set_dir)->required();
    add_size_options(preview_command, &view.screen, screen_size);
    add_panel_options(preview_command, &view.screen);
    preview_command->add_option(
        "--base", view.base, "Picture the screen shows before the first frame (default: black)");
    preview_command->add_option("-o,--out", view.out, "Output directory")->required();
    preview_command->add_flag("-q,--quiet", view.quiet, "No progress line");

    CLI::App* check_command = app.add_subcommand("check",
        "A table of every frame against the screen; exit status 0 only when each covers it exactly and the "
        "set "
        "was made for it");
    check_command->add_option("dir", view.input, set_dir)->required();
    add_size_options(check_command, &view.screen, screen_size);
    add_panel_options(check_command, &view.screen);

    CLI::App* sample_command = app.add_subcommand(
        "sample", "Writes the built-in sample animation as " + std::to_string(FRAME_COUNT) + " PNG images");
    sample_command->add_option("--size", sample_size, "Image size, WIDTHxHEIGHT")->required();
    sample_command->add_option("-o,--out", view.out, "Output directory")->required();

    return { decode_command, preview_command, check_command, sample_command };
}

Error write_sample_command(const std::string& size, const std::string& out)
{
    ScreenGeometry geometry;
    if (Error error = parse_screen_size(size, &geometry))
        return error;
    return write_sample(out, geometry);
}

Error run(int argc, char** argv)
{
    CLI::App app {
        "Makes and checks pelimora frame files (RLE565): artwork to frame files fitted to the panel, "
        "and frame files to exactly what the device will show. No screen is assumed: give --size (and "
        "--depth), or use a set made by encode, which records its screen in "
        + std::string(SET_DESCRIPTION_FILE) + "."
    };
    app.set_version_flag("--version", pelimora_version());
    app.require_subcommand(1);
    EncodeOptions encode;
    ViewOptions view;
    std::string sample_size;
    LogosOptions logos;
    CLI::App* encode_command = add_encode_command(app, encode);
    ViewCommands commands = add_view_commands(app, view, sample_size);
    CLI::App* logos_command = add_logos_command(app, logos);
    if (std::optional<Error> end = parse_command_line(app, argc, argv))
        return *end;
    catch_interrupts();
    if (*encode_command)
        return encode_frames(encode);
    if (*commands.decode)
        return decode_frame_file(view);
    if (*commands.preview)
        return preview_frames(view);
    if (*commands.check)
        return check_frames(view);
    if (*logos_command)
        return write_boot_logos(logos);
    return write_sample_command(sample_size, view.out);
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool("pelimora-frames", run, argc, argv);
}
