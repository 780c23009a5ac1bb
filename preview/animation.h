// Pictures of a playback, made one screen at a time: a lossless animated
// WebP that plays in a browser, and a contact sheet of every frame with its
// number. Both hold compressed frames or thumbnails, never whole screens.
#pragma once

#include "core/frame_outcome.h"
#include "preview/upright_view.h"

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

// An animated WebP of a view, written as it is made: each time the view is
// shown, the rectangle that changed (transparent where many of its pixels
// stayed) is encoded losslessly on a thread of its own and appended to
// `out` in order; a view that did not change lengthens the frame before.
// Only the frames being encoded are held (a core each, no more pixels than
// the view's): a frame of more than half the view is read from the view
// itself, and the others are copied.
class AnimationWriter {
public:
    AnimationWriter(std::FILE* out, uint32_t width, uint32_t height);
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;
    // One pause's picture: the view (width x height) as it changed since the
    // add before. Call release_view() before the view changes again.
    Error add(const UprightView& view);
    // Returns once no frame being encoded reads the view.
    void release_view();
    // Writes the last frame and the container's size.
    Error finish();

private:
    struct Encoding {
        std::future<std::unique_ptr<EncodedPicture>> picture;
        PixelRect rect;
        uint32_t ms;
        bool reads_view;
    };
    Error write_frame(const EncodedPicture& encoded, PixelRect rect, uint32_t ms);
    Error write_oldest();

    std::FILE* out_;
    uint32_t width_, height_;
    Error error_;
    size_t parallel_ = std::max(1u, std::thread::hardware_concurrency());
    uint64_t encoding_pixels_ = 0; // in the frames being encoded
    std::deque<Encoding> encoding_; // oldest first
    bool started_ = false;
};

// Thumbnails in rows of eight, each over a strip with its number; the strip is
// green for a drawn frame, amber for one that was not drawn (empty or
// unreadable), red for a missing one.
class ContactSheet {
public:
    ContactSheet(uint32_t width, uint32_t height, int frames);
    // A width x height picture of 0xFFRRGGBB pixels.
    void add(std::span<const uint32_t> pixels, FrameOutcome outcome);
    // The sheet as a PNG.
    Error finish(std::vector<uint8_t>* png);

private:
    uint32_t width_, height_, shrink_, thumb_width_, thumb_height_, sheet_width_, sheet_height_;
    int added_ = 0;
    std::vector<uint8_t> sheet_;
};

class StagedFiles;

// Both pictures of a playback on `screen`, as a person in front of it sees
// them, made together into `staged` (in `folder` of it, for a bundle's set)
// for the caller to commit: ANIMATION_FILE and CONTACT_SHEET_FILE.
class PlaybackPictures {
public:
    PlaybackPictures(
        StagedFiles& staged, const ScreenGeometry& screen, int frames, const std::string& folder = "");
    ~PlaybackPictures();
    PlaybackPictures(const PlaybackPictures&) = delete;
    PlaybackPictures& operator=(const PlaybackPictures&) = delete;
    // The screen's memory after one frame (it may be shorter than the
    // screen's: the rest reads as zeros). A failure is kept for finish().
    void add(std::span<const uint8_t> memory, FrameOutcome outcome);
    // Both written into the staged files.
    Error finish();

private:
    StagedFiles& staged_;
    const std::string folder_; // "" or "NAME/"
    std::FILE* stream_ = nullptr;
    Error error_;
    UprightView view_; // read by the animation's encodings: kept longer than they run
    AnimationWriter animation_;
    ContactSheet sheet_;
};
