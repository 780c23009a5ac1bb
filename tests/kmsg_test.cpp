#include "kmsg.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// These run in the test's private /dev, where /dev/kmsg is a plain file.
std::string kmsg_contents()
{
    std::ifstream in(KMSG_PATH, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
    kmsg_print(3, CANNOT_OPEN_FORMAT, "/bootimages/Loop_7.rle");
    EXPECT_EQ(kmsg_contents(), "<3>pelimora: cannot open '/bootimages/Loop_7.rle'\n");
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
