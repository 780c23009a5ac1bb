#pragma once

#include <string>

// Empty when the tests run behind a private /dev; otherwise why they do not.
extern std::string sandbox_error;

#define REQUIRE_DEVICE_SANDBOX() ASSERT_TRUE(sandbox_error.empty()) << sandbox_error
