// The pictures' module exports one symbol: its reader, and its fitting for
// the video's frames.
#include "artwork/artwork_vips.h"
#include "artwork/readers.h"

extern "C" [[gnu::visibility("default")]] const PictureReaders* pelimora_picture_readers()
{
    static const PictureReaders readers { PELIMORA_VERSION, open_vips_picture, fit_pixels };
    return &readers;
}
