#include "preview/boot_logos.h"

#include <libimagequant.h>
#include <map>
#include <memory>

namespace {

// Little-endian, as every field of a BMP.
void put(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> 8 * i));
}
void put16(std::vector<uint8_t>& out, uint32_t value)
{
    put(out, value, 2);
}
void put32(std::vector<uint8_t>& out, uint32_t value)
{
    put(out, value, 4);
}

struct Free {
    void operator()(liq_attr* attr) const { liq_attr_destroy(attr); }
    void operator()(liq_image* image) const { liq_image_destroy(image); }
    void operator()(liq_result* result) const { liq_result_destroy(result); }
};

// The file header and BITMAPINFOHEADER of an uncompressed bottom-up BMP.
std::vector<uint8_t> bmp_headers(uint32_t width, uint32_t height, uint32_t bits, uint32_t palette_entries)
{
    const uint32_t row = (width * bits / 8 + 3) & ~3u;
    const uint32_t offset = 14 + 40 + palette_entries * 4;
    std::vector<uint8_t> out = { 'B', 'M' };
    put32(out, offset + row * height);
    put32(out, 0); // reserved
    put32(out, offset);
    put32(out, 40);
    put32(out, width);
    put32(out, height); // positive: the last row first
    put16(out, 1); // planes
    put16(out, bits);
    put32(out, 0); // BI_RGB: uncompressed
    put32(out, row * height);
    put32(out, 2835), put32(out, 2835); // 72 dots an inch
    put32(out, palette_entries);
    put32(out, 0); // every colour important
    return out;
}

// The colours of a picture, each once, in the order first met.
std::map<uint32_t, uint32_t> distinct_colours(std::span<const uint8_t> rgb, size_t stop_after)
{
    std::map<uint32_t, uint32_t> index_of;
    for (size_t i = 0; i + 2 < rgb.size() && index_of.size() <= stop_after; i += 3)
        index_of.emplace(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2], uint32_t(index_of.size()));
    return index_of;
}

Error quantise(
    std::span<const uint8_t> rgb, uint32_t width, uint32_t height, uint32_t most, PalettePicture* picture)
{
    std::vector<uint8_t> rgba;
    rgba.reserve(size_t(width) * height * 4);
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgba.insert(rgba.end(), { rgb[i], rgb[i + 1], rgb[i + 2], 255 });
    std::unique_ptr<liq_attr, Free> attr(liq_attr_create());
    if (!attr || liq_set_max_colors(attr.get(), int(most)) != LIQ_OK)
        return input_error("libimagequant: cannot be set up");
    std::unique_ptr<liq_image, Free> image(
        liq_image_create_rgba(attr.get(), rgba.data(), int(width), int(height), 0));
    liq_result* made = nullptr;
    if (!image || liq_image_quantize(image.get(), attr.get(), &made) != LIQ_OK)
        return input_error(
            "libimagequant: cannot reduce the picture to " + std::to_string(most) + " colours");
    std::unique_ptr<liq_result, Free> result(made);
    liq_set_dithering_level(result.get(), 0);
    picture->indices.resize(size_t(width) * height);
    if (liq_write_remapped_image(result.get(), image.get(), picture->indices.data(), picture->indices.size())
        != LIQ_OK)
        return input_error("libimagequant: cannot map the picture to its palette");
    const liq_palette* palette = liq_get_palette(result.get());
    picture->palette.clear();
    for (unsigned i = 0; i < palette->count; ++i)
        picture->palette.insert(
            picture->palette.end(), { palette->entries[i].r, palette->entries[i].g, palette->entries[i].b });
    picture->exact = false;
    return {};
}

} // namespace

Error to_palette(
    std::span<const uint8_t> rgb, uint32_t width, uint32_t height, uint32_t most, PalettePicture* picture)
{
    *picture = {};
    std::map<uint32_t, uint32_t> index_of = distinct_colours(rgb, most);
    picture->colours_before = index_of.size();
    if (index_of.size() > most) {
        picture->colours_before = distinct_colours(rgb, SIZE_MAX).size();
        return quantise(rgb, width, height, most, picture);
    }
    picture->palette.resize(index_of.size() * 3);
    for (const auto& [colour, index] : index_of)
        picture->palette[index * 3] = uint8_t(colour >> 16),
                                 picture->palette[index * 3 + 1] = uint8_t(colour >> 8),
                                 picture->palette[index * 3 + 2] = uint8_t(colour);
    picture->indices.reserve(size_t(width) * height);
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        picture->indices.push_back(uint8_t(index_of[uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]]));
    return {};
}

std::vector<uint8_t> bmp24_bytes(std::span<const uint8_t> rgb, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> out = bmp_headers(width, height, 24, 0);
    const size_t padding = (4 - width * 3 % 4) % 4;
    for (uint32_t y = height; y-- > 0;) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            out.insert(out.end(), { p[2], p[1], p[0] });
        }
        out.insert(out.end(), padding, 0);
    }
    return out;
}

std::vector<uint8_t> bmp8_bytes(const PalettePicture& picture, uint32_t width, uint32_t height)
{
    constexpr uint32_t ENTRIES = 256; // read whole by U-Boot, whatever the count says
    std::vector<uint8_t> out = bmp_headers(width, height, 8, ENTRIES);
    for (uint32_t i = 0; i < ENTRIES; ++i) {
        const bool used = i * 3 < picture.palette.size();
        const uint8_t* c = used ? &picture.palette[i * 3] : nullptr;
        out.insert(
            out.end(), { used ? c[2] : uint8_t(0), used ? c[1] : uint8_t(0), used ? c[0] : uint8_t(0), 0 });
    }
    const size_t padding = (4 - width % 4) % 4;
    for (uint32_t y = height; y-- > 0;) {
        auto row = picture.indices.begin() + ptrdiff_t(size_t(y) * width);
        out.insert(out.end(), row, row + width);
        out.insert(out.end(), padding, 0);
    }
    return out;
}

std::vector<uint8_t> plain_ppm_bytes(std::span<const uint8_t> rgb, uint32_t width, uint32_t height)
{
    std::string text = "P3\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    // Five pixels a line: at most 5 x 12 characters.
    for (size_t pixel = 0; pixel < size_t(width) * height; ++pixel) {
        for (int c = 0; c < 3; ++c)
            text += std::to_string(rgb[pixel * 3 + c]) + (c < 2 ? " " : "");
        text += pixel % 5 == 4 || pixel + 1 == size_t(width) * height ? "\n" : "  ";
    }
    return { text.begin(), text.end() };
}
