// Pictures of a playback, made one screen at a time: a lossless animated
// WebP that plays in a browser, and a contact sheet of every frame with its
// number. Both hold compressed frames or thumbnails, never whole screens.
#pragma once

#include "core/frame_outcome.h"

#include "lib/error.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

constexpr char ANIMATION_FILE[] = "animation.webp", CONTACT_SHEET_FILE[] = "contact-sheet.png";
// Lossless WebP's limit on either side.
constexpr uint32_t MAX_ANIMATION_SIDE = 16383;
// Why a screen this size has no animated WebP.
Error animation_refusal(uint32_t width, uint32_t height);

struct EncodedPicture;

// Where a frame of the animation lies on its canvas.
struct FrameRect {
    uint32_t x = 0, y = 0, width = 0, height = 0;
};

// An animated WebP written as it is made: each picture is encoded losslessly
// on a thread of its own, as the rectangle that changed since the picture
// before (transparent where many pixels stayed), and appended to `out` in
// order.
// Only the pictures being encoded are held (a core each, no more pixels
// than a screen's), and the last (a repeat of it lengthens its frame
// instead). Each picture is width x height 8-bit RGB.
class AnimationWriter {
public:
    AnimationWriter(std::FILE* out, uint32_t width, uint32_t height);
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;
    // One pause's picture (copied, when it changed, to be kept while it is encoded).
    Error add(const std::vector<uint8_t>& rgb);
    // Writes the last frame and the container's size.
    Error finish();

private:
    struct Encoding {
        std::future<std::unique_ptr<EncodedPicture>> picture;
        FrameRect rect;
        uint32_t ms;
    };
    Error write_frame(const EncodedPicture& encoded, FrameRect rect, uint32_t ms);
    Error write_oldest();

    std::FILE* out_;
    uint32_t width_, height_;
    Error error_;
    size_t parallel_ = std::max(1u, std::thread::hardware_concurrency());
    uint64_t encoding_pixels_ = 0; // in the frames being encoded
    std::deque<Encoding> encoding_; // oldest first
    std::shared_ptr<const std::vector<uint8_t>> previous_; // the last picture
};

// Thumbnails in rows of eight, each over a strip with its number; the strip is
// green for a drawn frame, amber for one that was not drawn (empty or
// unreadable), red for a missing one.
class ContactSheet {
public:
    ContactSheet(uint32_t width, uint32_t height, int frames);
    void add(const std::vector<uint8_t>& rgb, FrameOutcome outcome);
    // The sheet as a PNG.
    Error finish(std::vector<uint8_t>* png);

private:
    uint32_t width_, height_, shrink_, thumb_width_, thumb_height_, sheet_width_, sheet_height_;
    int added_ = 0;
    std::vector<uint8_t> sheet_;
};

class StagedFiles;

// Both pictures of a playback, made together into `staged` (in `folder` of
// it, for a bundle's set) for the caller to commit: ANIMATION_FILE and
// CONTACT_SHEET_FILE.
class PlaybackPictures {
public:
    PlaybackPictures(
        StagedFiles& staged, uint32_t width, uint32_t height, int frames, const std::string& folder = "");
    ~PlaybackPictures();
    PlaybackPictures(const PlaybackPictures&) = delete;
    PlaybackPictures& operator=(const PlaybackPictures&) = delete;
    // The screen after one frame, as 8-bit RGB. A failure is kept for write().
    void add(const std::vector<uint8_t>& rgb, FrameOutcome outcome);
    // Both written into the staged files.
    Error finish();

private:
    StagedFiles& staged_;
    const std::string folder_; // "" or "NAME/"
    std::FILE* stream_ = nullptr;
    Error error_;
    AnimationWriter animation_;
    ContactSheet sheet_;
};
