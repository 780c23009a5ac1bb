#include "animation.h"

#include "file_io.h"
#include "png_io.h"
#include "schedule.h"

#include <algorithm>
#include <webp/encode.h>
#include <webp/mux.h>

struct AnimationWriter::Encoder {
    WebPAnimEncoder* encoder = nullptr;
    WebPConfig config;
    ~Encoder() { WebPAnimEncoderDelete(encoder); }
};

AnimationWriter::AnimationWriter(uint32_t width, uint32_t height)
    : encoder_(std::make_unique<Encoder>())
    , width_(width)
    , height_(height)
{
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&encoder_->config))
        return;
    options.anim_params.loop_count = 0;
    encoder_->config.lossless = 1;
    encoder_->config.quality = 25; // effort: lossless either way
    encoder_->config.method = 1;
    if (width <= MAX_ANIMATION_SIDE && height <= MAX_ANIMATION_SIDE)
        encoder_->encoder = WebPAnimEncoderNew(int(width), int(height), &options);
}

AnimationWriter::~AnimationWriter() = default;

std::string AnimationWriter::add(const std::vector<uint8_t>& rgb)
{
    if (!encoder_->encoder)
        return "cannot start the WebP encoder for " + std::to_string(width_) + "x" + std::to_string(height_)
            + " (at most " + std::to_string(MAX_ANIMATION_SIDE) + " a side)";
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = int(width_);
    picture.height = int(height_);
    bool added = WebPPictureImportRGB(&picture, rgb.data(), int(width_ * 3))
        && WebPAnimEncoderAdd(encoder_->encoder, &picture, timestamp_, &encoder_->config);
    WebPPictureFree(&picture);
    timestamp_ += int(FRAME_DELAY_US / 1000);
    return added ? "" : std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder_->encoder);
}

std::string AnimationWriter::finish(std::vector<uint8_t>* webp)
{
    WebPData data;
    WebPDataInit(&data);
    if (!encoder_->encoder || !WebPAnimEncoderAdd(encoder_->encoder, nullptr, timestamp_, nullptr)
        || !WebPAnimEncoderAssemble(encoder_->encoder, &data))
        return std::string("WebP encoding failed: ")
            + (encoder_->encoder ? WebPAnimEncoderGetError(encoder_->encoder) : "no encoder");
    webp->assign(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return "";
}

namespace {

constexpr uint32_t COLUMNS = 8, GAP = 4, LABEL = 16, THUMB_WIDTH = 160;
constexpr uint8_t BACKDROP = 40; // dark grey between the thumbnails
constexpr uint8_t STRIP[3][3] = { { 30, 110, 50 }, { 170, 120, 20 }, { 160, 30, 30 } };

// 3x5 digits, one row of three bits per entry, top row first.
constexpr uint16_t DIGITS[10]
    = { 075557, 026222, 071747, 071717, 055711, 074717, 074757, 071111, 075757, 075717 };

// Digits that do not fit before `x_end` are left out.
void draw_number(std::vector<uint8_t>& rgb, uint32_t stride, uint32_t x0, uint32_t x_end, uint32_t y0,
    int number, int scale)
{
    std::string text = std::to_string(number);
    for (size_t i = 0; i < text.size(); ++i)
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 3; ++column)
                if (DIGITS[text[i] - '0'] >> ((4 - row) * 3 + (2 - column)) & 1)
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx) {
                            size_t x = x0 + (i * 4 + column) * scale + dx, y = y0 + row * scale + dy;
                            if (x < x_end)
                                std::fill_n(&rgb[(y * stride + x) * 3], 3, uint8_t(255));
                        }
}

} // namespace

ContactSheet::ContactSheet(uint32_t width, uint32_t height, int frames)
    : width_(width)
    , height_(height)
    , shrink_(std::max(1u, (width + THUMB_WIDTH - 1) / THUMB_WIDTH))
    , thumb_width_(std::max(1u, width / shrink_))
    , thumb_height_(std::max(1u, height / shrink_))
    , sheet_width_(GAP + COLUMNS * (thumb_width_ + GAP))
    , sheet_height_(GAP + uint32_t((frames + COLUMNS - 1) / COLUMNS) * (thumb_height_ + LABEL + GAP))
    , sheet_(size_t(sheet_width_) * sheet_height_ * 3, BACKDROP)
{
}

void ContactSheet::add(const std::vector<uint8_t>& rgb, SheetMark mark)
{
    uint32_t i = uint32_t(added_++);
    uint32_t x0 = GAP + i % COLUMNS * (thumb_width_ + GAP),
             y0 = GAP + i / COLUMNS * (thumb_height_ + LABEL + GAP);
    if (y0 + thumb_height_ + LABEL > sheet_height_)
        return;
    // Box filter: each thumbnail pixel averages the screen pixels of its block
    // (a screen thinner than a block gives a block of what there is).
    for (uint32_t y = 0; y < thumb_height_; ++y) {
        uint32_t top = y * shrink_, bottom = std::min(height_, top + shrink_);
        for (uint32_t x = 0; x < thumb_width_; ++x) {
            uint32_t left = x * shrink_, right = std::min(width_, left + shrink_);
            uint64_t sum[3] = {};
            for (uint32_t sy = top; sy < bottom; ++sy)
                for (uint32_t sx = left; sx < right; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rgb[(size_t(sy) * width_ + sx) * 3 + c];
            uint64_t count = uint64_t(bottom - top) * (right - left);
            for (int c = 0; c < 3; ++c)
                sheet_[((size_t(y0) + y) * sheet_width_ + x0 + x) * 3 + c]
                    = uint8_t(count ? sum[c] / count : 0);
        }
    }
    for (uint32_t y = y0 + thumb_height_; y < y0 + thumb_height_ + LABEL; ++y)
        for (uint32_t x = x0; x < x0 + thumb_width_; ++x)
            std::copy_n(STRIP[int(mark)], 3, &sheet_[(size_t(y) * sheet_width_ + x) * 3]);
    draw_number(sheet_, sheet_width_, x0 + 3, x0 + thumb_width_, y0 + thumb_height_ + 3, int(i + 1), 2);
}

std::string ContactSheet::finish(std::vector<uint8_t>* png)
{
    return encode_png_rgb(sheet_width_, sheet_height_, sheet_, png);
}

PlaybackPictures::PlaybackPictures(uint32_t width, uint32_t height, int frames)
    : animation_(width, height)
    , sheet_(width, height, frames)
{
}

std::string PlaybackPictures::add(const std::vector<uint8_t>& rgb, SheetMark mark)
{
    if (error_.empty())
        error_ = animation_.add(rgb);
    sheet_.add(rgb, mark);
    return error_;
}

std::string PlaybackPictures::write(StagedFiles& staged)
{
    std::vector<uint8_t> webp, png;
    if (!error_.empty())
        return staged.dir().string() + ": " + error_;
    if (std::string error = animation_.finish(&webp); !error.empty())
        return staged.dir().string() + ": " + error;
    if (std::string error = sheet_.finish(&png); !error.empty())
        return staged.dir().string() + ": " + error;
    if (std::string error = staged.add(ANIMATION_FILE, webp); !error.empty())
        return error;
    if (std::string error = staged.add(CONTACT_SHEET_FILE, png); !error.empty())
        return error;
    return staged.commit();
}
