// Files in and out for the host tools. Inputs must be regular files, opened
// without blocking (a FIFO would hang a tool as it hangs the player); outputs
// are written all or nothing.
#pragma once

#include "lib/error.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

// "a directory", "a FIFO", ...: what a path is when it is not a regular file.
[[nodiscard]] std::string file_kind(mode_t mode);

// Whether `inner` is `outer` or lies inside it, even through links.
bool is_within(const std::filesystem::path& inner, const std::filesystem::path& outer);

// Opens `path` read-only after making sure it is a regular file. Returns the
// descriptor, or -1 with a one-line message naming the path in `error`.
int open_regular_file(const std::filesystem::path& path, Error* error, struct stat* info = nullptr);

// Reads a whole regular file, or at most `limit` bytes of it. Throws
// Interrupted when a signal asked to stop during the read.
Error read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* bytes);
Error read_file_start(const std::filesystem::path& path, uint64_t limit, std::vector<uint8_t>* bytes);

// Writes one file all or nothing: the bytes go to a hidden temporary beside
// it, are synced, and are renamed into place.
Error write_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);
