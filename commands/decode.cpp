#include "commands/frame_commands.h"

#include "commands/command_support.h"
#include "commands/set_view.h"
#include "frames/panel_view.h"
#include "lib/file_io.h"
#include "preview/png.h"

#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;

Error decode_frame_file(const ViewOptions& options)
{
    fs::path input = options.input;
    Error unreadable;
    if (int fd = open_regular_file(input, &unreadable); fd < 0)
        return unreadable;
    else
        (void)close(fd);
    ScreenGeometry geometry;
    std::optional<SetDescription> description;
    if (Error error = screen_for(
            input.parent_path(), options.screen, options.listed, Depth::needed, &geometry, &description))
        return error;
    print_panel_caveats(geometry, description);
    if (same_file(options.out, input) || (!options.base.empty() && same_file(options.out, options.base)))
        return input_error(options.out + ": is an input; give another --out");
    std::vector<uint8_t> screen;
    if (Error error = initial_screen(options.base, geometry, &screen))
        return error;
    FrameReport report = draw_frame_file(input, geometry, &screen);
    if (report.status == FrameReport::missing || report.status == FrameReport::unreadable
        || report.status == FrameReport::not_regular || report.status == FrameReport::directory)
        return report.error;
    if (Error error = write_png_rgb(
            options.out, geometry.upright_width(), geometry.upright_height(), upright_rgb(screen, geometry)))
        return error;
    std::printf("%s: %u records, %s%s\n", input.c_str(), report.records,
        describe_coverage(report, geometry).c_str(), rotation_text(geometry, true).c_str());
    return {};
}
