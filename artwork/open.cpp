// Opening artwork: the readers' module loaded once, on first use, and never
// unloaded (the artwork it opens runs its code until the tool ends).
#include "artwork/readers.h"
#include "lib/helpers.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>

namespace fs = std::filesystem;

namespace {

struct LoadedReaders {
    void* module = nullptr; // kept loaded to the end
    const ArtworkReaders* readers = nullptr;
    Error error;
};

LoadedReaders load_readers()
{
    fs::path path = helpers_dir() / ARTWORK_READERS_FILE;
    LoadedReaders loaded;
    loaded.module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded.module) {
        loaded.error = input_error(std::string("cannot load the artwork readers: ") + dlerror());
        return loaded;
    }
    auto entry = reinterpret_cast<const ArtworkReaders* (*)()>(dlsym(loaded.module, ARTWORK_READERS_ENTRY));
    loaded.readers = entry ? entry() : nullptr;
    if (!loaded.readers || std::strcmp(loaded.readers->version, PELIMORA_VERSION) != 0) {
        loaded.readers = nullptr;
        loaded.error
            = input_error(path.string() + ": not the artwork readers of pelimora " + PELIMORA_VERSION);
    }
    return loaded;
}

const LoadedReaders& loaded_readers()
{
    static const LoadedReaders once = load_readers();
    return once;
}

} // namespace

Error open_artwork(const fs::path& path, std::unique_ptr<Artwork>* artwork)
{
    const LoadedReaders& loaded = loaded_readers();
    return loaded.error ? loaded.error : loaded.readers->open_file(path, artwork);
}

Error open_artwork(std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    const LoadedReaders& loaded = loaded_readers();
    return loaded.error ? loaded.error : loaded.readers->open_bytes(bytes, name, artwork);
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
