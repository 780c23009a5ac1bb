// The preview's pictures, the contact sheet and the animated WebP, on screen
// sizes chosen by the input: the first two bytes give the width (1 to 16384),
// the next two the height (1 to 16384, capped so that the area stays small
// enough to fuzz quickly) and the turn of the panel; the rest fills the
// screens' memory.
#include "preview/animation.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    constexpr size_t MAX_AREA = size_t(1) << 18, MAX_ANIMATED_AREA = size_t(1) << 12;
    uint32_t width = 1 + (data[0] | data[1] << 8) % 16384, height = 1 + (data[2] | data[3] << 8) % 16384;
    height = uint32_t(std::max<size_t>(1, std::min<size_t>(height, MAX_AREA / width)));
    const uint8_t* fill = data + 4;
    size_t fill_size = size - 4;
    // The memory of a 32 bpp panel; the view is turned by the fourth byte.
    ScreenGeometry panel { width, height, 32, width * 4 };
    panel.rotate = data[3] % 4 * 90;
    std::vector<uint8_t> memory(panel.memory_bytes());
    UprightView view(panel);
    ContactSheet sheet(view.width(), view.height(), 3);
    bool animated = size_t(width) * height <= MAX_ANIMATED_AREA;
    std::FILE* stream = animated ? std::tmpfile() : nullptr;
    AnimationWriter animation(stream, view.width(), view.height());
    for (int frame = 0; frame < 3; ++frame) {
        for (size_t i = 0; i < memory.size(); ++i)
            memory[i] = uint8_t(fill[(i + size_t(frame) * 7) % fill_size] + frame);
        animation.release_view();
        sheet.add(view.show(memory), FrameOutcome(frame));
        if (animated && animation.add(view))
            abort();
    }
    std::vector<uint8_t> png;
    if (sheet.finish(&png) || png.empty())
        abort();
    if (animated && (animation.finish() || std::ftell(stream) <= 0))
        abort();
    if (stream)
        std::fclose(stream);
    return 0;
}
