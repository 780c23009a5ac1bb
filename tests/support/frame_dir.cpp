#include "tests/support/frame_dir.h"

#include "frames/replay.h"
#include "lib/file_io.h"

bool write_frame_files(const std::filesystem::path& dir, const std::map<int, Frame>& frames)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const auto& [n, frame] : frames)
        if (write_atomically(dir / frame_name(n), frame))
            return false;
    return true;
}
