// A scratch directory of our own, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
public:
    // Under $TMPDIR (or /tmp); empty path() when none could be made.
    explicit TempDir(const std::string& name = "pelimora")
    {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / (name + "-XXXXXX")).string();
        if (!ec && mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};
