#include "artwork/svg_guard.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool contains_at(const std::string& text, size_t at, const char* word)
{
    return text.compare(at, std::strlen(word), word) == 0;
}

} // namespace

Error svg_stands_alone(std::span<const uint8_t> svg)
{
    if (svg.size() >= 2 && svg[0] == 0x1f && svg[1] == 0x8b)
        return input_error(
            "a compressed SVG (SVGZ): give it uncompressed, so that what it refers to can be checked");
    if (svg.size() >= 2 && ((svg[0] == 0xff && svg[1] == 0xfe) || (svg[0] == 0xfe && svg[1] == 0xff)))
        return input_error("an SVG in UTF-16: give it in UTF-8, so that what it refers to can be checked");
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
            return input_error("refers to a file outside itself (" + quote(at, 60)
                + "): embed it, as nothing outside the SVG is read");
    }
    for (size_t at = 0; (at = text.find("url(", at)) != std::string::npos; at += 4)
        if (!local(at + 4))
            return input_error("refers to a file outside itself (" + quote(at, 60)
                + "): embed it, as nothing outside the SVG is read");
    for (const char* word : { "@import", "<!entity", "xi:include", "<include" })
        if (size_t at = text.find(word); at != std::string::npos)
            return input_error(
                "uses " + quote(at, std::strlen(word)) + ", which could read outside the SVG: refused");
    return {};
}
