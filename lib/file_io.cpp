#include "lib/file_io.h"

#include "lib/interrupt.h"
#include "lib/staged_files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string file_kind(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    default: return "not a file";
    }
}

bool is_within(const fs::path& inner, const fs::path& outer)
{
    std::error_code ec;
    fs::path a = fs::weakly_canonical(inner, ec), b = fs::weakly_canonical(outer, ec);
    if (b.empty())
        return false;
    return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

int open_regular_file(const fs::path& path, Error* error, struct stat* info)
{
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat own = {};
    struct stat* st = info ? info : &own;
    st->st_mode = 0;
    if (fd < 0) {
        int open_error = errno;
        *error = input_error(path.string() + ": cannot open: " + std::strerror(open_error));
        errno = open_error;
        return -1;
    }
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        *error = input_error(path.string() + ": not a regular file but " + file_kind(st->st_mode));
        (void)close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads block as usual from here on.
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Error read_file_start(const fs::path& path, uint64_t limit, std::vector<uint8_t>* bytes)
{
    Error error;
    struct stat info;
    int fd = open_regular_file(path, &error, &info);
    if (fd < 0)
        return error;
    uint64_t size = std::min<uint64_t>(uint64_t(info.st_size), limit);
    bytes->resize(size);
    uint64_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, bytes->data() + done, size - done);
        if (n < 0 && errno == EINTR && !interrupt_signal())
            continue;
        if (n <= 0) {
            error = input_error(
                path.string() + ": cannot read: " + (n < 0 ? std::strerror(errno) : "it got shorter"));
            break;
        }
        done += uint64_t(n);
    }
    (void)close(fd);
    stop_if_interrupted();
    return error;
}

Error read_whole_file(const fs::path& path, std::vector<uint8_t>* bytes)
{
    return read_file_start(path, UINT64_MAX, bytes);
}

Error write_atomically(const fs::path& path, std::span<const uint8_t> bytes)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return input_error(path.string() + ": is a directory; give a file name");
    StagedFiles files(path.has_parent_path() ? path.parent_path() : fs::path("."), Claim::single_files);
    if (Error error = files.add(path.filename().string(), bytes))
        return error;
    return files.commit();
}
