// Outputs written whole: what a commit keeps, replaces and removes, with the
// folder swapped in one step or, where it cannot be, filled one file at a time.
#include "lib/staged_files.h"
#include "lib/temp_dir.h"
#include "tests/support/expect_ok.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> bytes_of(const std::string& text)
{
    return { reinterpret_cast<const uint8_t*>(text.data()), text.size() };
}

// A folder as a user left it: an old output, a file and a folder of theirs.
void old_output(const fs::path& dir)
{
    fs::create_directories(dir / "theirs");
    for (const char* name : { "Loop_1.rle", "Loop_2.rle", "notes.txt", "theirs/keep.txt" }) {
        std::string text = std::string("old ") + name;
        ASSERT_OK(write_atomically(dir / name, bytes_of(text)));
    }
    ASSERT_EQ(chmod(dir.c_str(), 0750), 0);
}

// The new output: one file replaced, one removed, a folder of files new.
void commit_new(const fs::path& dir)
{
    StagedFiles staged(dir);
    ASSERT_OK(staged.add("Loop_1.rle", bytes_of("new 1")));
    ASSERT_OK(staged.add("set/a", bytes_of("new a")));
    staged.remove_on_commit("Loop_2.rle");
    ASSERT_OK(staged.commit());
}

void expect_new(const fs::path& dir)
{
    const std::map<std::string, std::string> expected { { "Loop_1.rle", "new 1" }, { "set/a", "new a" },
        { "notes.txt", "old notes.txt" }, { "theirs/keep.txt", "old theirs/keep.txt" } };
    EXPECT_EQ(contents_of(dir), expected);
    struct stat info;
    ASSERT_EQ(stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
}

TEST(StagedFiles, ASwappedFolderKeepsWhatItDoesNotReplace)
{
    TempDir scratch;
    const fs::path dir = scratch / "out";
    old_output(dir);
    commit_new(dir);
    expect_new(dir);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1)
        << "scratch left beside the folder";
}

TEST(StagedFiles, ALinkToTheFolderStaysALink)
{
    TempDir scratch;
    const fs::path dir = scratch / "real";
    old_output(dir);
    fs::create_directory_symlink("real", scratch / "link");
    commit_new(scratch / "link");
    EXPECT_TRUE(fs::is_symlink(scratch / "link"));
    expect_new(dir);
}

TEST(StagedFiles, TheWorkingDirectoryIsFilledFileByFile)
{
    TempDir scratch;
    const fs::path dir = scratch / "out";
    old_output(dir);
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    commit_new(".");
    fs::current_path(before);
    expect_new(dir); // and the shell that stands in it still does
}

TEST(StagedFiles, NothingChangesWithoutACommit)
{
    TempDir scratch;
    old_output(scratch / "out");
    const auto before = contents_of(scratch.path());
    {
        StagedFiles staged(scratch / "out");
        ASSERT_OK(staged.add("Loop_1.rle", bytes_of("new 1")));
        staged.remove_on_commit("notes.txt");
    }
    {
        StagedFiles made(scratch / "made");
        ASSERT_OK(made.add("a", bytes_of("a")));
    }
    EXPECT_EQ(contents_of(scratch.path()), before);
    EXPECT_FALSE(fs::exists(scratch / "made"));
}

TEST(StagedFiles, TheLockIsTheFoldersWhateverItHolds)
{
    TempDir scratch;
    fs::create_directories(scratch / "out");
    FolderLock held;
    ASSERT_OK(held.take(scratch / "out"));
    StagedFiles staged(scratch / "out");
    EXPECT_NE(staged.add("a", bytes_of("a")).message.find("another pelimora tool is writing it now"),
        std::string::npos);
    FolderLock again;
    EXPECT_NE(again.take(scratch / "out").message, "");
}

} // namespace
