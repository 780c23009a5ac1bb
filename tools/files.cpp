#include "files.h"

#include "png_io.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

std::string write_atomically(const fs::path& path, std::span<const uint8_t> bytes)
{
    fs::path temporary = path;
    temporary += ".part" + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return temporary.string() + ": cannot create: " + std::strerror(errno);
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && written;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    std::error_code ec;
    if (written)
        fs::rename(temporary, path, ec);
    if (!written || ec) {
        fs::remove(temporary, ec);
        return path.string() + ": cannot write: " + std::strerror(written ? EIO : error);
    }
    return "";
}

std::string read_whole_file(const fs::path& path, std::vector<uint8_t>* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return path.string() + ": cannot open: " + std::strerror(errno);
    bytes->assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad())
        return path.string() + ": cannot read";
    return "";
}

bool natural_less(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(uint8_t(a[i])) && std::isdigit(uint8_t(b[j]))) {
            size_t i_end = a.find_first_not_of("0123456789", i), j_end = b.find_first_not_of("0123456789", j);
            std::string x = a.substr(i, i_end - i), y = b.substr(j, j_end - j);
            x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
            y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = i_end == std::string::npos ? a.size() : i_end;
            j = j_end == std::string::npos ? b.size() : j_end;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i, ++j;
        }
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

std::string parse_screen_size(const std::string& text, ScreenGeometry* geometry)
{
    unsigned width = 0, height = 0;
    char rest;
    if (std::sscanf(text.c_str(), "%ux%u%c", &width, &height, &rest) != 2 || width < 1 || height < 1
        || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE)
        return "screen size '" + text + "': expected WIDTHxHEIGHT, each 1 to "
            + std::to_string(MAX_IMAGE_SIDE);
    geometry->width = width;
    geometry->height = height;
    return "";
}

int run_tool(const char* name, int (*body)(int, char**), int argc, char** argv)
{
    try {
        return body(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}
