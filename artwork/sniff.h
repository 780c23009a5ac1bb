// Telling what a file is before decoding it: the picture formats libvips
// reads, the input's bytes from a descriptor or memory, a PNG's chunk walk
// and the signatures of the formats; the SVG guard.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <unistd.h>

// The formats libvips reads for us.
enum class PictureFormat { png, jpeg, webp, gif, tiff, svg };

const char* format_name(PictureFormat format);
// The format of a libvips loader, by the name of its class.
std::optional<PictureFormat> format_of_loader(const char* loader);

// The input's bytes at an offset, from a descriptor or from memory.
struct Bytes {
    int fd = -1;
    std::span<const uint8_t> memory;
    bool read(uint64_t at, size_t size, uint8_t* out) const
    {
        if (fd >= 0)
            return pread(fd, out, size, off_t(at)) == ssize_t(size);
        if (at > memory.size() || memory.size() - at < size)
            return false;
        std::memcpy(out, memory.data() + at, size);
        return true;
    }
};

struct PngLayout {
    bool complete = false; // every chunk whole, up to IEND
    bool animated = false; // an animation control chunk before the image data
};

// Walks a PNG's chunk headers. libpng, as libvips drives it, draws a file
// cut short in its image data as black rows without an error; the walk
// catches it before any pixel is decoded.
PngLayout png_layout(const Bytes& file);

// Whether the file begins as markup (an SVG): its first character, after
// any byte-order mark and white space, is '<'.
bool begins_as_markup(const Bytes& bytes);

// The format a file's first bytes claim, for saying what a file that no
// reader took was meant to be.
std::optional<PictureFormat> format_by_signature(const Bytes& bytes);
