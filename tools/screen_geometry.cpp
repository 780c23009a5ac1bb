#include "screen_geometry.h"

#include <cstdio>

std::string parse_screen_size(const std::string& text, ScreenGeometry* geometry)
{
    unsigned width = 0, height = 0;
    char rest;
    if (std::sscanf(text.c_str(), "%ux%u%c", &width, &height, &rest) != 2 || width < 1 || height < 1
        || width > MAX_SCREEN_SIDE || height > MAX_SCREEN_SIDE)
        return "screen size '" + text + "': expected WIDTHxHEIGHT, each 1 to "
            + std::to_string(MAX_SCREEN_SIDE);
    geometry->width = width;
    geometry->height = height;
    return "";
}
