// Opening artwork by its content: a picture libvips reads, else video or
// APNG through FFmpeg, else a one-line error saying what the file is not.
// Each reader's module is loaded once, when first needed, and never
// unloaded (the artwork it opens runs its code until the tool ends).
#include "artwork/readers.h"
#include "artwork/sniff.h"
#include "lib/file_io.h"
#include "lib/helpers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

template <typename Readers> struct Loaded {
    void* module = nullptr; // kept loaded to the end
    const Readers* readers = nullptr;
    Error error;
};

// The readers module `file` gives at `entry`, called with `given`.
template <typename Readers, typename... Given>
Loaded<Readers> load(const char* file, const char* entry, Given... given)
{
    fs::path path = helpers_dir() / file;
    Loaded<Readers> loaded;
    loaded.module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded.module) {
        loaded.error = input_error(std::string("cannot load the artwork readers: ") + dlerror());
        return loaded;
    }
    auto readers = reinterpret_cast<const Readers* (*)(Given...)>(dlsym(loaded.module, entry));
    loaded.readers = readers ? readers(given...) : nullptr;
    if (!loaded.readers || std::strcmp(loaded.readers->version, PELIMORA_VERSION) != 0) {
        loaded.readers = nullptr;
        loaded.error
            = input_error(path.string() + ": not the artwork readers of pelimora " + PELIMORA_VERSION);
    }
    return loaded;
}

const Loaded<PictureReaders>& picture_readers()
{
    static const Loaded<PictureReaders> once
        = load<PictureReaders>(PICTURE_READERS_FILE, PICTURE_READERS_ENTRY);
    return once;
}

// Fits a video's frames through the pictures' module, loaded for the first
// frame that needs it: a clip of the panel's size needs none.
Error fit_through_pictures(const uint8_t* pixels, uint32_t width, uint32_t height, int bands,
    int quarter_turns, const Fitting& fitting, LinearPicture* picture)
{
    const Loaded<PictureReaders>& pictures = picture_readers();
    return pictures.error
        ? pictures.error
        : pictures.readers->fit_pixels(pixels, width, height, bands, quarter_turns, fitting, picture);
}

const Loaded<VideoReaders>& video_readers()
{
    static const Loaded<VideoReaders> once
        = load<VideoReaders>(VIDEO_READERS_FILE, VIDEO_READERS_ENTRY, &fit_through_pictures);
    return once;
}

enum class Reader { pictures, video };

Opened open_with(Reader reader, int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error)
{
    const Error& unloaded = reader == Reader::pictures ? picture_readers().error : video_readers().error;
    if ((*error = unloaded))
        return Opened::failed;
    OpenArtwork open
        = reader == Reader::pictures ? picture_readers().readers->open : video_readers().readers->open;
    return open(fd, bytes, name, artwork, error);
}

// `fd` (or, when -1, `bytes`) holds the artwork.
Error open_any(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    uint8_t first = 0;
    if (!Bytes { fd, bytes }.read(0, 1, &first))
        return input_error(name + ": empty file");
    // What does not begin as a picture is offered to the video's reader
    // first: a clip then never loads libvips unless its frames need fitting.
    const std::optional<PictureFormat> looks_like = format_by_signature({ fd, bytes });
    const bool picture_first = looks_like || begins_as_markup({ fd, bytes });
    Error error;
    for (Reader reader : picture_first ? std::array { Reader::pictures, Reader::video }
                                       : std::array { Reader::video, Reader::pictures })
        if (open_with(reader, fd, bytes, name, artwork, &error) != Opened::not_mine)
            return error;
    if (looks_like)
        return input_error(name + ": a damaged or truncated " + format_name(*looks_like));
    return input_error(name
        + ": not a picture or video this tool reads (PNG, JPEG, WebP, GIF, TIFF, SVG, "
          "APNG, or video such as MP4, WebM, MOV, MKV)");
}

} // namespace

Error open_artwork(const fs::path& path, std::unique_ptr<Artwork>* artwork)
{
    Error error;
    int fd = open_regular_file(path, &error);
    if (fd < 0)
        return error;
    error = open_any(fd, {}, path.string(), artwork);
    // The readers keep their own descriptors.
    (void)close(fd);
    return error;
}

Error open_artwork(std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    return open_any(-1, bytes, name, artwork);
}

bool is_artwork_name(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    for (const char* known : { ".png", ".apng", ".jpg", ".jpeg", ".webp", ".gif", ".tif", ".tiff", ".svg" })
        if (extension == known)
            return true;
    return false;
}
