// The screen flags as the command line gives them: each parsed once, and a
// bad one named in its error, which is the command line's.
#include "commands/screen_flags.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenFlags, EachFlagIsParsedOnceAndNamedWhenBad)
{
    ScreenOverrides given;
    ASSERT_OK(parse_screen_flags({ "640X480", "32", "xbgr8888", "2560", "", "270" }, &given));
    EXPECT_EQ(given.flags.width, 640u);
    EXPECT_EQ(given.flags.height, 480u);
    EXPECT_EQ(given.flags.bits_per_pixel, 32u);
    EXPECT_EQ(given.flags.format, find_format("XBGR8888"));
    EXPECT_EQ(given.flags.line_length, 2560u);
    EXPECT_EQ(given.flags.rotate, 270u);
    EXPECT_TRUE(given.rotate_given);
    const std::pair<ScreenFlags, std::string> bad[] = {
        { { "640x", "", "", "", "", "" }, "screen size '640x'" },
        { { "", "24", "", "", "", "" }, "depth '24'" },
        { { "", "", "RGB888", "", "", "" }, "--format 'RGB888'" },
        { { "", "", "", "0x100", "", "" }, "--line-length '0x100'" },
        { { "", "", "", "", "", "45" }, "--rotate '45'" },
        { { "", "", "", "", "/nonexistent/panel.json", "" }, "/nonexistent/panel.json" },
    };
    for (const auto& [flags, message] : bad) {
        Error error = parse_screen_flags(flags, &given);
        EXPECT_TRUE(error.message.starts_with(message)) << error.message;
        EXPECT_EQ(error.status, ExitStatus::bad_command_line) << error.message;
    }
}

} // namespace
