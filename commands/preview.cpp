#include "commands/frame_commands.h"

#include "commands/command_support.h"
#include "commands/set_view.h"
#include "core/schedule.h"
#include "frames/bundle.h"
#include "frames/panel_stream.h"
#include "lib/file_io.h"
#include "lib/progress.h"
#include "lib/staged_files.h"
#include "preview/animation.h"

#include <cstdio>

constexpr const char* TOOL = FRAMES_TOOL;

namespace fs = std::filesystem;

namespace {

// The preview of one set into `staged` (in `folder` for a bundle's set), or
// what failed. `as_made` is false when the
// screens are not those the set was made to leave, which the preview shows
// all the same.
Error preview_set(const ViewOptions& options, StagedFiles& staged, const std::string& folder, bool* as_made)
{
    fs::path dir = options.input;
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (Error error = open_set(options, Depth::needed, &geometry, &description))
        return error;
    print_panel_caveats(geometry, description);
    if (Error refusal = animation_refusal(geometry.width, geometry.height)) {
        refusal.message += "; use check for this screen";
        return within(geometry.size_text() + ": ", refusal);
    }
    std::vector<uint8_t> initial;
    if (Error error = initial_screen(options.base, geometry, &initial))
        return error;
    PlaybackPictures pictures(staged, geometry, FRAME_COUNT, folder);
    Progress progress(TOOL, "previewing frame", FRAME_COUNT, options.quiet);
    Error error;
    int drawn = 0;
    play_directory(dir, geometry, std::move(initial), true,
        [&](int n, const FrameReport& report, const std::vector<uint8_t>& screen) {
            if (!error)
                error = first_unplayable(report);
            if (!error)
                pictures.add(screen, report.outcome());
            drawn += report.status == FrameReport::drawn;
            progress.step(n);
        });
    progress.done();
    if (error)
        return error;
    if (Error error = pictures.finish())
        return error;
    fs::path out = fs::path(options.out) / folder;
    std::printf("%d of %d frames drawn on %s at %u bpp%s; %s (%ld ms a frame), %s\n", drawn, FRAME_COUNT,
        geometry.size_text().c_str(), geometry.depth(), rotation_text(geometry, true).c_str(),
        (out / ANIMATION_FILE).c_str(), FRAME_DELAY_US / 1000, (out / CONTACT_SHEET_FILE).c_str());
    // What a set made to draw only the changes shows depends on every frame before.
    if (description && description->partial_frames)
        std::printf("frames after %s draw only part of the screen: the set needs every frame, in order\n",
            frame_name(1).c_str());
    if (auto differing = frames_not_as_made(dir, description, geometry)) {
        std::vector<std::string> names;
        for (int n : *differing)
            names.push_back(frame_name(n));
        if (!names.empty())
            print_error(input_error(
                "the screen is not as the set was made to leave it after " + name_list(names, 8)));
        else
            std::printf("the screen after each frame is as the set was made to leave it\n");
        *as_made = *as_made && names.empty();
    }
    return {};
}

} // namespace

Error preview_frames(const ViewOptions& options)
{
    const bool bundle = is_bundle(options.input);
    if (is_within(options.out, options.input))
        return usage_error(options.out + ": is in the " + (bundle ? "bundle " : "set ") + options.input
            + ", whose copy would take the preview to the device; give another --out");
    std::vector<SetToView> sets;
    if (Error error = sets_to_view(options, &sets))
        return error;
    // One preview, or one for each set of a bundle, committed together.
    StagedFiles staged(options.out);
    if (Error error = staged.prepare())
        return error;
    bool as_made = true;
    for (const SetToView& set : sets) {
        if (!set.folder.empty())
            std::printf("%s:\n", set.folder.c_str());
        if (Error error = preview_set(set.options, staged, set.folder, &as_made))
            return error;
    }
    if (Error error = staged.commit())
        return error;
    if (!as_made)
        return already_said(ExitStatus::wrong_input);
    return {};
}
