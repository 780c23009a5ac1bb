#include "artwork/vips_artwork.h"

#include "artwork/vips_support.h"

#include <algorithm>
#include <cmath>

using vips::VError;
using vips::VImage;

namespace {

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

    // Reads the header: size, pages and delays.
    Error start()
    {
        try {
            take_library_warning();
            VImage header = load(0, format_ == PictureFormat::svg ? 1.0 : 0.0, false);
            // A declared size libvips cannot hold comes back as 1x1, with only a warning.
            if (std::string warning = take_library_warning();
                format_ == PictureFormat::svg && warning.find("out of range") != std::string::npos)
                return input_error(name_ + ": declares a width or height over the "
                    + std::to_string(VIPS_MAX_COORD)
                    + " pixels libvips can draw: give it a smaller width and height");
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
            return input_error(name_ + ": " + vips_message(error));
        }
        if (format_ == PictureFormat::svg)
            return {};
        return within(name_ + ": ", source_size_allowed(width_, height_));
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

    Error picture_at(
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
                    return input_error(name_ + ": declares " + std::to_string(width_) + "x"
                        + std::to_string(height_) + ", which even drawn at a thousandth is over the limit of "
                        + std::to_string(MAX_SOURCE_PIXELS) + " pixels: give it a smaller width and height");
            }
            VImage image = load(page, scale, true);
            if (uint64_t(image.width()) * image.height() > MAX_SOURCE_PIXELS)
                return input_error(name_ + ": drawn at " + std::to_string(image.width()) + "x"
                    + std::to_string(image.height()) + " it is over the limit of "
                    + std::to_string(MAX_SOURCE_PIXELS) + " pixels");
            if (Error error = fit_image(image, fitting, picture))
                return within(name_ + ": ", error);
            return {};
        } catch (const VError& error) {
            return input_error(name_ + ": " + vips_message(error));
        }
    }

private:
    // One page (all with -1); an SVG at `scale`; turned upright by its
    // orientation tag when `upright`.
    // Decoded as it streams into the picture, unless it must be turned
    // upright: then it is loaded whole first.
    VImage load(int page, double scale, bool upright)
    {
        VImage image = load_with(page, scale, VIPS_ACCESS_SEQUENTIAL);
        if (!upright || vips_image_get_orientation(image.get_image()) <= 1)
            return image;
        return load_with(page, scale, VIPS_ACCESS_RANDOM).autorot();
    }

    VImage load_with(int page, double scale, VipsAccess access)
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
            options->set("access", access);
        return VImage::new_from_source(source_, "", options);
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

} // namespace

Error open_vips_artwork(const std::string& name, PictureFormat format, vips::VSource source,
    std::vector<uint8_t> svg, std::unique_ptr<Artwork>* artwork)
{
    auto vips_artwork = std::make_unique<VipsArtwork>(name, format, std::move(source), std::move(svg));
    if (Error error = vips_artwork->start())
        return error;
    *artwork = std::move(vips_artwork);
    return {};
}
