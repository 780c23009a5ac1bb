// The screen a tool works on: the flags and the panel file given, over what
// a set's description records.
#pragma once

#include "frames/set_description.h"

#include <optional>
#include <string>
#include <vector>

// What is given for the screen, typed: the panel file read, each flag
// parsed (commands/screen_flags.h); 0, null or nullopt when not given.
struct ScreenOverrides {
    std::optional<PanelFile> panel;
    uint32_t width = 0, height = 0, bits_per_pixel = 0, line_length = 0;
    const PixelFormat* format = nullptr;
    std::optional<uint32_t> rotate;
};
// The panel a bundle's index lists for a set: its size, depth, format and line length.
ScreenOverrides listed_panel(const ScreenGeometry& panel);

// The screen chosen, notes for each thing given that overrides the set's
// description, and whether a depth was given at all.
struct ChosenScreen {
    ScreenGeometry geometry;
    std::vector<std::string> notes;
    bool depth_known = false;
};
// Whether the work needs the screen's depth: showing frames does; making
// them does not (a set is made for either depth).
enum class Depth { needed, optional };
// The screen to use: what is given (the flags over the panel file) over the
// set's description. Without either for the size, or for the depth when it
// is needed, it refuses with a message that says how to give it.
Error choose_screen(const ScreenOverrides& given, const std::optional<SetDescription>& description,
    Depth depth, ChosenScreen* chosen);
