#include "tests/board/board_art.h"

#include "artwork/sample.h"
#include "commands/encode.h"
#include "core/decode.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/temp_dir.h"
#include "preview/png.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Frame n covers the screen from its first pixel up to band FRAME_COUNT - n,
// ending a little short of the band's end: band k ends up showing frame
// FRAME_COUNT - k, which proves all frames were drawn in order, and the ragged ends show the
// leftovers of the frame before. Each frame has a hue of its own, shaded run
// by run, with short runs of random colours: every alignment and every bit of
// every channel gets exercised.
uint16_t frame_hue(int n, uint32_t shade)
{
    float hue = float(n * 17 % FRAME_COUNT) / FRAME_COUNT * 6, f = hue - int(hue);
    float v = 0.6f + 0.4f * (shade % 64) / 63, p = v * 0.2f, q = v * (1 - 0.8f * f),
          t = v * (0.2f + 0.8f * f);
    float rgb[6][3] = { { v, t, p }, { q, v, p }, { p, v, t }, { p, q, v }, { t, p, v }, { v, p, q } };
    const float* c = rgb[int(hue) % 6];
    return rgb565(uint8_t(c[0] * 255), uint8_t(c[1] * 255), uint8_t(c[2] * 255));
}

} // namespace

// The pixels frame n covers.
uint32_t frame_pixels(int n)
{
    return (FRAME_COUNT + 1 - n) * BAND - (n - 1) * 13;
}

Frame board_frame(int n)
{
    uint32_t length = frame_pixels(n);
    std::vector<uint16_t> pixels;
    uint32_t state = 2654435761u * n;
    while (pixels.size() < length) {
        state = state * 1664525 + 1013904223;
        bool speckle = (state >> 28) == 0;
        uint32_t run = speckle ? 1 + (state >> 8) % 4 : 1 + (state >> 8) % 300;
        uint16_t colour = speckle ? uint16_t(state >> 12) : frame_hue(n, state >> 20);
        pixels.insert(pixels.end(), std::min<size_t>(run, length - pixels.size()), colour);
    }
    return encode_rle565(pixels);
}

std::vector<Frame> board_frames()
{
    std::vector<Frame> frames;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        frames.push_back(board_frame(n));
    return frames;
}

fs::path board_bundle(bool other)
{
    static TempDir scratch("pelimora-board-bundle");
    fs::path bundle = scratch / (other ? "other" : "line");
    if (fs::exists(bundle / "index.json"))
        return bundle;
    const fs::path art = scratch / "art";
    if (!fs::exists(art)) {
        fs::create_directories(art);
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "spinner-%02d.png", n);
            EXPECT_OK(write_png_rgb(art / name, WIDTH, HEIGHT, render_sample_frame(n, WIDTH, HEIGHT)));
        }
    }
    EncodeOptions options;
    options.inputs = { art.string() };
    options.out = bundle.string();
    options.quiet = true;
    // A folder of panel files, as --panels takes them: one bundle, however few.
    const fs::path panels = scratch / (other ? "other-panels" : "line-panels");
    fs::create_directories(panels);
    for (const char* name : other
            ? std::vector<const char*> { "RGB565" }
            : std::vector<const char*> { "RGB565", "XRGB8888", "ARGB8888", "XBGR8888", "ABGR8888" }) {
        const PixelFormat* format = find_format(name);
        std::ofstream(panels / (std::string(name) + ".json"))
            << "{\"xres\": " << (other ? 800 : WIDTH) << ", \"yres\": " << (other ? 600 : HEIGHT)
            << ", \"bits_per_pixel\": " << format->bits_per_pixel << ", \"format\": \"" << name << "\"}";
    }
    options.panels_dir = panels.string();
    EXPECT_OK(encode_frames(options));
    return bundle;
}

std::vector<Frame> read_set_frames(const fs::path& dir)
{
    std::vector<Frame> frames;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        std::ifstream in(dir / frame_name(n), std::ios::binary);
        frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return frames;
}
