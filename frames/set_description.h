// The description encode leaves beside a set of frames: the screen the set
// was made for, so that the other tools need no flags and can tell when they
// are pointed at the wrong screen (the player ignores the file); the panel
// files the tools take; and the choice of screen from both and the flags.
#pragma once

#include "frames/panel.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

constexpr char SET_DESCRIPTION_FILE[] = "pelimora.json";

// The screen a panel file or a set's description names.
struct DescribedScreen {
    uint32_t xres = 0, yres = 0;
    uint32_t bits_per_pixel = 0; // 0: not known
    uint32_t line_length = 0; // 0: not known
    const PixelFormat* format = nullptr; // null: not known
    uint32_t rotate = 0; // degrees clockwise the picture is turned in the panel's memory
};

// What encode records beside a set.
struct SetDescription : DescribedScreen {
    // Frames after the first that draw only part of the screen (trimmed or
    // held), relying on what the frame before left.
    bool partial_frames = false;
    // The digest of the colour codes the screen holds after each frame, as
    // the set was meant to leave it (screen_digest); empty when not recorded.
    std::vector<uint64_t> screens;
};

// A panel file (--panel FILE, a probe's report), whose further keys, such as
// the kernel's channel offsets, may decide the format.
struct PanelFile : DescribedScreen {
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

// The screen flags every tool takes, as given; empty when not given.
struct ScreenFlags {
    std::string size, depth, format, line_length, panel, rotate;
};

// What is given for the screen, typed: the panel file read, each flag
// parsed; 0, null or nullopt when not given.
struct ScreenOverrides {
    std::optional<PanelFile> panel;
    uint32_t width = 0, height = 0, bits_per_pixel = 0, line_length = 0;
    const PixelFormat* format = nullptr;
    std::optional<uint32_t> rotate;
};
// The flags parsed and the panel file read; errors name the flag or the file.
Error parse_screen_flags(const ScreenFlags& flags, ScreenOverrides* given);
// The panel a bundle's index lists for a set: its size, depth, format and line length.
ScreenOverrides listed_panel(const ScreenGeometry& panel);

// The screen chosen, notes for each thing given that overrides the set's
// description, and whether a depth was given at all.
struct ChosenScreen {
    ScreenGeometry geometry;
    std::vector<std::string> notes;
    bool depth_known = false;
};
// The screen to use: what is given (the flags over the panel file) over the
// set's description. Without either for the size, or for the depth when
// `need_depth`, it refuses with a message that says how to give it.
Error choose_screen(const ScreenOverrides& given, const std::optional<SetDescription>& description,
    bool need_depth, ChosenScreen* chosen);
