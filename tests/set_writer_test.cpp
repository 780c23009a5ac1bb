// The set's format from the writer's side: which bytes each frame gets,
// trimmed or whole, and what the description records of the screens.
#include "frames/replay.h"
#include "frames/rle565.h"
#include "frames/set_writer.h"
#include "lib/file_io.h"
#include "lib/temp_dir.h"
#include "tests/support/expect_ok.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using Codes = std::vector<uint16_t>;

std::vector<uint8_t> file(const fs::path& path)
{
    std::vector<uint8_t> bytes;
    EXPECT_OK(read_whole_file(path, &bytes));
    return bytes;
}

} // namespace

TEST(SetWriter, TrimsEachFrameAfterItsLastChangeAndRecordsTheScreens)
{
    TempDir dir;
    StagedFiles staged(dir.path() / "set");
    ASSERT_OK(staged.prepare());
    SetWriter writer(staged, "", true, 4);
    const Codes first = { 1, 1, 2, 2, 3, 3 }, second = { 7, 1, 2, 2, 3, 3 };
    FrameWritten written;
    Codes codes = first;
    ASSERT_OK(writer.add_frame(0, &codes, &written)); // frame 1 whole, whatever the screen held
    EXPECT_EQ(written.trimmed, 6u);
    codes = second;
    ASSERT_OK(writer.add_frame(1, &codes, &written)); // only its first pixel changes
    EXPECT_EQ(written.trimmed, 1u);
    EXPECT_EQ(written.whole, 6u);
    EXPECT_EQ(codes, first) << "the screen before, swapped out";
    codes = second;
    ASSERT_OK(writer.add_frame(2, &codes, &written)); // changes nothing
    EXPECT_TRUE(written.draws_nothing);
    ASSERT_OK(writer.add_held(3, &written));
    EXPECT_EQ(writer.screen(), second);
    EXPECT_TRUE(writer.partial());
    EXPECT_EQ(writer.whole_pixels(), 18u);
    EXPECT_EQ(writer.trimmed_pixels(), 7u);
    ASSERT_OK(writer.add_description({ .width = 3, .height = 2, .bits_per_pixel = 16 }));
    ASSERT_OK(staged.commit());

    const fs::path set = dir.path() / "set";
    EXPECT_EQ(file(set / frame_name(1)), encode_rle565(first));
    EXPECT_EQ(file(set / frame_name(2)), encode_rle565(Codes { 7 }));
    // Drawing nothing is one byte: mapped, no record laid, panned.
    EXPECT_EQ(file(set / frame_name(3)), std::vector<uint8_t> { 0 });
    EXPECT_EQ(file(set / frame_name(4)), std::vector<uint8_t> { 0 });
    std::optional<SetDescription> description;
    ASSERT_OK(read_set_description(set, &description));
    ASSERT_TRUE(description);
    EXPECT_TRUE(description->partial_frames);
    EXPECT_EQ(description->screens,
        (std::vector<uint64_t> { screen_digest(first, ScreenDigest::xxh3),
            screen_digest(second, ScreenDigest::xxh3), screen_digest(second, ScreenDigest::xxh3),
            screen_digest(second, ScreenDigest::xxh3) }));
    // Played back as the player plays it, the four frames leave the screens recorded (the rest are missing).
    std::vector<int> differing = frames_not_as_intended(set, 3, 2, description->screens, description->digest);
    ASSERT_FALSE(differing.empty());
    EXPECT_EQ(differing.front(), 5);
}

// The last change found wherever it falls against the blocks the screens are
// compared in, and each frame's file trimmed just after it.
TEST(SetWriter, TrimsAfterTheLastChangeWhereverItFalls)
{
    TempDir dir;
    StagedFiles staged(dir.path() / "set");
    ASSERT_OK(staged.prepare());
    const std::vector<size_t> changes = { 999, 0, 255, 256, 743, 744, 512 };
    SetWriter writer(staged, "", true, int(changes.size()) + 1);
    Codes screen(1000, 5), codes = screen;
    FrameWritten written;
    ASSERT_OK(writer.add_frame(0, &codes, &written));
    for (size_t i = 0; i < changes.size(); ++i) {
        screen[changes[i]] += 1;
        codes = screen;
        ASSERT_OK(writer.add_frame(int(i) + 1, &codes, &written));
        EXPECT_EQ(written.trimmed, changes[i] + 1) << "a change at " << changes[i];
    }
    ASSERT_OK(staged.commit());
    EXPECT_EQ(file(dir.path() / "set" / frame_name(5)), encode_rle565(std::span(screen).first(257)))
        << "the frame that changed pixel 256";
}

TEST(SetWriter, UntrimmedFramesAreWholeAndNotPartial)
{
    TempDir dir;
    StagedFiles staged(dir.path() / "set");
    ASSERT_OK(staged.prepare());
    SetWriter writer(staged, "panel/", false, 2);
    FrameWritten written;
    Codes codes = { 5, 5, 5, 5 };
    ASSERT_OK(writer.add_frame(0, &codes, &written));
    codes = { 5, 5, 5, 6 };
    ASSERT_OK(writer.add_frame(1, &codes, &written));
    EXPECT_EQ(written.trimmed, 4u); // what --trim would write, for the report
    EXPECT_FALSE(writer.partial());
    ASSERT_OK(writer.add_description({ .width = 2, .height = 2, .bits_per_pixel = 0, .rotate = 90 }));
    ASSERT_OK(staged.commit());
    EXPECT_EQ(file(dir.path() / "set" / "panel" / frame_name(2)), encode_rle565(Codes { 5, 5, 5, 6 }));
    std::optional<SetDescription> description;
    ASSERT_OK(read_set_description(dir.path() / "set" / "panel", &description));
    ASSERT_TRUE(description);
    EXPECT_FALSE(description->partial_frames);
    EXPECT_EQ(description->rotate, 90u);
}

TEST(SetWriter, EachDescriptionIsCheckedByTheDigestItNames)
{
    // Both digests pinned: stored sets rely on them.
    const Codes codes = { 0x0001, 0x1234, 0xF81F };
    EXPECT_EQ(screen_digest(codes, ScreenDigest::xxh3), 0x0d49738ac5739a1eu);
    EXPECT_EQ(screen_digest(codes, ScreenDigest::fnv1a), 0x01604a35c86f7cf9u);

    TempDir dir;
    const fs::path set = dir.path() / "set";
    StagedFiles staged(set);
    SetWriter writer(staged, "", false, 1);
    FrameWritten written;
    Codes frame = codes;
    ASSERT_OK(writer.add_frame(0, &frame, &written));
    ASSERT_OK(writer.add_description({ .width = 3, .height = 1, .bits_per_pixel = 16 }));
    ASSERT_OK(staged.commit());
    std::optional<SetDescription> made;
    ASSERT_OK(read_set_description(set, &made));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->digest, ScreenDigest::xxh3);
    auto first_differing = [&](const std::string& json) {
        std::vector<uint8_t> bytes(json.begin(), json.end());
        SetDescription description;
        EXPECT_OK(parse_description(bytes, "d", &description));
        return frames_not_as_intended(set, 3, 1, description.screens, description.digest).front();
    };
    // A set made before XXH3 names no digest: its FNV-1a digests are checked as such.
    EXPECT_EQ(first_differing(R"({"xres": 3, "yres": 1, "screens": ["01604a35c86f7cf9"]})"), 2);
    EXPECT_EQ(first_differing(R"({"xres": 3, "yres": 1, "screens": ["0d49738ac5739a1e"]})"), 1);
    EXPECT_EQ(first_differing(
                  R"({"xres": 3, "yres": 1, "screens": ["0d49738ac5739a1e"], "screen_digest": "xxh3"})"),
        2);
    const std::string unknown = R"({"xres": 3, "yres": 1, "screen_digest": "md5"})";
    SetDescription description;
    EXPECT_EQ(
        parse_description(std::vector<uint8_t>(unknown.begin(), unknown.end()), "d", &description).message,
        "d: screen_digest must be xxh3 or fnv1a");
}
