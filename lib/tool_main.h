// What every host tool's main shares.
#pragma once

#include "lib/error.h"

// Runs a tool's body and prints its error, once; an exception that escapes
// it (out of memory, a file system gone away) ends as a one-line error and
// exit status 1. The tool's exit status.
int run_tool(const char* name, Error (*body)(int, char**), int argc, char** argv);

// "TOOL: MESSAGE" on standard error; nothing for a failure already said.
void print_error(const Error& error);

// The running tool's name, as run_tool was given it, for its messages.
const char* tool_name();

// The project's version, as --version prints it.
const char* pelimora_version();
