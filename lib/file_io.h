// Files in and out for the host tools. Inputs must be regular files, opened
// without blocking (a FIFO would hang a tool as it hangs the player); outputs
// are written all or nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

// "a directory", "a FIFO", ...: what a path is when it is not a regular file.
[[nodiscard]] std::string file_kind(mode_t mode);

// Whether `inner` is `outer` or lies inside it, even through links.
bool is_within(const std::filesystem::path& inner, const std::filesystem::path& outer);

// Opens `path` read-only after making sure it is a regular file. Returns the
// descriptor, or -1 with a one-line message naming the path in `error`.
int open_regular_file(const std::filesystem::path& path, std::string* error, struct stat* info = nullptr);

// Reads a whole regular file, or at most `limit` bytes of it; returns an
// empty string, or what went wrong.
[[nodiscard]] std::string read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* bytes);
[[nodiscard]] std::string read_file_start(
    const std::filesystem::path& path, uint64_t limit, std::vector<uint8_t>* bytes);

// Writes one file all or nothing: the bytes go to a hidden temporary beside
// it, are synced, and are renamed into place. "" or what went wrong.
[[nodiscard]] std::string write_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// The hidden name a writer gives its scratch beside what it writes:
// ".pelimora-PID-NAME", so that scratch left by a writer that was killed is
// known as such.
[[nodiscard]] std::string scratch_name(const std::string& name);
// Whether `name` is such scratch; its writer's process id in `pid`.
bool is_scratch_name(const std::string& name, long* pid = nullptr);

// Whether the files staged are a directory's whole contents (a set of frames,
// a preview), which one writer at a time may replace, or single files
// among others (one picture in a folder of the user's).
enum class Claim { whole_directory, single_files };

// Files that become real together. Each is written to a hidden temporary in
// `dir` (a name "SUB/FILE" in a hidden folder for SUB) and synced; commit() renames them all into place and
// removes the files named for removal, with the interrupting signals held back. Until then nothing in `dir`
// changes, and whatever was not committed is removed when the object goes, on an error or an interruption
// alike. Claiming the whole directory, it holds an advisory lock on it from the first write until it goes: a
// second writer is refused at once (its sets would otherwise mix), and scratch that writers killed before
// they could clean up left there is removed.
class StagedFiles {
public:
    // `dir` is made if it does not exist (and removed again if nothing is committed).
    explicit StagedFiles(std::filesystem::path dir, Claim claim = Claim::whole_directory);
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // "" or the error, naming the file by its final name.
    [[nodiscard]] std::string add(const std::string& name, std::span<const uint8_t> bytes);
    // The same for a file written as a stream: the caller writes the
    // temporary through `*file` and hands it back to close_stream.
    [[nodiscard]] std::string open_stream(const std::string& name, std::FILE** file);
    [[nodiscard]] std::string close_stream(std::FILE* file);
    void remove_on_commit(const std::string& name);
    // A folder of `dir` removed with all it holds once the rest is committed.
    void remove_folder_on_commit(const std::string& name);
    [[nodiscard]] std::string commit();
    // Makes the directory now, if need be; "" or the error.
    [[nodiscard]] std::string prepare();

    const std::filesystem::path& dir() const { return dir_; }

private:
    int create(const std::string& name, std::string* error);
    // The temporary for `name`, in a hidden folder of its own for "SUB/FILE"; "" or the error.
    [[nodiscard]] std::string temporary_for(const std::string& name, std::filesystem::path* temporary);
    [[nodiscard]] std::string commit_folders();
    [[nodiscard]] std::string lock();

    std::filesystem::path dir_;
    Claim claim_;
    int lock_fd_ = -1;
    bool prepared_ = false, created_ = false, committed_ = false;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> staged_; // temporary, final
    std::vector<std::filesystem::path> removals_, folder_removals_;
    // Folders staged whole: the hidden one, the final one.
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> folders_;
    std::vector<std::pair<std::FILE*, std::filesystem::path>> streams_; // open streams, final names
};
