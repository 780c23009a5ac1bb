// Whole files in and out, for the host tools: read at once, written all or nothing.
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
