#include "commands/frame_commands.h"

#include "commands/command_support.h"
#include "commands/set_view.h"
#include "frames/panel_model.h"
#include "lib/file_io.h"
#include "lib/progress.h"
#include "preview/animation.h"
#include "src/schedule.h"

#include <cstdio>

constexpr const char* TOOL = FRAMES_TOOL;

namespace fs = std::filesystem;

int preview_frames(const ViewOptions& options)
{
    fs::path dir = options.input;
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (int status = open_set(options, true, &geometry, &description))
        return status;
    if (is_within(options.out, dir))
        return fail(options.out + ": is in the set " + dir.string()
                + ", whose copy would take the preview to the device; give another --out",
            BAD_ARGUMENT);
    print_panel_caveats(geometry, description);
    if (std::string refusal = animation_refusal(geometry.width, geometry.height); !refusal.empty())
        return fail(geometry.size_text() + ": " + refusal + "; use check for this screen");
    std::vector<uint8_t> initial;
    if (std::string error = initial_screen(options.base, geometry, &initial); !error.empty())
        return fail(error);

    StagedFiles staged(options.out);
    PlaybackPictures pictures(staged, geometry.width, geometry.height, FRAME_COUNT);
    Progress progress(TOOL, "previewing frame", FRAME_COUNT, options.quiet);
    std::string error;
    int drawn = 0;
    play_directory(dir, geometry, std::move(initial), true,
        [&](int n, const FrameReport& report, const std::vector<uint8_t>& screen) {
            if (error.empty())
                error = first_unplayable(report);
            if (error.empty())
                pictures.add(panel_rgb(screen, geometry), report.outcome());
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
    // What a set made to draw only the changes shows depends on every frame before.
    if (description && description->partial_frames)
        std::printf("frames after %s draw only part of the screen: the set needs every frame, in order\n",
            frame_name(1).c_str());
    if (auto differing = frames_not_as_made(dir, description, geometry)) {
        std::vector<std::string> names;
        for (int n : *differing)
            names.push_back(frame_name(n));
        if (!names.empty())
            return fail("the screen is not as the set was made to leave it after " + name_list(names, 8));
        std::printf("the screen after each frame is as the set was made to leave it\n");
    }
    return 0;
}
