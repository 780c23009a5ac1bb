#include "file_io.h"

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
    bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
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
