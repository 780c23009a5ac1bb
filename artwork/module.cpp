// The module's one exported symbol: the readers, for the tools that load it.
#include "artwork/readers.h"

extern "C" [[gnu::visibility("default")]] const ArtworkReaders* pelimora_artwork_readers()
{
    static const ArtworkReaders readers { PELIMORA_VERSION, read_artwork_file, read_artwork_bytes };
    return &readers;
}
