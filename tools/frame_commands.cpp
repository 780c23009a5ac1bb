#include "frame_commands.h"

#include "animation.h"
#include "file_io.h"
#include "interrupt.h"
#include "natural_order.h"
#include "playback.h"
#include "png_io.h"
#include "progress.h"
#include "rle565.h"
#include "sample.h"
#include "schedule.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char TOOL[] = "pelimora-frames";

// One-line errors, each naming what was wrong; the exit status says the rest:
// 1 for what went wrong with the files, 2 for a bad argument or panel.
constexpr int BAD_ARGUMENT = 2;
int fail(const std::string& message, int status = 1)
{
    std::fprintf(stderr, "%s: %s\n", TOOL, message.c_str());
    return status;
}

void note(const std::string& message)
{
    std::fprintf(stderr, "%s: note: %s\n", TOOL, message.c_str());
}

// Up to `most` names, then how many more.
std::string name_list(const std::vector<std::string>& names, size_t most = 5)
{
    std::string text;
    for (size_t i = 0; i < names.size() && i < most; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > most)
        text += " and " + std::to_string(names.size() - most) + " more";
    return text;
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
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return "colour '" + text + "': expected six hexadecimal digits RRGGBB, with or without #";
    unsigned value = unsigned(std::stoul(hex, nullptr, 16));
    *colour = { uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value) };
    return "";
}

// The same file, even under another name or through a link.
bool same_file(const fs::path& a, const fs::path& b)
{
    std::error_code ec;
    if (fs::equivalent(a, b, ec))
        return true;
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

void print_screen_notes(const std::vector<std::string>& notes)
{
    for (const std::string& line : notes)
        note(line);
}

// The screen for a set or a frame in `dir`: flags first, then the set's description.
std::string screen_for(const fs::path& dir, const ScreenFlags& flags, bool need_depth,
    ScreenGeometry* geometry, std::optional<SetDescription>* description = nullptr)
{
    std::optional<SetDescription> own;
    std::optional<SetDescription>& found = description ? *description : own;
    if (std::string error = read_set_description(dir, &found); !error.empty())
        return error;
    std::vector<std::string> notes;
    std::string error = choose_screen(flags, found, need_depth, geometry, &notes);
    print_screen_notes(notes);
    return error;
}

// The device memory as it starts: black, or showing a picture.
std::string initial_screen(
    const std::string& base, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    screen->assign(geometry.memory_bytes(), 0);
    if (base.empty())
        return "";
    RgbaImage image;
    if (std::string error = read_png_rgba(base, &image, geometry.width, geometry.height); !error.empty())
        return error;
    std::vector<uint8_t> rgb(geometry.pixels() * 3);
    for (size_t i = 0; i < geometry.pixels(); ++i)
        std::copy_n(&image.rgba[i * 4], 3, &rgb[i * 3]);
    *screen = panel_memory(rgb, geometry);
    return "";
}

// What this panel shows differently from the artwork, said once.
void print_panel_caveats(const ScreenGeometry& geometry)
{
    for (const std::string& caveat : panel_caveats(geometry))
        note(caveat);
}

std::string describe_coverage(const FrameReport& frame, const ScreenGeometry& geometry)
{
    switch (frame.status) {
    case FrameReport::missing: return "missing: the player logs it, the screen stays";
    case FrameReport::unreadable: return "cannot be opened: the player logs it, the screen stays";
    case FrameReport::empty: return "empty: not drawn, not panned";
    case FrameReport::directory: return "a directory: not drawn, not panned";
    case FrameReport::not_regular: return "not a regular file: the player would hang on it or misread it";
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

// Frames the player cannot get through: a FIFO would hang it as it would
// hang us, so the tools refuse to show such a set as if it played.
std::string first_unplayable(const FrameReport& report)
{
    return report.status == FrameReport::not_regular
        ? report.error + ": the player would hang on it or misread it"
        : "";
}

SheetMark mark_of(FrameReport::Status status)
{
    return status == FrameReport::drawn  ? SheetMark::drawn
        : status == FrameReport::missing ? SheetMark::missing
                                         : SheetMark::not_drawn;
}

// How the frame file compares with raw RGB565, in the direction that is true.
std::string size_against_raw(size_t frame_bytes, size_t raw_bytes)
{
    char text[128];
    if (frame_bytes <= raw_bytes)
        std::snprintf(
            text, sizeof text, "%.1fx smaller than raw RGB565", double(raw_bytes) / double(frame_bytes));
    else
        std::snprintf(text, sizeof text,
            "%.1fx LARGER than raw RGB565: runs this short come from photographic "
            "or noisy artwork; flat colours make small frames",
            double(frame_bytes) / double(raw_bytes));
    return text;
}

// The images the inputs name, in natural order: hidden files skipped, other
// files in a directory named in one note and skipped.
std::string collect_images(
    const std::vector<std::string>& inputs, std::vector<fs::path>* images, bool* from_directory)
{
    std::vector<std::string> skipped;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            images->emplace_back(input);
            continue;
        }
        *from_directory = true;
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(input, ec)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with("."))
                continue;
            std::error_code type_error;
            if (entry.is_regular_file(type_error) && is_png_name(entry.path()))
                found.push_back(entry.path());
            else
                skipped.push_back(name);
        }
        if (ec)
            return input + ": cannot list: " + ec.message();
        images->insert(images->end(), found.begin(), found.end());
    }
    std::stable_sort(images->begin(), images->end(), [](const fs::path& a, const fs::path& b) {
        return natural_less(a.filename().string(), b.filename().string());
    });
    if (!skipped.empty())
        note(
            "skipping " + std::to_string(skipped.size()) + " that are not PNG images: " + name_list(skipped));
    return "";
}

} // namespace

int encode_frames(const EncodeOptions& options)
{
    Rgb background;
    if (std::string error = parse_colour(options.background, &background); !error.empty())
        return fail("--background " + error, BAD_ARGUMENT);
    std::vector<fs::path> images;
    bool from_directory = false;
    if (std::string error = collect_images(options.inputs, &images, &from_directory); !error.empty())
        return fail(error);
    if (images.empty())
        return fail("no PNG images in " + name_list(options.inputs));
    std::error_code ec;
    bool to_set = from_directory || images.size() > 1 || fs::is_directory(options.out, ec)
        || (!options.out.empty() && options.out.back() == '/');
    if (to_set && options.out.empty())
        return fail("--out DIR is needed for a set of frames");
    if (options.dither)
        note("dithering breaks up runs, so the frames get larger");
    // The panel is known before any pixel is decoded: from the flags or the
    // panel file, its size else from the first image's header.
    ScreenFlags flags = options.screen;
    if (flags.size.empty() && flags.panel.empty()) {
        uint32_t width = 0, height = 0;
        if (std::string error = read_png_size(images[0], &width, &height); !error.empty())
            return fail(error);
        flags.size = std::to_string(width) + "x" + std::to_string(height);
    }
    ScreenGeometry panel;
    std::vector<std::string> notes;
    bool depth_known = false;
    if (std::string error = choose_screen(flags, std::nullopt, false, &panel, &notes, &depth_known);
        !error.empty())
        return fail(error, BAD_ARGUMENT);
    if (const char* refusal = panel.pixel_format().refusal) {
        return fail(std::string("a ") + panel.pixel_format().name
                + " panel cannot show the player's frames: it " + refusal,
            BAD_ARGUMENT);
    }
    const ScreenGeometry wanted = panel;
    const uint32_t depth = depth_known ? panel.bits_per_pixel : 0;
    if (uint32_t full = rows_drawn_in_full(panel); full < panel.height)
        note("rows " + std::to_string(full) + "-" + std::to_string(panel.height - 1)
            + " cannot be drawn in full on a " + panel.size_text() + "x"
            + std::to_string(panel.bits_per_pixel) + " panel with " + std::to_string(panel.stride())
            + "-byte lines: the player draws " + std::to_string(panel.pixels()) + " pixels of stream");

    // One frame file from one image.
    if (!to_set) {
        fs::path out
            = options.out.empty() ? fs::path(images[0]).replace_extension(".rle") : fs::path(options.out);
        if (same_file(out, images[0]))
            return fail(out.string() + ": is the input image; give another --out");
        RgbaImage image;
        if (std::string error = read_png_rgba(images[0], &image, wanted.width, wanted.height); !error.empty())
            return fail(error);
        std::vector<uint8_t> frame
            = encode_rle565(image_to_panel_stream(image, background, options.dither, panel));
        if (std::string error = write_atomically(out, frame); !error.empty())
            return fail(error);
        std::printf("%s <- %s: %zu records, %zu bytes, %s\n", out.c_str(), images[0].c_str(),
            frame.size() / 4, frame.size(),
            size_against_raw(frame.size(), size_t(image.width) * image.height * 2).c_str());
        return 0;
    }

    // A set: the player shows FRAME_COUNT frames and no more.
    fs::path out = options.out;
    if (images.size() > size_t(FRAME_COUNT)) {
        std::vector<std::string> dropped;
        for (size_t i = FRAME_COUNT; i < images.size(); ++i)
            dropped.push_back(images[i].filename().string());
        note("the player shows " + std::to_string(FRAME_COUNT) + " frames; " + std::to_string(dropped.size())
            + " images after " + images[FRAME_COUNT - 1].filename().string()
            + " are not used: " + name_list(dropped));
        images.resize(FRAME_COUNT);
    }
    // Nothing the new set writes or removes may be an input.
    for (const fs::path& image : images)
        for (int n = 1; n <= FRAME_COUNT + 1; ++n) {
            fs::path target = n <= FRAME_COUNT ? out / frame_name(n) : out / SET_DESCRIPTION_FILE;
            if (same_file(image, target))
                return fail(image.string() + ": is an input, and the new set in " + out.string()
                    + " would replace it");
        }

    StagedFiles staged(out);
    Progress progress(TOOL, "encoding frame", int(images.size()), options.quiet);
    std::vector<std::string> lines;
    for (size_t i = 0; i < images.size(); ++i) {
        RgbaImage image;
        if (std::string error = read_png_rgba(images[i], &image, wanted.width, wanted.height); !error.empty())
            return fail(error);
        std::vector<uint8_t> frame
            = encode_rle565(image_to_panel_stream(image, background, options.dither, panel));
        std::string name = frame_name(int(i + 1));
        if (std::string error = staged.add(name, frame); !error.empty())
            return fail(error);
        char line[512];
        std::snprintf(line, sizeof line, "%-12s <- %-28s %7zu records %9zu bytes  %s", name.c_str(),
            images[i].filename().c_str(), frame.size() / 4, frame.size(),
            size_against_raw(frame.size(), wanted.pixels() * 2).c_str());
        lines.push_back(line);
        progress.step(int(i + 1));
    }
    progress.done();
    SetDescription description { wanted.width, wanted.height, depth, panel.line_length, panel.format };
    if (std::string error = staged.add(SET_DESCRIPTION_FILE, set_description_bytes(description));
        !error.empty())
        return fail(error);
    std::vector<std::string> removed;
    for (int n = int(images.size()) + 1; n <= FRAME_COUNT; ++n)
        if (fs::exists(fs::symlink_status(out / frame_name(n), ec))) {
            staged.remove_on_commit(frame_name(n));
            removed.push_back(frame_name(n));
        }
    if (std::string error = staged.commit(); !error.empty())
        return fail(error);

    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    if (!removed.empty())
        note("removed " + name_list(removed) + ", left from the set this one replaces");
    if (images.size() < size_t(FRAME_COUNT))
        note("the player shows " + frame_name(1) + " to " + frame_name(FRAME_COUNT) + "; "
            + std::to_string(images.size())
            + " made, so the player logs the others as missing and holds the last picture");
    std::printf("%zu frame%s for %s%s in %s\n", images.size(), images.size() == 1 ? "" : "s",
        wanted.size_text().c_str(), depth ? (" at " + std::to_string(depth) + " bpp").c_str() : "",
        out.c_str());
    return 0;
}

int decode_frame_file(const ViewOptions& options)
{
    fs::path input = options.input;
    std::string unreadable;
    if (int fd = open_regular_file(input, &unreadable); fd < 0)
        return fail(unreadable);
    else
        (void)close(fd);
    ScreenGeometry geometry;
    if (std::string error = screen_for(input.parent_path(), options.screen, true, &geometry); !error.empty())
        return fail(error, BAD_ARGUMENT);
    print_panel_caveats(geometry);
    if (same_file(options.out, input) || (!options.base.empty() && same_file(options.out, options.base)))
        return fail(options.out + ": is an input; give another --out");
    std::vector<uint8_t> screen;
    if (std::string error = initial_screen(options.base, geometry, &screen); !error.empty())
        return fail(error);
    FrameReport report = draw_frame_file(input, geometry, &screen);
    if (report.status == FrameReport::missing || report.status == FrameReport::unreadable
        || report.status == FrameReport::not_regular || report.status == FrameReport::directory)
        return fail(report.error);
    if (std::string error
        = write_png_rgb(options.out, geometry.width, geometry.height, panel_rgb(screen, geometry));
        !error.empty())
        return fail(error);
    std::printf(
        "%s: %u records, %s\n", input.c_str(), report.records, describe_coverage(report, geometry).c_str());
    return 0;
}

int preview_frames(const ViewOptions& options)
{
    fs::path dir = options.input;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return fail(dir.string() + ": not a directory");
    ScreenGeometry geometry;
    if (std::string error = screen_for(dir, options.screen, true, &geometry); !error.empty())
        return fail(error, BAD_ARGUMENT);
    print_panel_caveats(geometry);
    if (geometry.width > MAX_ANIMATION_SIDE || geometry.height > MAX_ANIMATION_SIDE)
        return fail(geometry.size_text() + ": an animated WebP is at most "
            + std::to_string(MAX_ANIMATION_SIDE) + " pixels a side; use check for this screen");
    std::vector<uint8_t> initial;
    if (std::string error = initial_screen(options.base, geometry, &initial); !error.empty())
        return fail(error);

    StagedFiles staged(options.out);
    PlaybackPictures pictures(staged, geometry.width, geometry.height, FRAME_COUNT);
    Progress progress(TOOL, "previewing frame", FRAME_COUNT, options.quiet);
    std::string error;
    int drawn = 0;
    play_directory(dir, geometry, initial, true,
        [&](int n, const FrameReport& report, const std::vector<uint8_t>& screen) {
            if (error.empty())
                error = first_unplayable(report);
            if (error.empty())
                pictures.add(panel_rgb(screen, geometry), mark_of(report.status));
            drawn += report.status == FrameReport::drawn;
            progress.step(n);
        });
    progress.done();
    if (!error.empty())
        return fail(error);
    if (std::string e = pictures.write(); !e.empty())
        return fail(e);
    fs::path out = options.out;
    std::printf("%d of %d frames drawn on %s at %u bpp; %s (%ld ms a frame), %s\n", drawn, FRAME_COUNT,
        geometry.size_text().c_str(), geometry.bits_per_pixel, (out / ANIMATION_FILE).c_str(),
        FRAME_DELAY_US / 1000, (out / CONTACT_SHEET_FILE).c_str());
    return 0;
}

namespace {

// The frame number a name looks meant for ("Loop_7.rle", "loop_07.RLE",
// "Loop7.rle"), or -1 for a name that does not look like a frame's.
long meant_frame(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    if (!lower.starts_with("loop") || !lower.ends_with(".rle"))
        return -1;
    std::string digits = lower.substr(4, lower.size() - 8);
    if (digits.starts_with("_"))
        digits.erase(0, 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return digits.size() > 6 ? 0 : std::stol(digits);
}

// Files that look like frames of the schedule but are not among its names.
std::vector<std::string> lookalikes(const fs::path& dir)
{
    std::vector<std::string> names, warnings;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), natural_less);
    for (const std::string& name : names) {
        long n = meant_frame(name);
        if (n < 0 || (n >= 1 && n <= FRAME_COUNT && name == frame_name(int(n))))
            continue;
        std::string why = n < 1 || n > FRAME_COUNT
            ? "the player shows " + frame_name(1) + " to " + frame_name(FRAME_COUNT) + " only"
            : "the player opens " + frame_name(int(n)) + " (names are exact: case, no leading zeros)";
        warnings.push_back(name + " is never played: " + std::move(why));
    }
    return warnings;
}

} // namespace

int check_frames(const ViewOptions& options)
{
    fs::path dir = options.input;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return fail(dir.string() + ": not a directory");
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (std::string error = screen_for(dir, options.screen, false, &geometry, &description); !error.empty())
        return fail(error, BAD_ARGUMENT);

    std::printf("%-12s %8s %8s %9s  %s\n", "frame", "records", "zero", "trailing", "covers the screen");
    bool all_exact = true;
    play_directory(
        dir, geometry, {}, false, [&](int n, const FrameReport& frame, const std::vector<uint8_t>&) {
            all_exact = all_exact && frame.covers_exactly(geometry);
            if (frame.status == FrameReport::drawn)
                std::printf("%-12s %8u %8u %9u  %s\n", frame_name(n).c_str(), frame.records,
                    frame.zero_records, frame.trailing_bytes, describe_coverage(frame, geometry).c_str());
            else
                std::printf("%-12s %8s %8s %9s  %s\n", frame_name(n).c_str(), "-", "-", "-",
                    describe_coverage(frame, geometry).c_str());
        });
    for (const std::string& warning : lookalikes(dir))
        std::printf("warning: %s\n", warning.c_str());

    bool right_shape = true;
    if (!description) {
        std::printf("note: no %s in %s: the pixel count is checked, not the shape\n", SET_DESCRIPTION_FILE,
            dir.c_str());
    } else {
        // What the set was made for: what it records, else what the player writes.
        uint32_t depth = description->bits_per_pixel ? description->bits_per_pixel : geometry.bits_per_pixel;
        const PixelFormat& made_for = description->format ? *description->format : player_format(depth);
        uint32_t made_for_line
            = description->line_length ? description->line_length : description->xres * (depth / 8);
        std::vector<std::string> mismatches;
        if (description->xres != geometry.width || description->yres != geometry.height)
            mismatches.push_back(std::to_string(description->xres) + "x" + std::to_string(description->yres)
                + ", not for " + geometry.size_text());
        if (&made_for != &geometry.pixel_format())
            mismatches.push_back(std::string(made_for.name) + ", not for " + geometry.pixel_format().name);
        if (made_for_line != geometry.stride() && description->xres == geometry.width)
            mismatches.push_back(
                std::to_string(made_for_line) + "-byte lines, not for " + std::to_string(geometry.stride()));
        for (const std::string& mismatch : mismatches)
            std::printf("the set was made for %s\n", mismatch.c_str());
        right_shape = mismatches.empty();
    }
    std::printf("%s\n",
        all_exact && right_shape ? ("every frame covers " + geometry.size_text() + " exactly").c_str()
                                 : ("not every frame covers " + geometry.size_text() + " exactly").c_str());
    return all_exact && right_shape ? 0 : 1;
}

int write_sample(const std::string& out, const ScreenGeometry& geometry)
{
    StagedFiles staged(out);
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "spinner-%02d.png", n);
        std::vector<uint8_t> png;
        if (std::string error = encode_png_rgb(geometry.width, geometry.height,
                render_sample_frame(n, geometry.width, geometry.height), &png);
            !error.empty())
            return fail((fs::path(out) / name).string() + ": " + error);
        if (std::string error = staged.add(name, png); !error.empty())
            return fail(error);
    }
    if (std::string error = staged.commit(); !error.empty())
        return fail(error);
    std::printf("%d sample images of %s in %s\n", FRAME_COUNT, geometry.size_text().c_str(), out.c_str());
    return 0;
}
