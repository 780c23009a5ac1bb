// pelimora-frames and pelimora-vfb, run as a user runs them.
#include "artwork/still.h"
#include "core/decode.h"
#include "core/schedule.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"
#include "frames/replay.h"
#include "frames/rle565.h"
#include "lib/file_io.h"
#include "tests/support/expect_ok.h"
#include "tests/support/frame_dir.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"
#include "tests/support/webp_frames.h"
#include "vfb/runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <map>
#include <png.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A test picture in 8-bit RGBA with every kind of pixel the colour types can carry.
RgbaImage test_picture(uint32_t width, uint32_t height, bool grey, bool alpha)
{
    RgbaImage image { width, height, std::vector<uint8_t>(size_t(width) * height * 4) };
    for (uint32_t i = 0; i < width * height; ++i) {
        uint8_t* p = &image.rgba[i * 4];
        p[0] = uint8_t(i * 37), p[1] = uint8_t(i * 11 + 5), p[2] = uint8_t(i * 73 + 100);
        if (grey)
            p[1] = p[2] = p[0];
        p[3] = alpha ? uint8_t(i * 29) : 255;
    }
    return image;
}

// Writes `image` as a PNG of the given colour type and depth with libpng's full API.
void write_png(const fs::path& path, const RgbaImage& image, int colour_type, int depth)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_EQ(setjmp(png_jmpbuf(png)), 0);
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, depth, colour_type, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    std::vector<png_byte> transparency;
    std::vector<std::vector<uint8_t>> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgba[(size_t(y) * image.width + x) * 4];
            std::vector<uint8_t> channels;
            if (colour_type == PNG_COLOR_TYPE_PALETTE) {
                channels.push_back(uint8_t(palette.size()));
                palette.push_back({ p[0], p[1], p[2] });
                transparency.push_back(p[3]);
            } else if (colour_type & PNG_COLOR_MASK_COLOR) {
                channels = { p[0], p[1], p[2] };
            } else {
                channels = { p[0] };
            }
            if (colour_type & PNG_COLOR_MASK_ALPHA)
                channels.push_back(p[3]);
            for (uint8_t c : channels) {
                rows[y].push_back(c);
                if (depth == 16)
                    rows[y].push_back(c); // v * 257: scales back to exactly v
            }
        }
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
    }
    png_write_info(png, info);
    for (auto& row : rows)
        png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// What a 16-bit screen holding `image` shows: composited over black in
// linear light, by the sRGB curve itself.
std::vector<uint8_t> rounded_rgb(const RgbaImage& image)
{
    RgbaImage over_black = image;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        double alpha = image.rgba[i + 3] / 255.0;
        for (size_t c = 0; c < 3; ++c) {
            double v = image.rgba[i + c] / 255.0;
            double linear = (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * alpha;
            double back = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            over_black.rgba[i + c] = uint8_t(std::lround(255 * back));
        }
        over_black.rgba[i + 3] = 255;
    }
    std::vector<uint8_t> screen;
    for (uint16_t pixel : image_to_rgb565(over_black, {}, false))
        screen.insert(screen.end(), { uint8_t(pixel), uint8_t(pixel >> 8) });
    return screen_to_rgb(screen, 16);
}

TEST(FrameTools, EveryPngColourTypeRoundTripsToRgb565)
{
    struct Kind {
        const char* name;
        int colour_type, depth;
        bool grey, alpha;
    };
    const Kind kinds[] = {
        { .name = "grey8", .colour_type = PNG_COLOR_TYPE_GRAY, .depth = 8, .grey = true, .alpha = false },
        { .name = "grey16", .colour_type = PNG_COLOR_TYPE_GRAY, .depth = 16, .grey = true, .alpha = false },
        { .name = "grey-alpha8",
            .colour_type = PNG_COLOR_TYPE_GRAY_ALPHA,
            .depth = 8,
            .grey = true,
            .alpha = true },
        { .name = "grey-alpha16",
            .colour_type = PNG_COLOR_TYPE_GRAY_ALPHA,
            .depth = 16,
            .grey = true,
            .alpha = true },
        { .name = "palette",
            .colour_type = PNG_COLOR_TYPE_PALETTE,
            .depth = 8,
            .grey = false,
            .alpha = true },
        { .name = "rgb8", .colour_type = PNG_COLOR_TYPE_RGB, .depth = 8, .grey = false, .alpha = false },
        { .name = "rgb16", .colour_type = PNG_COLOR_TYPE_RGB, .depth = 16, .grey = false, .alpha = false },
        { .name = "rgba8",
            .colour_type = PNG_COLOR_TYPE_RGB_ALPHA,
            .depth = 8,
            .grey = false,
            .alpha = true },
        { .name = "rgba16",
            .colour_type = PNG_COLOR_TYPE_RGB_ALPHA,
            .depth = 16,
            .grey = false,
            .alpha = true },
    };
    Scratch scratch;
    for (const Kind& kind : kinds) {
        RgbaImage image = test_picture(16, 12, kind.grey, kind.alpha); // 192 pixels: fits a palette
        fs::path png = scratch / (std::string(kind.name) + ".png");
        write_png(png, image, kind.colour_type, kind.depth);
        ToolRun encoded = scratch.run("pelimora-frames", { "encode", png });
        ASSERT_EQ(encoded.status, 0) << kind.name << encoded.err;
        ToolRun decoded = scratch.run("pelimora-frames",
            { "decode", scratch / (std::string(kind.name) + ".rle"), "--size", "16x12", "--depth", "16", "-o",
                scratch / "decoded.png" });
        ASSERT_EQ(decoded.status, 0) << kind.name << decoded.err;
        RgbaImage back;
        ASSERT_OK(read_picture(scratch / "decoded.png", 0, 0, &back));
        std::vector<uint8_t> rgb;
        for (size_t i = 0; i < back.rgba.size(); i += 4)
            rgb.insert(rgb.end(), { back.rgba[i], back.rgba[i + 1], back.rgba[i + 2] });
        // Within one level of the panel's precision: the tool rounds linear
        // light through a table, the reference through the curve.
        std::vector<uint8_t> expected = rounded_rgb(image);
        ASSERT_EQ(rgb.size(), expected.size());
        for (size_t i = 0; i < rgb.size(); ++i)
            ASSERT_LE(std::abs(int(rgb[i]) - int(expected[i])), i % 3 == 1 ? 4 : 8)
                << kind.name << " pixel " << i / 3 << " channel " << i % 3;
    }
}

TEST(FrameTools, EncodeMergesRunsAndFollowsNaturalOrder)
{
    Scratch scratch;
    fs::create_directory(scratch / "art");
    // 2 before 10: the digits count as numbers. Each image is one colour.
    const std::pair<const char*, uint8_t> images[]
        = { { "f10.png", 30 }, { "f2.png", 20 }, { "f1.png", 10 } };
    for (auto [name, red] : images) {
        RgbaImage image { 300, 300, {} };
        for (int i = 0; i < 300 * 300; ++i)
            image.rgba.insert(image.rgba.end(), { red, 0, 0, 255 });
        write_png(scratch / "art" / name, image, PNG_COLOR_TYPE_RGB, 8);
    }
    ToolRun run = scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "frames" });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(frame_name(4) + " to " + frame_name(FRAME_COUNT) + " hold the last picture"),
        std::string::npos)
        << run.err;
    for (int n = 4; n <= FRAME_COUNT; ++n)
        EXPECT_EQ(slurp(scratch / "frames" / frame_name(n)).size(), 1u) << "held frames draw nothing";
    for (int n = 1; n <= 3; ++n) {
        std::vector<uint8_t> frame;
        ASSERT_OK(read_whole_file(scratch / "frames" / frame_name(n), &frame));
        Frame expected;
        append_run(expected, 65535, rgb565(uint8_t(n * 10), 0, 0));
        append_run(expected, 24465, rgb565(uint8_t(n * 10), 0, 0));
        EXPECT_EQ(frame, expected) << n;
    }
}

TEST(FrameTools, BadInputGivesOneLineAndLeavesNothing)
{
    Scratch scratch;
    fs::create_directory(scratch / "art");
    write_png(scratch / "art" / "a1.png", test_picture(8, 8, false, false), PNG_COLOR_TYPE_RGB, 8);
    write_png(scratch / "art" / "a2.png", test_picture(8, 9, false, false), PNG_COLOR_TYPE_RGB, 8);
    std::ofstream(scratch / "fake.png") << "not a picture at all";
    std::ofstream(scratch / "cut.png") << slurp(scratch / "art" / "a1.png").substr(0, 60);
    std::vector<std::string> before = scratch.files();

    const std::vector<std::vector<std::string>> bad = {
        { "encode", scratch / "fake.png", "-o", scratch / "x.rle" },
        { "encode", scratch / "cut.png", "-o", scratch / "x.rle" },
        { "encode", scratch / "missing.png", "-o", scratch / "x.rle" },
        { "encode", scratch / "art" / "a1.png", "--background", "red" },
        { "decode", scratch / "missing.rle", "--size", "8x8", "-o", scratch / "x.png" },
        { "decode", scratch / "fake.png", "--size", "0x8", "-o", scratch / "x.png" },
        { "decode", scratch / "fake.png", "--size", "8x8", "--base", scratch / "art" / "a2.png", "-o",
            scratch / "x.png" },
        { "preview", scratch / "nowhere", "--size", "8x8", "-o", scratch / "preview" },
        { "check", scratch / "art", "--size", "8x" },
    };
    for (const auto& args : bad) {
        ToolRun run = scratch.run("pelimora-frames", args);
        std::string command = args[0] + " " + fs::path(args[1]).filename().string();
        EXPECT_NE(run.status, 0) << command;
        EXPECT_TRUE(run.err.starts_with("pelimora-frames: ")) << command << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command << ": " << run.err;
    }
    EXPECT_EQ(scratch.files(), before);
    EXPECT_NE(scratch.run("pelimora-frames", { "encode", "--help" }).out.find("--dither"), std::string::npos);
}

// Frames with every kind of fault, and the screens the device would show.
struct FaultyFrames {
    static constexpr uint32_t W = 20, H = 10;
    std::map<int, Frame> files;
    FaultyFrames()
    {
        append_run(files[1], W * H, 0x001F); // exact
        append_run(files[2], 50, 0xF800); // short: frame 1 shows through
        append_run(files[3], 150, 0x07E0); // exact with a count-0 record...
        append_run(files[3], 0, 0xFFFF); //
        append_run(files[3], 50, 0x07E0); //
        files[3].push_back(0xAB); // ...and a trailing byte
        append_run(files[4], 199, 0x1234), append_run(files[4], 2, 0x4321), append_run(files[4], 1, 0x1111);
        files[5] = {}; // empty: not drawn
        append_run(files[7], W * H + 1, 0xFFFF); // overlong first run: nothing drawn
        append_run(files[8], W * H, 0x8410); // exact again
        // 6 and 9 ... 40 are missing
    }
    void write(const fs::path& dir) const { ASSERT_TRUE(write_frame_files(dir, files)); }
};

TEST(FrameTools, CheckReportsEveryFrameAgainstTheScreen)
{
    Scratch scratch;
    FaultyFrames frames;
    frames.write(scratch / "frames");
    ToolRun run = scratch.run("pelimora-frames", { "check", scratch / "frames", "--size", "20x10" });
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 43u) << run.out;
    EXPECT_EQ(lines[1], "Loop_1.rle          1        0         0  exact");
    EXPECT_EQ(lines[2],
        "Loop_2.rle          1        0         0  short by 150 pixels: the previous frame shows through");
    EXPECT_EQ(lines[3], "Loop_3.rle          3        1         1  exact");
    EXPECT_EQ(
        lines[4], "Loop_4.rle          3        0         0  over: record 2 dropped with the 1 after it");
    EXPECT_EQ(lines[5], "Loop_5.rle          -        -         -  empty: not drawn, not panned");
    EXPECT_EQ(
        lines[6], "Loop_6.rle          -        -         -  missing: the player logs it, the screen stays");
    EXPECT_EQ(lines[7], "Loop_7.rle          1        0         0  over: record 1 dropped");
    EXPECT_EQ(lines[8], "Loop_8.rle          1        0         0  exact");
    EXPECT_EQ(lines[41],
        "note: no pelimora.json in " + (scratch / "frames").string()
            + ": the pixel count is checked, not the shape");
    EXPECT_EQ(lines[42], "not every frame covers 20x10 exactly");

    fs::create_directories(scratch / "good");
    for (int n = 1; n <= FRAME_COUNT; ++n)
        fs::copy_file(scratch / "frames" / frame_name(1), scratch / "good" / frame_name(n),
            fs::copy_options::overwrite_existing);
    EXPECT_EQ(scratch.run("pelimora-frames", { "check", scratch / "good", "--size", "20x10" }).status, 0);
    EXPECT_EQ(scratch.run("pelimora-frames", { "check", scratch / "good", "--size", "20x11" }).status, 1);
}

TEST(FrameTools, PreviewShowsWhatTheDecoderLeavesFrameByFrameLosslessly)
{
    for (uint32_t depth : { 16u, 32u }) {
        Scratch scratch;
        FaultyFrames frames;
        frames.write(scratch / "frames");
        ToolRun run = scratch.run("pelimora-frames",
            { "preview", scratch / "frames", "--size", "20x10", "--depth", std::to_string(depth), "-o",
                scratch / "preview" });
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("6 of 40 frames drawn"), std::string::npos) << run.out;

        // The screens by hand: each drawn frame laid over the last; the rest keep it.
        std::vector<uint8_t> screen(FaultyFrames::W * FaultyFrames::H * depth / 8);
        std::vector<std::vector<uint8_t>> expected;
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            auto file = frames.files.find(n);
            if (file != frames.files.end() && !file->second.empty())
                decode_frame(file->second.data(), uint32_t(file->second.size()), screen.data(),
                    FaultyFrames::W, FaultyFrames::H, depth);
            expected.push_back(screen_to_rgb(screen, depth));
        }
        // The encoder merges repeated screens into longer frames; spread them
        // back over the pauses they cover.
        std::vector<int> ends;
        std::vector<std::vector<uint8_t>> decoded
            = webp_frames(scratch / "preview" / "animation.webp", &ends);
        std::vector<std::vector<uint8_t>> shown;
        for (size_t k = 0; k < decoded.size(); ++k)
            while (int(shown.size()) * FRAME_DELAY_US / 1000 < ends[k])
                shown.push_back(decoded[k]);
        ASSERT_EQ(shown.size(), size_t(FRAME_COUNT));
        for (int i = 0; i < FRAME_COUNT; ++i)
            EXPECT_EQ(shown[i], expected[i]) << "frame " << i + 1 << " at " << depth << " bpp";
        RgbaImage sheet;
        EXPECT_OK(read_picture(scratch / "preview" / "contact-sheet.png", 0, 0, &sheet));
    }
}

TEST(FrameTools, EncodedFramesPlayOnTheVirtualDeviceAsPreviewShows)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "sample", "--size", "96x64", "-o", scratch / "art" }).status, 0);
    ToolRun encoded = scratch.run("pelimora-frames", { "encode", scratch / "art", "-o", scratch / "frames" });
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    fs::remove(scratch / "frames" / frame_name(13)); // a missing frame holds the previous screen
    for (uint32_t depth : { 16u, 32u }) {
        ScreenGeometry geometry { 96, 64, depth };
        VirtualDevices devices;
        devices.fb = FbSettings { .xres = 96, .yres = 64, .bits_per_pixel = depth };
        PlayerRun run = run_player(installed_player(), devices, scratch / "frames");
        ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT - 1));
        size_t pan = 0;
        play_directory(scratch / "frames", geometry, {}, true,
            [&](int n, const FrameReport& report, const std::vector<uint8_t>& screen) {
                if (report.status == FrameReport::drawn) {
                    EXPECT_EQ(run.screens[pan++], screen) << "frame " << n << " at " << depth;
                }
            });
        EXPECT_EQ(pan, run.screens.size());
        EXPECT_EQ(run.kmsg, "<3>pelimora: cannot open '" + frame_path(13) + "'\n");

        ToolRun vfb = scratch.run("pelimora-vfb",
            { "--frames", scratch / "frames", "--size", "96x64", "--depth", std::to_string(depth), "-o",
                scratch / "device" });
        // The player shows what the preview predicts; the set, a frame short, is not what encode made.
        EXPECT_EQ(vfb.status, 1) << vfb.err;
        EXPECT_NE(
            vfb.out.find("the screens match the preview, but NOT the screens the set was made to leave"),
            std::string::npos)
            << vfb.out;
        EXPECT_NE(
            vfb.err.find("not as the set was made to leave it after " + frame_name(13)), std::string::npos)
            << vfb.err;
    }
}

// pelimora-vfb's judgement, frame by frame: a capture as predicted is shown
// as the prediction; one that is not is held apart and shown, and stays
// while the player draws nothing, until the prediction comes to show the
// same again.
TEST(Vfb, AScreenNotAsPredictedIsHeldApartUntilThePredictionShowsItAgain)
{
    using Bytes = std::vector<uint8_t>;
    const Bytes first(6, 1), other(6, 2), last(6, 3);
    TempDir dir;
    const fs::path file = dir.path() / "captures";
    {
        std::ofstream out(file, std::ios::binary);
        for (const Bytes* screen : { &first, &other, &last })
            out.write(reinterpret_cast<const char*>(screen->data()), std::streamsize(screen->size()));
    }
    const Capture captures[]
        = { { .file = file, .index = 0, .bytes = 6 }, { .file = file, .index = 1, .bytes = 6 },
              { .file = file, .index = 2, .bytes = 6 }, { .file = file, .index = 3, .bytes = 6 } };
    PredictedScreen screen(6);
    // Each frame: what the player left (null: nothing drawn), the prediction, and what shows.
    struct Step {
        const Capture* capture;
        Bytes prediction;
        bool as_predicted;
        Bytes shown;
    };
    const Step steps[] = {
        { .capture = &captures[0], .prediction = first, .as_predicted = true, .shown = first },
        { .capture = &captures[1],
            .prediction = last,
            .as_predicted = false,
            .shown = other }, // not as predicted
        { .capture = nullptr,
            .prediction = other,
            .as_predicted = true,
            .shown = other }, // the prediction comes to it
        { .capture = nullptr,
            .prediction = last,
            .as_predicted = false,
            .shown = other }, // the player draws nothing; the prediction does
        { .capture = &captures[2], .prediction = last, .as_predicted = true, .shown = last },
        { .capture = &captures[3],
            .prediction = first,
            .as_predicted = false,
            .shown = Bytes(6, 0) }, // a capture that cannot be read
    };
    for (const Step& step : steps) {
        screen.leaving(step.capture);
        screen.predicted() = step.prediction;
        std::span<const uint8_t> shown;
        EXPECT_EQ(screen.shown(step.capture, &shown), step.as_predicted) << &step - steps;
        EXPECT_EQ(Bytes(shown.begin(), shown.end()), step.shown) << &step - steps;
    }
}

} // namespace
