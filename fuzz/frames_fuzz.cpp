// What `pelimora-frames decode`, `preview` and `check` do with a frame file,
// on arbitrary bytes: the first four choose the screen, the rest is the file.
// The report must add up and the picture must come out whole.
#include "frames/panel_view.h"
#include "frames/replay.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    ScreenGeometry geometry { 1u + data[0] % 64, 1u + data[1] % 64, data[2] & 1 ? 32u : 16u };
    std::vector<uint8_t> file(data + 4, data + size), screen(geometry.bytes(), data[3]);
    FrameReport report = draw_frame(file, geometry, &screen);
    bool consistent = report.file_bytes == file.size() && report.drawn_records <= report.records
        && report.zero_records <= report.records && report.pixels_covered <= geometry.pixels()
        && uint64_t(report.records) * 4 + report.trailing_bytes == file.size()
        && (report.status == FrameReport::empty) == file.empty() && screen.size() == geometry.bytes()
        && screen_to_rgb(screen, geometry.depth()).size() == geometry.pixels() * 3;
    if (!consistent)
        abort();
    return 0;
}
