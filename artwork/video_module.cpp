// The video's module exports one symbol: its reader, given how to fit frames.
#include "artwork/ffmpeg_artwork.h"

extern "C" [[gnu::visibility("default")]] const VideoReaders* pelimora_video_readers(FitPixels fit)
{
    static const VideoReaders readers { PELIMORA_VERSION, open_ffmpeg_artwork };
    fit_video_frames_with(fit);
    return &readers;
}
