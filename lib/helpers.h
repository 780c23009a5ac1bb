// Where a tool finds its helpers (the host player, the virtual devices, the
// artwork readers): beside it, the same in the build tree and an installation.
#pragma once

#include <filesystem>

// The helpers' folder, from the running program's own path.
std::filesystem::path helpers_dir();
