#include "artwork/sniff.h"

#include <cctype>
#include <string>
#include <utility>
#include <vector>

const char* format_name(PictureFormat format)
{
    static const char* const names[] = { "PNG", "JPEG", "WebP", "GIF", "TIFF", "SVG" };
    return names[int(format)];
}

std::optional<PictureFormat> format_of_loader(const char* loader)
{
    static const std::pair<const char*, PictureFormat> known[]
        = { { "VipsForeignLoadPng", PictureFormat::png }, { "VipsForeignLoadJpeg", PictureFormat::jpeg },
              { "VipsForeignLoadWebp", PictureFormat::webp }, { "VipsForeignLoadNsgif", PictureFormat::gif },
              { "VipsForeignLoadGif", PictureFormat::gif }, { "VipsForeignLoadTiff", PictureFormat::tiff },
              { "VipsForeignLoadSvg", PictureFormat::svg } };
    for (const auto& [prefix, format] : known)
        if (std::strncmp(loader, prefix, std::strlen(prefix)) == 0)
            return format;
    return std::nullopt;
}

PngLayout png_layout(const Bytes& file)
{
    // Read 64 KB at a time: a chunk header is 8 bytes every 8 KB or so.
    struct Window {
        const Bytes& file;
        uint64_t start = 0;
        std::vector<uint8_t> data;
        bool read(uint64_t at, size_t size, uint8_t* out)
        {
            if (at < start || at + size > start + data.size()) {
                data.resize(std::max<size_t>(size, 65536));
                ssize_t got = file.fd >= 0 ? pread(file.fd, data.data(), data.size(), off_t(at))
                    : at <= file.memory.size()
                    ? ssize_t(std::min(data.size(), size_t(file.memory.size() - at)))
                    : -1;
                if (file.fd < 0 && got > 0)
                    std::memcpy(data.data(), file.memory.data() + at, size_t(got));
                data.resize(got > 0 ? size_t(got) : 0);
                start = at;
                if (data.size() < size)
                    return false;
            }
            std::memcpy(out, data.data() + (at - start), size);
            return true;
        }
    } bytes { file, 0, {} };
    PngLayout layout;
    bool image_seen = false;
    for (uint64_t at = 8;;) {
        uint8_t header[8];
        if (!bytes.read(at, 8, header))
            return layout;
        uint32_t length
            = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
        std::string type(reinterpret_cast<const char*>(header + 4), 4);
        if (type == "acTL" && !image_seen)
            layout.animated = true;
        image_seen = image_seen || type == "IDAT";
        uint8_t last = 0;
        if (!bytes.read(at + 8 + length + 3, 1, &last)) // the chunk's CRC is there in full
            return layout;
        if (type == "IEND") {
            layout.complete = true;
            return layout;
        }
        at += uint64_t(length) + 12;
    }
}

std::optional<PictureFormat> format_by_signature(const Bytes& bytes)
{
    uint8_t start[12] = {};
    for (size_t size = sizeof start; size >= 4; size -= 4)
        if (bytes.read(0, size, start))
            break;
    auto is
        = [&](size_t at, const char* text) { return std::memcmp(start + at, text, std::strlen(text)) == 0; };
    if (is(0, "\x89PNG"))
        return PictureFormat::png;
    if (is(0, "\xff\xd8\xff"))
        return PictureFormat::jpeg;
    if (is(0, "GIF8"))
        return PictureFormat::gif;
    if (is(0, "RIFF") && is(8, "WEBP"))
        return PictureFormat::webp;
    if (is(0, "II*") || (is(0, "MM") && start[2] == 0 && start[3] == '*'))
        return PictureFormat::tiff;
    return std::nullopt;
}

bool begins_as_markup(const Bytes& bytes)
{
    uint8_t start[64] = {};
    size_t size = sizeof start;
    while (size > 0 && !bytes.read(0, size, start))
        size /= 2;
    size_t at = size >= 3 && std::memcmp(start, "\xef\xbb\xbf", 3) == 0 ? 3 : 0;
    while (at < size && std::isspace(start[at]))
        ++at;
    return at < size && start[at] == '<';
}
