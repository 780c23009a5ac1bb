// The description encode leaves beside a set of frames: the screen the set
// was made for, so that the other tools need no flags and can tell when they
// are pointed at the wrong screen (the player ignores the file); the panel
// files the tools take.
#pragma once

#include "frames/panel.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

constexpr char SET_DESCRIPTION_FILE[] = "pelimora.json";

// How a set's description digests each screen: FNV-1a in sets made before
// XXH3 came, XXH3 (64 bits, XXH3_64bits over the codes' bytes, low byte
// first) since.
enum class ScreenDigest { fnv1a, xxh3 };

// What encode records beside a set.
struct SetDescription : ScreenGeometry {
    // Frames after the first that draw only part of the screen (trimmed or
    // held), relying on what the frame before left.
    bool partial_frames = false;
    // The digest of the colour codes the screen holds after each frame, as
    // the set was meant to leave it (screen_digest); empty when not recorded.
    std::vector<uint64_t> screens;
    // What digested them: a description that does not say is from before XXH3.
    ScreenDigest digest = ScreenDigest::fnv1a;
};

// A panel file (--panel FILE, a probe's report), whose further keys, such as
// the kernel's channel offsets, may decide the format.
struct PanelFile : ScreenGeometry {
    std::string name; // a name of its own, for the panel's set in a bundle
};

// A set's description from JSON bytes; `name` is what errors call it. Its
// errors are of the input, a panel file's of the command line.
Error parse_description(
    const std::vector<uint8_t>& json, const std::string& name, SetDescription* description);
// A panel file from JSON bytes, and from its path; errors name the file.
// The readers of files here throw Interrupted as lib/file_io.h's do.
Error parse_panel_file(const std::vector<uint8_t>& json, const std::string& name, PanelFile* panel);
Error read_panel_file(const std::filesystem::path& path, PanelFile* panel);

// The description in `dir`, nullopt when there is none; an error when the
// file is there but unreadable.
Error read_set_description(const std::filesystem::path& dir, std::optional<SetDescription>* description);
std::vector<uint8_t> set_description_bytes(const SetDescription& description);

// The screen the frames in hand were made for, on `panel`: what the set's
// description records, what it leaves unsaid the player's own format at the
// panel's depth, in lines of a row. Without a description nothing says they
// were made for another panel than this one.
ScreenGeometry made_for(const std::optional<SetDescription>& description, const ScreenGeometry& panel);
