// The screen a tool works on: the flags and the panel file given, over what
// a set's description records.
#pragma once

#include "frames/set_description.h"

#include <optional>
#include <string>
#include <vector>

// What is given for the screen, typed: the panel file read, and each flag
// parsed (commands/screen_flags.h), 0 or null when not given.
struct ScreenOverrides {
    std::optional<PanelFile> panel;
    ScreenGeometry flags;
    bool rotate_given = false; // --rotate 0 undoes a set's turn
};
// The panel a bundle's index lists for a set: its size, depth, format and line length.
ScreenOverrides listed_panel(const ScreenGeometry& panel);

// The screen chosen (its depth not known when nothing gives it), and notes
// for each thing given that overrides the set's description.
struct ChosenScreen {
    ScreenGeometry geometry;
    std::vector<std::string> notes;
};
// Whether the work needs the screen's depth: showing frames does; making
// them does not (a set is made for either depth).
enum class Depth { needed, optional };
// The screen to use: what is given (the flags over the panel file) over the
// set's description. Without either for the size, or for the depth when it
// is needed, it refuses with a message that says how to give it.
Error choose_screen(const ScreenOverrides& given, const std::optional<SetDescription>& description,
    Depth depth, ChosenScreen* chosen);
