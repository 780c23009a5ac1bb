#include "commands/set_view.h"

#include "artwork/still.h"
#include "commands/command_support.h"
#include "commands/screen_flags.h"
#include "frames/bundle.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"

namespace fs = std::filesystem;

namespace {

void print_screen_notes(const std::vector<std::string>& notes)
{
    for (const std::string& line : notes)
        note(line);
}

} // namespace

Error screen_for(const fs::path& dir, const ScreenFlags& flags, const std::optional<ScreenGeometry>& listed,
    Depth depth, ScreenGeometry* geometry, std::optional<SetDescription>* description)
{
    std::optional<SetDescription> own;
    std::optional<SetDescription>& found = description ? *description : own;
    if (Error error = read_set_description(dir, &found))
        return error;
    ScreenOverrides given;
    if (listed)
        given = listed_panel(*listed);
    else if (Error error = parse_screen_flags(flags, &given))
        return error;
    ChosenScreen chosen;
    Error error = choose_screen(given, found, depth, &chosen);
    print_screen_notes(chosen.notes);
    *geometry = chosen.geometry;
    return error;
}

Error open_set(const ViewOptions& options, Depth depth, ScreenGeometry* geometry,
    std::optional<SetDescription>* description)
{
    std::error_code ec;
    if (!fs::is_directory(options.input, ec))
        return input_error(options.input + ": not a directory");
    return screen_for(options.input, options.screen, options.listed, depth, geometry, description);
}

Error initial_screen(const std::string& base, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    screen->assign(geometry.memory_bytes(), 0);
    if (base.empty())
        return {};
    RgbaImage image;
    // The picture as it shows, upright.
    if (Error error = read_picture(base, geometry.upright_width(), geometry.upright_height(), &image))
        return error;
    std::vector<uint8_t> rgb(geometry.pixels() * 3);
    for (size_t i = 0; i < geometry.pixels(); ++i)
        std::copy_n(&image.rgba[i * 4], 3, &rgb[i * 3]);
    *screen = panel_memory_for_upright(rgb, geometry);
    return {};
}

void print_panel_caveats(const ScreenGeometry& geometry, const std::optional<SetDescription>& description)
{
    for (const std::string& caveat : panel_caveats(geometry, made_for(description, geometry)))
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

Error first_unplayable(const FrameReport& report)
{
    if (report.status != FrameReport::not_regular)
        return {};
    return input_error(report.error.message + ": the player would hang on it or misread it");
}

Error sets_to_view(const ViewOptions& options, std::vector<SetToView>* sets)
{
    if (!is_bundle(options.input)) {
        *sets = { { options, "" } };
        return {};
    }
    if (names_one_panel(options.screen) || !options.screen.panel.empty())
        return usage_error(options.input + ": a bundle: each set is taken on the panel its "
            + BUNDLE_INDEX_FILE + " gives, so no flag names a screen");
    std::vector<BundleEntry> entries;
    if (Error error = read_bundle(options.input, &entries))
        return error;
    if (entries.empty())
        return input_error(options.input + ": its " + std::string(BUNDLE_INDEX_FILE) + " lists no sets");
    sets->clear();
    for (const BundleEntry& entry : entries) {
        ViewOptions set = options;
        set.input = (fs::path(options.input) / entry.name).string();
        set.listed = entry.panel;
        std::error_code ec;
        if (!fs::is_directory(set.input, ec))
            return input_error(set.input + ": listed in "
                + (fs::path(options.input) / BUNDLE_INDEX_FILE).string() + ", but not a directory");
        sets->push_back({ set, entry.name });
    }
    return {};
}
