// Artwork in: pictures, SVG, animations and video made here by libvips and
// FFmpeg, through `pelimora-frames encode` for a panel, and what the screens
// then show, frame by frame, through the player's own decoder.
#include "core/schedule.h"
#include "frames/panel_stream.h"
#include "frames/replay.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <vips/vips8>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// The test pictures are made with the library the tool reads them with
// (started here as it is: the tools' own start is in their readers' module).
const bool vips_started = VIPS_INIT("frames_tests") == 0;

const Rgb RED { 255, 0, 0 }, GREEN { 0, 255, 0 }, BLUE { 0, 0, 255 }, WHITE { 255, 255, 255 },
    MAGENTA { 255, 0, 255 }, BLACK {};

// What the screen shows, from the colour codes it holds.
struct Shown {
    uint32_t width = 0, height = 0;
    std::vector<uint16_t> codes;
    Rgb at(uint32_t x, uint32_t y) const
    {
        uint16_t c = codes.at(size_t(y) * width + x);
        auto widen = [](unsigned v, int bits) { return uint8_t(v << (8 - bits) | v >> (2 * bits - 8)); };
        return { widen(c >> 11, 5), widen(c >> 5 & 63, 6), widen(c & 31, 5) };
    }
};

// The screens after each frame of the set in `dir`.
std::vector<Shown> play(const fs::path& dir, uint32_t width, uint32_t height)
{
    std::vector<Shown> shown;
    ScreenGeometry screen { width, height, 16, width * 2, nullptr };
    play_directory(dir, screen, {}, true, [&](int, const FrameReport&, const std::vector<uint8_t>& memory) {
        Shown s { width, height, std::vector<uint16_t>(size_t(width) * height) };
        std::memcpy(s.codes.data(), memory.data(), s.codes.size() * 2);
        shown.push_back(std::move(s));
    });
    return shown;
}

// A still frame file's screen, drawn over black.
Shown draw(const fs::path& frame, uint32_t width, uint32_t height)
{
    ScreenGeometry screen { width, height, 16, width * 2, nullptr };
    std::vector<uint8_t> memory(screen.memory_bytes());
    draw_frame_file(frame, screen, &memory);
    Shown s { width, height, std::vector<uint16_t>(size_t(width) * height) };
    std::memcpy(s.codes.data(), memory.data(), s.codes.size() * 2);
    return s;
}

bool near(Rgb a, Rgb b, int tolerance = 8)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance
        && std::abs(a.b - b.b) <= tolerance;
}

std::string text(Rgb c)
{
    char shown[32];
    std::snprintf(shown, sizeof shown, "(%d,%d,%d)", c.r, c.g, c.b);
    return shown;
}

VImage solid(int width, int height, Rgb c)
{
    return (VImage::black(width, height, VImage::option()->set("bands", 3))
        + std::vector<double> { double(c.r), double(c.g), double(c.b) })
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// Bands of colours side by side (across) or one above the other.
VImage bands(int width, int height, const std::vector<Rgb>& colours, bool across)
{
    std::vector<VImage> parts;
    parts.reserve(colours.size());
    int n = int(colours.size());
    for (Rgb c : colours)
        parts.push_back(across ? solid(width / n, height, c) : solid(width, height / n, c));
    return VImage::arrayjoin(parts, VImage::option()->set("across", across ? n : 1));
}

// Pages of one colour each, with their delays, as an animated GIF or WebP.
void save_animation(
    const fs::path& path, int side, const std::vector<Rgb>& pages, const std::vector<int>& delays)
{
    VImage all = bands(side, side * int(pages.size()), pages, false).copy();
    all.set("page-height", side);
    all.set("delay", delays);
    all.set("loop", 0);
    all.write_to_file(path.c_str());
}

// Encodes and expects success.
ToolRun encode(const Scratch& scratch, std::vector<std::string> args)
{
    args.insert(args.begin(), "encode");
    ToolRun run = scratch.run("pelimora-frames", args);
    EXPECT_EQ(run.status, 0) << run.err;
    return run;
}

uint64_t set_bytes(const fs::path& dir)
{
    uint64_t total = 0;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        total += fs::file_size(dir / frame_name(n));
    return total;
}

TEST(Artwork, EachFitPutsThePictureWhereUsersExpect)
{
    Scratch scratch;
    // Thirds of red, green and blue: across a landscape picture, down a portrait one.
    bands(300, 100, { RED, GREEN, BLUE }, true).write_to_file((scratch / "wide.png").c_str());
    bands(100, 300, { RED, GREEN, BLUE }, false).write_to_file((scratch / "tall.png").c_str());
    struct Expect {
        uint32_t x, y;
        Rgb colour;
    };
    struct Case {
        const char* picture;
        const char* fit;
        uint32_t width, height;
        std::vector<Expect> expect;
    };
    const Case cases[] = {
        // 150x50 centred: background bands of 50 rows above and below.
        { .picture = "wide.png",
            .fit = "contain",
            .width = 150,
            .height = 150,
            .expect = { { 75, 0, MAGENTA }, { 75, 49, MAGENTA }, { 75, 50, GREEN }, { 10, 75, RED },
                { 140, 75, BLUE }, { 75, 99, GREEN }, { 75, 100, MAGENTA }, { 75, 149, MAGENTA } } },
        // 450x150, the middle 150 columns kept: the red and blue edges cropped.
        { .picture = "wide.png",
            .fit = "cover",
            .width = 150,
            .height = 150,
            .expect = { { 2, 0, GREEN }, { 75, 75, GREEN }, { 147, 149, GREEN } } },
        { .picture = "wide.png",
            .fit = "fill",
            .width = 150,
            .height = 150,
            .expect = { { 10, 0, RED }, { 75, 75, GREEN }, { 140, 149, BLUE } } },
        // Pixels as they are: columns 75-224 of the picture, on rows 25-124.
        { .picture = "wide.png",
            .fit = "none",
            .width = 150,
            .height = 150,
            .expect = { { 0, 24, MAGENTA }, { 0, 25, RED }, { 24, 75, RED }, { 25, 75, GREEN },
                { 124, 124, GREEN }, { 125, 75, BLUE }, { 75, 125, MAGENTA } } },
        // Portrait art on a landscape panel: 50x150 in the middle, bands either side.
        { .picture = "tall.png",
            .fit = "contain",
            .width = 300,
            .height = 150,
            .expect = { { 124, 75, MAGENTA }, { 125, 75, GREEN }, { 150, 10, RED }, { 150, 140, BLUE },
                { 174, 75, GREEN }, { 175, 75, MAGENTA } } },
        // Landscape art on a portrait panel, filled: 150 of 300 columns kept.
        { .picture = "wide.png",
            .fit = "cover",
            .width = 100,
            .height = 300,
            .expect = { { 50, 0, GREEN }, { 50, 299, GREEN } } },
    };
    for (const Case& c : cases) {
        std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        encode(scratch,
            { scratch / c.picture, "--size", size, "--fit", c.fit, "--background", "FF00FF", "-o",
                scratch / "f.rle" });
        Shown shown = draw(scratch / "f.rle", c.width, c.height);
        for (const Expect& e : c.expect)
            EXPECT_TRUE(near(shown.at(e.x, e.y), e.colour))
                << c.picture << " " << c.fit << " on " << size << " at " << e.x << "," << e.y << ": "
                << text(shown.at(e.x, e.y)) << " not " << text(e.colour);
    }
}

TEST(Artwork, SvgIsDrawnAtThePanelsResolution)
{
    Scratch scratch;
    std::ofstream(scratch / "logo.svg")
        << R"(<svg xmlns="http://www.w3.org/2000/svg" width="100" height="50" viewBox="0 0 100 50">)"
        << R"(<rect width="100" height="50" fill="#f00"/><rect x="25" y="10" width="50" height="30" fill="#00f"/>)"
        << "</svg>";
    // Four times its size: 400x200, on rows 100-299; the blue rectangle on
    // rows 140-259 and columns 100-299, its edges sharp.
    encode(scratch, { scratch / "logo.svg", "--size", "400x400", "-o", scratch / "logo.rle" });
    Shown shown = draw(scratch / "logo.rle", 400, 400);
    const std::pair<std::pair<uint32_t, uint32_t>, Rgb> expect[]
        = { { { 200, 99 }, BLACK }, { { 200, 100 }, RED }, { { 200, 139 }, RED }, { { 200, 140 }, BLUE },
              { { 200, 259 }, BLUE }, { { 200, 260 }, RED }, { { 99, 200 }, RED }, { { 100, 200 }, BLUE },
              { { 299, 200 }, BLUE }, { { 300, 200 }, RED }, { { 200, 299 }, RED }, { { 200, 300 }, BLACK } };
    for (auto [at, colour] : expect)
        EXPECT_TRUE(near(shown.at(at.first, at.second), colour, 0))
            << at.first << "," << at.second << ": " << text(shown.at(at.first, at.second));
}

TEST(Artwork, AnimationFramesAndDelaysMapToTheSchedule)
{
    Scratch scratch;
    for (const char* name : { "anim.gif", "anim.webp", "anim.apng" }) {
        // Red for 50 ms, green for 100, blue for 50: sampled every 20 ms from
        // 0, frames 1-3 are red, 4-8 green, 9-10 blue, and the rest hold.
        // The APNG (read by FFmpeg, not libvips) is the GIF made over.
        if (std::string(name) == "anim.apng")
            ASSERT_EQ(
                make_clip(scratch / name, { "-i", scratch / "anim.gif", "-plays", "0", "-f", "apng" }), "");
        else
            save_animation(scratch / name, 16, { RED, GREEN, BLUE }, { 50, 100, 50 });
        // FFmpeg's APNG writer gives the last frame 100 ms: it ends at 250 ms.
        const int last_shown = std::string(name) == "anim.apng" ? 13 : 10;
        ToolRun run = encode(scratch, { scratch / name, "--size", "16x16", "-o", scratch / "set" });
        std::vector<Shown> screens = play(scratch / "set", 16, 16);
        ASSERT_EQ(screens.size(), size_t(FRAME_COUNT));
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            Rgb want = n <= 3 ? RED : n <= 8 ? GREEN : BLUE;
            EXPECT_TRUE(near(screens[size_t(n - 1)].at(8, 8), want, 0))
                << name << " " << frame_name(n) << ": " << text(screens[size_t(n - 1)].at(8, 8));
            if (n > last_shown) {
                EXPECT_EQ(fs::file_size(scratch / "set" / frame_name(n)), 1u) << name << " " << n;
            }
        }
        EXPECT_NE(run.out.find(frame_name(4) + "   <- " + name + " 0.050 s (frame 2)"), std::string::npos)
            << run.out;
        EXPECT_NE(run.err.find(frame_name(last_shown + 1) + " to " + frame_name(FRAME_COUNT) + " hold"),
            std::string::npos)
            << run.err;

        // Looped, the frame after its end starts it again.
        encode(scratch, { scratch / name, "--size", "16x16", "--loop", "-o", scratch / "looped" });
        screens = play(scratch / "looped", 16, 16);
        EXPECT_TRUE(near(screens[size_t(last_shown)].at(8, 8), RED, 0)) << name;
        EXPECT_TRUE(near(screens[size_t(last_shown) + 3].at(8, 8), GREEN, 0)) << name;
    }
}

TEST(Artwork, VideoIsSampledAtThePlayersPace)
{
    Scratch scratch;
    // 50 frames a second; the colour changes every 100 ms: red, green, blue, white.
    std::string graph;
    const char* colours[] = { "red", "lime", "blue", "white" };
    for (int i = 0; i < 4; ++i) {
        char source[64];
        std::snprintf(source, sizeof source, "color=c=%s:s=64x48:r=50:d=0.1[c%d];", colours[i], i);
        graph += source;
    }
    graph += "[c0][c1][c2][c3]concat=n=4,format=yuv420p[out0]";
    const std::vector<Rgb> sequence = { RED, GREEN, BLUE, WHITE };
    const std::pair<const char*, std::vector<std::string>> clips[] = {
        { "clip.mp4", { "-c:v", "libx264", "-qp", "0" } },
        { "clip.webm", { "-c:v", "libvpx-vp9", "-lossless", "1" } },
        { "clip.mkv", { "-c:v", "ffv1" } },
    };
    auto dominant = [](Rgb c) {
        return c.r > 200 && c.g > 200 && c.b > 200 ? WHITE
            : c.r > 200                            ? RED
            : c.g > 200                            ? GREEN
            : c.b > 200                            ? BLUE
                                                   : BLACK;
    };
    for (const auto& [name, codec] : clips) {
        std::vector<std::string> args = { "-f", "lavfi", "-i", graph };
        args.insert(args.end(), codec.begin(), codec.end());
        ASSERT_EQ(make_clip(scratch / name, args), "");
        struct Sampling {
            std::vector<std::string> flags;
            std::function<int(int)> colour_of; // frame n to the colour shown, -1 when held
        };
        const Sampling samplings[] = {
            { .flags = {},
                .colour_of = [](int n) { return n <= 20 ? (n - 1) / 5 : -1; } }, // every 20 ms from 0
            { .flags = { "--spread" },
                .colour_of = [](int n) { return (n - 1) / 10; } }, // 40 over the 400 ms
            { .flags = { "--start", "0.25", "--every", "50" },
                .colour_of = [](int n) { return n <= 3 ? 2 + (n > 1) : -1; } },
        };
        for (const Sampling& sampling : samplings) {
            std::vector<std::string> encode_args
                = { scratch / name, "--size", "64x48", "-o", scratch / "set" };
            encode_args.insert(encode_args.end(), sampling.flags.begin(), sampling.flags.end());
            encode(scratch, encode_args);
            std::vector<Shown> screens = play(scratch / "set", 64, 48);
            ASSERT_EQ(screens.size(), size_t(FRAME_COUNT));
            Rgb last = BLACK;
            for (int n = 1; n <= FRAME_COUNT; ++n) {
                int index = sampling.colour_of(n);
                Rgb want = index < 0 ? last : sequence[size_t(index)];
                EXPECT_EQ(text(dominant(screens[size_t(n - 1)].at(32, 24))), text(want))
                    << name << " " << (sampling.flags.empty() ? "" : sampling.flags[0]) << " "
                    << frame_name(n);
                if (index < 0) {
                    EXPECT_EQ(fs::file_size(scratch / "set" / frame_name(n)), 1u);
                }
                last = want;
            }
        }
    }
}

TEST(Artwork, OneLogoHeldOrFadedIn)
{
    Scratch scratch;
    solid(32, 32, WHITE).write_to_file((scratch / "logo.png").c_str());
    encode(scratch,
        { scratch / "logo.png", "--size", "64x64", "--fit", "none", "--hold", "-o", scratch / "held" });
    std::vector<Shown> screens = play(scratch / "held", 64, 64);
    ASSERT_EQ(screens.size(), size_t(FRAME_COUNT));
    EXPECT_TRUE(near(screens[0].at(32, 32), WHITE, 0));
    EXPECT_TRUE(near(screens[0].at(0, 0), BLACK, 0));
    for (int n = 2; n <= FRAME_COUNT; ++n) {
        EXPECT_EQ(fs::file_size(scratch / "held" / frame_name(n)), 1u);
        EXPECT_EQ(screens[size_t(n - 1)].codes, screens[0].codes);
    }

    // From black to white in linear light: half the light halfway, which
    // sRGB shows as 188, not 128.
    encode(scratch,
        { scratch / "logo.png", "--size", "64x64", "--fit", "none", "--fade-in", "-o", scratch / "faded" });
    screens = play(scratch / "faded", 64, 64);
    int previous = -1;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        Rgb c = screens[size_t(n - 1)].at(32, 32);
        EXPECT_GE(c.g, previous) << frame_name(n);
        previous = c.g;
        EXPECT_TRUE(near(screens[size_t(n - 1)].at(0, 0), BLACK, 0));
    }
    EXPECT_TRUE(near(screens[FRAME_COUNT / 2 - 1].at(32, 32), { 188, 188, 188 }))
        << text(screens[19].at(32, 32));
    EXPECT_TRUE(near(screens[FRAME_COUNT - 1].at(32, 32), WHITE, 0));
}

TEST(Artwork, TrimWritesFewerBytesForTheSameScreens)
{
    Scratch scratch;
    // A small logo faded in on a large panel: each frame changes only the logo.
    bands(40, 40, { RED, BLUE }, false).write_to_file((scratch / "logo.png").c_str());
    encode(scratch,
        { scratch / "logo.png", "--size", "200x200", "--fit", "none", "--fade-in", "-o", scratch / "whole" });
    ToolRun trimmed = encode(scratch,
        { scratch / "logo.png", "--size", "200x200", "--fit", "none", "--fade-in", "--trim", "-o",
            scratch / "trim" });
    std::vector<Shown> whole = play(scratch / "whole", 200, 200), trim = play(scratch / "trim", 200, 200);
    ASSERT_EQ(whole.size(), trim.size());
    for (size_t i = 0; i < whole.size(); ++i)
        EXPECT_EQ(whole[i].codes, trim[i].codes) << frame_name(int(i + 1));
    EXPECT_LT(set_bytes(scratch / "trim"), set_bytes(scratch / "whole"));
    // The report: what the device writes, trimmed and not. Frame 1 is whole
    // (200 x 200 x 2 bytes at 16 bpp); the logo ends on row 119.
    EXPECT_NE(trimmed.out.find("screen memory written for the 40 frames:"), std::string::npos) << trimmed.out;
    ToolRun depth = encode(scratch,
        { scratch / "logo.png", "--size", "200x200", "--depth", "16", "--fit", "none", "--fade-in", "--trim",
            "-o", scratch / "trim16" });
    EXPECT_NE(depth.out.find("writes 80000 B (untrimmed 80000 B)"), std::string::npos) << depth.out;
    EXPECT_NE(depth.out.find("writes " + std::to_string((119 * 200 + 120) * 2) + " B (untrimmed 80000 B)"),
        std::string::npos)
        << depth.out;

    // check and preview judge a trimmed set by the screens it leaves.
    ToolRun check = scratch.run("pelimora-frames", { "check", scratch / "trim" });
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("the set needs every frame, in order"), std::string::npos) << check.out;
    ToolRun preview = scratch.run(
        "pelimora-frames", { "preview", scratch / "trim", "--depth", "16", "-o", scratch / "p" });
    EXPECT_EQ(preview.status, 0) << preview.err;
    EXPECT_NE(preview.out.find("as the set was made to leave it"), std::string::npos) << preview.out;
    // A frame lost: the screens after it are not what was meant.
    std::ofstream(scratch / "trim" / frame_name(5), std::ios::trunc) << "x";
    check = scratch.run("pelimora-frames", { "check", scratch / "trim" });
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find(frame_name(5)
                  + "          0        0         1  nothing, keeping the rest; screen NOT as intended"),
        std::string::npos)
        << check.out;
    preview = scratch.run(
        "pelimora-frames", { "preview", scratch / "trim", "--depth", "16", "-o", scratch / "p2" });
    EXPECT_EQ(preview.status, 1);
    EXPECT_NE(
        preview.err.find("not as the set was made to leave it after " + frame_name(5)), std::string::npos)
        << preview.err;
}

// Linear light as the sRGB curve defines it, from a screen's 8-bit value.
double linear(uint8_t v)
{
    double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

TEST(Artwork, ThinLinesNeitherVanishNorRing)
{
    Scratch scratch;
    // A one-pixel white line on grey, made four times smaller.
    VImage picture = solid(64, 64, { 128, 128, 128 });
    picture = picture.insert(solid(1, 64, WHITE), 30, 0);
    picture.write_to_file((scratch / "line.png").c_str());
    encode(scratch, { scratch / "line.png", "--size", "16x16", "-o", scratch / "line.rle" });
    Shown shown = draw(scratch / "line.rle", 16, 16);
    Rgb grey = shown.at(0, 0);
    for (uint32_t y = 0; y < 16; ++y) {
        double added = 0;
        for (uint32_t x = 0; x < 16; ++x) {
            Rgb c = shown.at(x, y);
            // No dark halo beside the line.
            EXPECT_GE(c.g, grey.g) << x << "," << y;
            added += linear(c.g) - linear(grey.g);
        }
        // The line's light is kept: a quarter of its width at full brightness.
        EXPECT_NEAR(added, (1 - linear(128)) / 4, 0.05) << "row " << y;
    }
}

TEST(Artwork, OrientationAndColourProfilesAreHonoured)
{
    Scratch scratch;
    // Stored on its side, with the tag that turns it upright: red on top.
    VImage side = bands(40, 20, { RED, BLUE }, true).copy();
    side.set("orientation", 6);
    side.write_to_file((scratch / "side.jpg").c_str(), VImage::option()->set("Q", 95));
    encode(scratch, { scratch / "side.jpg", "--size", "20x40", "-o", scratch / "side.rle" });
    Shown shown = draw(scratch / "side.rle", 20, 40);
    EXPECT_TRUE(near(shown.at(10, 5), RED, 24)) << text(shown.at(10, 5));
    EXPECT_TRUE(near(shown.at(10, 35), BLUE, 24)) << text(shown.at(10, 35));
    // Its own size is the upright one, for a frame and for a base picture alike.
    encode(scratch, { scratch / "side.jpg", "--fit", "none", "-o", scratch / "own.rle" });
    shown = draw(scratch / "own.rle", 20, 40);
    EXPECT_TRUE(near(shown.at(10, 5), RED, 24)) << text(shown.at(10, 5));
    EXPECT_TRUE(near(shown.at(10, 35), BLUE, 24)) << text(shown.at(10, 35));
    ToolRun based = scratch.run("pelimora-frames",
        { "decode", scratch / "own.rle", "--size", "20x40", "--depth", "16", "--base", scratch / "side.jpg",
            "-o", scratch / "own.png" });
    EXPECT_EQ(based.status, 0) << based.err;

    // Red in a Display P3 picture, whose numbers for it are not 255, 0, 0.
    solid(16, 16, RED)
        .icc_transform("p3", VImage::option()->set("input_profile", "srgb"))
        .write_to_file((scratch / "p3.png").c_str());
    encode(scratch, { scratch / "p3.png", "-o", scratch / "p3.rle" });
    shown = draw(scratch / "p3.rle", 16, 16);
    EXPECT_TRUE(near(shown.at(8, 8), RED, 12)) << text(shown.at(8, 8));
}

} // namespace
