// A private /dev for everything the tests and pelimora-vfb start.
#pragma once

#include <string>

// Moves this process into a private mount namespace with an empty tmpfs over
// /dev, so nothing it or its children start can reach a real device. Returns
// false, with the reason, where that is not permitted.
[[nodiscard]] bool enter_device_sandbox(std::string* why);
