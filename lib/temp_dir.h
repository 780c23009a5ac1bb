// A scratch directory of our own, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
public:
    // Under $TMPDIR (or /tmp), or under `parent`; empty path() when none could be made.
    explicit TempDir(const std::string& name = "pelimora")
    {
        std::error_code ec;
        std::filesystem::path parent = std::filesystem::temp_directory_path(ec);
        if (!ec)
            make(parent, name);
    }
    TempDir(const std::filesystem::path& parent, const std::string& name) { make(parent, name); }
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
    void make(const std::filesystem::path& parent, const std::string& name)
    {
        std::string pattern = (parent / (name + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    std::filesystem::path path_;
};
