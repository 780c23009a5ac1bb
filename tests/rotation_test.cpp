// Panels mounted turned: frames made turned in the panel's memory as fbcon
// turns the console, and every tool showing them upright.
#include "artwork/still.h"
#include "core/schedule.h"
#include "frames/panel_stream.h"
#include "frames/panel_view.h"
#include "frames/replay.h"
#include "lib/file_io.h"
#include "preview/png.h"
#include "tests/support/expect_ok.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"
#include "tests/support/webp_frames.h"
#include "vfb/runner.h"

#include <cstring>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

// An upright picture whose every pixel differs from its neighbours.
std::vector<uint8_t> upright_picture(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rgb;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            rgb.insert(rgb.end(), { uint8_t(x * 5), uint8_t(y * 4), uint8_t(x < width / 2 ? 40 : 200) });
    return rgb;
}

std::vector<uint8_t> png_rgb(const fs::path& path, uint32_t width, uint32_t height)
{
    RgbaImage image;
    EXPECT_OK(read_picture(path, width, height, &image)) << path;
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i * 4 < image.rgba.size(); ++i)
        rgb.insert(rgb.end(), image.rgba.begin() + i * 4, image.rgba.begin() + i * 4 + 3);
    return rgb;
}

nlohmann::json description(const fs::path& set)
{
    return nlohmann::json::parse(slurp(set / "pelimora.json"));
}

constexpr uint32_t UW = 48, UH = 64; // the picture as a person sees it

} // namespace

TEST(Rotation, FramesAreTurnedAsFbconTurnsTheConsoleAndShownUpright)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    ASSERT_OK(write_png_rgb(scratch / "art.png", UW, UH, upright_picture(UW, UH)));
    // What the player shows of it on an unturned panel, upright.
    auto encode = [&](const std::string& size, const std::string& rotate, const fs::path& out) {
        ToolRun run = scratch.run("pelimora-frames",
            { "encode", scratch / "art.png", "--size", size, "--depth", "16", "--rotate", rotate, "-o",
                out.string() + "/" });
        EXPECT_EQ(run.status, 0) << run.err;
        return run;
    };
    encode("48x64", "0", scratch / "upright");
    ASSERT_EQ(scratch
                  .run("pelimora-frames",
                      { "decode", scratch / "upright" / frame_name(1), "-o", scratch / "upright.png" })
                  .status,
        0);
    const std::vector<uint8_t> seen = png_rgb(scratch / "upright.png", UW, UH);
    for (uint32_t rotate : { 90u, 180u, 270u }) {
        const std::string degrees = std::to_string(rotate);
        SCOPED_TRACE(degrees);
        const bool sideways = rotate != 180;
        const uint32_t mw = sideways ? UH : UW, mh = sideways ? UW : UH; // the panel's memory
        fs::path set = scratch / "turned";
        set += degrees;
        ToolRun made = encode(sideways ? "64x48" : "48x64", degrees, set);
        const std::string turn = "turned " + degrees;
        EXPECT_NE(made.out.find(turn + " degrees clockwise"), std::string::npos) << made.out;
        EXPECT_EQ(description(set)["rotate"], rotate);
        // Upright, it is the picture; in memory, each pixel where fbcon's turn puts it.
        ToolRun shown
            = scratch.run("pelimora-frames", { "decode", set / frame_name(1), "-o", scratch / "shown.png" });
        EXPECT_NE(shown.out.find("shown upright"), std::string::npos) << shown.out;
        EXPECT_EQ(png_rgb(scratch / "shown.png", UW, UH), seen);
        ASSERT_EQ(scratch
                      .run("pelimora-frames",
                          { "decode", set / frame_name(1), "--rotate", "0", "-o", scratch / "memory.png" })
                      .status,
            0);
        std::vector<uint8_t> memory = png_rgb(scratch / "memory.png", mw, mh);
        for (uint32_t y = 0; y < UH; ++y)
            for (uint32_t x = 0; x < UW; ++x) {
                uint32_t mx = rotate == 90 ? UH - 1 - y : rotate == 180 ? UW - 1 - x : y;
                uint32_t my = rotate == 90 ? x : rotate == 180 ? UH - 1 - y : UW - 1 - x;
                ASSERT_EQ(
                    0, std::memcmp(&memory[(size_t(my) * mw + mx) * 3], &seen[(size_t(y) * UW + x) * 3], 3))
                    << "upright pixel " << x << "," << y;
            }
        ToolRun checked = scratch.run("pelimora-frames", { "check", set });
        EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
        EXPECT_NE(checked.out.find(turn + " degrees"), std::string::npos) << checked.out;
    }
    // The preview plays it upright, as the device shows it.
    ToolRun preview
        = scratch.run("pelimora-frames", { "preview", scratch / "turned90", "-o", scratch / "p" });
    ASSERT_EQ(preview.status, 0) << preview.err;
    std::vector<int> times;
    std::vector<std::vector<uint8_t>> frames = webp_frames(scratch / "p" / "animation.webp", &times);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], seen);
}

TEST(Rotation, TurnedSetsKeepEveryToolsPromises)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    fs::create_directories(scratch / "art");
    for (int n = 1; n <= 3; ++n) {
        std::vector<uint8_t> rgb = upright_picture(UW, UH);
        for (size_t i = 0; i < rgb.size(); i += 3 * 7)
            rgb[i + 1] = uint8_t(n * 60);
        fs::path name = scratch / "art" / "a";
        name += std::to_string(n) + ".png";
        ASSERT_OK(write_png_rgb(name, UW, UH, rgb));
    }
    // Padded lines, another format, the rows the player reaches, trimmed frames.
    fs::path panel = scratch / "panel.json";
    std::string text
        = R"({"xres": 64, "yres": 48, "bits_per_pixel": 32, "format": "XRGB8888", "line_length": 300, "rotate": 270})";
    ASSERT_OK(write_atomically(panel, std::vector<uint8_t>(text.begin(), text.end())));
    ToolRun made = scratch.run("pelimora-frames",
        { "encode", scratch / "art", "--panel", panel, "--reachable", "--trim", "-o", scratch / "set" });
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(description(scratch / "set")["rotate"], 270);
    ToolRun checked = scratch.run("pelimora-frames", { "check", scratch / "set" });
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    ToolRun preview = scratch.run("pelimora-frames", { "preview", scratch / "set", "-o", scratch / "p" });
    EXPECT_EQ(preview.status, 0) << preview.err;
    EXPECT_NE(preview.out.find("as the set was made to leave it"), std::string::npos) << preview.out;
    ToolRun vfb = scratch.run("pelimora-vfb", { "--frames", scratch / "set", "-o", scratch / "device" });
    EXPECT_EQ(vfb.status, 0) << vfb.out << vfb.err;
    EXPECT_NE(vfb.out.find("shown upright"), std::string::npos) << vfb.out;
    std::vector<int> times;
    auto previewed = webp_frames(scratch / "p" / "animation.webp", &times);
    auto played = webp_frames(scratch / "device" / "animation.webp", &times);
    ASSERT_FALSE(previewed.empty());
    EXPECT_EQ(previewed.back(), played.back());
    EXPECT_EQ(previewed.back().size(), size_t(48) * 64 * 3); // upright: 48 wide, 64 high
    // On a panel said to be unturned, check names the turn it was made for.
    ToolRun unturned = scratch.run("pelimora-frames", { "check", scratch / "set", "--rotate", "0" });
    EXPECT_EQ(unturned.status, 1);
    EXPECT_NE(unturned.out.find("a panel turned 270 degrees, not for one turned 0"), std::string::npos)
        << unturned.out;
}

TEST(Rotation, ABundleCarriesEachPanelsTurn)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    ASSERT_OK(write_png_rgb(scratch / "art.png", UW, UH, upright_picture(UW, UH)));
    std::string turned = R"({"xres": 64, "yres": 48, "bits_per_pixel": 16, "rotate": 90, "name": "turned"})";
    std::string upright = R"({"xres": 48, "yres": 64, "bits_per_pixel": 16, "name": "upright"})";
    ASSERT_OK(write_atomically(scratch / "a.json", std::vector<uint8_t>(turned.begin(), turned.end())));
    ASSERT_OK(write_atomically(scratch / "b.json", std::vector<uint8_t>(upright.begin(), upright.end())));
    ToolRun made = scratch.run("pelimora-frames",
        { "encode", scratch / "art.png", "--panel", scratch / "a.json", "--panel", scratch / "b.json", "-o",
            scratch / "bundle" });
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(description(scratch / "bundle" / "turned")["rotate"], 90);
    EXPECT_FALSE(description(scratch / "bundle" / "upright").contains("rotate"));
    ToolRun checked = scratch.run("pelimora-frames", { "check", scratch / "bundle" });
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    // Both sets show the same upright picture.
    ASSERT_EQ(
        scratch.run("pelimora-frames", { "preview", scratch / "bundle", "-o", scratch / "p" }).status, 0);
    std::vector<int> times;
    auto turned_frames = webp_frames(scratch / "p" / "turned" / "animation.webp", &times);
    auto upright_frames = webp_frames(scratch / "p" / "upright" / "animation.webp", &times);
    ASSERT_FALSE(turned_frames.empty());
    EXPECT_EQ(turned_frames[0], upright_frames[0]);
    // A turn names one panel: a bundle's come from its panel files.
    ToolRun refused = scratch.run("pelimora-frames", { "check", scratch / "bundle", "--rotate", "90" });
    EXPECT_EQ(refused.status, 2);
}

TEST(Rotation, TheRealPlayerShowsItUprightInEachFormatFamily)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    const std::vector<uint8_t> art = upright_picture(UW, UH);
    ASSERT_OK(write_png_rgb(scratch / "art.png", UW, UH, art));
    for (const char* name : { "RGB565", "BGR565", "XRGB1555", "XBGR8888", "XRGB8888" }) {
        SCOPED_TRACE(name);
        const PixelFormat& format = *find_format(name);
        // A landscape panel turned 90 degrees, with lines 8 pixels longer than a row.
        ScreenGeometry panel { UH, UW, format.bits_per_pixel, (UH + 8) * format.bits_per_pixel / 8, &format,
            90 };
        fs::remove_all(scratch / "set");
        ToolRun encoded = scratch.run("pelimora-frames",
            { "encode", scratch / "art.png", "--size", "64x48", "--format", name, "--line-length",
                std::to_string(panel.line_length), "--rotate", "90", "-o", scratch / "set/" });
        ASSERT_EQ(encoded.status, 0) << encoded.err;
        VirtualDevices devices;
        devices.fb = FbSettings {
            .xres = 64, .yres = 48, .bits_per_pixel = format.bits_per_pixel, .line_length = panel.line_length
        };
        PlayerRun run = run_player(installed_player(), devices, scratch / "set");
        ASSERT_EQ(run.screens.size(), size_t(FRAME_COUNT)) << run.error.message;
        std::vector<uint8_t> memory(panel.memory_bytes());
        std::copy(run.screens.back().begin(), run.screens.back().end(), memory.begin());
        std::vector<uint8_t> shown = upright_rgb(memory, panel);
        // The memory rows the stream reaches in full are the upright picture's first columns.
        const uint32_t reached = rows_drawn_in_full(panel);
        ASSERT_GT(reached, UW / 2);
        const uint32_t bits[3] = { 5, format.bits_per_pixel == 16 ? format.green.length : 6, 5 };
        for (uint32_t y = 0; y < UH; ++y)
            for (uint32_t x = 0; x < reached; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(std::abs(int(shown[(size_t(y) * UW + x) * 3 + c])
                                  - int(art[(size_t(y) * UW + x) * 3 + c])),
                        256 >> bits[c])
                        << "upright " << x << "," << y << " channel " << c;
    }
}
