// A bundle's index: written by the tools, read by the probe's reader on the
// device and in the tools; strict, since a wrong pick would show a set on a
// panel it was not made for.
#include "frames/bundle.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<BundleIndex> parsed(const std::string& text, bool* ok)
{
    auto index = std::make_unique<BundleIndex>();
    *ok = parse_bundle_index(text.data(), text.size(), index.get());
    return index;
}

std::string set(const std::string& name,
    const std::string& rest = "\"xres\": 64, \"yres\": 48, "
                              "\"bits_per_pixel\": 16, \"line_length\": 128, "
                              "\"format\": \"RGB565\"")
{
    return "{\"name\": \"" + name + "\", " + rest + "}";
}

} // namespace

TEST(BundleIndex, WhatTheToolsWriteTheProbeReads)
{
    std::vector<BundleEntry> sets = { { .name = "1024x600-XRGB8888-4224",
                                          .panel = { .width = 1024,
                                              .height = 600,
                                              .bits_per_pixel = 32,
                                              .line_length = 4224,
                                              .format = find_format("XRGB8888") } },
        { .name = "small", .panel = { .width = 64, .height = 48, .bits_per_pixel = 16 } } };
    EXPECT_EQ(bundle_set_name(sets[0].panel), "1024x600-XRGB8888-4224");
    EXPECT_EQ(bundle_set_name(sets[1].panel), "64x48-RGB565-128");
    EXPECT_EQ(bundle_set_name(sets[1].panel, "small"), "small");
    std::vector<uint8_t> bytes = bundle_index_bytes(sets);
    bool ok = false;
    auto index = parsed(std::string(bytes.begin(), bytes.end()), &ok);
    ASSERT_TRUE(ok) << index->error;
    ASSERT_EQ(index->count, 2);
    EXPECT_STREQ(index->sets[0].name, "1024x600-XRGB8888-4224");
    EXPECT_EQ(index->sets[1].line_length, 128u); // the stride, as the kernel reports it
    EXPECT_STREQ(index->sets[1].format, "RGB565");
    EXPECT_EQ(find_bundle_set(*index, 1024, 600, 32, 4224, "XRGB8888"), 0);
    EXPECT_EQ(find_bundle_set(*index, 64, 48, 16, 128, "RGB565"), 1);
    EXPECT_EQ(find_bundle_set(*index, 1024, 600, 32, 4096, "XRGB8888"), -1);
    EXPECT_EQ(find_bundle_set(*index, 1024, 600, 32, 4224, nullptr), -1); // channels of no known format
}

TEST(BundleIndex, RefusesAnythingElse)
{
    const char* RGB = "\"yres\": 48, \"bits_per_pixel\": 16, \"line_length\": 128, \"format\": \"RGB565\"";
    struct Bad {
        std::string text, why;
    };
    for (const Bad& bad : {
             Bad { "", "expected '{'" },
             Bad { "{\"sets\": [" + set("a") + "]", "expected '}'" },
             Bad { "{\"sets\": [" + set("a") + "]} x", "more after the index" },
             Bad { "{\"sets\": [" + set("a") + ", " + set("a", "\"xres\": 32, " + std::string(RGB)) + "]}",
                 "two sets named a" },
             Bad {
                 "{\"sets\": [" + set("a") + ", " + set("b") + "]}", "a and b are made for the same screen" },
             Bad { "{\"sets\": [" + set("a/b") + "]}", "not a plain folder name" },
             Bad { "{\"sets\": [" + set("..") + "]}", "not a plain folder name" },
             Bad { "{\"sets\": [" + set("a", "\"xres\": 64.5, " + std::string(RGB)) + "]}", "whole number" },
             Bad { "{\"sets\": [" + set("a", "\"xres\": 64, \"xres\": 64, " + std::string(RGB)) + "]}",
                 "given twice" },
             Bad { "{\"sets\": [" + set("a", "\"xres\": 64, \"yres\": 48") + "]}", "no \"bits_per_pixel\"" },
             Bad { "{\"sets\": [" + set("a", "\"depth\": 16, \"xres\": 64, " + std::string(RGB)) + "]}",
                 "unknown key \"depth\"" },
             Bad { "{\"sets\": ["
                     + set("a",
                         "\"xres\": 64, \"yres\": 48, \"bits_per_pixel\": 24, \"line_length\": "
                         "192, \"format\": \"RGB565\"")
                     + "]}",
                 "not a screen the player draws" },
             Bad { "{\"sets\": ["
                     + set("a",
                         "\"xres\": 64, \"yres\": 48, \"bits_per_pixel\": 16, \"line_length\": "
                         "100, \"format\": \"RGB565\"")
                     + "]}",
                 "not a screen the player draws" },
             Bad { "{\"sets\": [" + set("a\\\"") + "]}", "escape" },
             Bad { "{\"sets\": [" + set(std::string(64, 'n')) + "]}", "over 63 bytes" },
             Bad { "{\"other\": []}", "an index holds only \"sets\"" },
             // Format names exactly as the tools write them, of the set's depth.
             Bad { "{\"sets\": ["
                     + set("a",
                         "\"xres\": 64, \"yres\": 48, \"bits_per_pixel\": 16, \"line_length\": "
                         "128, \"format\": \"rgb565\"")
                     + "]}",
                 "not a pixel format's name" },
             Bad { "{\"sets\": ["
                     + set("a",
                         "\"xres\": 64, \"yres\": 48, \"bits_per_pixel\": 16, \"line_length\": "
                         "256, \"format\": \"XRGB8888\"")
                     + "]}",
                 "not a format of 16 bpp" },
         }) {
        bool ok = true;
        auto index = parsed(bad.text, &ok);
        EXPECT_FALSE(ok) << bad.text;
        EXPECT_NE(std::strstr(index->error, bad.why.c_str()), nullptr) << bad.text << ": " << index->error;
    }
    bool ok = false;
    EXPECT_EQ(parsed("{\"sets\": []}", &ok)->count, 0);
    EXPECT_TRUE(ok);
    EXPECT_OK(bundle_name_allowed("fine-name_2.0"));
    EXPECT_EQ(bundle_name_allowed(".hidden").status, ExitStatus::bad_command_line);
    EXPECT_EQ(bundle_name_allowed("a b").status, ExitStatus::bad_command_line);
}
