// The one lock of a folder that pelimora's writers share.
#pragma once

#include "lib/error.h"

#include <filesystem>
#include <vector>

// The one lock every pelimora writer of a whole folder takes (a set, a
// bundle, a preview, a run's captures): an advisory lock on the folder
// itself, held until the object goes.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Takes the lock of the existing folder `dir` without waiting, or says why
    // not (another writer holds it). On a file system without locks it
    // succeeds, as nothing can be checked there.
    Error take(const std::filesystem::path& dir);
    // The same for a folder this writer made itself, which no one else waits for.
    void take_own(const std::filesystem::path& dir);

private:
    std::vector<int> fds_;
};
