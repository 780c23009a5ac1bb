// Small file and argument helpers shared by the host tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// Writes `bytes` to a temporary file beside `path`, then renames it into
// place: a failure leaves neither a partial file nor the temporary.
// Returns an empty string, or what went wrong.
std::string write_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Reads a whole file; returns an empty string, or what went wrong.
std::string read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* bytes);

// "frame2.png" before "frame10.png": digit runs compare as numbers.
bool natural_less(const std::string& a, const std::string& b);

// Runs a tool's body; an exception that escapes it (out of memory, a file
// system gone away) ends as a one-line error and exit status 1.
int run_tool(const char* name, int (*body)(int, char**), int argc, char** argv);

struct ScreenGeometry {
    uint32_t width = 0, height = 0, bits_per_pixel = 16;
    size_t bytes() const { return size_t(width) * height * bits_per_pixel / 8; }
    size_t pixels() const { return size_t(width) * height; }
};

// "WIDTHxHEIGHT", each 1 to 16384; returns an empty string or the error.
std::string parse_screen_size(const std::string& text, ScreenGeometry* geometry);
