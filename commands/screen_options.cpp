#include "commands/screen_options.h"

#include "commands/command_support.h"
#include "lib/tool_main.h"

#include <cstdio>

void add_size_options(
    CLI::App* command, ScreenFlags* flags, const std::string& size_help, const std::string& depth_help)
{
    command->add_option("--size", flags->size, size_help);
    command->add_option("--depth", flags->depth, depth_help);
}

void add_panel_options(
    CLI::App* command, ScreenFlags* flags, std::vector<std::string>* panels, std::string* panels_dir)
{
    command->add_option("--format", flags->format,
        "The panel's pixel format, as DRM names it: " + format_names()
            + " (default: what the player writes)");
    command->add_option("--line-length", flags->line_length,
        "Bytes a row takes in the device's memory (default: width x bytes a pixel)");
    command->add_option("--rotate", flags->rotate,
        "Degrees the picture is turned clockwise in the panel's memory, for a panel mounted turned: 0, 90, "
        "180 or 270, as fbcon=rotate:1, 2, 3 turns the console (default: the panel file's, else 0)");
    const std::string panel_help
        = "The panel as JSON: xres, yres, bits_per_pixel, line_length, format (or the channels' offsets), as "
          "pelimora-probe writes it, and rotate; flags override it";
    if (!panels) {
        command->add_option("--panel", flags->panel, panel_help);
        return;
    }
    command->add_option("--panel", *panels,
        panel_help
            + ". Given again, each panel gets a set of its own in OUT/NAME/, with OUT/index.json: a bundle "
              "for a product line, which pelimora-probe --pick chooses from on the device");
    command->add_option("--panels", *panels_dir, "A folder of panel files (*.json), all in one bundle");
}

namespace {

// An empty value ("--rotate $UNSET" in a script) is a wrong command line,
// never taken as the option not given.
void refuse_empty_values(CLI::App& command)
{
    static const CLI::Validator non_empty(
        [](const std::string& value) {
            return value.empty() ? std::string("an empty value") : std::string();
        },
        "");
    for (CLI::Option* option : command.get_options())
        if (option->get_type_size_max() > 0)
            option->check(non_empty);
}

} // namespace

std::optional<Error> parse_command_line(CLI::App& app, int argc, char** argv)
{
    app.footer(EXIT_STATUS_HELP);
    refuse_empty_values(app);
    for (CLI::App* command : app.get_subcommands({})) {
        command->footer(EXIT_STATUS_HELP);
        refuse_empty_values(*command);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end well; anything else is a bad argument, said in one line.
        if (error.get_exit_code() == 0)
            return Error { ExitStatus(app.exit(error)), "" };
        return usage_error(error.what());
    }
    return std::nullopt;
}
