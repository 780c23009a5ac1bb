#include "frames/set_description.h"

#include "lib/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

namespace fs = std::filesystem;

namespace {

// A panel file or a set's description being read: its name, which errors
// begin with, and the status they end a tool with (a panel file is part of
// the command line, a set's description of the input).
struct Source {
    std::string name;
    ExitStatus status;

    Error error(const std::string& what) const { return { status, name + ": " + what }; }
};

// A number of the JSON object within [low, high]; false when missing or not
// one. A whole number written with a fraction or exponent (1e2) is one.
bool number(const nlohmann::json& json, const char* key, uint32_t low, uint32_t high, uint32_t* value)
{
    if (!json.contains(key) || !json[key].is_number())
        return false;
    double v = json[key].is_number_unsigned() ? double(json[key].get<uint64_t>()) : json[key].get<double>();
    if (v != std::floor(v) || v < low || v > high)
        return false;
    *value = uint32_t(v);
    return true;
}

bool field(const nlohmann::json& json, const char* key, ChannelField* channel)
{
    return json.contains(key) && json[key].is_object() && number(json[key], "offset", 0, 31, &channel->offset)
        && number(json[key], "length", 0, 32, &channel->length);
}

// The JSON of a description: one object, nothing after it, no key twice.
// Errors name the file (and the key).
Error parse_strictly(const std::vector<uint8_t>& bytes, const Source& source, nlohmann::json* json)
{
    if (std::find(bytes.begin(), bytes.end(), 0) != bytes.end())
        return source.error("not JSON text: it holds a NUL byte");
    std::vector<std::set<std::string>> keys; // of each object being read
    std::string repeated;
    nlohmann::json::parser_callback_t note_keys
        = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
              if (event == nlohmann::json::parse_event_t::object_start)
                  keys.emplace_back();
              else if (event == nlohmann::json::parse_event_t::object_end && !keys.empty())
                  keys.pop_back();
              else if (event == nlohmann::json::parse_event_t::key && !keys.empty()
                  && !keys.back().insert(parsed.get<std::string>()).second && repeated.empty())
                  repeated = parsed.get<std::string>();
              return true;
          };
    *json = nlohmann::json::parse(bytes.begin(), bytes.end(), note_keys, false);
    if (json->is_discarded())
        return source.error("not valid JSON (or something follows the object)");
    if (!json->is_object())
        return source.error("not a JSON object");
    if (!repeated.empty())
        return source.error("key \"" + repeated + "\" is given twice");
    return {};
}

// The format the channel offsets give, when the description has them; a
// named format must agree.
Error format_from_channels(const nlohmann::json& json, const Source& source, ScreenGeometry* d)
{
    ChannelField red, green, blue, transp;
    uint32_t bits = d->bits_per_pixel ? d->bits_per_pixel : d->format ? d->format->bits_per_pixel : 0;
    if (!bits || !field(json, "red", &red) || !field(json, "green", &green) || !field(json, "blue", &blue)
        || (json.contains("transp") && !field(json, "transp", &transp)))
        return source.error("red, green, blue (and transp) must each be {\"offset\": N, \"length\": N}, with "
                            "bits_per_pixel");
    const PixelFormat* of_channels = format_of_channels(bits, red, green, blue, transp);
    if (d->format && of_channels != d->format)
        return source.error(std::string("\"format\" ") + d->format->name
            + " contradicts its channel offsets, which are "
            + (of_channels ? of_channels->name : "none of the formats"));
    if (!of_channels)
        return source.error("its channel offsets are none of the formats " + format_names());
    d->format = of_channels;
    return {};
}

// A description's bytes: a panel or set description is a few hundred
// bytes; a file far larger is not one.
constexpr uint64_t MAX_DESCRIPTION_BYTES = 1 << 20;

// A panel file's or a description's bytes, at most MAX_DESCRIPTION_BYTES.
Error read_description_bytes(const Source& source, std::vector<uint8_t>* bytes)
{
    if (Error error = read_file_start(source.name, MAX_DESCRIPTION_BYTES + 1, bytes))
        return { source.status, error.message };
    if (bytes->size() > MAX_DESCRIPTION_BYTES)
        return source.error("over " + std::to_string(MAX_DESCRIPTION_BYTES >> 20)
            + " MiB, far more than a panel or set description holds");
    return {};
}

// The screen's keys of a panel file or a set's description.
Error parse_screen_keys(const nlohmann::json& json, const Source& source, ScreenGeometry* d)
{
    // A probe's report of a screen it could not use.
    if (json.contains("error") && json["error"].is_string() && !json.contains("xres"))
        return source.error("the probe could not use the screen: " + json["error"].get<std::string>());
    if (!number(json, "xres", 1, MAX_SCREEN_SIDE, &d->width)
        || !number(json, "yres", 1, MAX_SCREEN_SIDE, &d->height))
        return source.error("expected xres and yres, each 1 to " + std::to_string(MAX_SCREEN_SIDE));
    if (json.contains("bits_per_pixel")
        && (!number(json, "bits_per_pixel", 16, 32, &d->bits_per_pixel)
            || (d->bits_per_pixel != 16 && d->bits_per_pixel != 32)))
        return source.error("bits_per_pixel must be 16 or 32");
    if (json.contains("line_length") && !number(json, "line_length", 1, MAX_LINE_LENGTH, &d->line_length))
        return source.error(
            "line_length must be a number of bytes, at most " + std::to_string(MAX_LINE_LENGTH));
    // "unknown": a format the probe could not name; its channels say the rest.
    bool named = json.contains("format") && !(json["format"].is_string() && json["format"] == "unknown");
    if (named
        && (!json["format"].is_string() || !(d->format = find_format(json["format"].get<std::string>()))))
        return source.error("format must be one of " + format_names());
    if (json.contains("rotate") && (!number(json, "rotate", 0, 270, &d->rotate) || !is_rotation(d->rotate)))
        return source.error("rotate must be 0, 90, 180 or 270 (degrees clockwise)");
    if (json.contains("red") || json.contains("green") || json.contains("blue"))
        // The kernel's channel offsets, as the probe reports them, decide the format.
        if (Error error = format_from_channels(json, source, d))
            return error;
    if (d->format && d->bits_per_pixel && d->format->bits_per_pixel != d->bits_per_pixel)
        return source.error(std::string("format ") + d->format->name + " is "
            + std::to_string(d->format->bits_per_pixel) + " bpp, not " + std::to_string(d->bits_per_pixel));
    return {};
}

// The JSON of a panel file or a description, and the screen it names.
Error parse_screen(
    const std::vector<uint8_t>& bytes, const Source& source, nlohmann::json* json, ScreenGeometry* d)
{
    if (Error error = parse_strictly(bytes, source, json))
        return error;
    return parse_screen_keys(*json, source, d);
}

Error parse_panel_file(const std::vector<uint8_t>& bytes, const Source& source, PanelFile* panel)
{
    nlohmann::json json;
    *panel = {};
    if (Error error = parse_screen(bytes, source, &json, panel))
        return error;
    if (json.contains("name")) {
        if (!json["name"].is_string())
            return source.error("name must be a string");
        panel->name = json["name"].get<std::string>();
    }
    return {};
}

Error parse_description(const std::vector<uint8_t>& bytes, const Source& source, SetDescription* d)
{
    nlohmann::json json;
    *d = {};
    if (Error error = parse_screen(bytes, source, &json, d))
        return error;
    if (json.contains("partial_frames")) {
        if (!json["partial_frames"].is_boolean())
            return source.error("partial_frames must be true or false");
        d->partial_frames = json["partial_frames"].get<bool>();
    }
    if (json.contains("screens")) {
        const nlohmann::json& screens = json["screens"];
        if (!screens.is_array() || screens.size() > 1000)
            return source.error("screens must be a list of digests");
        for (const nlohmann::json& digest : screens) {
            uint64_t value = 0;
            std::string text = digest.is_string() ? digest.get<std::string>() : "";
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
            if (text.size() != 16 || error != std::errc() || end != text.data() + text.size())
                return source.error("screens must be a list of 16-digit hexadecimal digests");
            d->screens.push_back(value);
        }
    }
    if (json.contains("screen_digest")) {
        const nlohmann::json& digest = json["screen_digest"];
        if (digest == "xxh3")
            d->digest = ScreenDigest::xxh3;
        else if (digest != "fnv1a")
            return source.error("screen_digest must be xxh3 or fnv1a");
    }
    return {};
}

} // namespace

Error parse_panel_file(const std::vector<uint8_t>& json, const std::string& name, PanelFile* panel)
{
    return parse_panel_file(json, { name, ExitStatus::bad_command_line }, panel);
}

Error read_panel_file(const fs::path& path, PanelFile* panel)
{
    const Source source { path.string(), ExitStatus::bad_command_line };
    std::vector<uint8_t> bytes;
    if (Error error = read_description_bytes(source, &bytes))
        return error;
    return parse_panel_file(bytes, source, panel);
}

Error parse_description(
    const std::vector<uint8_t>& json, const std::string& name, SetDescription* description)
{
    return parse_description(json, { name, ExitStatus::wrong_input }, description);
}

Error read_set_description(const fs::path& dir, std::optional<SetDescription>* description)
{
    description->reset();
    const Source source { (dir / SET_DESCRIPTION_FILE).string(), ExitStatus::wrong_input };
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(source.name, ec)))
        return {};
    SetDescription d;
    std::vector<uint8_t> bytes;
    if (Error error = read_description_bytes(source, &bytes))
        return error;
    if (Error error = parse_description(bytes, source, &d))
        return error;
    *description = d;
    return {};
}

std::vector<uint8_t> set_description_bytes(const SetDescription& description)
{
    nlohmann::ordered_json json;
    json["xres"] = description.width;
    json["yres"] = description.height;
    if (description.bits_per_pixel)
        json["bits_per_pixel"] = description.bits_per_pixel;
    if (description.line_length)
        json["line_length"] = description.line_length;
    if (description.format)
        json["format"] = description.format->name;
    if (description.rotate)
        json["rotate"] = description.rotate;
    if (description.partial_frames)
        json["partial_frames"] = true;
    if (!description.screens.empty()) {
        json["screens"] = nlohmann::ordered_json::array();
        for (uint64_t digest : description.screens) {
            char hex[17];
            std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
            json["screens"].push_back(hex);
        }
        if (description.digest == ScreenDigest::xxh3)
            json["screen_digest"] = "xxh3";
    }
    std::string text = json.dump(2) + "\n";
    return { text.begin(), text.end() };
}

ScreenGeometry made_for(const std::optional<SetDescription>& description, const ScreenGeometry& panel)
{
    // Frames without a description may have been made for any panel: this one, as far as anyone can say.
    if (!description)
        return panel;
    uint32_t depth = description->format ? description->format->bits_per_pixel
        : description->bits_per_pixel    ? description->bits_per_pixel
                                         : panel.depth();
    return { description->width, description->height, depth, description->line_length, description->format,
        description->rotate };
}
