// The screen flags as the command line gives them: each parsed once, and a
// bad one named in its error, which is the command line's.
#include "commands/screen_flags.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenFlags, EachFlagIsParsedOnceAndNamedWhenBad)
{
    ScreenOverrides given;
    ASSERT_OK(parse_screen_flags(
        { .size = "640X480", .depth = "32", .format = "xbgr8888", .line_length = "2560", .rotate = "270" },
        &given));
    EXPECT_EQ(given.flags.width, 640u);
    EXPECT_EQ(given.flags.height, 480u);
    EXPECT_EQ(given.flags.bits_per_pixel, 32u);
    EXPECT_EQ(given.flags.format, find_format("XBGR8888"));
    EXPECT_EQ(given.flags.line_length, 2560u);
    EXPECT_EQ(given.flags.rotate, 270u);
    EXPECT_TRUE(given.rotate_given);
    const std::pair<ScreenFlags, std::string> bad[] = {
        { { .size = "640x" }, "screen size '640x'" },
        { { .depth = "24" }, "depth '24'" },
        { { .format = "RGB888" }, "--format 'RGB888'" },
        { { .line_length = "0x100" }, "--line-length '0x100'" },
        { { .rotate = "45" }, "--rotate '45'" },
        { { .panel = "/nonexistent/panel.json" }, "/nonexistent/panel.json" },
    };
    for (const auto& [flags, message] : bad) {
        Error error = parse_screen_flags(flags, &given);
        EXPECT_TRUE(error.message.starts_with(message)) << error.message;
        EXPECT_EQ(error.status, ExitStatus::bad_command_line) << error.message;
    }
}

} // namespace
