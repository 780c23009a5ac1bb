// The artwork readers need libvips and FFmpeg, and with them about 170
// libraries that take 30 MB and 20 ms to load. They are two modules of their
// own, among the helpers, each loaded the first time a tool needs it: the
// pictures' (libvips: stills, SVG, GIF and WebP animations) and the video's
// (FFmpeg: video and APNG), which leaves fitting its frames to the
// pictures'. preview, check and pelimora-vfb load neither.
#pragma once

#include "artwork/artwork.h"

enum class Opened {
    not_mine, // not a format this reader takes: the next one may
    opened,
    failed, // one of its formats that cannot be read: `error` says why
};

// Opens `fd` (or, when -1, `bytes`), which holds at least a byte; errors name it `name`.
using OpenArtwork = Opened (*)(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error);

// Fits decoded 8-bit RGB or RGBA rows to the panel (artwork/vips_support.h).
using FitPixels = Error (*)(const uint8_t* pixels, uint32_t width, uint32_t height, int bands,
    int quarter_turns, const Fitting& fitting, LinearPicture* picture);

constexpr const char* PICTURE_READERS_FILE = "libpelimora-pictures.so";
constexpr const char* PICTURE_READERS_ENTRY = "pelimora_picture_readers";
constexpr const char* VIDEO_READERS_FILE = "libpelimora-video.so";
constexpr const char* VIDEO_READERS_ENTRY = "pelimora_video_readers"; // given a FitPixels

// What each module gives; it serves the tools of its own version only.
struct PictureReaders {
    const char* version;
    OpenArtwork open;
    FitPixels fit_pixels; // for the video's frames, through the tool
};
struct VideoReaders {
    const char* version;
    OpenArtwork open;
};
