#include "lib/folder_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

FolderLock::~FolderLock()
{
    for (int fd : fds_)
        (void)close(fd);
}

Error FolderLock::take(const fs::path& dir)
{
    // A writer that finished while we opened may have swapped the folder for
    // a new one: the lock that counts is the one of the folder now there.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return input_error(dir.string() + ": cannot open: " + std::strerror(errno));
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            (void)close(fd);
            return input_error(dir.string()
                + ": another pelimora tool is writing it now; run this again when it has finished");
        }
        struct stat held, now;
        if (fstat(fd, &held) == 0 && stat(dir.c_str(), &now) == 0 && held.st_dev == now.st_dev
            && held.st_ino == now.st_ino) {
            fds_.push_back(fd);
            return {};
        }
        (void)close(fd);
    }
    return input_error(dir.string() + ": replaced again and again while this tool waited to write it");
}

void FolderLock::take_own(const fs::path& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)flock(fd, LOCK_EX | LOCK_NB);
        fds_.push_back(fd);
    }
}
