// What the commands of pelimora-frames share: their one-line errors and
// notes, and the small parsing and naming helpers behind them.
#pragma once

#include "frames/panel_stream.h"
#include "lib/error.h"
#include "lib/tool_main.h"

#include <filesystem>
#include <string>
#include <vector>

constexpr char FRAMES_TOOL[] = "pelimora-frames";

// "TOOL: note: MESSAGE" on standard error.
void note(const std::string& message);

// Up to `most` names, then how many more.
[[nodiscard]] std::string name_list(const std::vector<std::string>& names, size_t most = 5);

// RRGGBB, with or without #.
Error parse_colour(const std::string& text, Rgb* colour);

// The same file, even under another name or through a link.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);
