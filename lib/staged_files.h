// Outputs written all or nothing: against an error, an interruption, a
// second writer and a kill.
#pragma once

#include "lib/error.h"
#include "lib/folder_lock.h"
#include "lib/scratch.h"

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// Whether the files staged are a directory's whole contents (a set of frames,
// a bundle, a preview), which one writer at a time replaces, or single files
// among others (one picture in a folder of the user's).
enum class Claim { whole_directory, single_files };

// Files that become real together. Each is written to a hidden staging
// folder and synced; commit() puts them all into place and removes what was
// named for removal, with the interrupting signals held back. Until then
// nothing in `dir` changes, and whatever was not committed is removed when
// the object goes, on an error or an interruption alike.
//
// Claiming the whole directory, it holds FolderLock from prepare() until it
// goes, removes the scratch of writers killed before they could clean up,
// and stages the new contents beside `dir`: commit() carries over what it
// does not replace and swaps the two folders in one step, so that a kill at
// any instant leaves the old contents or the new ones. Where a swap cannot be
// made (a mount point, the working directory, a file system without it), the
// files are staged inside `dir` and renamed into place one by one.
//
// add(), open_stream() and commit() throw Interrupted when a signal asked to
// stop before they begin (lib/interrupt.h): the destructor then removes what
// was staged, and the tool dies of the signal.
class StagedFiles {
public:
    // `dir` is made if it does not exist (and removed again if nothing is committed).
    explicit StagedFiles(std::filesystem::path dir, Claim claim = Claim::whole_directory);
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Makes the directory if need be and takes its lock; a directory we may
    // not write in is refused, though its parent would let a swap replace it.
    Error prepare();
    // Errors name the file by its final name ("SUB/FILE" for a
    // file in a folder SUB of `dir`, which the commit replaces whole).
    Error add(const std::string& name, std::span<const uint8_t> bytes);
    // The same written a piece at a time, for a file too large to hold
    // whole: begin_file, put_piece as often as needed, end_file. After an
    // error the file is closed and nothing more is to be done with it.
    Error begin_file(const std::string& name, int* fd);
    Error put_piece(int fd, const std::string& name, std::span<const uint8_t> bytes);
    Error end_file(int fd, const std::string& name);
    // The same for a file written as a stream: the caller writes it through
    // `*file` and hands it back to close_stream.
    Error open_stream(const std::string& name, std::FILE** file);
    Error close_stream(std::FILE* file);
    // A file or folder of `dir` that the commit removes.
    void remove_on_commit(const std::string& name);
    Error commit();

    const std::filesystem::path& dir() const { return dir_; }

private:
    int create(const std::string& name, Error* error);
    Error make_stage();
    [[nodiscard]] bool replaces(const std::string& name) const;
    Error carry_over();
    Error swap_in();
    Error move_in();

    std::filesystem::path dir_;
    Claim claim_;
    FolderLock lock_;
    std::filesystem::path target_; // the real folder a swap replaces
    std::filesystem::path stage_; // the hidden folder the files are staged in
    bool beside_ = false; // stage_ is beside dir_, to be swapped with it
    bool prepared_ = false, created_ = false, committed_ = false;
    std::vector<std::string> names_; // what is staged, by top-level name
    std::vector<std::string> removals_;
    std::vector<std::pair<std::FILE*, std::string>> streams_; // open streams, final names
};

// A test's handle on the steps above: with PELIMORA_TEST_STOP=STEP in the
// environment, the writer stops itself (SIGSTOP) when it reaches STEP, for a
// test to act at a known point. The steps: "staged" (the first file staged,
// the lock held), then "commit-1", "commit-2", ... before each step of the
// commit that changes `dir`.
void test_stop_point(const std::string& step);
