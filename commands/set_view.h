// What the commands that view a set or a frame share: the screen to judge
// it on, the screen memory it starts from, and the words for how a frame
// covers the screen.
#pragma once

#include "commands/frame_commands.h"
#include "commands/screen_flags.h"
#include "frames/replay.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The screen for a set or a frame in `dir`: the panel a bundle's index
// lists (`listed`) or the flags, over the set's description; its notes are
// said. Fails for a damaged description (the input's) and for flags that
// name no screen (the command line's).
Error screen_for(const std::filesystem::path& dir, const ScreenFlags& flags,
    const std::optional<ScreenGeometry>& listed, Depth depth, ScreenGeometry* geometry,
    std::optional<SetDescription>* description = nullptr);

// A set's directory and the screen to judge it on.
Error open_set(const ViewOptions& options, Depth depth, ScreenGeometry* geometry,
    std::optional<SetDescription>* description);

// A set to view, and its folder in a bundle ("" for a set on its own).
struct SetToView {
    ViewOptions options;
    std::string folder;
};
// What `options.input` holds: the set itself, or each set of a bundle, to be
// viewed on the panel its index gives. Fails for a flag that names a screen
// with a bundle, a bad index, a set that is not there.
Error sets_to_view(const ViewOptions& options, std::vector<SetToView>* sets);

// The device memory as it starts: black, or showing the picture `base`.
Error initial_screen(const std::string& base, const ScreenGeometry& geometry, std::vector<uint8_t>* screen);

// What this panel shows differently from what the frames were made for, said once.
void print_panel_caveats(const ScreenGeometry& geometry, const std::optional<SetDescription>& description);

// How a frame covers the screen, in words: "exact", "short by N pixels: ...".
std::string describe_coverage(const FrameReport& frame, const ScreenGeometry& geometry);

// Frames the player cannot get through: a FIFO would hang it as it would
// hang us, so the tools refuse to show such a set as if it played.
Error first_unplayable(const FrameReport& report);
