#include "artwork/artwork.h"

#include "artwork/artwork_vips.h"
#include "artwork/video.h"
#include "lib/file_io.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;

std::optional<Fit> parse_fit(const std::string& text)
{
    if (text == "contain")
        return Fit::contain;
    if (text == "cover")
        return Fit::cover;
    if (text == "fill")
        return Fit::fill;
    if (text == "none")
        return Fit::none;
    return std::nullopt;
}

void fitted_size(
    uint32_t width, uint32_t height, const Fitting& fitting, uint32_t* out_width, uint32_t* out_height)
{
    double across = double(fitting.width) / width, down = double(fitting.height) / height;
    double scale = fitting.fit == Fit::contain ? std::min(across, down)
        : fitting.fit == Fit::cover            ? std::max(across, down)
                                               : 1;
    if (fitting.fit == Fit::fill) {
        *out_width = fitting.width;
        *out_height = fitting.height;
        return;
    }
    // Rounded as the resampler rounds; never below one pixel.
    *out_width = std::max<uint32_t>(1, uint32_t(std::lround(width * scale)));
    *out_height = std::max<uint32_t>(1, uint32_t(std::lround(height * scale)));
    // The side that decided the scale meets the panel exactly.
    if (fitting.fit == Fit::contain || fitting.fit == Fit::cover) {
        if (scale == across)
            *out_width = fitting.width;
        if (scale == down)
            *out_height = fitting.height;
    }
}

namespace {

float srgb_to_linear(float v)
{
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linear_to_srgb(float v)
{
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
}

// Linear light back to 8-bit sRGB through a table fine enough that every
// 8-bit level comes back as itself.
constexpr int LINEAR_STEPS = 65536;
const std::array<uint8_t, LINEAR_STEPS>& srgb_table()
{
    static const auto table = [] {
        std::array<uint8_t, LINEAR_STEPS> t {};
        for (int i = 0; i < LINEAR_STEPS; ++i)
            t[i] = uint8_t(std::lround(255 * linear_to_srgb(float(i) / (LINEAR_STEPS - 1))));
        return t;
    }();
    return table;
}

uint8_t to_level(float linear, const std::array<uint8_t, LINEAR_STEPS>& table)
{
    float clamped = std::clamp(linear, 0.0f, 1.0f);
    // Rounds as lround does (half away from zero), exactly: a float plus a
    // half is exact in a double, and it inlines where lround is a call.
    return table[size_t(double(clamped * (LINEAR_STEPS - 1)) + 0.5)]; // NOLINT(bugprone-incorrect-roundings)
}

std::vector<double> linear_background(Rgb colour)
{
    return { srgb_to_linear(colour.r / 255.0f), srgb_to_linear(colour.g / 255.0f),
        srgb_to_linear(colour.b / 255.0f) };
}

} // namespace

RgbaImage to_srgb(const LinearPicture& picture, float weight, Rgb background)
{
    const auto& table = srgb_table();
    std::vector<double> under = linear_background(background);
    RgbaImage image;
    image.width = picture.width;
    image.height = picture.height;
    size_t pixels = size_t(picture.width) * picture.height;
    image.rgba.resize(pixels * 4);
    if (!picture.srgb.empty()) {
        static const auto linear_of = [] {
            std::array<float, 256> levels {};
            for (int level = 0; level < 256; ++level)
                levels[size_t(level)] = srgb_to_linear(float(level) / 255);
            return levels;
        }();
        for (size_t i = 0; i < pixels; ++i) {
            for (int c = 0; c < 3; ++c) {
                uint8_t level = picture.srgb[i * 3 + c];
                image.rgba[i * 4 + c] = weight == 1
                    ? level
                    : to_level(linear_of[level] * weight + float(under[c]) * (1 - weight), table);
            }
            image.rgba[i * 4 + 3] = 255;
        }
        return image;
    }
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            float v = picture.rgb[i * 3 + c];
            if (weight != 1)
                v = v * weight + float(under[c]) * (1 - weight);
            image.rgba[i * 4 + c] = to_level(v, table);
        }
        image.rgba[i * 4 + 3] = 255;
    }
    return image;
}

namespace {

std::mutex library_warning_lock;
std::string library_warning; // the last a library logged, unprinted

void keep_library_warning(const char* message)
{
    std::lock_guard<std::mutex> held(library_warning_lock);
    library_warning = message ? message : "";
}

// The warning a library logged since the last call, or "".
std::string take_library_warning()
{
    std::lock_guard<std::mutex> held(library_warning_lock);
    return std::exchange(library_warning, std::string());
}

} // namespace

std::string start_vips()
{
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        if (VIPS_INIT("pelimora-frames")) {
            failure = "cannot start libvips: " + std::string(vips_error_buffer());
            return;
        }
        // Loaders outside libvips' trusted set (ImageMagick, PDF, ...) are
        // refused whatever the input claims to be.
        vips_block_untrusted_set(TRUE);
        // SVG is among them for what a drawing may refer to; ours are read
        // from memory only, after refusing any such reference.
        vips_operation_block_set("VipsForeignLoadSvg", FALSE);
        vips_cache_set_max(0);
        // The libraries' warnings (libvips', GLib's, librsvg's) are not
        // ours to print: what matters fails the load, and we say it.
        g_log_set_default_handler(
            [](const char*, GLogLevelFlags, const char* message, void*) { keep_library_warning(message); },
            nullptr);
        g_log_set_writer_func(
            [](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }, nullptr,
            nullptr);
    });
    return failure;
}

std::string vips_message(const VError& error)
{
    std::string all = error.what();
    vips_error_clear();
    // The first line that says something.
    std::string text;
    for (size_t at = 0; at < all.size() && text.find_first_not_of(" \t") == std::string::npos;) {
        size_t end = std::min(all.find('\n', at), all.size());
        text = all.substr(at, end - at);
        at = end + 1;
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text.find_first_not_of(" \t") == std::string::npos ? "cannot be decoded: damaged or truncated"
                                                              : text;
}

std::string fit_image(VImage image, const Fitting& fitting, LinearPicture* picture)
{
    try {
        if (image.get_typeof(VIPS_META_ICC_NAME))
            image = image.icc_transform(
                "srgb", VImage::option()->set("embedded", true)->set("intent", VIPS_INTENT_PERCEPTUAL));
        if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
            image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.format() != VIPS_FORMAT_UCHAR)
            image = image.cast(VIPS_FORMAT_UCHAR);
        picture->width = fitting.width;
        picture->height = fitting.height;
        if (image.bands() == 3 && uint32_t(image.width()) == fitting.width
            && uint32_t(image.height()) == fitting.height) {
            // Already the panel's picture: taken as it is.
            picture->rgb.clear();
            picture->srgb.resize(size_t(fitting.width) * fitting.height * 3);
            VImage into = VImage::new_from_memory(picture->srgb.data(), picture->srgb.size(),
                int(fitting.width), int(fitting.height), 3, VIPS_FORMAT_UCHAR);
            vips_error_clear();
            image.write(into);
            if (const char* error = vips_error_buffer(); error && *error)
                return vips_message(VError(error));
            return "";
        }
        picture->srgb.clear();
        std::vector<double> under = linear_background(fitting.background);
        VImage linear = image.extract_band(0, VImage::option()->set("n", 3))
                            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                            .colourspace(VIPS_INTERPRETATION_scRGB);
        if (image.bands() > 3) {
            // Transparency over the background, in linear light.
            VImage alpha = image.extract_band(3).cast(VIPS_FORMAT_FLOAT) / 255.0;
            linear = linear * alpha + (1.0 - alpha) * under;
        }
        uint32_t width = 0, height = 0;
        fitted_size(uint32_t(image.width()), uint32_t(image.height()), fitting, &width, &height);
        if (width != uint32_t(image.width()) || height != uint32_t(image.height()))
            linear = linear.resize(double(width) / image.width(),
                VImage::option()
                    ->set("vscale", double(height) / image.height())
                    ->set("kernel", VIPS_KERNEL_LINEAR));
        linear = linear.gravity(VIPS_COMPASS_DIRECTION_CENTRE, int(fitting.width), int(fitting.height),
            VImage::option()->set("extend", VIPS_EXTEND_BACKGROUND)->set("background", under));
        picture->rgb.resize(size_t(fitting.width) * fitting.height * 3);
        // Computed straight into the picture: no second copy of a screen of floats.
        VImage into = VImage::new_from_memory(picture->rgb.data(), picture->rgb.size() * sizeof(float),
            int(fitting.width), int(fitting.height), 3, VIPS_FORMAT_FLOAT);
        vips_error_clear();
        linear.cast(VIPS_FORMAT_FLOAT).write(into);
        // A picture loaded whole first (to be turned upright) reports a
        // damaged or cut file here, without failing the write.
        if (const char* error = vips_error_buffer(); error && *error)
            return vips_message(VError(error));
        return "";
    } catch (const VError& error) {
        return vips_message(error);
    }
}

std::string fit_pixels(const uint8_t* pixels, uint32_t width, uint32_t height, int bands, int quarter_turns,
    const Fitting& fitting, LinearPicture* picture)
{
    if (std::string error = start_vips(); !error.empty())
        return error;
    try {
        VImage image = VImage::new_from_memory(const_cast<uint8_t*>(pixels), size_t(width) * height * bands,
            int(width), int(height), bands, VIPS_FORMAT_UCHAR);
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        static constexpr VipsAngle turns[]
            = { VIPS_ANGLE_D0, VIPS_ANGLE_D90, VIPS_ANGLE_D180, VIPS_ANGLE_D270 };
        if (quarter_turns & 3)
            image = image.rot(turns[quarter_turns & 3]);
        return fit_image(image, fitting, picture);
    } catch (const VError& error) {
        return vips_message(error);
    }
}

namespace {

// The formats libvips reads for us.
enum class PictureFormat { png, jpeg, webp, gif, tiff, svg };

const char* format_name(PictureFormat format)
{
    static const char* const names[] = { "PNG", "JPEG", "WebP", "GIF", "TIFF", "SVG" };
    return names[int(format)];
}

// The libvips loaders taken, by the name of their class.
std::optional<PictureFormat> format_of_loader(const char* loader)
{
    static const std::pair<const char*, PictureFormat> known[]
        = { { "VipsForeignLoadPng", PictureFormat::png }, { "VipsForeignLoadJpeg", PictureFormat::jpeg },
              { "VipsForeignLoadWebp", PictureFormat::webp }, { "VipsForeignLoadNsgif", PictureFormat::gif },
              { "VipsForeignLoadGif", PictureFormat::gif }, { "VipsForeignLoadTiff", PictureFormat::tiff },
              { "VipsForeignLoadSvg", PictureFormat::svg } };
    for (const auto& [prefix, format] : known)
        if (std::strncmp(loader, prefix, std::strlen(prefix)) == 0)
            return format;
    return std::nullopt;
}

// The input's bytes at an offset, from a descriptor or from memory.
struct Bytes {
    int fd = -1;
    std::span<const uint8_t> memory;
    bool read(uint64_t at, size_t size, uint8_t* out) const
    {
        if (fd >= 0)
            return pread(fd, out, size, off_t(at)) == ssize_t(size);
        if (at > memory.size() || memory.size() - at < size)
            return false;
        std::memcpy(out, memory.data() + at, size);
        return true;
    }
};

struct PngLayout {
    bool complete = false; // every chunk whole, up to IEND
    bool animated = false; // an animation control chunk before the image data
};

// Walks a PNG's chunk headers. libpng, as libvips drives it, draws a file
// cut short in its image data as black rows without an error; the walk
// catches it before any pixel is decoded.
PngLayout png_layout(const Bytes& file)
{
    // Read 64 KB at a time: a chunk header is 8 bytes every 8 KB or so.
    struct Window {
        const Bytes& file;
        uint64_t start = 0;
        std::vector<uint8_t> data;
        bool read(uint64_t at, size_t size, uint8_t* out)
        {
            if (at < start || at + size > start + data.size()) {
                data.resize(std::max<size_t>(size, 65536));
                ssize_t got = file.fd >= 0 ? pread(file.fd, data.data(), data.size(), off_t(at))
                    : at <= file.memory.size()
                    ? ssize_t(std::min(data.size(), size_t(file.memory.size() - at)))
                    : -1;
                if (file.fd < 0 && got > 0)
                    std::memcpy(data.data(), file.memory.data() + at, size_t(got));
                data.resize(got > 0 ? size_t(got) : 0);
                start = at;
                if (data.size() < size)
                    return false;
            }
            std::memcpy(out, data.data() + (at - start), size);
            return true;
        }
    } bytes { file, 0, {} };
    PngLayout layout;
    bool image_seen = false;
    for (uint64_t at = 8;;) {
        uint8_t header[8];
        if (!bytes.read(at, 8, header))
            return layout;
        uint32_t length
            = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
        std::string type(reinterpret_cast<const char*>(header + 4), 4);
        if (type == "acTL" && !image_seen)
            layout.animated = true;
        image_seen = image_seen || type == "IDAT";
        uint8_t last = 0;
        if (!bytes.read(at + 8 + length + 3, 1, &last)) // the chunk's CRC is there in full
            return layout;
        if (type == "IEND") {
            layout.complete = true;
            return layout;
        }
        at += uint64_t(length) + 12;
    }
}

// The format a file's first bytes claim, for saying what a file that no
// reader took was meant to be.
std::optional<PictureFormat> format_by_signature(const Bytes& bytes)
{
    uint8_t start[12] = {};
    for (size_t size = sizeof start; size >= 4; size -= 4)
        if (bytes.read(0, size, start))
            break;
    auto is
        = [&](size_t at, const char* text) { return std::memcmp(start + at, text, std::strlen(text)) == 0; };
    if (is(0, "\x89PNG"))
        return PictureFormat::png;
    if (is(0, "\xff\xd8\xff"))
        return PictureFormat::jpeg;
    if (is(0, "GIF8"))
        return PictureFormat::gif;
    if (is(0, "RIFF") && is(8, "WEBP"))
        return PictureFormat::webp;
    if (is(0, "II*") || (is(0, "MM") && start[2] == 0 && start[3] == '*'))
        return PictureFormat::tiff;
    return std::nullopt;
}

constexpr size_t MAX_SVG_BYTES = size_t(64) << 20;
constexpr double MIN_SVG_SCALE = 0.001; // the least scale libvips passes to librsvg

class VipsArtwork : public Artwork {
public:
    VipsArtwork(std::string name, PictureFormat format, vips::VSource source, std::vector<uint8_t> svg)
        : name_(std::move(name))
        , format_(format)
        , source_(std::move(source))
        , svg_(std::move(svg))
    {
    }

    // Reads the header: size, pages and delays. "" or the error.
    std::string start()
    {
        try {
            take_library_warning();
            VImage header = load(0, format_ == PictureFormat::svg ? 1.0 : 0.0, false);
            // A declared size libvips cannot hold comes back as 1x1, with only a warning.
            if (std::string warning = take_library_warning();
                format_ == PictureFormat::svg && warning.find("out of range") != std::string::npos)
                return name_ + ": declares a width or height over the " + std::to_string(VIPS_MAX_COORD)
                    + " pixels libvips can draw: give it a smaller width and height";
            width_ = uint32_t(header.width());
            height_ = uint32_t(header.height());
            // Orientations 5 to 8 show the stored picture turned a quarter:
            // its own size is the upright one.
            if (header.get_typeof(VIPS_META_ORIENTATION) && header.get_int(VIPS_META_ORIENTATION) >= 5
                && header.get_int(VIPS_META_ORIENTATION) <= 8)
                std::swap(width_, height_);
            int pages = header.get_typeof(VIPS_META_N_PAGES) ? header.get_int(VIPS_META_N_PAGES) : 1;
            animated_ = pages > 1 && (format_ == PictureFormat::gif || format_ == PictureFormat::webp);
            if (animated_) {
                VImage all = load(-1, 0, false);
                height_ = uint32_t(all.get_typeof(VIPS_META_PAGE_HEIGHT) ? all.get_int(VIPS_META_PAGE_HEIGHT)
                                                                         : all.height() / pages);
                std::vector<int> delays;
                if (all.get_typeof("delay"))
                    delays = all.get_array_int("delay");
                delays.resize(size_t(pages), 100);
                int64_t at = 0;
                for (int delay : delays) {
                    starts_us_.push_back(at);
                    // As browsers show them: a delay of 10 ms or less is 100 ms.
                    at += int64_t(delay <= 10 ? 100 : delay) * 1000;
                }
                duration_us_ = at;
            }
        } catch (const VError& error) {
            return name_ + ": " + vips_message(error);
        }
        if (format_ != PictureFormat::svg && uint64_t(width_) * height_ > MAX_SOURCE_PIXELS)
            return name_ + ": " + std::to_string(width_) + "x" + std::to_string(height_)
                + " is over the limit of " + std::to_string(MAX_SOURCE_PIXELS) + " pixels";
        return "";
    }

    std::string kind() const override
    {
        return std::string(format_name(format_)) + (animated_ ? " animation" : "");
    }
    SourceKind source_kind() const override { return animated_ ? SourceKind::animation : SourceKind::still; }
    int64_t frame_count() const override { return animated_ ? int64_t(starts_us_.size()) : 1; }
    int64_t duration_us() const override { return duration_us_; }
    void native_size(uint32_t* width, uint32_t* height) const override
    {
        bool svg = format_ == PictureFormat::svg;
        *width = svg ? 0 : width_;
        *height = svg ? 0 : height_;
    }

    std::string picture_at(
        int64_t time_us, const Fitting& fitting, LinearPicture* picture, SourceFrame* which) override
    {
        int page = 0;
        if (animated_)
            page = int(std::upper_bound(starts_us_.begin(), starts_us_.end(), time_us) - starts_us_.begin())
                - 1;
        page = std::max(page, 0);
        which->index = page;
        which->time_us = animated_ ? starts_us_[size_t(page)] : 0;
        try {
            double scale = 0;
            if (format_ == PictureFormat::svg) {
                // Drawn at the size it takes on the panel, not scaled from a bitmap.
                Fitting at_scale = fitting;
                if (fitting.fit == Fit::fill)
                    at_scale.fit = Fit::cover;
                uint32_t w = 0, h = 0;
                fitted_size(width_, height_, at_scale, &w, &h);
                scale = fitting.fit == Fit::none ? 1 : std::max(double(w) / width_, double(h) / height_);
                // librsvg draws no smaller than a thousandth; the rest is resampling.
                scale = std::max(scale, MIN_SVG_SCALE);
                if (double(width_) * scale * double(height_) * scale > double(MAX_SOURCE_PIXELS))
                    return name_ + ": declares " + std::to_string(width_) + "x" + std::to_string(height_)
                        + ", which even drawn at a thousandth is over the limit of "
                        + std::to_string(MAX_SOURCE_PIXELS) + " pixels: give it a smaller width and height";
            }
            VImage image = load(page, scale, true);
            if (uint64_t(image.width()) * image.height() > MAX_SOURCE_PIXELS)
                return name_ + ": drawn at " + std::to_string(image.width()) + "x"
                    + std::to_string(image.height()) + " it is over the limit of "
                    + std::to_string(MAX_SOURCE_PIXELS) + " pixels";
            if (std::string error = fit_image(image, fitting, picture); !error.empty())
                return name_ + ": " + error;
            return "";
        } catch (const VError& error) {
            return name_ + ": " + vips_message(error);
        }
    }

private:
    // One page (all with -1); an SVG at `scale`; turned upright by its
    // orientation tag when `upright`.
    VImage load(int page, double scale, bool upright)
    {
        vips::VOption* options = VImage::option()->set("fail_on", VIPS_FAIL_ON_ERROR);
        if (format_ == PictureFormat::svg) {
            options->set("scale", scale > 0 ? scale : 1.0);
            return VImage::new_from_source(source_, "", options);
        }
        if (animated_ || page != 0)
            options->set("page", std::max(page, 0))->set("n", page < 0 ? -1 : 1);
        if (format_ == PictureFormat::jpeg || format_ == PictureFormat::tiff || format_ == PictureFormat::webp
            || format_ == PictureFormat::png)
            options->set("access", upright ? VIPS_ACCESS_RANDOM : VIPS_ACCESS_SEQUENTIAL);
        VImage image = VImage::new_from_source(source_, "", options);
        return upright ? image.autorot() : image;
    }

    std::string name_;
    PictureFormat format_;
    vips::VSource source_;
    std::vector<uint8_t> svg_; // the SVG's bytes, which its source reads
    uint32_t width_ = 0, height_ = 0;
    bool animated_ = false;
    std::vector<int64_t> starts_us_; // when each page of an animation is first shown
    int64_t duration_us_ = 0;
};

// The picture format libvips would load `fd` (or `bytes`) as; nullopt for
// anything else, and for an APNG, of which libvips shows only the first
// frame. "" or the error (a truncated PNG).
std::string sniff_picture(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::optional<PictureFormat>* format)
{
    format->reset();
    try {
        vips::VSource probe = fd >= 0 ? vips::VSource::new_from_descriptor(fd)
                                      : vips::VSource::new_from_memory(bytes.data(), bytes.size());
        const char* loader = vips_foreign_find_load_source(probe.get_source());
        vips_error_clear();
        if (loader)
            *format = format_of_loader(loader);
    } catch (const VError& error) {
        vips_message(error);
    }
    if (*format == PictureFormat::png) {
        PngLayout layout = png_layout({ fd, bytes });
        if (!layout.complete)
            return name + ": a truncated PNG: it ends before its last chunk";
        if (layout.animated)
            format->reset();
    }
    return "";
}

// An SVG read whole, so it is drawn from memory with nothing to resolve
// references against, after refusing any it makes. "" or the error.
std::string read_svg(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::vector<uint8_t>* svg)
{
    if (fd >= 0) {
        struct stat info { };
        if (fstat(fd, &info) != 0 || uint64_t(info.st_size) > MAX_SVG_BYTES)
            return name + ": an SVG of over " + std::to_string(MAX_SVG_BYTES >> 20) + " MiB";
        svg->resize(size_t(info.st_size));
        if (pread(fd, svg->data(), svg->size(), 0) != ssize_t(svg->size()))
            return name + ": cannot read: " + std::strerror(errno);
    } else {
        svg->assign(bytes.begin(), bytes.end());
    }
    if (std::string outside = svg_outside_reference(*svg); !outside.empty())
        return name + ": " + outside;
    return "";
}

// `fd` (or, when -1, `bytes`) holds the artwork.
std::string open_any(
    int fd, std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    if (std::string error = start_vips(); !error.empty())
        return error;
    uint8_t first = 0;
    if (!Bytes { fd, bytes }.read(0, 1, &first))
        return name + ": empty file";
    std::optional<PictureFormat> format;
    if (std::string error = sniff_picture(fd, bytes, name, &format); !error.empty())
        return error;
    if (!format) {
        // Not a picture libvips takes: video, or an APNG, or nothing we read.
        std::string why;
        if (open_video(fd, bytes, name, artwork, &why))
            return why;
        if (std::optional<PictureFormat> looks_like = format_by_signature({ fd, bytes }))
            return name + ": a damaged or truncated " + format_name(*looks_like);
        return name
            + ": not a picture or video this tool reads (PNG, JPEG, WebP, GIF, TIFF, SVG, "
              "APNG, or video such as MP4, WebM, MOV, MKV)";
    }
    std::vector<uint8_t> svg;
    if (format == PictureFormat::svg)
        if (std::string error = read_svg(fd, bytes, name, &svg); !error.empty())
            return error;
    try {
        vips::VSource source = !svg.empty() ? vips::VSource::new_from_memory(svg.data(), svg.size())
            : fd >= 0                       ? vips::VSource::new_from_descriptor(fd)
                                            : vips::VSource::new_from_memory(bytes.data(), bytes.size());
        auto vips_artwork = std::make_unique<VipsArtwork>(name, *format, source, std::move(svg));
        if (std::string error = vips_artwork->start(); !error.empty())
            return error;
        *artwork = std::move(vips_artwork);
        return "";
    } catch (const VError& error) {
        return name + ": " + vips_message(error);
    }
}

bool contains_at(const std::string& text, size_t at, const char* word)
{
    return text.compare(at, std::strlen(word), word) == 0;
}

} // namespace

std::string svg_outside_reference(std::span<const uint8_t> svg)
{
    if (svg.size() >= 2 && svg[0] == 0x1f && svg[1] == 0x8b)
        return "a compressed SVG (SVGZ): give it uncompressed, so that what it refers to can be checked";
    if (svg.size() >= 2 && ((svg[0] == 0xff && svg[1] == 0xfe) || (svg[0] == 0xfe && svg[1] == 0xff)))
        return "an SVG in UTF-16: give it in UTF-8, so that what it refers to can be checked";
    std::string text(svg.begin(), svg.end());
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return char(std::tolower(c)); });
    auto local = [&](size_t at) {
        while (at < text.size()
            && (std::isspace(static_cast<unsigned char>(text[at])) || text[at] == '"' || text[at] == '\''))
            ++at;
        return contains_at(text, at, "#") || contains_at(text, at, "data:");
    };
    auto quote = [&](size_t at, size_t length) {
        size_t end = std::min(text.size(), at + length);
        std::string shown(svg.begin() + long(at), svg.begin() + long(end));
        std::replace_if(
            shown.begin(), shown.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        return shown;
    };
    for (size_t at = 0; (at = text.find("href", at)) != std::string::npos; at += 4) {
        size_t equals = text.find_first_not_of(" \t\r\n", at + 4);
        if (equals == std::string::npos || text[equals] != '=')
            continue;
        if (!local(equals + 1))
            return "refers to a file outside itself (" + quote(at, 60)
                + "): embed it, as nothing outside the SVG is read";
    }
    for (size_t at = 0; (at = text.find("url(", at)) != std::string::npos; at += 4)
        if (!local(at + 4))
            return "refers to a file outside itself (" + quote(at, 60)
                + "): embed it, as nothing outside the SVG is read";
    for (const char* word : { "@import", "<!entity", "xi:include", "<include" })
        if (size_t at = text.find(word); at != std::string::npos)
            return "uses " + quote(at, std::strlen(word)) + ", which could read outside the SVG: refused";
    return "";
}

std::string open_artwork(const fs::path& path, std::unique_ptr<Artwork>* artwork)
{
    std::string error;
    int fd = open_regular_file(path, &error);
    if (fd < 0)
        return error;
    std::string result = open_any(fd, {}, path.string(), artwork);
    // libvips and FFmpeg keep their own descriptors.
    (void)close(fd);
    return result;
}

std::string open_artwork(
    std::span<const uint8_t> bytes, const std::string& name, std::unique_ptr<Artwork>* artwork)
{
    return open_any(-1, bytes, name, artwork);
}

bool is_artwork_name(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    for (const char* known : { ".png", ".apng", ".jpg", ".jpeg", ".webp", ".gif", ".tif", ".tiff", ".svg" })
        if (extension == known)
            return true;
    return false;
}
