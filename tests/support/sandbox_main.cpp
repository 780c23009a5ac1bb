// Test entry: everything runs in a private mount namespace with an empty /dev,
// so no test can reach this machine's console, kernel log or framebuffer.
#include "tests/support/sandboxed.h"
#include "vfb/sandbox.h"

#include <gtest/gtest.h>

std::string sandbox_error = "not entered";

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    sandbox_error = enter_device_sandbox().message;
    return RUN_ALL_TESTS();
}
