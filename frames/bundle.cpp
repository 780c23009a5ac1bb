#include "frames/bundle.h"

#include "core/schedule.h"
#include "frames/replay.h"
#include "frames/set_description.h"
#include "frames/set_writer.h"

#include <cstdio>
#include <memory>

namespace fs = std::filesystem;

std::string bundle_set_name(const ScreenGeometry& panel, const std::string& own_name)
{
    if (!own_name.empty())
        return own_name;
    return panel.size_text() + "-" + panel.pixel_format().name + "-" + std::to_string(panel.stride());
}

namespace {

// A name as it can be shown on one line: in quotes, with what is not
// printable ASCII escaped.
std::string quoted(const std::string& name)
{
    std::string text = "\"";
    for (unsigned char c : name) {
        char escape[8];
        if (c == '"' || c == '\\')
            text += { '\\', char(c) };
        else if (c < 0x20 || c >= 0x7f) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            text += escape;
        } else
            text += char(c);
    }
    return text + "\"";
}

// Names a set's folder cannot take in a bundle, where they would read as the
// index, or as a set's own files (the bundle would pass for a set).
bool reserved_in_bundle(const std::string& name)
{
    return name == BUNDLE_INDEX_FILE || is_set_file(name);
}

} // namespace

Error bundle_name_allowed(const std::string& name)
{
    if (reserved_in_bundle(name))
        return usage_error(
            "name " + quoted(name) + " is the name of a file of a bundle or a set; give another");
    if (name.find('\0') == std::string::npos && plain_set_name(name.c_str()))
        return {};
    return usage_error("name " + quoted(name)
        + " cannot name a set's folder: give letters, digits, '.', '_' and '-', at most "
        + std::to_string(BUNDLE_NAME_SIZE - 1) + ", not starting with '.'");
}

namespace {

BundleSet as_listed(const ScreenGeometry& panel)
{
    BundleSet set {};
    set.xres = panel.width, set.yres = panel.height, set.bits_per_pixel = panel.depth();
    set.line_length = panel.stride();
    std::snprintf(set.format, sizeof set.format, "%s", panel.pixel_format().name);
    return set;
}

} // namespace

bool same_bundle_screen(const ScreenGeometry& a, const ScreenGeometry& b)
{
    return same_bundle_screen(as_listed(a), as_listed(b));
}

std::vector<uint8_t> bundle_index_bytes(const std::vector<BundleEntry>& sets)
{
    const char* const* key = BUNDLE_SET_KEYS;
    std::string text = std::string("{\"") + BUNDLE_SETS_KEY + "\": [\n";
    for (size_t i = 0; i < sets.size(); ++i) {
        const ScreenGeometry& panel = sets[i].panel;
        char line[320];
        std::snprintf(line, sizeof line,
            "  {\"%s\": \"%s\", \"%s\": %u, \"%s\": %u, \"%s\": %u, \"%s\": %u, \"%s\": \"%s\"}%s\n",
            key[SET_NAME], sets[i].name.c_str(), key[SET_XRES], panel.width, key[SET_YRES], panel.height,
            key[SET_BITS_PER_PIXEL], panel.depth(), key[SET_LINE_LENGTH], panel.stride(), key[SET_FORMAT],
            panel.pixel_format().name, i + 1 < sets.size() ? "," : "");
        text += line;
    }
    text += "]}\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool is_bundle(const fs::path& dir)
{
    std::error_code ec;
    return fs::is_regular_file(dir / BUNDLE_INDEX_FILE, ec);
}

Error read_bundle(const fs::path& dir, std::vector<BundleEntry>* sets)
{
    auto index = std::make_unique<BundleIndex>();
    if (!read_bundle_index(dir.c_str(), index.get()))
        return input_error(index->error);
    sets->clear();
    for (int i = 0; i < index->count; ++i) {
        const BundleSet& set = index->sets[i];
        const PixelFormat* format = find_format(set.format);
        if (!format)
            return input_error((dir / BUNDLE_INDEX_FILE).string() + ": " + set.name
                + ": format must be one of " + format_names());
        sets->push_back({ set.name, { set.xres, set.yres, set.bits_per_pixel, set.line_length, format } });
    }
    return {};
}
