// pelimora-frames: artwork to frame files, and frame files to what the device
// will show, with the player's own decoder.
#include "frame_commands.h"
#include "playback.h"
#include "schedule.h"
#include "tool_main.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace {

int run(int argc, char** argv)
{
    const std::string first = frame_name(1), last = frame_name(FRAME_COUNT);
    const std::string frames_dir = "Directory holding " + first + " ... " + last;
    CLI::App app { "Makes and checks pelimora frame files (RLE565): PNG artwork to frame files, and frame "
                   "files to exactly what the device will show." };
    app.set_version_flag("--version", pelimora_version());
    app.require_subcommand(1);
    std::string size_text = "640x480", base, out, background = "000000";
    std::vector<std::string> inputs;
    std::string input;
    ScreenGeometry geometry;
    bool dither = false;
    auto screen_options = [&](CLI::App* command) {
        command->add_option("--size", size_text, "Screen size, WIDTHxHEIGHT")->capture_default_str();
        command->add_option("--depth", geometry.bits_per_pixel, "Bits per pixel of the screen")
            ->check(CLI::IsMember({ 16, 32 }))
            ->capture_default_str();
    };

    CLI::App* encode_command = app.add_subcommand("encode",
        "PNG images to frame files: one image to one file, or a directory or list of images (natural "
        "order) to OUT/"
            + first + " ...");
    encode_command->add_option("images", inputs, "PNG files, or a directory of them")->required();
    encode_command->add_option("-o,--out", out, "Frame file, or directory for several (default: IMAGE.rle)");
    encode_command->add_option("--background", background, "Colour under transparent pixels, RRGGBB")
        ->capture_default_str();
    encode_command->add_flag("--dither", dither, "Ordered dithering: smoother gradients, larger files");

    CLI::App* decode_command
        = app.add_subcommand("decode", "A frame file to a PNG of what the player leaves on the screen");
    decode_command->add_option("frame", input, "Frame file")->required();
    screen_options(decode_command);
    decode_command->add_option("--base", base, "PNG the screen shows before the frame (default: black)");
    decode_command->add_option("-o,--out", out, "PNG to write")->required();

    CLI::App* preview_command = app.add_subcommand("preview",
        "A frame directory to what the device shows: OUT/animation.webp (lossless, at the player's pace) and "
        "OUT/contact-sheet.png");
    preview_command->add_option("dir", input, frames_dir)->required();
    screen_options(preview_command);
    preview_command->add_option(
        "--base", base, "PNG the screen shows before the first frame (default: black)");
    preview_command->add_option("-o,--out", out, "Output directory")->required();

    CLI::App* check_command = app.add_subcommand(
        "check", "A table of every frame against the screen; exit status 0 only when each covers it exactly");
    check_command->add_option("dir", input, frames_dir)->required();
    check_command->add_option("--size", size_text, "Screen size, WIDTHxHEIGHT")->required();

    CLI::App* sample_command = app.add_subcommand(
        "sample", "Writes the built-in sample animation as " + std::to_string(FRAME_COUNT) + " PNG images");
    sample_command->add_option("--size", size_text, "Image size, WIDTHxHEIGHT")->capture_default_str();
    sample_command->add_option("-o,--out", out, "Output directory")->required();

    CLI11_PARSE(app, argc, argv);

    if (*encode_command)
        return encode_frames(inputs, out, background, dither);
    if (std::string error = parse_screen_size(size_text, &geometry); !error.empty()) {
        std::fprintf(stderr, "pelimora-frames: %s\n", error.c_str());
        return 1;
    }
    if (*decode_command)
        return decode_frame_file(input, geometry, base, out);
    if (*preview_command)
        return preview_frames(input, geometry, base, out);
    if (*check_command)
        return check_frames(input, geometry);
    return write_sample(out, geometry);
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool("pelimora-frames", run, argc, argv);
}
