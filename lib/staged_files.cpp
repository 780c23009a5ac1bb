#include "lib/staged_files.h"

#include "lib/interrupt.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char STAGE_INSIDE[] = "staged"; // the staging folder's name inside a directory

Error cannot(const fs::path& path, const char* what, int error)
{
    return input_error(path.string() + ": cannot " + what + ": " + std::strerror(error));
}

void sync_directory(const fs::path& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)fsync(fd);
        (void)close(fd);
    }
}

// `from` again at `to` at no cost: folders made anew, everything else hard
// linked.
Error link_tree(const fs::path& from, const fs::path& to)
{
    struct stat info;
    if (lstat(from.c_str(), &info) != 0)
        return cannot(from, "read", errno);
    if (!S_ISDIR(info.st_mode))
        return link(from.c_str(), to.c_str()) == 0 ? Error {} : cannot(from, "carry over", errno);
    if (mkdir(to.c_str(), 0700) != 0)
        return cannot(to, "create", errno);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(from, ec))
        if (Error error = link_tree(entry.path(), to / entry.path().filename()))
            return error;
    (void)chmod(to.c_str(), info.st_mode & 07777);
    return ec ? input_error(from.string() + ": cannot read: " + ec.message()) : Error {};
}

// Whether `dir` and a folder beside it can be swapped in one step: not a
// mount point, not the working directory (its shell would be left in the
// old one), not the root.
bool swappable(const fs::path& dir)
{
    struct stat own, parent, working;
    if (dir.filename().empty() || dir.filename() == "." || dir.filename() == "..")
        return false;
    return stat(dir.c_str(), &own) == 0 && stat(dir.parent_path().c_str(), &parent) == 0
        && own.st_dev == parent.st_dev && own.st_ino != parent.st_ino && stat(".", &working) == 0
        && !(working.st_dev == own.st_dev && working.st_ino == own.st_ino);
}

// `path` and everything below it removed. A folder in it that we may not
// write in (old contents made read-only) is made writable first, where it
// is ours to change.
Error remove_tree(const fs::path& path)
{
    std::error_code ec;
    if (fs::remove_all(path, ec) != static_cast<std::uintmax_t>(-1) && !ec)
        return {};
    if (fs::is_directory(fs::symlink_status(path, ec)))
        (void)chmod(path.c_str(), 0700);
    for (auto entry = fs::recursive_directory_iterator(path, ec); !ec && entry != fs::end(entry);
         entry.increment(ec))
        if (entry->is_directory(ec) && !entry->is_symlink(ec))
            (void)chmod(entry->path().c_str(), 0700);
    if (fs::remove_all(path, ec) != static_cast<std::uintmax_t>(-1) && !ec)
        return {};
    return input_error(path.string() + ": cannot remove: " + ec.message());
}

// Scratch that writers killed before they could clean up left in `dir`, and
// beside it a stage of theirs for `dir`. A live writer's (a single file
// written beside) stays.
void remove_stale_scratch(const fs::path& dir)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (is_stale_scratch(entry.path().filename().string()))
            (void)remove_tree(entry.path());
    for (const fs::path& stage : stale_scratch_beside(dir))
        (void)remove_tree(stage);
}

} // namespace

void test_stop_point(const std::string& step)
{
    static const char* const wanted = std::getenv("PELIMORA_TEST_STOP");
    if (wanted && step == wanted)
        (void)raise(SIGSTOP);
}

StagedFiles::StagedFiles(fs::path dir, Claim claim)
    : dir_(std::move(dir))
    , claim_(claim)
{
}

StagedFiles::~StagedFiles()
{
    std::error_code ec;
    if (!committed_ && !stage_.empty())
        (void)remove_tree(stage_);
    if (created_ && !committed_)
        fs::remove(dir_, ec); // only when empty
}

Error StagedFiles::prepare()
{
    if (prepared_)
        return {};
    std::error_code ec;
    if (fs::exists(dir_, ec) && !fs::is_directory(dir_, ec))
        return input_error(dir_.string() + ": not a directory");
    if (!fs::exists(dir_, ec)) {
        if (!fs::create_directories(dir_, ec) && ec)
            return input_error(dir_.string() + ": cannot create: " + ec.message());
        created_ = true;
    }
    if (claim_ == Claim::whole_directory) {
        // A folder we may not write in is not ours to replace, even where
        // its parent would let us swap it.
        if (!created_ && access(dir_.c_str(), W_OK | X_OK) != 0)
            return cannot(dir_, "write in it", errno);
        if (Error error = lock_.take(dir_)) {
            created_ = false; // perhaps made at the same time by the writer that holds it
            return error;
        }
        remove_stale_scratch(dir_);
    }
    if (Error error = make_stage())
        return error;
    prepared_ = true;
    return {};
}

Error StagedFiles::make_stage()
{
    const fs::path absolute = real_folder(dir_);
    if (claim_ == Claim::whole_directory && swappable(absolute)) {
        fs::path beside = absolute.parent_path() / scratch_name(absolute.filename().string());
        if (mkdir(beside.c_str(), 0755) == 0) {
            target_ = absolute;
            stage_ = beside;
            beside_ = true;
            lock_.take_own(stage_);
            return {};
        }
    }
    fs::path inside = dir_ / scratch_name(STAGE_INSIDE);
    if (mkdir(inside.c_str(), 0755) != 0)
        return cannot(dir_, "write in it", errno);
    stage_ = inside;
    return {};
}

bool StagedFiles::replaces(const std::string& name) const
{
    return std::find(names_.begin(), names_.end(), name) != names_.end()
        || std::find(removals_.begin(), removals_.end(), name) != removals_.end();
}

int StagedFiles::create(const std::string& name, Error* error)
{
    stop_if_interrupted();
    if ((*error = prepare()))
        return -1;
    const std::string top = name.substr(0, name.find('/'));
    if (top != name)
        (void)mkdir((stage_ / top).c_str(), 0755);
    int fd = open((stage_ / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = cannot(dir_ / name, "create", errno);
        return -1;
    }
    if (std::find(names_.begin(), names_.end(), top) == names_.end()) {
        names_.push_back(top);
        if (names_.size() == 1)
            test_stop_point("staged");
    }
    return fd;
}

Error StagedFiles::add(const std::string& name, std::span<const uint8_t> bytes)
{
    int fd = -1;
    if (Error error = begin_file(name, &fd))
        return error;
    if (Error error = put_piece(fd, name, bytes))
        return error;
    return end_file(fd, name);
}

Error StagedFiles::begin_file(const std::string& name, int* fd)
{
    Error error;
    *fd = create(name, &error);
    return error;
}

Error StagedFiles::put_piece(int fd, const std::string& name, std::span<const uint8_t> bytes)
{
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
            return cannot(dir_ / name, "write", write_error);
        }
        at += n, left -= size_t(n);
    }
    return {};
}

Error StagedFiles::end_file(int fd, const std::string& name)
{
    // Closed whether or not the sync went: a file that failed leaves no descriptor open.
    const int sync_error = fsync(fd) == 0 ? 0 : errno;
    const int close_error = close(fd) == 0 ? 0 : errno;
    if (sync_error || close_error)
        return cannot(dir_ / name, "write", sync_error ? sync_error : close_error);
    stop_if_interrupted();
    return {};
}

Error StagedFiles::open_stream(const std::string& name, std::FILE** file)
{
    Error error;
    int fd = create(name, &error);
    *file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !*file) {
        (void)close(fd);
        return cannot(dir_ / name, "write", errno);
    }
    if (*file)
        streams_.emplace_back(*file, name);
    return error;
}

Error StagedFiles::close_stream(std::FILE* file)
{
    std::string name;
    for (auto& [stream, final] : streams_)
        if (stream == file)
            name = final, stream = nullptr;
    bool written = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    stop_if_interrupted();
    return written ? Error {} : cannot(dir_ / name, "write", error);
}

void StagedFiles::remove_on_commit(const std::string& name)
{
    removals_.push_back(name);
}

// What the new contents do not replace (the user's own files, a live
// writer's scratch) goes along with them.
Error StagedFiles::carry_over()
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        const std::string name = entry.path().filename().string();
        long pid = 0;
        if (replaces(name) || (is_scratch_name(name, &pid) && pid == getpid()))
            continue;
        if (Error error = link_tree(entry.path(), stage_ / name))
            return error;
    }
    return ec ? input_error(dir_.string() + ": cannot read: " + ec.message()) : Error {};
}

// The staged folder and `dir` swapped in one step; then the old contents,
// now in the stage's place, removed.
Error StagedFiles::swap_in()
{
    test_stop_point("commit-1");
    if (Error error = carry_over())
        return error;
    for (const std::string& name : names_)
        sync_directory(stage_ / name);
    sync_directory(stage_);
    // The folder keeps its mode, and its owner where we may give it.
    struct stat info;
    if (stat(target_.c_str(), &info) == 0) {
        (void)!chown(stage_.c_str(), info.st_uid, info.st_gid);
        (void)chmod(stage_.c_str(), info.st_mode & 07777);
    }
    test_stop_point("commit-2");
    if (renameat2(AT_FDCWD, stage_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0)
        return cannot(dir_, "replace", errno);
    committed_ = true;
    sync_directory(stage_.parent_path());
    test_stop_point("commit-3");
    return within(
        dir_.string() + ": the new contents are in place, but the old ones are left: ", remove_tree(stage_));
}

// Each staged name renamed into place, a folder there before moved aside
// first; then what is named for removal removed.
Error StagedFiles::move_in()
{
    int step = 0;
    std::error_code ec;
    Error left; // an old file or folder that could not be removed, said once all is in place
    for (const std::string& name : names_) {
        test_stop_point("commit-" + std::to_string(++step));
        const fs::path from = stage_ / name, to = dir_ / name;
        if (rename(from.c_str(), to.c_str()) == 0)
            continue;
        const int error = errno;
        const fs::path aside = dir_ / scratch_name(name + ".old");
        if (!fs::is_symlink(to, ec) && !fs::exists(to, ec))
            return cannot(to, "replace", error);
        if (rename(to.c_str(), aside.c_str()) != 0 || rename(from.c_str(), to.c_str()) != 0)
            return cannot(to, "replace", errno);
        if (Error error = remove_tree(aside); error && !left)
            left = within(to.string() + ": the new one is in place, but the old one is left: ", error);
    }
    committed_ = true;
    for (const std::string& name : removals_) {
        test_stop_point("commit-" + std::to_string(++step));
        if (Error error = remove_tree(dir_ / name); error && !left)
            left = error;
    }
    fs::remove_all(stage_, ec);
    sync_directory(dir_);
    return left;
}

Error StagedFiles::commit()
{
    stop_if_interrupted();
    if (Error error = prepare())
        return error;
    SignalsHeld held;
    if (beside_) {
        Error error = swap_in();
        // A file system that cannot swap, or a file that cannot be linked:
        // the files are moved in one by one instead.
        if (!error || committed_)
            return error;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(stage_, ec))
            if (!replaces(entry.path().filename().string()))
                fs::remove_all(entry.path(), ec);
    }
    return move_in();
}
