#include "artwork/sample.h"

#include "core/schedule.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct Colour {
    float r, g, b;
};

Colour mix(Colour a, Colour b, float t)
{
    return { a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t };
}

uint8_t channel(float v)
{
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 255.0f)));
}

} // namespace

std::vector<uint8_t> render_sample_frame(int n, uint32_t width, uint32_t height)
{
    constexpr Colour background { 16, 24, 32 }, dim { 48, 56, 64 }, bright { 255, 160, 32 },
        bar { 90, 200, 250 };
    constexpr int dots = 12;
    const float pi = std::numbers::pi_v<float>;
    const float cx = width / 2.0f, cy = height * 0.45f;
    const float ring = std::min(width, height) * 0.25f, dot = ring * 0.2f;
    const float head = float(n % FRAME_COUNT) / FRAME_COUNT; // in turns
    const float bar_top = height * 0.85f, bar_bottom = bar_top + std::max(2.0f, height * 0.03f);
    const float bar_left = width * 0.1f, bar_end = bar_left + width * 0.8f * n / FRAME_COUNT;

    float dot_x[dots], dot_y[dots];
    Colour dot_colour[dots];
    for (int i = 0; i < dots; ++i) {
        dot_x[i] = cx + ring * std::sin(2 * pi * i / dots);
        dot_y[i] = cy - ring * std::cos(2 * pi * i / dots);
        // Dots glow as the head passes and fade behind it.
        float behind = head - float(i) / dots;
        dot_colour[i] = mix(bright, dim, behind < 0 ? behind + 1 : behind);
    }

    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            Colour c = background;
            for (int i = 0; i < dots; ++i) {
                float dx = px - dot_x[i], dy = py - dot_y[i];
                if (std::abs(dx) > dot + 1 || std::abs(dy) > dot + 1)
                    continue;
                float distance = std::hypot(dx, dy);
                float coverage = std::clamp(dot - distance + 0.5f, 0.0f, 1.0f);
                if (coverage > 0)
                    c = mix(c, dot_colour[i], coverage);
            }
            if (py >= bar_top && py < bar_bottom && px >= bar_left)
                c = mix(c, bar, std::clamp(bar_end - x, 0.0f, 1.0f));
            uint8_t* out = &rgb[(size_t(y) * width + x) * 3];
            out[0] = channel(c.r), out[1] = channel(c.g), out[2] = channel(c.b);
        }
    return rgb;
}
