#include "commands/frame_commands.h"

#include "artwork/sample.h"
#include "commands/command_support.h"
#include "commands/set_view.h"
#include "core/schedule.h"
#include "lib/file_io.h"
#include "lib/staged_files.h"
#include "preview/png.h"

#include <cstdio>

namespace fs = std::filesystem;

Error write_sample(const std::string& out, const ScreenGeometry& geometry)
{
    StagedFiles staged(out);
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "spinner-%02d.png", n);
        std::vector<uint8_t> png;
        if (Error error = encode_png_rgb(geometry.width, geometry.height,
                render_sample_frame(n, geometry.width, geometry.height), &png))
            return within((fs::path(out) / name).string() + ": ", error);
        if (Error error = staged.add(name, png))
            return error;
    }
    if (Error error = staged.commit())
        return error;
    std::printf("%d sample images of %s in %s\n", FRAME_COUNT, geometry.size_text().c_str(), out.c_str());
    return {};
}
