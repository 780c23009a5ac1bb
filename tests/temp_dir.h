#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

// A directory of the test's own under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/pelimora-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};
