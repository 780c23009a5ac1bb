// A bundle's index (BUNDLE/index.json, which pelimora-probe --pick reads on
// the device) on arbitrary bytes: an index that parses must write out from
// its sets and parse back the same, and pick each of its sets for its screen.
#include "frames/bundle.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto index = std::make_unique<BundleIndex>(), again = std::make_unique<BundleIndex>();
    if (!parse_bundle_index(reinterpret_cast<const char*>(data), size, index.get()))
        return 0;
    std::vector<BundleEntry> sets;
    for (int i = 0; i < index->count; ++i) {
        const BundleSet& set = index->sets[i];
        if (find_bundle_set(*index, set.xres, set.yres, set.bits_per_pixel, set.line_length, set.format) != i)
            abort();
        if (const PixelFormat* format = find_format(set.format))
            sets.push_back({ set.name, { set.xres, set.yres, set.bits_per_pixel, set.line_length, format } });
    }
    std::vector<uint8_t> bytes = bundle_index_bytes(sets);
    if (!parse_bundle_index(reinterpret_cast<const char*>(bytes.data()), bytes.size(), again.get())
        || again->count != int(sets.size()))
        abort();
    for (int i = 0; i < again->count; ++i)
        if (std::strcmp(again->sets[i].name, sets[size_t(i)].name.c_str()) != 0)
            abort();
    return 0;
}
