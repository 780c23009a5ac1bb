// Running the tools as a user runs them, in a scratch directory of the test's.
#pragma once

#include "lib/file_io.h"
#include "lib/process.h"
#include "lib/temp_dir.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

struct ToolRun {
    int status = -1, signal = 0;
    std::string out, err;
};

inline std::string slurp(const std::filesystem::path& path)
{
    std::vector<uint8_t> bytes;
    (void)read_whole_file(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

inline std::string tool_path(const std::string& tool)
{
    return (std::filesystem::path(PELIMORA_TOOLS_DIR) / tool).string();
}

// Every regular file below `dir`, by its path from there, with its contents.
inline std::map<std::string, std::string> contents_of(const std::filesystem::path& dir)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), dir).string()] = slurp(entry.path());
    return files;
}

class Scratch : public TempDir {
public:
    ToolRun run(const std::string& tool, std::vector<std::string> args) const
    {
        args.insert(args.begin(), tool_path(tool));
        SpawnRequest request;
        request.argv = args;
        ProcessRun process = run_process(request, true);
        return { process.exit_status, process.term_signal, process.out, process.err };
    }

    // Every file below the scratch directory, for checking that nothing was left behind.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path()))
            names.push_back(std::filesystem::relative(entry.path(), path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Every regular file below the scratch directory with its contents.
    std::map<std::string, std::string> contents() const { return contents_of(path()); }
};

// The id of a process that has ended: the writer of stale scratch.
inline pid_t gone_process_id()
{
    SpawnRequest gone;
    gone.argv = { "/bin/true" };
    pid_t pid = -1;
    if (!spawn_process(gone, &pid))
        (void)wait_process(pid);
    return pid;
}

// Starts a tool that stops itself at `step` of its writing ("staged": its
// lock held and its first file staged; "commit-N": before step N of its
// commit) and returns once it has: a handshake, never a guess at timing.
// -1 when the tool ended first, with how it ended in `*ended`.
inline pid_t start_stopped_at(const std::string& step, std::vector<std::string> argv, ProcessExit* ended)
{
    SpawnRequest request;
    for (char** variable = environ; *variable; ++variable)
        request.env.emplace_back(*variable);
    request.env.push_back("PELIMORA_TEST_STOP=" + step);
    argv[0] = tool_path(argv[0]);
    request.argv = std::move(argv);
    request.stdout_fd = request.stderr_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = -1;
    Error error = spawn_process(request, &pid);
    (void)close(request.stdout_fd);
    if (error) {
        ended->exit_status = -1;
        return -1;
    }
    return wait_stopped(pid, ended) ? pid : -1;
}

// A clip made by FFmpeg's own command from a filter graph of its test
// sources: `args` are its options, `out` the file. "" or what it said.
inline std::string make_clip(const std::filesystem::path& out, std::vector<std::string> args)
{
    args.insert(args.begin(), { "ffmpeg", "-v", "error", "-nostdin", "-y" });
    args.push_back(out.string());
    SpawnRequest request;
    request.argv = args;
    request.search_path = true;
    ProcessRun made = run_process(request, true);
    return made.exit_status == 0 ? "" : "ffmpeg: " + made.err;
}
