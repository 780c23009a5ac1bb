// What the commands of pelimora-frames share: their one-line errors and
// notes, and the small parsing and naming helpers behind them.
#pragma once

#include "frames/panel_model.h"

#include <filesystem>
#include <string>
#include <vector>

constexpr char FRAMES_TOOL[] = "pelimora-frames";

// The exit status of every command: 0 done, 1 for what is wrong with the
// input or the frames (files, artwork, a set's description, a bundle's
// index, frames not as made), 2 for a bad command line (an option, a panel).
constexpr int BAD_ARGUMENT = 2;
constexpr char EXIT_STATUS_HELP[]
    = "Exit status: 0 when done (and, checking, when every frame is as made); 1 when the input or the frames "
      "are wrong: a file, the artwork, a set's pelimora.json, a bundle's index.json, frames not as made; 2 "
      "when the command line is: an option or a panel.";

// Prints "TOOL: MESSAGE" on standard error and returns `status`.
int fail(const std::string& message, int status = 1);
// "TOOL: note: MESSAGE" on standard error.
void note(const std::string& message);

// Up to `most` names, then how many more.
[[nodiscard]] std::string name_list(const std::vector<std::string>& names, size_t most = 5);

// RRGGBB, with or without #; "" or the error.
[[nodiscard]] std::string parse_colour(const std::string& text, Rgb* colour);

// The same file, even under another name or through a link.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);
