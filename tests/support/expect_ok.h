// Success checks that show a failure whole: EXPECT_OK(error) and
// ASSERT_OK(error) fail for any Error that is one, empty message or not, and
// print its exit status with its message.
#pragma once

#include "lib/error.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const Error& error, std::ostream* out)
{
    *out << "exit status " << error.exit_status() << ": \"" << error.message << "\"";
}

inline testing::AssertionResult is_ok(const Error& error)
{
    if (!error)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
        << "failed with exit status " << error.exit_status() << ": " << error.message;
}

#define EXPECT_OK(error) EXPECT_TRUE(is_ok(error))
#define ASSERT_OK(error) ASSERT_TRUE(is_ok(error))
