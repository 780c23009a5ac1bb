#include "tool_main.h"

#include <cstdio>
#include <exception>

int run_tool(const char* name, int (*body)(int, char**), int argc, char** argv)
{
    try {
        return body(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}

const char* pelimora_version()
{
    return PELIMORA_VERSION;
}
