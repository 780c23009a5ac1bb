// The choice of screen: what the flags and a panel file give, laid over a
// set's description, and the refusals that say how to give what is missing.
#include "frames/screen_choice.h"
#include "frames/set_description.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

namespace {

SetDescription described(uint32_t xres, uint32_t yres, uint32_t bits, const char* format = nullptr)
{
    SetDescription description;
    description.width = xres, description.height = yres, description.bits_per_pixel = bits;
    description.format = format ? find_format(format) : nullptr;
    return description;
}

std::string refusal(
    const ScreenOverrides& given, const std::optional<SetDescription>& description, bool need_depth = true)
{
    ChosenScreen chosen;
    return choose_screen(given, description, need_depth ? Depth::needed : Depth::optional, &chosen).message;
}

} // namespace

TEST(ScreenChoice, FlagsOverThePanelFileOverTheDescription)
{
    SetDescription made = described(64, 48, 32, "XRGB8888");
    made.line_length = 300, made.rotate = 90;
    // Nothing given: the set's own screen, without a note.
    ChosenScreen chosen;
    ASSERT_OK(choose_screen({}, made, Depth::needed, &chosen));
    EXPECT_EQ(chosen.geometry.size_text(), "64x48");
    EXPECT_EQ(chosen.geometry.stride(), 300u);
    EXPECT_EQ(chosen.geometry.rotate, 90u);
    EXPECT_TRUE(chosen.notes.empty());
    // A panel file replaces the screen, keeping the depth it leaves unsaid.
    ScreenOverrides given;
    given.panel.emplace();
    given.panel->width = 32, given.panel->height = 24;
    ASSERT_OK(choose_screen(given, made, Depth::needed, &chosen));
    EXPECT_EQ(chosen.geometry.size_text(), "32x24");
    EXPECT_EQ(chosen.geometry.bits_per_pixel, 32u);
    EXPECT_EQ(chosen.geometry.format, nullptr);
    EXPECT_EQ(chosen.geometry.rotate, 0u);
    EXPECT_EQ(chosen.notes.size(), 4u); // size, format, line length, turn
    // Flags over the panel file; a format gives its depth unless one is given.
    given.flags = { .width = 16, .height = 8, .format = find_format("rgb565"), .rotate = 180 };
    given.rotate_given = true;
    ASSERT_OK(choose_screen(given, made, Depth::needed, &chosen));
    EXPECT_EQ(chosen.geometry.size_text(), "16x8");
    EXPECT_EQ(chosen.geometry.bits_per_pixel, 16u);
    EXPECT_EQ(chosen.geometry.rotate, 180u);
    EXPECT_TRUE(chosen.geometry.depth_known());
    given.flags.bits_per_pixel = 32;
    EXPECT_EQ(refusal(given, made), "format RGB565 is 16 bpp, not 32");
}

TEST(ScreenChoice, RefusesSayingHowToGiveWhatIsMissing)
{
    EXPECT_NE(refusal({}, std::nullopt).find("which screen? give --size"), std::string::npos);
    ScreenOverrides sized;
    sized.flags.width = 64, sized.flags.height = 48;
    EXPECT_NE(refusal(sized, std::nullopt).find("which depth?"), std::string::npos);
    ChosenScreen chosen;
    ASSERT_OK(choose_screen(sized, std::nullopt, Depth::optional, &chosen)); // encode: a set for either depth
    EXPECT_FALSE(chosen.geometry.depth_known());
    EXPECT_EQ(chosen.geometry.bytes(), 64u * 48 * 2); // worked at 16 bpp
    sized.flags.line_length = 300;
    EXPECT_EQ(refusal(sized, std::nullopt),
        "line length 300: give --depth or --format too, so that it is in pixels");
    sized.flags.bits_per_pixel = 32, sized.flags.line_length = 250;
    EXPECT_EQ(refusal(sized, std::nullopt),
        "line length 250: a row of 64x48 at 32 bpp takes 256 bytes, and a line must hold it in whole pixels");
    // A set made in the player's own format with no depth recorded shows the same at either.
    ASSERT_OK(choose_screen({}, described(64, 48, 0), Depth::needed, &chosen));
    EXPECT_EQ(chosen.geometry.bits_per_pixel, 16u);
    EXPECT_EQ(chosen.notes,
        std::vector<std::string> {
            "the set was made for either depth, which shows it the same; shown at 16 bpp" });
    // Beyond what the player maps in 32 bits.
    ScreenOverrides vast;
    vast.flags = { .width = 16384, .height = 16384, .bits_per_pixel = 32 };
    EXPECT_NE(refusal(vast, std::nullopt), "");
}
