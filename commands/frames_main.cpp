// pelimora-frames: artwork to frame files, and frame files to what the device
// will show, with the player's own decoder.
#include "commands/frame_commands.h"
#include "frames/replay.h"
#include "lib/interrupt.h"
#include "lib/tool_main.h"
#include "src/schedule.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace {

int run(int argc, char** argv)
{
    const std::string first = frame_name(1), last = frame_name(FRAME_COUNT);
    const std::string set_dir = "Directory holding " + first + " ... " + last;
    CLI::App app {
        "Makes and checks pelimora frame files (RLE565): artwork to frame files fitted to the panel, and "
        "frame files "
        "to exactly what the device will show. No screen is assumed: give --size (and --depth), or "
        "use a set made by encode, which records its screen in "
        + std::string(SET_DESCRIPTION_FILE) + "."
    };
    app.set_version_flag("--version", pelimora_version());
    app.require_subcommand(1);
    EncodeOptions encode;
    ViewOptions view;
    std::string sample_size;
    auto screen_options = [](CLI::App* command, ScreenFlags* flags, const char* size_help) {
        command->add_option("--size", flags->size, size_help);
        command->add_option("--depth", flags->depth, "Bits per pixel of the screen, 16 or 32");
    };
    auto panel_options = [](CLI::App* command, ScreenFlags* flags) {
        command->add_option("--format", flags->format,
            "The panel's pixel format, as DRM names it: " + format_names()
                + " (default: what the player writes)");
        command->add_option("--line-length", flags->line_length,
            "Bytes a row takes in the device's memory (default: width x bytes a pixel)");
        command->add_option("--panel", flags->panel,
            "The panel as JSON: xres, yres, bits_per_pixel, line_length, format (or the channels' offsets), "
            "as "
            "pelimora-probe writes it; flags override it");
    };
    const char* screen_size = "Screen size, WIDTHxHEIGHT (default: the set's "
                              "pelimora.json)";

    CLI::App* encode_command = app.add_subcommand("encode",
        "Artwork to frame files fitted to the panel: stills (PNG, JPEG, WebP, GIF, TIFF, SVG), animations "
        "(GIF, WebP, APNG) and video (MP4, WebM, MOV, MKV, ...). One still to one file; several stills (a "
        "list, a directory in natural order, or a NAME%02d.png sequence), an animation or a video to the set "
        "OUT/"
            + first + " ... with its description; the set in OUT is replaced as a whole or not at all");
    encode_command->add_option("inputs", encode.inputs, "Pictures, an animation or a video, or directories")
        ->required();
    encode_command->add_option(
        "-o,--out", encode.out, "Frame file, or directory for a set (default: PICTURE.rle)");
    screen_options(encode_command, &encode.screen,
        "The panel's size, WIDTHxHEIGHT (default: a raster picture's own size; needed for SVG and video)");
    panel_options(encode_command, &encode.screen);
    encode_command
        ->add_option("--fit", encode.fit,
            "contain: whole, centred on the background; cover: fills the panel, cropped centrally; fill: "
            "stretched; none: pixels as they are, centred")
        ->capture_default_str();
    encode_command
        ->add_option("--background", encode.background,
            "Colour around the picture and under its transparent pixels, RRGGBB")
        ->capture_default_str();
    encode_command->add_option("--start", encode.start_seconds, "Seconds into an animation or video to begin")
        ->capture_default_str();
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
        "One picture in " + first + "; the other frames draw nothing and keep it on the screen");
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
    encode_command->add_flag(
        "--dither", encode.dither, "Ordered dithering: smoother gradients, larger files");
    encode_command->add_flag("-q,--quiet", encode.quiet, "No progress line");

    CLI::App* decode_command
        = app.add_subcommand("decode", "A frame file to a PNG of what the player leaves on the screen");
    decode_command->add_option("frame", view.input, "Frame file")->required();
    screen_options(decode_command, &view.screen, screen_size);
    panel_options(decode_command, &view.screen);
    decode_command->add_option(
        "--base", view.base, "Picture the screen shows before the frame (default: black)");
    decode_command->add_option("-o,--out", view.out, "PNG to write")->required();

    CLI::App* preview_command = app.add_subcommand("preview",
        "A set to what the device shows: OUT/animation.webp (lossless, at the player's pace) and "
        "OUT/contact-sheet.png");
    preview_command->add_option("dir", view.input, set_dir)->required();
    screen_options(preview_command, &view.screen, screen_size);
    panel_options(preview_command, &view.screen);
    preview_command->add_option(
        "--base", view.base, "Picture the screen shows before the first frame (default: black)");
    preview_command->add_option("-o,--out", view.out, "Output directory")->required();
    preview_command->add_flag("-q,--quiet", view.quiet, "No progress line");

    CLI::App* check_command = app.add_subcommand("check",
        "A table of every frame against the screen; exit status 0 only when each covers it exactly and the "
        "set "
        "was made for it");
    check_command->add_option("dir", view.input, set_dir)->required();
    screen_options(check_command, &view.screen, screen_size);
    panel_options(check_command, &view.screen);

    CLI::App* sample_command = app.add_subcommand(
        "sample", "Writes the built-in sample animation as " + std::to_string(FRAME_COUNT) + " PNG images");
    sample_command->add_option("--size", sample_size, "Image size, WIDTHxHEIGHT")->required();
    sample_command->add_option("-o,--out", view.out, "Output directory")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end well; anything else is a bad argument.
        return app.exit(error) == 0 ? 0 : 2;
    }
    catch_interrupts();

    if (*encode_command)
        return encode_frames(encode);
    if (*decode_command)
        return decode_frame_file(view);
    if (*preview_command)
        return preview_frames(view);
    if (*check_command)
        return check_frames(view);
    ScreenGeometry geometry;
    if (std::string error = parse_screen_size(sample_size, &geometry); !error.empty()) {
        std::fprintf(stderr, "pelimora-frames: %s\n", error.c_str());
        return 2;
    }
    return write_sample(view.out, geometry);
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool("pelimora-frames", run, argc, argv);
}
