// libvips started once, with what it logs captured rather than printed;
// its errors in one line; decoded pixels fitted to the panel.
#include "artwork/vips_support.h"

#include <cstdlib>
#include <mutex>
#include <utility>

using vips::VError;
using vips::VImage;

namespace {

std::mutex library_warning_lock;
std::string library_warning; // the last a library logged, unprinted

void keep_library_warning(const char* message)
{
    std::lock_guard<std::mutex> held(library_warning_lock);
    library_warning = message ? message : "";
}

} // namespace

std::string take_library_warning()
{
    std::lock_guard<std::mutex> held(library_warning_lock);
    return std::exchange(library_warning, std::string());
}

Error start_vips()
{
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        // libvips loads the modules below its home as it starts: HEIF, JPEG XL,
        // ImageMagick, PDF and OpenSlide, none of them read here, cost 7 MB and
        // 20 ms with their libraries. Its home is made one with nothing below it.
        setenv("VIPSHOME", "/dev/null", 1);
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
    return failure.empty() ? Error {} : input_error(failure);
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

Error fit_image(VImage image, const Fitting& fitting, LinearPicture* picture)
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
                return input_error(vips_message(VError(error)));
            return {};
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
            return input_error(vips_message(VError(error)));
        return {};
    } catch (const VError& error) {
        return input_error(vips_message(error));
    }
}

Error fit_pixels(const uint8_t* pixels, uint32_t width, uint32_t height, int bands, int quarter_turns,
    const Fitting& fitting, LinearPicture* picture)
{
    if (Error error = start_vips())
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
        return input_error(vips_message(error));
    }
}
