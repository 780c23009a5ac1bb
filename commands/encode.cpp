#include "commands/encode.h"

#include "artwork/artwork.h"
#include "commands/command_support.h"
#include "frames/panel_model.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/natural_order.h"
#include "lib/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <future>
#include <memory>

namespace fs = std::filesystem;

namespace {

// A file of 1 to 3 bytes holds no whole record: the player maps it, draws
// nothing, pans, and the screen keeps the frame before.
const std::vector<uint8_t> NO_RECORDS = { 0 };

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

std::string seconds_text(int64_t us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(us) / 1e6);
    return text;
}

// "logo-%02d.png": the numbered files there are, from 0 or 1 up to the first gap.
bool is_sequence(const std::string& input)
{
    size_t at = input.find('%');
    if (at == std::string::npos)
        return false;
    size_t d = input.find_first_not_of("0123456789", at + 1);
    return d != std::string::npos && input[d] == 'd' && input.find('%', d) == std::string::npos;
}

std::string expand_sequence(const std::string& pattern, std::vector<fs::path>* paths)
{
    std::error_code ec;
    size_t before = paths->size();
    for (int n = 0; n < 100000; ++n) {
        char name[4096];
        std::snprintf(name, sizeof name, pattern.c_str(), n);
        if (fs::exists(name, ec))
            paths->emplace_back(name);
        else if (n > 0 || paths->size() > before)
            break;
    }
    if (paths->size() == before)
        return pattern + ": no numbered files, from 0 or 1 on";
    return "";
}

// The pictures the inputs name: directories in natural order (hidden files
// skipped, others named in one note), sequences in number order.
std::string collect_inputs(
    const std::vector<std::string>& inputs, std::vector<fs::path>* paths, bool* several)
{
    std::vector<std::string> skipped;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (is_sequence(input) && !fs::exists(input, ec)) {
            if (std::string error = expand_sequence(input, paths); !error.empty())
                return error;
            *several = true;
            continue;
        }
        if (!fs::is_directory(input, ec)) {
            paths->emplace_back(input);
            continue;
        }
        *several = true;
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(input, ec)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with("."))
                continue;
            std::error_code type_error;
            if (entry.is_regular_file(type_error) && is_artwork_name(entry.path()))
                found.push_back(entry.path());
            else
                skipped.push_back(name);
        }
        if (ec)
            return input + ": cannot list: " + ec.message();
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return natural_less(a.filename().string(), b.filename().string());
        });
        paths->insert(paths->end(), found.begin(), found.end());
    }
    if (!skipped.empty())
        note("skipping " + std::to_string(skipped.size()) + " that are not pictures: " + name_list(skipped));
    return "";
}

// What frame N shows: a picture of an input at a time, faded in by a
// weight; or nothing drawn, holding the screen.
struct Planned {
    int input = -1; // -1: held
    int64_t time_us = 0;
    float weight = 1;
};

bool has_own_panel_size(const Artwork& artwork)
{
    uint32_t width = 0, height = 0;
    artwork.native_size(&width, &height);
    return width && height && !artwork.kind().ends_with(" video");
}

} // namespace

int encode_frames(const EncodeOptions& options)
{
    Rgb background;
    if (std::string error = parse_colour(options.background, &background); !error.empty())
        return fail("--background " + error, BAD_ARGUMENT);
    std::optional<Fit> fit = parse_fit(options.fit);
    if (!fit)
        return fail("--fit '" + options.fit + "': expected contain, cover, fill or none", BAD_ARGUMENT);
    if (!std::isfinite(options.start_seconds) || options.start_seconds < 0 || options.start_seconds > 1e6)
        return fail("--start must be a number of seconds from 0", BAD_ARGUMENT);
    if (options.every_ms <= 0)
        return fail("--every must be a number of milliseconds above 0", BAD_ARGUMENT);
    std::vector<fs::path> inputs;
    bool several = false;
    if (std::string error = collect_inputs(options.inputs, &inputs, &several); !error.empty())
        return fail(error);
    if (inputs.empty())
        return fail("no pictures in " + name_list(options.inputs));
    if (inputs.size() > 1 && (options.hold || options.fade_in))
        return fail(std::string(options.hold ? "--hold" : "--fade-in") + " takes one picture, not "
                + std::to_string(inputs.size()),
            BAD_ARGUMENT);

    std::unique_ptr<Artwork> artwork;
    if (std::string error = open_artwork(inputs[0], &artwork); !error.empty())
        return fail(error);
    const bool moving = artwork->moving();
    if (moving && inputs.size() > 1)
        return fail(inputs[0].string() + ": a " + artwork->kind() + " is encoded on its own; give it alone");
    if (!moving && (options.spread || options.start_seconds > 0))
        return fail(std::string(options.spread ? "--spread" : "--start") + " samples an animation or video; "
                + inputs[0].string() + " is a still " + artwork->kind(),
            BAD_ARGUMENT);
    if (options.dither)
        note("dithering breaks up runs, so the frames get larger");

    // The panel: from the flags or the panel file; a picture's own size
    // only when it has one (not an SVG, not a video).
    ScreenFlags flags = options.screen;
    if (flags.size.empty() && flags.panel.empty()) {
        if (!has_own_panel_size(*artwork))
            return fail(inputs[0].string() + ": a " + artwork->kind()
                    + " says nothing of the panel: give it with --size WxH or --panel FILE",
                BAD_ARGUMENT);
        uint32_t width = 0, height = 0;
        artwork->native_size(&width, &height);
        flags.size = std::to_string(width) + "x" + std::to_string(height);
    }
    ScreenGeometry panel;
    std::vector<std::string> notes;
    bool depth_known = false;
    if (std::string error = choose_screen(flags, std::nullopt, false, &panel, &notes, &depth_known);
        !error.empty())
        return fail(error, BAD_ARGUMENT);
    if (const char* refusal = panel.pixel_format().refusal)
        return fail(std::string("a ") + panel.pixel_format().name
                + " panel cannot show the player's frames: it " + refusal,
            BAD_ARGUMENT);
    const uint32_t depth = depth_known ? panel.bits_per_pixel : 0;
    // With --reachable the artwork is fitted into the rows the stream reaches.
    const uint32_t reached = rows_drawn_in_full(panel);
    if (reached < panel.height && options.reachable)
        note("fitted into rows 0-" + std::to_string(reached - 1) + ", the rows the player draws in full on "
            + "this panel; " + rows_text(reached, panel.height - 1) + " keep what the boot loader left");
    else if (reached < panel.height)
        note(rows_text(reached, panel.height - 1) + " cannot be drawn in full on a " + panel.size_text() + "x"
            + std::to_string(panel.bits_per_pixel) + " panel with " + std::to_string(panel.stride())
            + "-byte lines: the player draws " + std::to_string(panel.pixels())
            + " pixels of stream (--reachable fits the artwork above them)");
    const Fitting fitting { panel.width, options.reachable ? reached : panel.height, *fit, background };

    std::error_code ec;
    bool to_set = moving || several || inputs.size() > 1 || options.hold || options.fade_in || options.trim
        || options.loop || fs::is_directory(options.out, ec)
        || (!options.out.empty() && options.out.back() == '/');
    if (to_set && options.out.empty())
        return fail("--out DIR is needed for a set of frames", BAD_ARGUMENT);
    if (to_set && fs::path(options.out).extension() == ".rle" && !fs::is_directory(options.out, ec))
        return fail("--out " + options.out + ": names one frame file, but "
                + (moving                   ? "the " + artwork->kind() + " " + inputs[0].string() + " makes"
                        : inputs.size() > 1 ? "the " + std::to_string(inputs.size()) + " pictures make"
                                            : "this makes")
                + " a set of " + std::to_string(FRAME_COUNT) + " frames: give a directory",
            BAD_ARGUMENT);

    // One frame file from one still.
    if (!to_set) {
        fs::path out
            = options.out.empty() ? fs::path(inputs[0]).replace_extension(".rle") : fs::path(options.out);
        if (same_file(out, inputs[0]))
            return fail(out.string() + ": is the input picture; give another --out");
        LinearPicture picture;
        SourceFrame which;
        if (std::string error = artwork->picture_at(0, fitting, &picture, &which); !error.empty())
            return fail(error);
        std::vector<uint8_t> frame
            = encode_rle565(image_to_panel_stream(to_srgb(picture), background, options.dither, panel));
        if (std::string error = write_atomically(out, frame); !error.empty())
            return fail(error);
        std::printf("%s <- %s: %zu records, %zu bytes, %s\n", out.c_str(), inputs[0].c_str(),
            frame.size() / 4, frame.size(), size_against_raw(frame.size(), panel.pixels() * 2).c_str());
        return 0;
    }

    fs::path out = options.out;
    if (!moving && inputs.size() > size_t(FRAME_COUNT)) {
        std::vector<std::string> dropped;
        for (size_t i = FRAME_COUNT; i < inputs.size(); ++i)
            dropped.push_back(inputs[i].filename().string());
        note("the player shows " + std::to_string(FRAME_COUNT) + " frames; " + std::to_string(dropped.size())
            + " pictures after " + inputs[FRAME_COUNT - 1].filename().string()
            + " are not used: " + name_list(dropped));
        inputs.resize(FRAME_COUNT);
    }
    // Nothing the new set writes may be an input.
    for (const fs::path& input : inputs)
        for (int n = 1; n <= FRAME_COUNT + 1; ++n) {
            fs::path target = n <= FRAME_COUNT ? out / frame_name(n) : out / SET_DESCRIPTION_FILE;
            if (same_file(input, target))
                return fail(input.string() + ": is an input, and the new set in " + out.string()
                    + " would replace it");
        }

    // What each frame shows.
    std::vector<Planned> plan(FRAME_COUNT);
    const int64_t start_us = std::llround(options.start_seconds * 1e6);
    const int64_t duration_us = artwork->duration_us();
    int held_from = 0; // the first frame held because the source ended, or 0
    if (moving && start_us > 0 && duration_us > 0 && start_us >= duration_us)
        return fail(inputs[0].string() + ": --start " + seconds_text(start_us) + " is past its end at "
            + seconds_text(duration_us));
    if (options.spread && duration_us <= 0)
        return fail(
            inputs[0].string() + ": its length is not known, so it cannot be spread; sample it with --every");
    for (int i = 0; i < FRAME_COUNT; ++i) {
        Planned& frame = plan[size_t(i)];
        if (options.fade_in) {
            frame = { 0, start_us, float(i + 1) / FRAME_COUNT };
        } else if (options.hold) {
            frame = { i == 0 ? 0 : -1, start_us, 1 };
        } else if (!moving) {
            int count = int(inputs.size());
            frame.input = i < count ? i : options.loop ? i % count : -1;
            if (frame.input < 0 && !held_from)
                held_from = i + 1;
        } else {
            int64_t t = options.spread ? start_us + (duration_us - start_us) * i / FRAME_COUNT
                                       : start_us + int64_t(i) * options.every_ms * 1000;
            if (duration_us > 0 && t >= duration_us) {
                if (options.loop) {
                    t %= duration_us;
                } else {
                    frame.input = -1;
                    held_from = held_from ? held_from : i + 1;
                    continue;
                }
            }
            frame = { 0, t, 1 };
        }
    }

    StagedFiles staged(out);
    Progress progress(FRAMES_TOOL, "encoding frame", FRAME_COUNT, options.quiet);
    std::vector<uint16_t> stream, screen; // the frame's codes; the screen's after the frame before
    std::vector<uint64_t> digests(FRAME_COUNT);
    std::vector<std::string> lines(FRAME_COUNT);
    struct {
        int input = -1, index = -1;
        float weight = -1;
    } made; // what `stream` was made from
    bool stream_on_screen = false; // those codes were swapped into `screen`
    bool partial = false;
    uint64_t total_whole = 0, total_trimmed = 0;
    // A picture read for the frames that show it.
    struct Fetched {
        LinearPicture picture;
        SourceFrame which;
    };
    const uint32_t pixel_bytes = depth / 8;
    auto written = [&](uint64_t pixels) {
        return pixel_bytes ? std::to_string(pixels * pixel_bytes) + " B" : std::to_string(pixels) + " px";
    };
    // The frame files are made in one buffer, room for a record a pixel.
    std::vector<uint8_t> records;
    // Everything after reading a frame's picture: its codes, the trim, the
    // file and the report's line, for frame i from the picture read for it.
    auto make_frame
        = [&](int i, Planned frame, const std::shared_ptr<const Fetched>& fetched) -> std::string {
        std::string source;
        std::span<const uint8_t> file = NO_RECORDS;
        uint64_t whole = 0, trimmed = 0;
        bool changed = false;
        if (frame.input < 0) {
            source = "held: draws nothing";
            partial = true;
        } else {
            const LinearPicture& picture = fetched->picture;
            const SourceFrame& which = fetched->which;
            source = inputs[size_t(frame.input)].filename().string();
            if (moving) {
                char detail[64];
                std::snprintf(detail, sizeof detail, " %s (frame %d)", seconds_text(which.time_us).c_str(),
                    which.index + 1);
                source += detail;
            }
            if (options.fade_in)
                source += " at " + std::to_string(int(std::lround(frame.weight * 100))) + "%";
            if (made.input != frame.input || made.index != which.index || made.weight != frame.weight) {
                // A picture taken as it was read goes to codes straight from its bytes.
                stream = !picture.srgb.empty() && frame.weight == 1
                    ? rgb_to_panel_stream(picture.srgb, picture.width, background, options.dither, panel)
                    : image_to_panel_stream(
                        to_srgb(picture, frame.weight, background), background, options.dither, panel);
                made = { frame.input, which.index, frame.weight };
            } else if (stream_on_screen) {
                stream = screen;
            }
            stream_on_screen = false;
            // The frame ends after the last pixel that differs from the screen
            // the frame before left; frame 1 is whole, drawn over whatever the
            // boot loader left.
            size_t last = stream.size();
            if (i > 0)
                while (last > 0 && stream[last - 1] == screen[last - 1])
                    --last;
            whole = stream.size();
            trimmed = last;
            size_t drawn = options.trim ? last : stream.size();
            if (drawn)
                file = encode_rle565_into(std::span(stream).first(drawn), records);
            else
                source += ", unchanged: draws nothing";
            partial = partial || drawn < stream.size();
            changed = i == 0 || last > 0;
            if (changed) {
                // The codes become the screen, without a copy of a screen's worth.
                screen.swap(stream);
                stream_on_screen = true;
            }
        }
        // A screen left as it was has the digest it had.
        digests[size_t(i)] = changed || i == 0 ? screen_digest(screen) : digests[size_t(i) - 1];
        total_whole += whole;
        total_trimmed += trimmed;
        std::string name = frame_name(i + 1);
        if (std::string error = staged.add(name, file); !error.empty())
            return error;
        char line[768];
        std::snprintf(line, sizeof line, "%-12s <- %-40s %7zu records %9zu bytes  writes %s (%s %s)",
            name.c_str(), source.c_str(), file.size() / 4, file.size(),
            written(options.trim ? trimmed : whole).c_str(), options.trim ? "untrimmed" : "with --trim",
            written(options.trim ? whole : trimmed).c_str());
        lines[size_t(i)] = line;
        return "";
    };
    // Reads a picture: a still from a reader of its own, so several can be
    // read at once; a clip or animation frame after frame, from its one reader.
    auto fetch = [&](Planned frame, Fetched* into) -> std::string {
        std::unique_ptr<Artwork> still;
        Artwork* source = artwork.get();
        if (!moving) {
            if (std::string error = open_artwork(inputs[size_t(frame.input)], &still); !error.empty())
                return error;
            if (still->moving())
                return inputs[size_t(frame.input)].string() + ": a " + still->kind()
                    + " among stills: give it alone";
            source = still.get();
        }
        if (std::string error = source->picture_at(frame.time_us, fitting, &into->picture, &into->which);
            !error.empty())
            return error;
        // A clip whose length its header did not give ends where its frames do.
        if (into->which.past_end && options.loop && source->duration_us() > 0)
            return source->picture_at(
                frame.time_us % source->duration_us(), fitting, &into->picture, &into->which);
        return "";
    };
    // The pictures to read, in order: each frame's unless the frame before showed it too.
    std::vector<int> reads;
    for (int i = 0, last = -1; i < FRAME_COUNT; ++i) {
        const Planned& frame = plan[size_t(i)];
        if (frame.input < 0)
            continue;
        if (last < 0 || plan[size_t(last)].input != frame.input
            || plan[size_t(last)].time_us != frame.time_us)
            reads.push_back(i);
        last = i;
    }
    // Pictures read ahead on threads of their own (two stills at once, or a
    // clip's frames one at a time), and the frame before being made while
    // they are: each future waits for its thread when destroyed.
    const size_t ahead = moving ? 1 : 2;
    struct Reading {
        std::shared_ptr<Fetched> into; // also held by the task: it outlives a loop that fails first
        std::future<std::string> done;
    };
    std::deque<Reading> reading;
    size_t next_read = 0;
    auto read_ahead = [&] {
        while (next_read < reads.size() && reading.size() < ahead) {
            auto into = std::make_shared<Fetched>();
            Planned frame = plan[size_t(reads[next_read++])];
            SignalsHeld held; // the thread leaves interrupts to this one
            reading.push_back({ into,
                std::async(std::launch::async, [&fetch, frame, into] { return fetch(frame, into.get()); }) });
        }
    };
    std::future<std::string> making;
    auto made_before = [&making]() -> std::string { return making.valid() ? making.get() : ""; };
    std::shared_ptr<const Fetched> shown; // the picture the last frame read
    size_t read_index = 0;
    for (int i = 0; i < FRAME_COUNT; ++i) {
        stop_if_interrupted();
        Planned frame = plan[size_t(i)];
        read_ahead();
        if (read_index < reads.size() && reads[read_index] == i) {
            std::string error = reading.front().done.get();
            shown = reading.front().into;
            reading.pop_front();
            ++read_index;
            if (!error.empty())
                return fail(error);
            read_ahead();
        }
        if (std::string error = made_before(); !error.empty())
            return fail(error);
        if (frame.input >= 0 && shown->which.past_end && !options.hold && !options.fade_in) {
            frame.input = -1;
            held_from = held_from ? std::min(held_from, i + 1) : i + 1;
        }
        SignalsHeld held;
        making = std::async(std::launch::async, make_frame, i, frame, shown);
        progress.step(i + 1);
    }
    if (std::string error = made_before(); !error.empty())
        return fail(error);
    progress.done();
    if (int64_t claimed = artwork->claimed_duration_us()) {
        std::string damage = inputs[0].string() + ": damaged or cut: its frames end at "
            + seconds_text(artwork->duration_us()) + ", though its header says it plays "
            + seconds_text(claimed);
        if (!options.allow_short)
            return fail(damage + "; --allow-short makes the set from the frames there are");
        note(damage);
    }
    SetDescription description { panel.width, panel.height, depth, panel.line_length, panel.format, partial,
        digests };
    if (std::string error = staged.add(SET_DESCRIPTION_FILE, set_description_bytes(description));
        !error.empty())
        return fail(error);
    if (std::string error = staged.commit(); !error.empty())
        return fail(error);

    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    if (held_from)
        note(frame_name(held_from) + " to " + frame_name(FRAME_COUNT) + " hold the last picture of "
            + (moving ? inputs[0].filename().string() + ", which ends at "
                        + seconds_text(artwork->duration_us())
                    : inputs.size() == 1 ? inputs[0].filename().string()
                                         : "the " + std::to_string(inputs.size()) + " pictures")
            + ": they draw nothing (--loop repeats it instead)");
    if (partial)
        note("frames after " + frame_name(1)
            + " draw only part of the screen and rely on the frame before: the set needs every frame, in "
              "order");
    std::printf("screen memory written for the %d frames: %s; %s %s\n", FRAME_COUNT,
        written(options.trim ? total_trimmed : total_whole).c_str(),
        options.trim ? "untrimmed" : "with --trim",
        written(options.trim ? total_whole : total_trimmed).c_str());
    std::printf("%d frames for %s%s (%s, fit %s) in %s\n", FRAME_COUNT, panel.size_text().c_str(),
        depth ? (" at " + std::to_string(depth) + " bpp").c_str() : "", artwork->kind().c_str(),
        options.fit.c_str(), out.c_str());
    return 0;
}
