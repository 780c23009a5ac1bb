// A set's description and a panel file: their keys, and what each kind of
// damage costs (the input's in a set, the command line's in a panel file).
#include "frames/set_description.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

TEST(SetDescription, PanelFilesAndSetsKeepTheirOwnKeys)
{
    auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    PanelFile panel;
    ASSERT_OK(parse_panel_file(
        bytes(R"({"xres": 480, "yres": 800, "rotate": 90, "name": "tablet"})"), "p", &panel));
    EXPECT_EQ(panel.name, "tablet");
    EXPECT_EQ(panel.rotate, 90u);
    Error error = parse_panel_file(bytes(R"({"xres": 4, "yres": 8, "name": 7})"), "p", &panel);
    EXPECT_EQ(error.message, "p: name must be a string");
    // The same damage is the command line's in a panel file, the input's in a set.
    EXPECT_EQ(error.status, ExitStatus::bad_command_line);
    SetDescription damaged;
    error = parse_description(bytes(R"({"xres": 4})"), "d", &damaged);
    EXPECT_EQ(error.status, ExitStatus::wrong_input) << error.message;
    EXPECT_EQ(parse_panel_file(bytes(R"({"xres": 4})"), "p", &panel).status, ExitStatus::bad_command_line);
    // A set's description: its turn and screens written and read back alike.
    SetDescription made;
    made.width = 480, made.height = 800, made.bits_per_pixel = 16, made.format = find_format("RGB565");
    made.rotate = 270, made.partial_frames = true, made.screens = { 1, 0xFFFFFFFFFFFFFFFFull };
    SetDescription again;
    ASSERT_OK(parse_description(set_description_bytes(made), "again", &again));
    EXPECT_EQ(again.rotate, 270u);
    EXPECT_TRUE(again.partial_frames);
    EXPECT_EQ(again.screens, made.screens);
    EXPECT_EQ(again.format, made.format);
}
