#include "lib/file_io.h"

#include "lib/interrupt.h"

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

int open_regular_file(const fs::path& path, std::string* error, struct stat* info)
{
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat own = {};
    struct stat* st = info ? info : &own;
    st->st_mode = 0;
    if (fd < 0) {
        int open_error = errno;
        *error = path.string() + ": cannot open: " + std::strerror(open_error);
        errno = open_error;
        return -1;
    }
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        *error = path.string() + ": not a regular file but " + file_kind(st->st_mode);
        (void)close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads block as usual from here on.
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string read_file_start(const fs::path& path, uint64_t limit, std::vector<uint8_t>* bytes)
{
    std::string error;
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
            error = path.string() + ": cannot read: " + (n < 0 ? std::strerror(errno) : "it got shorter");
            break;
        }
        done += uint64_t(n);
    }
    (void)close(fd);
    stop_if_interrupted();
    return error;
}

std::string read_whole_file(const fs::path& path, std::vector<uint8_t>* bytes)
{
    return read_file_start(path, UINT64_MAX, bytes);
}

std::string write_atomically(const fs::path& path, std::span<const uint8_t> bytes)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return path.string() + ": is a directory; give a file name";
    StagedFiles files(path.has_parent_path() ? path.parent_path() : fs::path("."), Claim::single_files);
    if (std::string error = files.add(path.filename().string(), bytes); !error.empty())
        return error;
    return files.commit();
}

namespace {
constexpr char SCRATCH_PREFIX[] = ".pelimora-";
}

std::string scratch_name(const std::string& name)
{
    return SCRATCH_PREFIX + std::to_string(getpid()) + "-" + name;
}

bool is_scratch_name(const std::string& name, long* pid)
{
    if (!name.starts_with(SCRATCH_PREFIX))
        return false;
    const char* digits = name.c_str() + std::strlen(SCRATCH_PREFIX);
    char* end = nullptr;
    long writer = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || writer <= 0)
        return false;
    if (pid)
        *pid = writer;
    return true;
}

StagedFiles::StagedFiles(fs::path dir, Claim claim)
    : dir_(std::move(dir))
    , claim_(claim)
{
}

StagedFiles::~StagedFiles()
{
    std::error_code ec;
    for (const auto& [temporary, final] : staged_)
        if (!committed_)
            fs::remove(temporary, ec);
    for (const auto& [hidden, final] : folders_)
        if (!committed_)
            fs::remove_all(hidden, ec);
    if (created_ && !committed_)
        fs::remove(dir_, ec); // only when empty
    if (lock_fd_ >= 0)
        (void)close(lock_fd_);
}

std::string StagedFiles::lock()
{
    lock_fd_ = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_fd_ < 0)
        return dir_.string() + ": cannot open: " + std::strerror(errno);
    if (flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return dir_.string()
                + ": another pelimora tool is writing it now; run this again when it has finished";
        // A file system without locks: the writer goes on alone, as before locks.
    }
    // Under the lock, scratch of writers that are gone is left over from a
    // kill; a live writer's (a single file written beside) stays.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        long pid = 0;
        if (is_scratch_name(entry.path().filename().string(), &pid) && pid != getpid()
            && kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
            std::error_code remove_error;
            fs::remove_all(entry.path(), remove_error);
        }
    }
    return "";
}

std::string StagedFiles::prepare()
{
    if (prepared_)
        return "";
    std::error_code ec;
    if (fs::exists(dir_, ec) && !fs::is_directory(dir_, ec))
        return dir_.string() + ": not a directory";
    if (!fs::exists(dir_, ec)) {
        if (!fs::create_directories(dir_, ec) && ec)
            return dir_.string() + ": cannot create: " + ec.message();
        created_ = true;
    }
    if (claim_ == Claim::whole_directory)
        if (std::string error = lock(); !error.empty()) {
            created_ = false; // perhaps made at the same time by the writer that holds it
            return error;
        }
    prepared_ = true;
    return "";
}

int StagedFiles::create(const std::string& name, std::string* error)
{
    stop_if_interrupted();
    if (*error = prepare(); !error->empty())
        return -1;
    fs::path final = dir_ / name;
    fs::path temporary;
    if (*error = temporary_for(name, &temporary); !error->empty())
        return -1;
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        *error = final.string() + ": cannot create: " + std::strerror(errno);
    else
        staged_.emplace_back(temporary, final);
    return fd;
}

std::string StagedFiles::temporary_for(const std::string& name, fs::path* temporary)
{
    size_t slash = name.find('/');
    if (slash == std::string::npos) {
        *temporary = dir_ / scratch_name(name);
        return "";
    }
    const std::string folder = name.substr(0, slash);
    fs::path hidden = dir_ / scratch_name(folder);
    auto staged
        = std::find_if(folders_.begin(), folders_.end(), [&](const auto& f) { return f.first == hidden; });
    if (staged == folders_.end()) {
        if (mkdir(hidden.c_str(), 0755) != 0)
            return (dir_ / folder).string() + ": cannot create: " + std::strerror(errno);
        folders_.emplace_back(hidden, dir_ / folder);
    }
    *temporary = hidden / name.substr(slash + 1);
    return "";
}

std::string StagedFiles::add(const std::string& name, std::span<const uint8_t> bytes)
{
    std::string error;
    int fd = create(name, &error);
    if (fd < 0)
        return error;
    fs::path final = dir_ / name;
    const uint8_t* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, at, left);
        if (n < 0 && errno == EINTR && !interrupt_signal())
            continue;
        if (n <= 0) {
            int write_error = n < 0 ? errno : ENOSPC;
            (void)close(fd);
            stop_if_interrupted();
            return final.string() + ": cannot write: " + std::strerror(write_error);
        }
        at += n, left -= size_t(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0)
        return final.string() + ": cannot write: " + std::strerror(errno);
    stop_if_interrupted();
    return "";
}

std::string StagedFiles::open_stream(const std::string& name, std::FILE** file)
{
    std::string error;
    int fd = create(name, &error);
    *file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !*file) {
        (void)close(fd);
        return (dir_ / name).string() + ": cannot write: " + std::strerror(errno);
    }
    if (*file)
        streams_.emplace_back(*file, dir_ / name);
    return error;
}

std::string StagedFiles::close_stream(std::FILE* file)
{
    fs::path final;
    for (auto& [stream, name] : streams_)
        if (stream == file)
            final = name, stream = nullptr;
    bool written = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    stop_if_interrupted();
    return written ? "" : final.string() + ": cannot write: " + std::strerror(error);
}

void StagedFiles::remove_on_commit(const std::string& name)
{
    removals_.push_back(dir_ / name);
}

void StagedFiles::remove_folder_on_commit(const std::string& name)
{
    folder_removals_.push_back(dir_ / name);
}

// A staged folder whose final one is new is renamed whole; into one that is
// there, its files are moved one by one.
std::string StagedFiles::commit_folders()
{
    std::error_code ec;
    for (const auto& [hidden, final] : folders_) {
        if (rename(hidden.c_str(), final.c_str()) == 0)
            continue;
        if (errno != EEXIST && errno != ENOTEMPTY)
            return final.string() + ": cannot replace: " + std::strerror(errno);
        for (const auto& entry : fs::directory_iterator(hidden, ec))
            if (rename(entry.path().c_str(), (final / entry.path().filename()).c_str()) != 0)
                return (final / entry.path().filename()).string()
                    + ": cannot replace: " + std::strerror(errno);
        fs::remove(hidden, ec);
    }
    return "";
}

std::string StagedFiles::commit()
{
    stop_if_interrupted();
    if (std::string error = prepare(); !error.empty())
        return error;
    SignalsHeld held;
    // Files of staged folders go with their folder.
    auto in_folder = [this](const fs::path& temporary) {
        return std::any_of(folders_.begin(), folders_.end(),
            [&](const auto& folder) { return folder.first == temporary.parent_path(); });
    };
    for (const auto& [temporary, final] : staged_)
        if (!in_folder(temporary) && rename(temporary.c_str(), final.c_str()) != 0)
            return final.string() + ": cannot replace: " + std::strerror(errno);
    if (std::string error = commit_folders(); !error.empty())
        return error;
    committed_ = true;
    for (const fs::path& path : removals_)
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            return path.string() + ": cannot remove: " + std::strerror(errno);
    std::error_code ec;
    for (const fs::path& path : folder_removals_)
        if (fs::remove_all(path, ec) == static_cast<std::uintmax_t>(-1) || ec)
            return path.string() + ": cannot remove: " + ec.message();
    int dir = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        (void)close(dir);
    }
    return "";
}
