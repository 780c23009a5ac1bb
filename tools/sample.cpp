#include "sample.h"

#include "rle565.h"

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
    return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

} // namespace

std::vector<uint16_t> render_sample_frame(int n, uint32_t width, uint32_t height)
{
    constexpr Colour background { 16, 24, 32 }, dim { 48, 56, 64 }, bright { 255, 160, 32 },
        bar { 90, 200, 250 };
    constexpr int dots = 12;
    const float pi = std::numbers::pi_v<float>;
    const float cx = width / 2.0f, cy = height * 0.45f;
    const float ring = std::min(width, height) * 0.25f, dot = ring * 0.2f;
    const float head = float(n % SAMPLE_FRAMES) / SAMPLE_FRAMES; // in turns
    const float bar_top = height * 0.85f, bar_bottom = bar_top + std::max(2.0f, height * 0.03f);
    const float bar_left = width * 0.1f, bar_end = bar_left + width * 0.8f * n / SAMPLE_FRAMES;

    std::vector<uint16_t> pixels(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            Colour c = background;
            for (int i = 0; i < dots; ++i) {
                float angle = 2 * pi * i / dots;
                float distance
                    = std::hypot(px - (cx + ring * std::sin(angle)), py - (cy - ring * std::cos(angle)));
                float coverage = std::clamp(dot - distance + 0.5f, 0.0f, 1.0f);
                if (coverage > 0) {
                    // Dots glow as the head passes and fade behind it.
                    float behind = head - float(i) / dots;
                    behind += behind < 0 ? 1 : 0;
                    c = mix(c, mix(bright, dim, behind), coverage);
                }
            }
            if (py >= bar_top && py < bar_bottom && px >= bar_left)
                c = mix(c, bar, std::clamp(bar_end - x, 0.0f, 1.0f));
            pixels[size_t(y) * width + x] = rgb565(channel(c.r), channel(c.g), channel(c.b));
        }
    return pixels;
}
