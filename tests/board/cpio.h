// The emulated board's initramfs: a newc cpio archive built in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class Cpio {
public:
    // mode: file type and permissions, as in st_mode (0100644, 040755, ...).
    void add(const std::string& name, uint32_t mode, const std::string& content = "");
    // Adds a file of the host's; false if it cannot be read.
    [[nodiscard]] bool add_file(
        const std::string& name, const std::filesystem::path& from, uint32_t mode = 0100755);
    // Adds the tree under `from` (folders, files and links, with their
    // modes) below `prefix`; false if some part cannot be read.
    [[nodiscard]] bool add_tree(const std::string& prefix, const std::filesystem::path& from);
    // The archive with its trailer.
    [[nodiscard]] std::string finish();

private:
    void pad();
    std::string data_;
    uint32_t inode_ = 1;
};
