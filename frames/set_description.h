// The description encode leaves beside a set of frames: the screen the set
// was made for, so that the other tools need no flags and can tell when they
// are pointed at the wrong screen. The player ignores the file.
#pragma once

#include "frames/panel.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

constexpr char SET_DESCRIPTION_FILE[] = "pelimora.json";

// Also the form of a panel description (--panel FILE), whose further keys,
// such as the kernel's channel offsets, may decide the format.
struct SetDescription {
    uint32_t xres = 0, yres = 0;
    uint32_t bits_per_pixel = 0; // 0: not known
    uint32_t line_length = 0; // 0: not known
    const PixelFormat* format = nullptr; // null: not known
    uint32_t rotate = 0; // degrees clockwise the picture is turned in the panel's memory
    // Sets only. Frames after the first that draw only part of the screen
    // (trimmed or held), relying on what the frame before left.
    bool partial_frames = false;
    // The digest of the colour codes the screen holds after each frame, as
    // the set was meant to leave it (screen_digest); empty when not recorded.
    std::vector<uint64_t> screens;
    // Panel files only: a name of its own, for the panel's set in a bundle.
    std::string name;
};

// A panel or set description from JSON bytes; `name` is what errors call it.
[[nodiscard]] std::string parse_description(
    const std::vector<uint8_t>& json, const std::string& name, SetDescription* description);

// A panel file (or any description file); "" or the error, naming the file.
[[nodiscard]] std::string read_description_file(
    const std::filesystem::path& path, SetDescription* description);

// The description in `dir`, nullopt when there is none; "" or the error when
// the file is there but unreadable.
[[nodiscard]] std::string read_set_description(
    const std::filesystem::path& dir, std::optional<SetDescription>* description);
std::vector<uint8_t> set_description_bytes(const SetDescription& description);

// The screen the frames in hand were made for, on `panel`: what the set's
// description records, what it leaves unsaid the player's own format at the
// panel's depth, in lines of a row. Without a description nothing says they
// were made for another panel than this one.
ScreenGeometry made_for(const std::optional<SetDescription>& description, const ScreenGeometry& panel);

// The screen flags every tool takes; empty when not given.
struct ScreenFlags {
    std::string size, depth, format, line_length, panel, rotate;
};

// The screen to use: each flag given, else the panel file (--panel), else the
// set's description. Without
// either for the size, or for the depth when `need_depth`, it refuses with a
// message that says how to give it. `notes` gets a line for each flag that
// overrides the description.
// `depth_known` (when given) says whether a depth was given at all.
[[nodiscard]] std::string choose_screen(const ScreenFlags& flags,
    const std::optional<SetDescription>& description, bool need_depth, ScreenGeometry* geometry,
    std::vector<std::string>* notes, bool* depth_known = nullptr);
