#include "tests/board/cpio.h"

#include "lib/file_io.h"

#include <cstdio>
#include <sys/stat.h>
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
    if (read_whole_file(from, &content))
        return false;
    add(name, mode, std::string(content.begin(), content.end()));
    return true;
}

bool Cpio::add_tree(const std::string& prefix, const std::filesystem::path& from)
{
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(from, error), end; !error && it != end;
         it.increment(error)) {
        struct stat info;
        std::string name = prefix + it->path().lexically_relative(from).string();
        if (lstat(it->path().c_str(), &info) != 0)
            return false;
        if (S_ISLNK(info.st_mode))
            add(name, info.st_mode, std::filesystem::read_symlink(it->path(), error).string());
        else if (S_ISDIR(info.st_mode))
            add(name, info.st_mode);
        else if (!S_ISREG(info.st_mode) || !add_file(name, it->path(), info.st_mode))
            return false;
    }
    return !error;
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
