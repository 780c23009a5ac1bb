#include "animation.h"

#include "file_io.h"
#include "png_io.h"
#include "schedule.h"

#include <algorithm>
#include <webp/encode.h>
#include <webp/mux.h>

std::string write_animation(const std::filesystem::path& path, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens)
{
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config))
        return "libwebp version mismatch";
    options.anim_params.loop_count = 0;
    config.lossless = 1;
    config.quality = 25; // effort: lossless either way
    config.method = 1;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(int(width), int(height), &options);
    if (!encoder)
        return path.string() + ": cannot start the WebP encoder";
    std::string error;
    int timestamp = 0;
    for (const auto& rgb : screens) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.use_argb = 1;
        picture.width = int(width);
        picture.height = int(height);
        bool added = WebPPictureImportRGB(&picture, rgb.data(), int(width * 3))
            && WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        if (!added) {
            error = path.string() + ": WebP encoding failed: " + WebPAnimEncoderGetError(encoder);
            break;
        }
        timestamp += FRAME_DELAY_US / 1000;
    }
    WebPData data;
    WebPDataInit(&data);
    if (error.empty()
        && (!WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr)
            || !WebPAnimEncoderAssemble(encoder, &data)))
        error = path.string() + ": WebP encoding failed: " + WebPAnimEncoderGetError(encoder);
    if (error.empty())
        error = write_atomically(path, { data.bytes, data.size });
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return error;
}

namespace {

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

std::string write_contact_sheet(const std::filesystem::path& path, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens, const std::vector<SheetMark>& marks)
{
    constexpr uint32_t COLUMNS = 8, GAP = 4, LABEL = 16;
    uint32_t shrink = std::max(1u, (width + 159) / 160); // thumbnails about 160 pixels wide
    uint32_t tw = std::max(1u, width / shrink), th = std::max(1u, height / shrink);
    uint32_t rows = uint32_t(screens.size() + COLUMNS - 1) / COLUMNS;
    uint32_t sheet_w = GAP + COLUMNS * (tw + GAP), sheet_h = GAP + rows * (th + LABEL + GAP);
    constexpr uint8_t BACKDROP = 40; // dark grey between the thumbnails
    std::vector<uint8_t> sheet(size_t(sheet_w) * sheet_h * 3, BACKDROP);
    for (size_t i = 0; i < screens.size(); ++i) {
        uint32_t x0 = GAP + uint32_t(i % COLUMNS) * (tw + GAP),
                 y0 = GAP + uint32_t(i / COLUMNS) * (th + LABEL + GAP);
        // Box filter: each thumbnail pixel averages its shrink x shrink block.
        for (uint32_t y = 0; y < th; ++y)
            for (uint32_t x = 0; x < tw; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint32_t sum = 0;
                    for (uint32_t dy = 0; dy < shrink; ++dy)
                        for (uint32_t dx = 0; dx < shrink; ++dx)
                            sum += screens[i][((size_t(y) * shrink + dy) * width + x * shrink + dx) * 3 + c];
                    sheet[((size_t(y0) + y) * sheet_w + x0 + x) * 3 + c] = uint8_t(sum / (shrink * shrink));
                }
        SheetMark mark = i < marks.size() ? marks[i] : SheetMark::drawn;
        const uint8_t colour[3][3] = { { 30, 110, 50 }, { 170, 120, 20 }, { 160, 30, 30 } };
        for (uint32_t y = y0 + th; y < y0 + th + LABEL; ++y)
            for (uint32_t x = x0; x < x0 + tw; ++x)
                std::copy_n(colour[int(mark)], 3, &sheet[(size_t(y) * sheet_w + x) * 3]);
        draw_number(sheet, sheet_w, x0 + 3, x0 + tw, y0 + th + 3, int(i + 1), 2);
    }
    return write_png_rgb(path, sheet_w, sheet_h, sheet);
}

std::string write_playback_pictures(const std::filesystem::path& dir, uint32_t width, uint32_t height,
    const std::vector<std::vector<uint8_t>>& screens, const std::vector<SheetMark>& marks)
{
    std::error_code ec;
    if (!std::filesystem::create_directories(dir, ec) && ec)
        return dir.string() + ": cannot create: " + ec.message();
    if (std::string error = write_animation(dir / ANIMATION_FILE, width, height, screens); !error.empty())
        return error;
    return write_contact_sheet(dir / CONTACT_SHEET_FILE, width, height, screens, marks);
}
