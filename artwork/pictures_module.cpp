// The pictures' module exports one symbol: its reader, and its fitting for
// the video's frames.
#include "artwork/readers.h"
#include "artwork/vips_picture.h"
#include "artwork/vips_support.h"

extern "C" [[gnu::visibility("default")]] const PictureReaders* pelimora_picture_readers()
{
    static const PictureReaders readers {
        .version = PELIMORA_VERSION, .open = open_vips_picture, .fit_pixels = fit_pixels
    };
    return &readers;
}
