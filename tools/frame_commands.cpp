#include "frame_commands.h"

#include "animation.h"
#include "file_io.h"
#include "natural_order.h"
#include "playback.h"
#include "png_io.h"
#include "rle565.h"
#include "sample.h"
#include "schedule.h"

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

// One-line errors, each naming what was wrong; the exit status says the rest.
int fail(const std::string& message)
{
    std::fprintf(stderr, "pelimora-frames: %s\n", message.c_str());
    return 1;
}

bool is_png_name(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    return extension == ".png";
}

std::string parse_colour(const std::string& text, Rgb* colour)
{
    std::string hex = text.starts_with("#") ? text.substr(1) : text;
    unsigned value;
    char rest;
    if (hex.size() != 6 || std::sscanf(hex.c_str(), "%6x%c", &value, &rest) != 1)
        return "colour '" + text + "': expected RRGGBB in hexadecimal";
    *colour = { uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value) };
    return "";
}

// The screen as it starts: black, or a picture converted as the player would store it.
std::string initial_screen(
    const std::string& base, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    screen->assign(geometry.bytes(), 0);
    if (base.empty())
        return "";
    RgbaImage image;
    if (std::string error = read_png_rgba(base, &image); !error.empty())
        return error;
    if (image.width != geometry.width || image.height != geometry.height)
        return base + ": " + std::to_string(image.width) + "x" + std::to_string(image.height)
            + ", but the screen is " + std::to_string(geometry.width) + "x" + std::to_string(geometry.height);
    std::vector<uint16_t> pixels = image_to_rgb565(image, {}, false);
    for (size_t i = 0; i < pixels.size(); ++i)
        if (geometry.bits_per_pixel == 16) {
            (*screen)[i * 2] = uint8_t(pixels[i]), (*screen)[i * 2 + 1] = uint8_t(pixels[i] >> 8);
        } else {
            std::copy_n(&image.rgba[i * 4], 3, &(*screen)[i * 4]);
            (*screen)[i * 4 + 3] = 0xFF;
        }
    return "";
}

std::string describe_coverage(const FrameReport& frame, const ScreenGeometry& geometry)
{
    switch (frame.status) {
    case FrameReport::missing: return "missing: the player logs it, the screen stays";
    case FrameReport::unreadable: return "cannot be opened: the player logs it, the screen stays";
    case FrameReport::empty: return "empty: not drawn, not panned";
    case FrameReport::drawn: break;
    }
    if (frame.drawn_records < frame.records)
        return "over: record " + std::to_string(frame.drawn_records + 1) + " dropped"
            + (frame.records - frame.drawn_records > 1
                    ? " with the " + std::to_string(frame.records - frame.drawn_records - 1) + " after it"
                    : "");
    if (frame.pixels_covered < geometry.pixels())
        return "short by " + std::to_string(geometry.pixels() - frame.pixels_covered)
            + " pixels: the previous frame shows through";
    return "exact";
}

} // namespace

int encode_frames(
    std::vector<std::string> inputs, std::string out, const std::string& background_text, bool dither)
{
    Rgb background;
    if (std::string error = parse_colour(background_text, &background); !error.empty())
        return fail("--background " + error);
    std::vector<fs::path> images;
    bool to_directory = inputs.size() > 1;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            to_directory = true;
            for (const auto& entry : fs::directory_iterator(input, ec))
                if (entry.is_regular_file() && is_png_name(entry.path()))
                    images.push_back(entry.path());
            if (ec)
                return fail(input + ": cannot list: " + ec.message());
        } else {
            images.push_back(input);
        }
    }
    std::sort(images.begin(), images.end(),
        [](const fs::path& a, const fs::path& b) { return natural_less(a.string(), b.string()); });
    if (images.empty())
        return fail("no PNG images in " + inputs[0]);
    if (out.empty()) {
        if (to_directory)
            return fail("--out DIR is needed for several images");
        out = fs::path(images[0]).replace_extension(".rle").string();
    }
    if (dither)
        std::fprintf(stderr, "pelimora-frames: note: dithering breaks up runs, so the frames get larger\n");

    // Everything is encoded before anything is written: a bad image leaves no output.
    std::vector<std::vector<uint8_t>> frames;
    RgbaImage first;
    for (const fs::path& path : images) {
        RgbaImage image;
        if (std::string error = read_png_rgba(path, &image); !error.empty())
            return fail(error);
        if (frames.empty())
            first = image;
        else if (image.width != first.width || image.height != first.height)
            return fail(path.string() + ": " + std::to_string(image.width) + "x"
                + std::to_string(image.height) + ", but " + images[0].string() + " is "
                + std::to_string(first.width) + "x" + std::to_string(first.height));
        frames.push_back(encode_rle565(image_to_rgb565(image, background, dither)));
    }

    std::error_code ec;
    if (to_directory && !fs::create_directories(out, ec) && ec)
        return fail(out + ": cannot create: " + ec.message());
    size_t raw = size_t(first.width) * first.height * 2;
    for (size_t i = 0; i < frames.size(); ++i) {
        fs::path target = to_directory ? fs::path(out) / frame_name(int(i + 1)) : fs::path(out);
        if (std::string error = write_atomically(target, frames[i]); !error.empty())
            return fail(error);
        std::printf("%-12s <- %-28s %7zu records %9zu bytes %7.1fx smaller than raw RGB565\n",
            target.filename().c_str(), images[i].filename().c_str(), frames[i].size() / 4, frames[i].size(),
            double(raw) / double(frames[i].size()));
    }
    if (to_directory) {
        if (frames.size() != FRAME_COUNT)
            std::fprintf(stderr, "pelimora-frames: note: the player shows %s to %s; %zu made\n",
                frame_name(1).c_str(), frame_name(FRAME_COUNT).c_str(), frames.size());
        for (int n = int(frames.size()) + 1; n <= FRAME_COUNT; ++n)
            if (fs::exists(fs::path(out) / frame_name(n)))
                std::fprintf(stderr,
                    "pelimora-frames: note: %s is left from before, and the player will show it\n",
                    (fs::path(out) / frame_name(n)).c_str());
    }
    return 0;
}

int decode_frame_file(
    const std::string& input, const ScreenGeometry& geometry, const std::string& base, const std::string& out)
{
    std::vector<uint8_t> screen, file;
    if (std::string error = initial_screen(base, geometry, &screen); !error.empty())
        return fail(error);
    if (std::string error = read_whole_file(input, &file); !error.empty())
        return fail(error);
    FrameReport report = draw_frame(file, geometry, &screen);
    if (std::string error
        = write_png_rgb(out, geometry.width, geometry.height, screen_to_rgb(screen, geometry.bits_per_pixel));
        !error.empty())
        return fail(error);
    std::printf(
        "%s: %u records, %s\n", input.c_str(), report.records, describe_coverage(report, geometry).c_str());
    return 0;
}

int preview_frames(
    const std::string& dir, const ScreenGeometry& geometry, const std::string& base, const std::string& out)
{
    if (!fs::is_directory(dir))
        return fail(dir + ": not a directory");
    std::vector<uint8_t> initial;
    if (std::string error = initial_screen(base, geometry, &initial); !error.empty())
        return fail(error);
    Playback playback = play_directory(dir, geometry, initial);
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<SheetMark> marks;
    int drawn = 0;
    for (size_t i = 0; i < playback.screens.size(); ++i) {
        pictures.push_back(screen_to_rgb(playback.screens[i], geometry.bits_per_pixel));
        FrameReport::Status status = playback.frames[i].status;
        marks.push_back(status == FrameReport::drawn ? SheetMark::drawn
                : status == FrameReport::missing     ? SheetMark::missing
                                                     : SheetMark::not_drawn);
        drawn += status == FrameReport::drawn;
    }
    std::fprintf(stderr, "pelimora-frames: encoding %zu frames of %ux%u...\n", pictures.size(),
        geometry.width, geometry.height);
    if (std::string error = write_playback_pictures(out, geometry.width, geometry.height, pictures, marks);
        !error.empty())
        return fail(error);
    fs::path animation = fs::path(out) / ANIMATION_FILE, sheet = fs::path(out) / CONTACT_SHEET_FILE;
    std::printf("%d of %d frames drawn; %s (%ld ms a frame), %s\n", drawn, FRAME_COUNT, animation.c_str(),
        FRAME_DELAY_US / 1000, sheet.c_str());
    return 0;
}

int check_frames(const std::string& dir, const ScreenGeometry& geometry)
{
    if (!fs::is_directory(dir))
        return fail(dir + ": not a directory");
    Playback playback = play_directory(dir, geometry);
    std::printf("%-12s %8s %8s %9s  %s\n", "frame", "records", "zero", "trailing", "covers the screen");
    bool all_exact = true;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        const FrameReport& frame = playback.frames[n - 1];
        all_exact = all_exact && frame.covers_exactly(geometry);
        if (frame.status == FrameReport::drawn)
            std::printf("%-12s %8u %8u %9u  %s\n", frame_name(n).c_str(), frame.records, frame.zero_records,
                frame.trailing_bytes, describe_coverage(frame, geometry).c_str());
        else
            std::printf("%-12s %8s %8s %9s  %s\n", frame_name(n).c_str(), "-", "-", "-",
                describe_coverage(frame, geometry).c_str());
    }
    for (int n = FRAME_COUNT + 1; fs::exists(fs::path(dir) / frame_name(n)); ++n)
        std::printf("%-12s is never played: the player stops at %s\n", frame_name(n).c_str(),
            frame_name(FRAME_COUNT).c_str());
    std::printf("%s\n",
        all_exact ? "every frame covers the screen exactly" : "not every frame covers the screen exactly");
    return all_exact ? 0 : 1;
}

int write_sample(const std::string& out, const ScreenGeometry& geometry)
{
    std::error_code ec;
    if (!fs::create_directories(out, ec) && ec)
        return fail(out + ": cannot create: " + ec.message());
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "spinner-%02d.png", n);
        if (std::string error = write_png_rgb(fs::path(out) / name, geometry.width, geometry.height,
                render_sample_frame(n, geometry.width, geometry.height));
            !error.empty())
            return fail(error);
    }
    std::printf(
        "%d sample images of %ux%u in %s\n", FRAME_COUNT, geometry.width, geometry.height, out.c_str());
    return 0;
}
