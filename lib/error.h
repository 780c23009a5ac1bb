// A host tool's failure and the exit status it ends the tool with.
#pragma once

#include <string>
#include <utility>

// The exit status of every host tool.
enum class ExitStatus : int {
    done = 0,
    // What the tool reads or writes: a file, the artwork, a set, a bundle, frames not as made.
    wrong_input = 1,
    bad_command_line = 2, // an option or a panel
};

// The same, as --help gives it.
constexpr char EXIT_STATUS_HELP[]
    = "Exit status: 0 when done (and, checking, when every frame is as made); 1 when the input or the frames "
      "are wrong: a file, the artwork, a set's pelimora.json, a bundle's index.json, frames not as made; 2 "
      "when the command line is: an option or a panel.";

// The status is decided where the failure is understood; callers add where
// it happened (a file's name) and pass it up, never choosing another.
struct [[nodiscard]] Error {
    ExitStatus status = ExitStatus::done;
    std::string message;

    explicit operator bool() const { return status != ExitStatus::done; }
    int exit_status() const { return int(status); }
};

inline Error input_error(std::string message)
{
    return { ExitStatus::wrong_input, std::move(message) };
}

inline Error usage_error(std::string message)
{
    return { ExitStatus::bad_command_line, std::move(message) };
}

// A failure the tool's output has already stated (a verdict, a line said as
// the work went on): its status, and nothing more to print.
inline Error already_said(ExitStatus status)
{
    return { status, "" };
}

// The worse of two outcomes, as a run over several sets ends with.
inline ExitStatus worse(ExitStatus a, ExitStatus b)
{
    return int(a) > int(b) ? a : b;
}

// The same failure, `context` ("FILE: ") before its message.
inline Error within(const std::string& context, Error error)
{
    if (error)
        error.message.insert(0, context);
    return error;
}
