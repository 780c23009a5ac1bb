// A set's format, written in one place: each frame's file from the codes of
// the panel's stream (ending after its last pixel that changes the screen,
// when trimmed), the digest of the screen each frame leaves, whether frames
// after the first draw only part of the screen, and the set's description.
// Files are staged under a prefix ("" for a set alone, "NAME/" in a bundle).
#pragma once

#include "frames/set_description.h"
#include "lib/staged_files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The files a set's folder holds: its frames, in order, then its description.
std::vector<std::string> set_file_names();
bool is_set_file(const std::string& name);

// What a frame's file holds and writes: for the report.
struct FrameWritten {
    size_t file_bytes = 0;
    uint64_t whole = 0; // pixels the untrimmed frame writes
    uint64_t trimmed = 0; // pixels it writes trimmed (0: it changes nothing)
    bool draws_nothing = false;
};

class SetWriter {
public:
    SetWriter(StagedFiles& staged, std::string prefix, bool trim, int frames);

    // Frame i (from 0) from the codes of the whole stream in `*codes`. When
    // the frame changes the screen the codes become it, and `*codes` is left
    // holding the screen before (swapped, not copied). Frame 1 is whole,
    // drawn over whatever the boot loader left.
    Error add_frame(int i, std::vector<uint16_t>* codes, FrameWritten* written);
    // Frame i draws nothing and keeps the screen (it still pans, as the pace wants).
    Error add_held(int i, FrameWritten* written);
    // The set's description: `screen` with the digests and the partial flag.
    Error add_description(const ScreenGeometry& screen);

    // The codes the screen holds after the last frame added.
    const std::vector<uint16_t>& screen() const { return screen_; }
    bool partial() const { return partial_; }
    const std::vector<uint64_t>& digests() const { return digests_; }
    // Pixels all frames write untrimmed, and trimmed.
    uint64_t whole_pixels() const { return whole_; }
    uint64_t trimmed_pixels() const { return trimmed_; }

private:
    Error stage(int i, std::span<const uint8_t> file, FrameWritten* written);
    Error stage_records(int i, std::span<const uint16_t> pixels, FrameWritten* written);

    StagedFiles& staged_;
    const std::string prefix_;
    const bool trim_;
    std::vector<uint16_t> screen_;
    std::unique_ptr<uint8_t[]> records_; // a frame's records on their way to its file
    std::vector<uint64_t> digests_;
    bool partial_ = false;
    uint64_t whole_ = 0, trimmed_ = 0;
};
