// Panel and set descriptions (--panel FILE, pelimora.json) on arbitrary
// bytes: a description that parses must write out and parse back the same.
#include "frames/set_description.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetDescription description, again;
    if (parse_description({ data, data + size }, "panel", &description))
        return 0;
    if (parse_description(set_description_bytes(description), "again", &again))
        abort();
    if (again.width != description.width || again.height != description.height
        || again.bits_per_pixel != description.bits_per_pixel || again.line_length != description.line_length
        || again.format != description.format)
        abort();
    return 0;
}
