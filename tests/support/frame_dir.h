// Frame files written for a run: a directory of the caller's holding
// Loop_N.rle for the frames given.
#pragma once

#include "lib/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

using Frame = std::vector<uint8_t>;

// Writes frames[n] as the file of frame n for every n given; false if one
// could not be written.
[[nodiscard]] bool write_frame_files(const std::filesystem::path& dir, const std::map<int, Frame>& frames);

class FrameDir : public TempDir {
public:
    [[nodiscard]] bool write(int n, const Frame& frame) const
    {
        return write_frame_files(path(), { { n, frame } });
    }
    [[nodiscard]] bool write(const std::map<int, Frame>& frames) const
    {
        return write_frame_files(path(), frames);
    }
};
