#include "frames/replay.h"
#include "lib/file_io.h"
#include "src/kmsg.h"
#include "tests/support/sandboxed.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// These run in the test's private /dev, where /dev/kmsg is a plain file.
std::string kmsg_contents()
{
    std::vector<uint8_t> bytes;
    (void)read_whole_file(KMSG_PATH, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

TEST(Kmsg, LongMessagesAreCutTo511Characters)
{
    REQUIRE_DEVICE_SANDBOX();
    std::ofstream(KMSG_PATH).close();
    std::string path(600, 'p');
    kmsg_print(3, CANNOT_OPEN_FORMAT, path.c_str());
    EXPECT_EQ(kmsg_contents(), ("<3>pelimora: cannot open '" + path).substr(0, 511));
    // A plain file is written from its start again: each message is a fresh record.
    std::ofstream(KMSG_PATH).close();
    kmsg_print(3, CANNOT_OPEN_FORMAT, frame_path(7).c_str());
    EXPECT_EQ(kmsg_contents(), "<3>pelimora: cannot open '" + frame_path(7) + "'\n");
    std::filesystem::remove(KMSG_PATH);
}

TEST(Kmsg, MissingDeviceDropsTheMessage)
{
    REQUIRE_DEVICE_SANDBOX();
    std::filesystem::remove(KMSG_PATH);
    kmsg_print(3, CANNOT_OPEN_FORMAT, "/dev/graphics/fb0");
    EXPECT_FALSE(std::filesystem::exists(KMSG_PATH));
}

} // namespace
