#include "tests/board/cpio.h"

#include "lib/file_io.h"

#include <cstdio>
#include <vector>

void Cpio::add(const std::string& name, uint32_t mode, const std::string& content)
{
    char header[111];
    std::snprintf(header, sizeof header, "070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X",
        inode_++, mode, 0, 0, 1, 0, unsigned(content.size()), 0, 0, 0, 0, unsigned(name.size() + 1), 0);
    data_ += header + name + '\0';
    pad();
    data_ += content;
    pad();
}

bool Cpio::add_file(const std::string& name, const std::filesystem::path& from, uint32_t mode)
{
    std::vector<uint8_t> content;
    if (!read_whole_file(from, &content).empty())
        return false;
    add(name, mode, std::string(content.begin(), content.end()));
    return true;
}

std::string Cpio::finish()
{
    add("TRAILER!!!", 0);
    return data_;
}

void Cpio::pad()
{
    data_.append((4 - data_.size() % 4) % 4, '\0');
}
