#include "commands/command_support.h"

#include "lib/tool_main.h"

#include <cstdio>

namespace fs = std::filesystem;

void note(const std::string& message)
{
    std::fprintf(stderr, "%s: note: %s\n", tool_name(), message.c_str());
}

std::string name_list(const std::vector<std::string>& names, size_t most)
{
    std::string text;
    for (size_t i = 0; i < names.size() && i < most; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > most)
        text += " and " + std::to_string(names.size() - most) + " more";
    return text;
}

Error parse_colour(const std::string& text, Rgb* colour)
{
    std::string hex = text.starts_with("#") ? text.substr(1) : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return usage_error(
            "colour '" + text + "': expected six hexadecimal digits RRGGBB, with or without #");
    unsigned value = unsigned(std::stoul(hex, nullptr, 16));
    *colour = { uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value) };
    return {};
}

bool same_file(const fs::path& a, const fs::path& b)
{
    std::error_code ec;
    if (fs::equivalent(a, b, ec))
        return true;
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}
