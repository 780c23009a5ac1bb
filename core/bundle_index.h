// A bundle of sets, one for each panel of a product line: BUNDLE/index.json
// lists each set's folder and the screen it was made for. Read here with the
// C library alone, on the device by --pick and on the host by the tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr char BUNDLE_INDEX_FILE[] = "index.json";
constexpr int MAX_BUNDLE_SETS = 64;
constexpr size_t MAX_BUNDLE_INDEX_BYTES = 64 * 1024;
constexpr int BUNDLE_NAME_SIZE = 64; // a folder name: letters, digits, '.', '_' and '-'
constexpr int BUNDLE_FORMAT_SIZE = 16;

// The index's keys: "sets", and each set's, in the order they are written.
constexpr char BUNDLE_SETS_KEY[] = "sets";
enum BundleSetKey {
    SET_NAME,
    SET_XRES,
    SET_YRES,
    SET_BITS_PER_PIXEL,
    SET_LINE_LENGTH,
    SET_FORMAT,
    SET_KEY_COUNT
};
// By BundleSetKey.
constexpr const char* BUNDLE_SET_KEYS[SET_KEY_COUNT]
    = { "name", "xres", "yres", "bits_per_pixel", "line_length", "format" };

struct BundleSet {
    char name[BUNDLE_NAME_SIZE];
    uint32_t xres, yres, bits_per_pixel, line_length;
    char format[BUNDLE_FORMAT_SIZE]; // as DRM names it
};

struct BundleIndex {
    BundleSet sets[MAX_BUNDLE_SETS];
    int count;
    char error[320]; // why the index is refused
};

// Parses an index's text: false, with the reason in `index->error`, for
// anything but an object {"sets": [{"name", "xres", "yres",
// "bits_per_pixel", "line_length", "format"}, ...]} with each key once,
// names that are plain folder names and no two sets alike.
[[nodiscard]] bool parse_bundle_index(const char* text, size_t length, BundleIndex* index);

// Whether a set's name can name its folder: letters, digits, '.', '_' and
// '-', shorter than BUNDLE_NAME_SIZE, not starting with '.'.
bool plain_set_name(const char* name);

// Whether two sets are made for the same screen, which an index cannot tell
// apart: the same size, depth, line length and format.
bool same_bundle_screen(const BundleSet& a, const BundleSet& b);

// Reads and parses DIR/index.json.
[[nodiscard]] bool read_bundle_index(const char* dir, BundleIndex* index);

// The set made for exactly this screen, or -1.
int find_bundle_set(const BundleIndex& index, uint32_t xres, uint32_t yres, uint32_t bits_per_pixel,
    uint32_t line_length, const char* format);
