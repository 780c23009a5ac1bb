// The artwork readers need libvips and FFmpeg, and with them about 170
// libraries that take 30 MB and 20 ms to load. They are a module of their
// own, among the helpers, loaded the first time a tool opens artwork: preview,
// check and pelimora-vfb never load them.
#pragma once

#include "artwork/artwork.h"

constexpr const char* ARTWORK_READERS_FILE = "libpelimora-artwork.so";
constexpr const char* ARTWORK_READERS_ENTRY = "pelimora_artwork_readers";

// What the module gives: open_artwork's two ways.
struct ArtworkReaders {
    const char* version; // the module serves the tools of its own version only
    Error (*open_file)(const std::filesystem::path& path, std::unique_ptr<Artwork>* artwork);
    Error (*open_bytes)(
        std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork);
};

// The readers themselves, as open_artwork: in the module, and linked
// directly where a program needs them without it (the fuzzing).
Error read_artwork_file(const std::filesystem::path& path, std::unique_ptr<Artwork>* artwork);
Error read_artwork_bytes(
    std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork);
