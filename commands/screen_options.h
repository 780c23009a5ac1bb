// The flags that name the screen, declared once for every command that takes them.
#pragma once

#include "commands/screen_flags.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

// --size and --depth, with the help that says where the default comes from.
void add_size_options(CLI::App* command, ScreenFlags* flags, const std::string& size_help,
    const std::string& depth_help = "Bits per pixel of the screen, 16 or 32");
// --format, --line-length and --panel; with `panels`, --panel may be given
// again (and --panels DIR names a folder of them), for a bundle.
void add_panel_options(CLI::App* command, ScreenFlags* flags, std::vector<std::string>* panels = nullptr,
    std::string* panels_dir = nullptr);

// Parses the command line: nullopt to go on, else how the tool ends (done
// after --help or --version; a usage error for a bad argument or an empty value).
std::optional<Error> parse_command_line(CLI::App& app, int argc, char** argv);
