#include "set_description.h"

#include "file_io.h"

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

std::string read_set_description(const fs::path& dir, std::optional<SetDescription>* description)
{
    description->reset();
    fs::path path = dir / SET_DESCRIPTION_FILE;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return "";
    std::vector<uint8_t> bytes;
    if (std::string error = read_file_start(path, 1 << 20, &bytes); !error.empty())
        return error;
    nlohmann::json json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    SetDescription d;
    auto side = [&json](const char* key, uint32_t* value, uint32_t max) {
        if (!json.contains(key) || !json[key].is_number_unsigned())
            return false;
        uint64_t v = json[key].get<uint64_t>();
        *value = uint32_t(v);
        return v >= 1 && v <= max;
    };
    bool valid = json.is_object() && side("xres", &d.xres, MAX_SCREEN_SIDE)
        && side("yres", &d.yres, MAX_SCREEN_SIDE);
    if (valid && json.contains("bits_per_pixel"))
        valid = side("bits_per_pixel", &d.bits_per_pixel, 32)
            && (d.bits_per_pixel == 16 || d.bits_per_pixel == 32);
    if (!valid)
        return path.string() + ": not a set description (expected xres and yres, 1 to "
            + std::to_string(MAX_SCREEN_SIDE) + ", and bits_per_pixel 16 or 32)";
    *description = d;
    return "";
}

std::vector<uint8_t> set_description_bytes(const SetDescription& description)
{
    nlohmann::ordered_json json;
    json["xres"] = description.xres;
    json["yres"] = description.yres;
    if (description.bits_per_pixel)
        json["bits_per_pixel"] = description.bits_per_pixel;
    std::string text = json.dump(2) + "\n";
    return { text.begin(), text.end() };
}

std::string choose_screen(const ScreenFlags& flags, const std::optional<SetDescription>& description,
    bool need_depth, ScreenGeometry* geometry, std::vector<std::string>* notes)
{
    const std::string made_for = description ? "the set was made for " + std::to_string(description->xres)
            + "x" + std::to_string(description->yres)
                                             : "";
    if (!flags.size.empty()) {
        if (std::string error = parse_screen_size(flags.size, geometry); !error.empty())
            return error;
        if (description && (description->xres != geometry->width || description->yres != geometry->height))
            notes->push_back(made_for + "; using --size " + geometry->size_text() + " as given");
    } else if (description) {
        geometry->width = description->xres, geometry->height = description->yres;
    } else {
        return "which screen? give --size WIDTHxHEIGHT (the set has no " + std::string(SET_DESCRIPTION_FILE)
            + "; pelimora-frames encode writes one)";
    }
    if (!flags.depth.empty()) {
        if (std::string error = parse_depth(flags.depth, &geometry->bits_per_pixel); !error.empty())
            return error;
        if (description && description->bits_per_pixel
            && description->bits_per_pixel != geometry->bits_per_pixel)
            notes->push_back("the set was made for " + std::to_string(description->bits_per_pixel)
                + " bpp; using --depth " + flags.depth + " as given");
    } else if (description && description->bits_per_pixel) {
        geometry->bits_per_pixel = description->bits_per_pixel;
    } else if (need_depth) {
        return "which depth? give --depth 16 or 32 (the screen's bits per pixel; encode --depth records it)";
    }
    return player_refusal(*geometry);
}
