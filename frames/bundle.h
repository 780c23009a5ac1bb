// A bundle: one set for each panel of a product line, BUNDLE/NAME/, and
// BUNDLE/index.json listing each set's screen. Written here; read by the
// core's reader (core/bundle_index.h), on the device and in the tools alike.
#pragma once

#include "core/bundle_index.h"
#include "frames/panel.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct BundleEntry {
    std::string name; // the set's folder
    ScreenGeometry panel; // with its depth, line length and format as the screen reports them
};

// The folder name for a panel: its own `name` when the panel file gives one,
// else its screen, e.g. "1024x600-XRGB8888-4224".
std::string bundle_set_name(const ScreenGeometry& panel, const std::string& own_name = "");
// Whether a name given in a panel file can name a set's folder; fails (the
// command line's) saying why not.
Error bundle_name_allowed(const std::string& name);

// Whether a bundle's index could not tell the two panels apart: the same
// size, depth, line length and format.
bool same_bundle_screen(const ScreenGeometry& a, const ScreenGeometry& b);

// The index's bytes, one set a line.
std::vector<uint8_t> bundle_index_bytes(const std::vector<BundleEntry>& sets);

// Whether `dir` holds a bundle's index.
bool is_bundle(const std::filesystem::path& dir);
// The bundle's sets, each with its panel; errors name the file.
Error read_bundle(const std::filesystem::path& dir, std::vector<BundleEntry>* sets);
