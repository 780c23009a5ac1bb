// Pictures of a playback, made one screen at a time: a lossless animated
// WebP that plays in a browser, and a contact sheet of every frame with its
// number. Both hold compressed frames or thumbnails, never whole screens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

constexpr char ANIMATION_FILE[] = "animation.webp", CONTACT_SHEET_FILE[] = "contact-sheet.png";
// Lossless WebP's limit on either side.
constexpr uint32_t MAX_ANIMATION_SIDE = 16383;

enum class SheetMark { drawn, not_drawn, missing };

// Each picture is width x height 8-bit RGB.
class AnimationWriter {
public:
    AnimationWriter(uint32_t width, uint32_t height);
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;
    // One pause's picture; "" or the error.
    std::string add(const std::vector<uint8_t>& rgb);
    // The whole animation, ready to write.
    std::string finish(std::vector<uint8_t>* webp);

private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder_;
    uint32_t width_, height_;
    int timestamp_ = 0;
};

// Thumbnails in rows of eight, each over a strip with its number; the strip is
// green for a drawn frame, amber for one that was not drawn (empty or
// unreadable), red for a missing one.
class ContactSheet {
public:
    ContactSheet(uint32_t width, uint32_t height, int frames);
    void add(const std::vector<uint8_t>& rgb, SheetMark mark);
    // The sheet as a PNG; "" or the error.
    std::string finish(std::vector<uint8_t>* png);

private:
    uint32_t width_, height_, shrink_, thumb_width_, thumb_height_, sheet_width_, sheet_height_;
    int added_ = 0;
    std::vector<uint8_t> sheet_;
};

class StagedFiles;

// Both pictures of a playback, made together and written together.
class PlaybackPictures {
public:
    PlaybackPictures(uint32_t width, uint32_t height, int frames);
    // The screen after one frame, as 8-bit RGB; "" or the first error.
    std::string add(const std::vector<uint8_t>& rgb, SheetMark mark);
    // ANIMATION_FILE and CONTACT_SHEET_FILE into `staged`, committed; "" or the error.
    std::string write(StagedFiles& staged);

private:
    AnimationWriter animation_;
    ContactSheet sheet_;
    std::string error_;
};
