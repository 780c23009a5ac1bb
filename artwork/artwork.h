// Artwork in: stills (PNG, JPEG, WebP, GIF, TIFF, SVG), animations (GIF,
// WebP, APNG) and video, read one picture at a time and fitted to the panel
// in linear light. Stills and animations are read by libvips, video and APNG
// by FFmpeg's libraries; nothing outside the input is ever read.
#pragma once

#include "frames/panel_stream.h"
#include "lib/error.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class Fit {
    contain, // the whole picture, centred, the rest background
    cover, // the panel filled, the picture cropped centrally
    fill, // stretched to the panel
    none, // pixels as they are, centred, cropped where larger
};
std::optional<Fit> parse_fit(const std::string& text);

struct Fitting {
    uint32_t width = 0, height = 0; // the panel
    Fit fit = Fit::contain;
    Rgb background;
};

// A colour of the background in linear light, a channel from 0 to 1.
std::vector<double> linear_background(Rgb colour);

// The size a picture of `width` x `height` takes on the panel before it is
// centred (and cropped, for cover and none).
void fitted_size(
    uint32_t width, uint32_t height, const Fitting& fitting, uint32_t* out_width, uint32_t* out_height);

// A picture of the panel's size in linear light: RGB floats from 0 to 1,
// transparency already laid over the background. A picture that needed no
// change (opaque 8-bit sRGB of the panel's size) is kept as read instead:
// the round trip through linear light gives every 8-bit level back as itself.
struct LinearPicture {
    uint32_t width = 0, height = 0;
    std::vector<float> rgb; // empty when `srgb` holds the picture
    std::vector<uint8_t> srgb;
};

// sRGB, 8 bits a channel: `weight` of the picture over 1 - weight of the
// background, mixed in linear light.
RgbaImage to_srgb(const LinearPicture& picture, float weight = 1, Rgb background = {});

// Largest picture read: up to MAX_SCREEN_SIDE a side and MAX_SOURCE_PIXELS in
// all. A picture of millions of rows a few pixels wide is within the pixels
// but takes the decoder minutes, row by row.
constexpr uint64_t MAX_SOURCE_PIXELS = uint64_t(MAX_SCREEN_SIDE) * MAX_SCREEN_SIDE / 4;
// Fails for a source of `width` x `height` over either ("WxH is over ...").
Error source_size_allowed(uint32_t width, uint32_t height);

// Which picture of the artwork was used, for the report.
struct SourceFrame {
    int index = 0; // from 0
    int64_t time_us = 0; // when the source shows it
    bool past_end = false; // the time asked for is after the source's end: this is its last picture
};

enum class SourceKind {
    still, // one picture; a size of its own unless it is an SVG
    animation, // pictures with delays (GIF, WebP, APNG): sized as drawn
    video, // frames in time; its size says nothing of the panel
};

class Artwork {
public:
    virtual ~Artwork() = default;
    // "PNG", "GIF animation", "h264 video", ...
    [[nodiscard]] virtual std::string kind() const = 0;
    virtual SourceKind source_kind() const = 0;
    bool moving() const { return source_kind() != SourceKind::still; }
    // Pictures in the artwork: 1 for a still; for video, as its header says (0 when unknown).
    virtual int64_t frame_count() const = 0;
    // How long it plays once; 0 for a still, and for a clip whose header
    // does not say until its last frame has been decoded. Once a clip is
    // known to be cut short, where its readable frames end.
    virtual int64_t duration_us() const = 0;
    // For a clip whose frames, read to the end, stop before the length its
    // header gives (a file damaged or cut short): that length; else 0.
    virtual int64_t claimed_duration_us() const { return 0; }
    // The size of its own pixels; 0 x 0 for a picture without one (SVG).
    virtual void native_size(uint32_t* width, uint32_t* height) const = 0;
    // The picture shown `time_us` into the artwork, fitted to the panel.
    // Errors are one line, naming the file.
    virtual Error picture_at(
        int64_t time_us, const Fitting& fitting, LinearPicture* picture, SourceFrame* which)
        = 0;
};

// Opens artwork by its content, not its name: reads its header and no more.
// Errors are one line, naming the file; they are of the input. The readers
// are loaded the first time (artwork/readers.h).
Error open_artwork(const std::filesystem::path& path, std::unique_ptr<Artwork>* artwork);
// The same from bytes in memory, which must outlive the artwork.
Error open_artwork(
    std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork);

// File names encode takes from a directory, by their extension.
bool is_artwork_name(const std::filesystem::path& path);
