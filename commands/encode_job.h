// What encode's steps share: the options taken apart and what they name,
// and the sets to make. For commands/encode*.cpp and frame_making.cpp alone.
#pragma once

#include "artwork/artwork.h"
#include "commands/encode.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A set to make: its folder in a bundle ("" for a set alone), its panel
// (with no depth when the set suits either), and the fitting of the artwork
// into it.
struct SetTarget {
    std::string name;
    ScreenGeometry panel;
    Fitting fitting;
    std::string prefix() const { return name.empty() ? "" : name + "/"; }
};

// The options checked and taken apart, and what they name, for the steps below.
struct EncodeJob {
    const EncodeOptions& options;
    Rgb background {};
    Fit fit = Fit::contain;
    std::vector<std::filesystem::path> inputs {};
    bool several = false; // a directory or a sequence: a set, even of one picture
    std::unique_ptr<Artwork> artwork {}; // the first input
    bool moving = false;
    std::vector<SetTarget> targets {}; // one set, or a bundle's
    bool bundle = false;
};

// "1.234 s", for reports.
[[nodiscard]] std::string seconds_text(int64_t us);

// The steps, each done or what is wrong.
// The options checked, and their values in `job` (encode_inputs.cpp).
Error check_options(const EncodeOptions& options, EncodeJob& job);
// The inputs, and the first one opened (encode_inputs.cpp).
Error open_inputs(EncodeJob& job);
// The panel, from the flags or the panel file, or a picture's own size when
// it has one, not an SVG, not a video (encode_targets.cpp).
Error choose_panel(EncodeJob& job);
// A bundle's panels, each from its own file, each with a folder of its own (encode_targets.cpp).
Error choose_bundle_panels(EncodeJob& job);
