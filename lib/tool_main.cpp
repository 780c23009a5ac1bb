#include "lib/tool_main.h"

#include "lib/interrupt.h"

#include <climits>
#include <cstdio>
#include <exception>
#include <malloc.h>
#include <new>

namespace {
const char* running_tool = "pelimora";
}

const char* tool_name()
{
    return running_tool;
}

void print_error(const Error& error)
{
    if (!error.message.empty())
        std::fprintf(stderr, "%s: %s\n", tool_name(), error.message.c_str());
}

int run_tool(const char* name, Error (*body)(int, char**), int argc, char** argv)
{
    running_tool = name;
    // The work is a few large blocks passed between threads: one heap keeps
    // what one thread frees for the next, where an arena a thread would
    // hold a screen or two each that no other could reuse.
    mallopt(M_ARENA_MAX, 1);
    // libwebp, libvips and FFmpeg allocate a screen or more for each frame
    // and free it: kept in the heap rather than mapped anew and returned,
    // the same pages serve every frame instead of faulting in each time.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    int status = 1;
    try {
        Error error = body(argc, argv);
        print_error(error);
        status = error.exit_status();
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
