#include "preview/animation.h"

#include "core/schedule.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"
#include "lib/staged_files.h"
#include "preview/png.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <webp/encode.h>

Error animation_refusal(uint32_t width, uint32_t height)
{
    if (width <= MAX_ANIMATION_SIDE && height <= MAX_ANIMATION_SIDE)
        return {};
    return input_error(
        "an animated WebP is at most " + std::to_string(MAX_ANIMATION_SIDE) + " pixels a side");
}

namespace {

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void put_chunk_header(std::vector<uint8_t>& out, const char* fourcc, uint32_t size)
{
    out.insert(out.end(), fourcc, fourcc + 4);
    put_le(out, size, 4);
}

} // namespace

// A lossless WebP of one picture, as libwebp wrote it; `chunk` is its image
// chunk ("VP8L"), empty if encoding failed.
struct EncodedPicture {
    WebPMemoryWriter memory;
    std::span<const uint8_t> chunk;
    bool blended = false; // over the canvas, through its transparent pixels
    EncodedPicture() { WebPMemoryWriterInit(&memory); }
    ~EncodedPicture() { WebPMemoryWriterClear(&memory); }
    EncodedPicture(const EncodedPicture&) = delete;
    EncodedPicture& operator=(const EncodedPicture&) = delete;
};

namespace {

// The rectangle of `view` that changed, widened to even offsets (WebP stores
// them halved).
PixelRect frame_rect(const UprightView& view)
{
    PixelRect rect = view.changed();
    if (!rect.width)
        return rect;
    rect.width += rect.x & 1, rect.height += rect.y & 1;
    rect.x &= ~1u, rect.y &= ~1u;
    return rect;
}

// A frame's picture for libwebp, and how it is drawn and kept.
struct FramePicture {
    WebPPicture picture;
    bool blended = false; // over the canvas, through its transparent pixels
    bool reads_view = false; // the view's own pixels, not a copy
};

// The picture of the frame: what `view` shows in `rect`. Where at least a
// quarter of the rectangle stayed since the frame before (unless this is
// the first), those pixels are transparent instead, and the frame is
// blended over the canvas, which keeps them: smaller for a spinner, larger
// for frames that change nearly everywhere. An opaque frame is read from
// the view itself when `in_place`; the others are copied. False if there
// is no memory for the copy.
bool frame_picture(const UprightView& view, PixelRect rect, bool first, bool in_place, FramePicture* frame)
{
    WebPPicture* picture = &frame->picture;
    if (!WebPPictureInit(picture))
        return false;
    const uint64_t area = uint64_t(rect.width) * rect.height, kept = first ? 0 : area - view.changed_in(rect);
    frame->blended = kept * 4 >= area;
    picture->use_argb = 1;
    picture->width = int(rect.width);
    picture->height = int(rect.height);
    const uint32_t* shown = view.pixels().data() + size_t(rect.y) * view.width() + rect.x;
    if (!frame->blended && in_place) {
        // libwebp writes only to transparent pixels, and these are opaque.
        picture->argb = const_cast<uint32_t*>(shown);
        picture->argb_stride = int(view.width());
        frame->reads_view = true;
        return true;
    }
    if (!WebPPictureAlloc(picture))
        return false;
    for (uint32_t y = 0; y < rect.height; ++y, shown += view.width()) {
        uint32_t* out = picture->argb + size_t(y) * size_t(picture->argb_stride);
        if (!frame->blended) {
            std::copy_n(shown, rect.width, out);
            continue;
        }
        for (uint32_t x = 0; x < rect.width; ++x)
            out[x] = view.changed_at(rect.x + x, rect.y + y) ? shown[x] : 0;
    }
    return true;
}

// The first image chunk of a WebP libwebp wrote ("VP8L"), or empty.
std::span<const uint8_t> image_chunk(const WebPMemoryWriter& memory)
{
    // RIFF, size, WEBP, then chunks.
    for (size_t at = 12; at + 8 <= memory.size;) {
        uint32_t size = memory.mem[at + 4] | memory.mem[at + 5] << 8 | memory.mem[at + 6] << 16
            | uint32_t(memory.mem[at + 7]) << 24;
        size_t whole = 8 + size + (size & 1);
        if (at + whole > memory.size)
            break;
        if (!std::memcmp(memory.mem + at, "VP8L", 4) || !std::memcmp(memory.mem + at, "VP8 ", 4))
            return { memory.mem + at, whole };
        at += whole;
    }
    return {};
}

// The frame's picture encoded losslessly, and let go.
std::unique_ptr<EncodedPicture> encode_lossless(WebPPicture picture, bool blended)
{
    auto encoded = std::make_unique<EncodedPicture>();
    encoded->blended = blended;
    WebPConfig config;
    // The least effort: exact either way, and a screen's worth of pixels a
    // frame makes effort cost seconds.
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &encoded->memory;
    if (WebPConfigInit(&config) && WebPConfigLosslessPreset(&config, 0) && WebPEncode(&config, &picture))
        encoded->chunk = image_chunk(encoded->memory);
    WebPPictureFree(&picture);
    return encoded;
}

// What a failed write of the stream says, with the reason the system gave.
Error write_failure()
{
    return input_error(std::string("cannot write the animation: ") + std::strerror(errno ? errno : EIO));
}

} // namespace

AnimationWriter::AnimationWriter(std::FILE* out, uint32_t width, uint32_t height)
    : out_(out)
    , width_(width)
    , height_(height)
    , error_(animation_refusal(width, height))
{
    if (error_)
        return;
    // RIFF (its size written at the end), VP8X with the animation flag, ANIM: loop forever.
    std::vector<uint8_t> header;
    put_chunk_header(header, "RIFF", 0);
    header.insert(header.end(), { 'W', 'E', 'B', 'P' });
    put_chunk_header(header, "VP8X", 10);
    put_le(header, 0x02 | 0x10, 4); // an animation, with frames that have transparency
    put_le(header, width - 1, 3);
    put_le(header, height - 1, 3);
    put_chunk_header(header, "ANIM", 6);
    put_le(header, 0xFF000000u, 4); // opaque black behind the frames
    put_le(header, 0, 2);
    if (!out_ || std::fwrite(header.data(), 1, header.size(), out_) != header.size())
        error_ = write_failure();
}

Error AnimationWriter::write_frame(const EncodedPicture& encoded, PixelRect rect, uint32_t ms)
{
    // Nothing disposed.
    std::span<const uint8_t> chunk = encoded.chunk;
    std::vector<uint8_t> frame;
    put_chunk_header(frame, "ANMF", uint32_t(16 + chunk.size()));
    put_le(frame, rect.x / 2, 3);
    put_le(frame, rect.y / 2, 3);
    put_le(frame, rect.width - 1, 3);
    put_le(frame, rect.height - 1, 3);
    put_le(frame, ms, 3);
    frame.push_back(encoded.blended ? 0x00 : 0x02);
    if (std::fwrite(frame.data(), 1, frame.size(), out_) != frame.size()
        || std::fwrite(chunk.data(), 1, chunk.size(), out_) != chunk.size())
        return write_failure();
    return {};
}

Error AnimationWriter::write_oldest()
{
    Encoding oldest = std::move(encoding_.front());
    encoding_.pop_front();
    encoding_pixels_ -= uint64_t(oldest.rect.width) * oldest.rect.height;
    std::unique_ptr<EncodedPicture> encoded = oldest.picture.get();
    if (encoded->chunk.empty())
        return input_error("WebP encoding failed");
    return write_frame(*encoded, oldest.rect, oldest.ms);
}

Error AnimationWriter::add(const UprightView& view)
{
    if (error_)
        return error_;
    const uint32_t pause_ms = uint32_t(FRAME_DELAY_US / 1000);
    const PixelRect rect = started_ ? frame_rect(view) : PixelRect { 0, 0, width_, height_ };
    if (rect.width == 0) {
        encoding_.back().ms += pause_ms;
        return {};
    }
    // Frames are written in order, each once a later one has begun (its
    // length is then known). They are encoded a core each, but no more
    // pixels at once than the canvas holds: large frames one at a time,
    // small ones side by side (libwebp's lossless encoder needs several
    // times its picture).
    const uint64_t pixels = uint64_t(rect.width) * rect.height, canvas = uint64_t(width_) * height_;
    while (!encoding_.empty() && (encoding_.size() >= parallel_ || encoding_pixels_ + pixels > canvas))
        if (Error error = write_oldest())
            return error_ = error;
    FramePicture frame;
    if (!frame_picture(view, rect, !started_, pixels * 2 > canvas, &frame))
        return error_ = input_error("WebP encoding failed: no memory for a frame");
    started_ = true;
    SignalsHeld held; // the encoding thread leaves interrupts to this one
    encoding_.push_back(
        { std::async(std::launch::async, [frame]() { return encode_lossless(frame.picture, frame.blended); }),
            rect, pause_ms, frame.reads_view });
    encoding_pixels_ += pixels;
    return {};
}

void AnimationWriter::release_view()
{
    for (Encoding& encoding : encoding_)
        if (encoding.reads_view) {
            encoding.picture.wait();
            encoding.reads_view = false;
        }
}

Error AnimationWriter::finish()
{
    while (!error_ && !encoding_.empty())
        error_ = write_oldest();
    if (error_)
        return error_;
    long size = std::ftell(out_);
    std::vector<uint8_t> riff_size;
    put_le(riff_size, uint32_t(size - 8), 4);
    if (size < 0 || std::fseek(out_, 4, SEEK_SET) != 0 || std::fwrite(riff_size.data(), 1, 4, out_) != 4
        || std::fseek(out_, 0, SEEK_END) != 0)
        return error_ = write_failure();
    return {};
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

void ContactSheet::add(std::span<const uint32_t> pixels, FrameOutcome outcome)
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
                        sum[c] += pixels[size_t(sy) * width_ + sx] >> (16 - 8 * c) & 0xFF;
            uint64_t count = uint64_t(bottom - top) * (right - left);
            for (int c = 0; c < 3; ++c)
                sheet_[((size_t(y0) + y) * sheet_width_ + x0 + x) * 3 + c]
                    = uint8_t(count ? sum[c] / count : 0);
        }
    }
    for (uint32_t y = y0 + thumb_height_; y < y0 + thumb_height_ + LABEL; ++y)
        for (uint32_t x = x0; x < x0 + thumb_width_; ++x)
            std::copy_n(STRIP[int(outcome)], 3, &sheet_[(size_t(y) * sheet_width_ + x) * 3]);
    draw_number(sheet_, sheet_width_, x0 + 3, x0 + thumb_width_, y0 + thumb_height_ + 3, int(i + 1), 2);
}

Error ContactSheet::finish(std::vector<uint8_t>* png)
{
    return encode_png_rgb(sheet_width_, sheet_height_, sheet_, png);
}

PlaybackPictures::PlaybackPictures(
    StagedFiles& staged, const ScreenGeometry& screen, int frames, const std::string& folder)
    : staged_(staged)
    , folder_(folder.empty() ? "" : folder + "/")
    , error_(staged.open_stream(folder_ + ANIMATION_FILE, &stream_))
    , view_(screen)
    , animation_(stream_, view_.width(), view_.height())
    , sheet_(view_.width(), view_.height(), frames)
{
}

PlaybackPictures::~PlaybackPictures()
{
    if (stream_)
        std::fclose(stream_); // unfinished: the staged temporary goes with `staged_`
}

void PlaybackPictures::add(std::span<const uint8_t> memory, FrameOutcome outcome)
{
    animation_.release_view();
    sheet_.add(view_.show(memory), outcome);
    if (!error_)
        if (Error error = animation_.add(view_))
            error_ = within((staged_.dir() / (folder_ + ANIMATION_FILE)).string() + ": ", error);
}

Error PlaybackPictures::finish()
{
    if (!error_)
        if (Error error = animation_.finish())
            error_ = within((staged_.dir() / (folder_ + ANIMATION_FILE)).string() + ": ", error);
    if (error_)
        return error_;
    if (Error error = staged_.close_stream(stream_))
        return error;
    stream_ = nullptr;
    std::vector<uint8_t> png;
    if (Error error = sheet_.finish(&png))
        return within((staged_.dir() / (folder_ + CONTACT_SHEET_FILE)).string() + ": ", error);
    return staged_.add(folder_ + CONTACT_SHEET_FILE, png);
}
