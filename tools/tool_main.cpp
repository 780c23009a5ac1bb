#include "tool_main.h"

#include "interrupt.h"

#include <cstdio>
#include <exception>
#include <new>

int run_tool(const char* name, int (*body)(int, char**), int argc, char** argv)
{
    int status = 1;
    try {
        status = body(argc, argv);
    } catch (const Interrupted&) {
        // Everything unfinished has been removed on the way here.
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", name);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
    }
    die_if_interrupted();
    return status;
}

const char* pelimora_version()
{
    return PELIMORA_VERSION;
}
