// What every host tool's main shares.
#pragma once

// Runs a tool's body; an exception that escapes it (out of memory, a file
// system gone away) ends as a one-line error and exit status 1.
int run_tool(const char* name, int (*body)(int, char**), int argc, char** argv);

// The running tool's name, as run_tool was given it, for its messages.
const char* tool_name();

// The project's version, as --version prints it.
const char* pelimora_version();
