// encode's panels: one from the flags, the panel file or the picture, or a
// bundle's from its panel files, and the fitting of the artwork into each.
#include "commands/command_support.h"
#include "commands/encode_job.h"
#include "commands/screen_flags.h"
#include "frames/bundle.h"
#include "lib/natural_order.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// The panel a set is made for, from what is given, and the fitting into it;
// notes and errors begin with `label` (a bundle's panel file).
Error target_for(
    const EncodeJob& job, const ScreenOverrides& given, const std::string& label, SetTarget* target)
{
    ChosenScreen chosen;
    if (Error error = choose_screen(given, std::nullopt, Depth::optional, &chosen))
        return error;
    ScreenGeometry& panel = target->panel = chosen.geometry;
    if (const char* refusal = panel.pixel_format().refusal)
        return usage_error(label + "a " + panel.pixel_format().name
            + " panel cannot show the player's frames: it " + refusal);
    // With --reachable the artwork is fitted into the rows the stream reaches.
    const uint32_t reached = rows_drawn_in_full(panel);
    if (reached < panel.height && job.options.reachable)
        note(label + "fitted into rows 0-" + std::to_string(reached - 1)
            + ", the rows the player draws in full on this panel; " + rows_text(reached, panel.height - 1)
            + " keep what the boot loader left");
    else if (reached < panel.height)
        note(label + rows_text(reached, panel.height - 1) + " cannot be drawn in full on a "
            + panel.size_text() + "x" + std::to_string(panel.depth()) + " panel with "
            + std::to_string(panel.stride()) + "-byte lines: the player draws "
            + std::to_string(panel.pixels()) + " pixels of stream (--reachable fits the artwork above them)");
    // The artwork is fitted upright, into what those rows show of it.
    const uint32_t rows = job.options.reachable ? reached : panel.height;
    target->fitting = { panel.turned_sideways() ? rows : panel.width,
        panel.turned_sideways() ? panel.width : rows, job.fit, job.background };
    return {};
}

// The panel files of a bundle: each --panel, then --panels DIR's *.json in natural order.
Error bundle_panel_files(const EncodeOptions& options, std::vector<fs::path>* files)
{
    files->assign(options.panels.begin(), options.panels.end());
    if (options.panels_dir.empty())
        return {};
    std::error_code ec;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(options.panels_dir, ec))
        if (entry.path().extension() == ".json" && !entry.path().filename().string().starts_with("."))
            found.push_back(entry.path());
    if (ec)
        return input_error(options.panels_dir + ": cannot list: " + ec.message());
    if (found.empty())
        return usage_error(options.panels_dir + ": no panel files (*.json)");
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return natural_less(a.filename().string(), b.filename().string());
    });
    files->insert(files->end(), found.begin(), found.end());
    return {};
}

} // namespace

Error choose_panel(EncodeJob& job)
{
    ScreenFlags flags = job.options.screen;
    if (job.options.panels.size() == 1)
        flags.panel = job.options.panels[0];
    ScreenOverrides given;
    if (Error error = parse_screen_flags(flags, &given))
        return error;
    if (!given.flags.width && !given.panel) {
        job.artwork->native_size(&given.flags.width, &given.flags.height);
        if (!given.flags.width || !given.flags.height || job.artwork->source_kind() == SourceKind::video)
            return usage_error(job.inputs[0].string() + ": a " + job.artwork->kind()
                + " says nothing of the panel: give it with --size WxH or --panel FILE");
    }
    job.targets.resize(1);
    return target_for(job, given, "", &job.targets[0]);
}

Error choose_bundle_panels(EncodeJob& job)
{
    if (names_one_panel(job.options.screen))
        return usage_error(
            "--size, --depth, --format, --line-length and --rotate name one panel: give each panel of "
            "a bundle in a file of its own");
    std::vector<fs::path> files;
    if (Error error = bundle_panel_files(job.options, &files))
        return error;
    for (const fs::path& file : files) {
        SetTarget target;
        ScreenOverrides own;
        own.panel.emplace();
        if (Error error = read_panel_file(file, &*own.panel))
            return error;
        if (Error error = target_for(job, own, file.string() + ": ", &target))
            return error;
        if (!target.panel.depth_known())
            return usage_error(
                file.string() + ": gives no bits_per_pixel, which a bundle's sets are told apart by");
        const std::string& own_name = own.panel->name;
        if (!own_name.empty())
            if (Error refusal = bundle_name_allowed(own_name))
                return within(file.string() + ": ", refusal);
        target.name = bundle_set_name(target.panel, own_name);
        target.panel.line_length = target.panel.stride();
        target.panel.format = &target.panel.pixel_format();
        for (const SetTarget& other : job.targets)
            if (other.name == target.name || same_bundle_screen(other.panel, target.panel))
                return usage_error(file.string() + ": "
                    + (other.name == target.name ? "its set would be named " + target.name + " as another's"
                                                 : "the same screen as the panel of " + other.name
                                + " (a set each would be one too many)"));
        job.targets.push_back(target);
    }
    job.bundle = true;
    return {};
}
