#include "artwork/vips_picture.h"

#include "artwork/sniff.h"
#include "artwork/svg_guard.h"
#include "artwork/vips_artwork.h"
#include "artwork/vips_support.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using vips::VError;

namespace {

// The picture format libvips would load `fd` (or `bytes`) as; nullopt for
// anything else, and for an APNG, of which libvips shows only the first
// frame. Fails for a picture it cannot read (a truncated PNG).
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
// references against, after refusing any it makes.
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
    return within(name + ": ", svg_stands_alone(*svg));
}

} // namespace

Opened open_vips_picture(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error)
{
    if ((*error = start_vips()))
        return Opened::failed;
    std::optional<PictureFormat> format;
    if ((*error = sniff_picture(fd, bytes, name, &format)))
        return Opened::failed;
    // Not a picture libvips takes: video, or an APNG, or nothing we read.
    if (!format)
        return Opened::not_mine;
    std::vector<uint8_t> svg;
    if (format == PictureFormat::svg)
        if ((*error = read_svg(fd, bytes, name, &svg)))
            return Opened::failed;
    try {
        vips::VSource source = !svg.empty() ? vips::VSource::new_from_memory(svg.data(), svg.size())
            : fd >= 0                       ? vips::VSource::new_from_descriptor(fd)
                                            : vips::VSource::new_from_memory(bytes.data(), bytes.size());
        *error = open_vips_artwork(name, *format, source, std::move(svg), artwork);
    } catch (const VError& error_thrown) {
        *error = input_error(name + ": " + vips_message(error_thrown));
    }
    return *error ? Opened::failed : Opened::opened;
}
