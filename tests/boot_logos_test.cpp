// The bootloader's splash and the kernel's logo: their file layouts byte for
// byte, and the pictures read back against what the player shows for frame 1.
#include "artwork/still.h"
#include "preview/boot_logos.h"
#include "preview/png.h"
#include "tests/support/expect_ok.h"
#include "tests/support/sandboxed.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le(const std::string& bytes, size_t at, int size)
{
    uint32_t value = 0;
    for (int i = size; i-- > 0;)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// A BMP as a reader takes it: 24 bits, or 8 with a palette; rows bottom-up,
// padded to 4 bytes. RGB, rows top to bottom.
Bytes read_bmp(const fs::path& path, uint32_t* width, uint32_t* height)
{
    std::string bytes = slurp(path);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(le(bytes, 2, 4), bytes.size());
    *width = le(bytes, 18, 4), *height = le(bytes, 22, 4);
    const uint32_t bits = le(bytes, 28, 2), offset = le(bytes, 10, 4);
    const size_t row = (*width * bits / 8 + 3) / 4 * 4;
    Bytes rgb;
    for (uint32_t y = 0; y < *height; ++y)
        for (uint32_t x = 0; x < *width; ++x) {
            size_t at = offset + (*height - 1 - y) * row + x * bits / 8;
            size_t colour = bits == 24 ? at : 54 + uint8_t(bytes[at]) * 4;
            rgb.insert(rgb.end(),
                { uint8_t(bytes[colour + 2]), uint8_t(bytes[colour + 1]), uint8_t(bytes[colour]) });
        }
    return rgb;
}

// A plain PPM: its size and pixels.
Bytes read_ppm(const fs::path& path, uint32_t* width, uint32_t* height)
{
    std::istringstream in(slurp(path));
    std::string magic;
    int most = 0;
    in >> magic >> *width >> *height >> most;
    EXPECT_EQ(magic, "P3");
    EXPECT_EQ(most, 255);
    Bytes rgb;
    for (int value; in >> value;)
        rgb.push_back(uint8_t(value));
    EXPECT_EQ(rgb.size(), size_t(*width) * *height * 3);
    return rgb;
}

size_t colours(const Bytes& rgb)
{
    std::set<uint32_t> seen;
    for (size_t i = 0; i < rgb.size(); i += 3)
        seen.insert(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return seen.size();
}

Bytes png_rgb(const fs::path& path, uint32_t width, uint32_t height)
{
    RgbaImage image;
    EXPECT_OK(read_picture(path, width, height, &image)) << path;
    Bytes rgb;
    for (size_t i = 0; i < image.rgba.size(); i += 4)
        rgb.insert(rgb.end(), image.rgba.begin() + ptrdiff_t(i), image.rgba.begin() + ptrdiff_t(i) + 3);
    return rgb;
}

} // namespace

TEST(BootLogos, LayoutsByteForByte)
{
    // 2 x 2 at 24 bits: the bottom row first, blue first, rows of 6 bytes padded to 8.
    const Bytes header24 = { 'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0,
        0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    Bytes expected = header24;
    expected.insert(expected.end(), { 9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0 });
    EXPECT_EQ(bmp24_bytes(Bytes { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 }, 2, 2), expected);

    // 3 x 1 at 8 bits: a palette of 256 entries B, G, R, 0 in the order the
    // colours were met, then one row of indices padded to 4 bytes.
    PalettePicture two;
    ASSERT_OK(to_palette(Bytes { 255, 0, 0, 0, 255, 0, 255, 0, 0 }, 3, 1, 256, &two));
    EXPECT_TRUE(two.exact);
    EXPECT_EQ(two.palette, (Bytes { 255, 0, 0, 0, 255, 0 }));
    EXPECT_EQ(two.indices, (Bytes { 0, 1, 0 }));
    Bytes bmp8 = bmp8_bytes(two, 3, 1);
    ASSERT_EQ(bmp8.size(), 14u + 40 + 1024 + 4);
    EXPECT_EQ(
        Bytes(bmp8.begin() + 2, bmp8.begin() + 14), (Bytes { 0x3A, 4, 0, 0, 0, 0, 0, 0, 0x36, 4, 0, 0 }));
    EXPECT_EQ(bmp8[28], 8);
    EXPECT_EQ(Bytes(bmp8.begin() + 34, bmp8.begin() + 38), (Bytes { 4, 0, 0, 0 })); // image bytes
    EXPECT_EQ(Bytes(bmp8.begin() + 46, bmp8.begin() + 50), (Bytes { 0, 1, 0, 0 })); // 256 colours
    EXPECT_EQ(Bytes(bmp8.begin() + 54, bmp8.begin() + 62), (Bytes { 0, 0, 255, 0, 0, 255, 0, 0 }));
    EXPECT_EQ(Bytes(bmp8.begin() + 62, bmp8.begin() + 1078), Bytes(1016, 0));
    EXPECT_EQ(Bytes(bmp8.end() - 4, bmp8.end()), (Bytes { 0, 1, 0, 0 }));

    // Plain PPM, five pixels a line at most.
    std::string ppm = "P3\n6 1\n255\n1 2 3  4 5 6  7 8 9  10 11 12  13 14 15\n16 17 18\n";
    Bytes six;
    for (uint8_t v = 1; v <= 18; ++v)
        six.push_back(v);
    EXPECT_EQ(plain_ppm_bytes(six, 6, 1), Bytes(ppm.begin(), ppm.end()));

    // More colours than the palette holds: the nearest of as many as it holds.
    Bytes many;
    for (uint32_t i = 0; i < 300; ++i)
        many.insert(many.end(), { uint8_t(i), uint8_t(i / 2), uint8_t(255 - i % 256) });
    PalettePicture reduced;
    ASSERT_OK(to_palette(many, 300, 1, 224, &reduced));
    EXPECT_FALSE(reduced.exact);
    EXPECT_EQ(reduced.colours_before, 300u);
    EXPECT_LE(reduced.palette.size(), 224u * 3);
    EXPECT_EQ(reduced.indices.size(), 300u);
}

// Frame 1 of encode, decoded, against what logos wrote for the same artwork
// and options, on a 16 bpp panel and a turned X,R,G,B one.
TEST(BootLogos, TheSplashIsFrameOneAndTheLogoSitsWhereTheFrameHasIt)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    // A picture of four colours, centred on a larger screen.
    constexpr uint32_t AW = 30, AH = 20;
    Bytes art;
    for (uint32_t y = 0; y < AH; ++y)
        for (uint32_t x = 0; x < AW; ++x)
            art.insert(art.end(), { uint8_t(x < 10 ? 255 : 0), uint8_t(y < 10 ? 200 : 40), 120 });
    ASSERT_OK(write_png_rgb(scratch / "art.png", AW, AH, art));
    for (const std::vector<std::string>& panel :
        { std::vector<std::string> { "--size", "64x48", "--depth", "16" },
            std::vector<std::string> {
                "--size", "48x64", "--depth", "32", "--format", "XRGB8888", "--rotate", "90" } }) {
        SCOPED_TRACE(panel.back());
        const bool turned = panel.size() > 4;
        const uint32_t mw = turned ? 48 : 64, mh = turned ? 64 : 48; // the panel's memory; upright 64 x 48
        auto run = [&](std::vector<std::string> args) {
            args.insert(args.end(), panel.begin(), panel.end());
            if (args[0] != "decode")
                args.insert(args.end(), { "--fit", "none", "--background", "203040" });
            ToolRun done = scratch.run("pelimora-frames", args);
            EXPECT_EQ(done.status, 0) << done.err;
            return done;
        };
        run({ "encode", scratch / "art.png", "-o", scratch / "frame.rle" });
        ToolRun made = run({ "logos", scratch / "art.png", "-o", scratch / "logos" });
        EXPECT_EQ(made.err, "");
        run({ "decode", scratch / "frame.rle", "-o", scratch / "upright.png" });
        // The panel's memory as it is: the same panel, unturned.
        std::vector<std::string> raw = { "decode", scratch / "frame.rle", "-o", scratch / "memory.png" };
        raw.insert(raw.end(), panel.begin(), panel.begin() + (turned ? 6 : 4));
        ASSERT_EQ(scratch.run("pelimora-frames", raw).status, 0);
        const Bytes memory = png_rgb(scratch / "memory.png", mw, mh),
                    upright = png_rgb(scratch / "upright.png", 64, 48);
        uint32_t w = 0, h = 0;
        EXPECT_EQ(read_bmp(scratch / "logos" / "splash.bmp", &w, &h), memory);
        EXPECT_EQ(w, mw);
        EXPECT_EQ(read_bmp(scratch / "logos" / "splash-8bit.bmp", &w, &h), memory);
        // The logo: the upright picture, centred as the kernel centres it, on the console's colour 0.
        Bytes logo = read_ppm(scratch / "logos" / "logo_linux_clut224.ppm", &w, &h);
        EXPECT_EQ(w, AW);
        EXPECT_EQ(h, AH);
        EXPECT_LE(colours(logo), 224u);
        const uint32_t x0 = (64 - w) / 2, y0 = (48 - h) / 2;
        std::string cmdline = slurp(scratch / "logos" / "cmdline.txt");
        const uint8_t* corner = &upright[0];
        for (const std::string& option : { std::string("fbcon=logo-pos:center"),
                 std::string("fbcon=logo-count:1"), "vt.default_red=" + std::to_string(corner[0]) + " ",
                 "vt.default_grn=" + std::to_string(corner[1]) + " ",
                 "vt.default_blu=" + std::to_string(corner[2]) })
            EXPECT_NE(cmdline.find(option), std::string::npos) << option << " in " << cmdline;
        EXPECT_EQ(cmdline.find("fbcon=rotate:1") != std::string::npos, turned) << cmdline;
        for (uint32_t y = 0; y < 48; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                const uint8_t* want = inside ? &logo[((y - y0) * w + x - x0) * 3] : corner;
                ASSERT_EQ(0, std::memcmp(&upright[(y * 64 + x) * 3], want, 3)) << x << "," << y;
            }
        std::string readme = slurp(scratch / "logos" / "README");
        for (const char* name : { "splash.bmp", "splash-8bit.bmp", "logo_linux_clut224.ppm",
                 "CONFIG_BMP_24BPP", "CONFIG_LOGO_LINUX_CLUT224", "cmdline.txt", "centres one logo" })
            EXPECT_NE(readme.find(name), std::string::npos) << name;
    }
}

TEST(BootLogos, ArtOfManyColoursIsApproximatedAndSaidSo)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    Bytes noise(64 * 48 * 3);
    uint32_t state = 1;
    for (uint8_t& v : noise)
        v = uint8_t((state = state * 1664525 + 1013904223) >> 24);
    ASSERT_OK(write_png_rgb(scratch / "photo.png", 64, 48, noise));
    ToolRun made = scratch.run("pelimora-frames",
        { "logos", scratch / "photo.png", "--size", "64x48", "--depth", "32", "-o", scratch / "logos" });
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.err.find("splash-8bit.bmp: frame 1 has"), std::string::npos) << made.err;
    EXPECT_NE(made.err.find("the kernel's logo holds 224"), std::string::npos) << made.err;
    uint32_t w = 0, h = 0;
    EXPECT_GT(colours(read_bmp(scratch / "logos" / "splash.bmp", &w, &h)), 256u);
    EXPECT_LE(colours(read_bmp(scratch / "logos" / "splash-8bit.bmp", &w, &h)), 256u);
    EXPECT_LE(colours(read_ppm(scratch / "logos" / "logo_linux_clut224.ppm", &w, &h)), 224u);
    EXPECT_EQ(w, 64u); // the picture fills the screen: so does the logo
}

// A first frame of background alone: no logo, and the README and the
// command line both say so.
TEST(BootLogos, AFrameOfBackgroundAloneHasNoLogoAndTheReadmeSaysSo)
{
    REQUIRE_DEVICE_SANDBOX();
    Scratch scratch;
    Bytes plain;
    for (int i = 0; i < 30 * 20; ++i)
        plain.insert(plain.end(), { 0x20, 0x30, 0x40 });
    ASSERT_OK(write_png_rgb(scratch / "plain.png", 30, 20, plain));
    ToolRun made = scratch.run("pelimora-frames",
        { "logos", scratch / "plain.png", "--size", "64x48", "--depth", "32", "--fit", "none", "--background",
            "203040", "-o", scratch / "logos" });
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_FALSE(fs::exists(scratch / "logos" / "logo_linux_clut224.ppm"));
    EXPECT_NE(slurp(scratch / "logos" / "cmdline.txt").find("logo.nologo"), std::string::npos);
    const std::string readme = slurp(scratch / "logos" / "README");
    EXPECT_EQ(readme.find("centres one logo"), std::string::npos) << readme;
    EXPECT_NE(readme.find("logo.nologo hides the kernel's logo"), std::string::npos) << readme;
}
