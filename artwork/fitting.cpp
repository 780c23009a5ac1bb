// Fitting in linear light: the size a picture takes on the panel, and
// linear light back to 8-bit sRGB, every level exactly.
#include "artwork/artwork.h"

#include <algorithm>
#include <array>
#include <cmath>

std::optional<Fit> parse_fit(const std::string& text)
{
    if (text == "contain")
        return Fit::contain;
    if (text == "cover")
        return Fit::cover;
    if (text == "fill")
        return Fit::fill;
    if (text == "none")
        return Fit::none;
    return std::nullopt;
}

void fitted_size(
    uint32_t width, uint32_t height, const Fitting& fitting, uint32_t* out_width, uint32_t* out_height)
{
    double across = double(fitting.width) / width, down = double(fitting.height) / height;
    double scale = fitting.fit == Fit::contain ? std::min(across, down)
        : fitting.fit == Fit::cover            ? std::max(across, down)
                                               : 1;
    if (fitting.fit == Fit::fill) {
        *out_width = fitting.width;
        *out_height = fitting.height;
        return;
    }
    // Rounded as the resampler rounds; never below one pixel.
    *out_width = std::max<uint32_t>(1, uint32_t(std::lround(width * scale)));
    *out_height = std::max<uint32_t>(1, uint32_t(std::lround(height * scale)));
    // The side that decided the scale meets the panel exactly.
    if (fitting.fit == Fit::contain || fitting.fit == Fit::cover) {
        if (scale == across)
            *out_width = fitting.width;
        if (scale == down)
            *out_height = fitting.height;
    }
}

namespace {

float srgb_to_linear(float v)
{
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linear_to_srgb(float v)
{
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
}

// Linear light back to 8-bit sRGB through a table fine enough that every
// 8-bit level comes back as itself.
constexpr int LINEAR_STEPS = 65536;
const std::array<uint8_t, LINEAR_STEPS>& srgb_table()
{
    static const auto table = [] {
        std::array<uint8_t, LINEAR_STEPS> t {};
        for (int i = 0; i < LINEAR_STEPS; ++i)
            t[i] = uint8_t(std::lround(255 * linear_to_srgb(float(i) / (LINEAR_STEPS - 1))));
        return t;
    }();
    return table;
}

uint8_t to_level(float linear, const std::array<uint8_t, LINEAR_STEPS>& table)
{
    float clamped = std::clamp(linear, 0.0f, 1.0f);
    // Rounds as lround does (half away from zero), exactly: a float plus a
    // half is exact in a double, and it inlines where lround is a call.
    return table[size_t(double(clamped * (LINEAR_STEPS - 1)) + 0.5)]; // NOLINT(bugprone-incorrect-roundings)
}

} // namespace

std::vector<double> linear_background(Rgb colour)
{
    return { srgb_to_linear(colour.r / 255.0f), srgb_to_linear(colour.g / 255.0f),
        srgb_to_linear(colour.b / 255.0f) };
}

RgbaImage to_srgb(const LinearPicture& picture, float weight, Rgb background)
{
    const auto& table = srgb_table();
    std::vector<double> under = linear_background(background);
    RgbaImage image;
    image.width = picture.width;
    image.height = picture.height;
    size_t pixels = size_t(picture.width) * picture.height;
    image.rgba.resize(pixels * 4);
    if (!picture.srgb.empty()) {
        static const auto linear_of = [] {
            std::array<float, 256> levels {};
            for (int level = 0; level < 256; ++level)
                levels[size_t(level)] = srgb_to_linear(float(level) / 255);
            return levels;
        }();
        for (size_t i = 0; i < pixels; ++i) {
            for (int c = 0; c < 3; ++c) {
                uint8_t level = picture.srgb[i * 3 + c];
                image.rgba[i * 4 + c] = weight == 1
                    ? level
                    : to_level(linear_of[level] * weight + float(under[c]) * (1 - weight), table);
            }
            image.rgba[i * 4 + 3] = 255;
        }
        return image;
    }
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            float v = picture.rgb[i * 3 + c];
            if (weight != 1)
                v = v * weight + float(under[c]) * (1 - weight);
            image.rgba[i * 4 + c] = to_level(v, table);
        }
        image.rgba[i * 4 + 3] = 255;
    }
    return image;
}

Error source_size_allowed(uint32_t width, uint32_t height)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width > MAX_SCREEN_SIDE || height > MAX_SCREEN_SIDE)
        return input_error(
            size + " is over the limit of " + std::to_string(MAX_SCREEN_SIDE) + " pixels a side");
    if (uint64_t(width) * height > MAX_SOURCE_PIXELS)
        return input_error(size + " is over the limit of " + std::to_string(MAX_SOURCE_PIXELS) + " pixels");
    return {};
}
