// A private /dev for everything the tests and pelimora-vfb start.
#pragma once

#include "lib/error.h"

// Moves this process into a private mount namespace with an empty tmpfs over
// /dev, so nothing it or its children start can reach a real device; or
// why not, where that is not permitted.
Error enter_device_sandbox();
