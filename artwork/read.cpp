// Opening artwork by its content: libvips's pictures, else video and APNG
// through FFmpeg, else a one-line error saying what the file is not.
#include "artwork/artwork_vips.h"
#include "artwork/ffmpeg_artwork.h"
#include "artwork/readers.h"
#include "artwork/sniff.h"
#include "artwork/vips_artwork.h"
#include "lib/file_io.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using vips::VError;

namespace {

// The picture format libvips would load `fd` (or `bytes`) as; nullopt for
// anything else, and for an APNG, of which libvips shows only the first
// frame. "" or the error (a truncated PNG).
Error sniff_picture(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::optional<PictureFormat>* format)
{
    format->reset();
    try {
        vips::VSource probe = fd >= 0 ? vips::VSource::new_from_descriptor(fd)
                                      : vips::VSource::new_from_memory(bytes.data(), bytes.size());
        const char* loader = vips_foreign_find_load_source(probe.get_source());
        vips_error_clear();
        if (loader)
            *format = format_of_loader(loader);
    } catch (const VError& error) {
        vips_message(error);
    }
    if (*format == PictureFormat::png) {
        PngLayout layout = png_layout({ fd, bytes });
        if (!layout.complete)
            return input_error(name + ": a truncated PNG: it ends before its last chunk");
        if (layout.animated)
            format->reset();
    }
    return {};
}

// An SVG read whole, so it is drawn from memory with nothing to resolve
// references against, after refusing any it makes. "" or the error.
Error read_svg(int fd, std::span<const uint8_t> bytes, const std::string& name, std::vector<uint8_t>* svg)
{
    if (fd >= 0) {
        struct stat info { };
        if (fstat(fd, &info) != 0 || uint64_t(info.st_size) > MAX_SVG_BYTES)
            return input_error(name + ": an SVG of over " + std::to_string(MAX_SVG_BYTES >> 20) + " MiB");
        svg->resize(size_t(info.st_size));
        if (pread(fd, svg->data(), svg->size(), 0) != ssize_t(svg->size()))
            return input_error(name + ": cannot read: " + std::strerror(errno));
    } else {
        svg->assign(bytes.begin(), bytes.end());
    }
    if (std::string outside = svg_outside_reference(*svg); !outside.empty())
        return input_error(name + ": " + outside);
    return {};
}

// `fd` (or, when -1, `bytes`) holds the artwork.
Error open_any(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    if (Error error = start_vips())
        return error;
    uint8_t first = 0;
    if (!Bytes { fd, bytes }.read(0, 1, &first))
        return input_error(name + ": empty file");
    std::optional<PictureFormat> format;
    if (Error error = sniff_picture(fd, bytes, name, &format))
        return error;
    if (!format) {
        // Not a picture libvips takes: video, or an APNG, or nothing we read.
        Error error;
        if (open_ffmpeg_artwork(fd, bytes, name, artwork, &error) != Opened::not_mine)
            return error;
        if (std::optional<PictureFormat> looks_like = format_by_signature({ fd, bytes }))
            return input_error(name + ": a damaged or truncated " + format_name(*looks_like));
        return input_error(name
            + ": not a picture or video this tool reads (PNG, JPEG, WebP, GIF, TIFF, SVG, "
              "APNG, or video such as MP4, WebM, MOV, MKV)");
    }
    std::vector<uint8_t> svg;
    if (format == PictureFormat::svg)
        if (Error error = read_svg(fd, bytes, name, &svg))
            return error;
    try {
        vips::VSource source = !svg.empty() ? vips::VSource::new_from_memory(svg.data(), svg.size())
            : fd >= 0                       ? vips::VSource::new_from_descriptor(fd)
                                            : vips::VSource::new_from_memory(bytes.data(), bytes.size());
        return open_vips_artwork(name, *format, source, std::move(svg), artwork);
    } catch (const VError& error) {
        return input_error(name + ": " + vips_message(error));
    }
}

} // namespace

Error read_artwork_file(const fs::path& path, std::unique_ptr<Artwork>* artwork)
{
    Error error;
    int fd = open_regular_file(path, &error);
    if (fd < 0)
        return error;
    error = open_any(fd, {}, path.string(), artwork);
    // libvips and FFmpeg keep their own descriptors.
    (void)close(fd);
    return error;
}

Error read_artwork_bytes(
    std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    return open_any(-1, bytes, name, artwork);
}
