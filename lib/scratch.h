// The scratch a pelimora writer leaves beside what it writes, named so that
// what a killed writer left is known as such and removed by the next.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The hidden name a writer gives its scratch beside what it writes:
// ".pelimora-PID-NAME", so that scratch left by a writer that was killed is
// known as such.
[[nodiscard]] std::string scratch_name(const std::string& name);
// Whether `name` is such scratch; its writer's process id in `pid`.
bool is_scratch_name(const std::string& name, long* pid = nullptr);
// Whether the writer of that scratch is gone (killed before it cleaned up).
bool is_stale_scratch(const std::string& name);
// Such scratch beside `dir`: what a writer of `dir` killed before its commit
// left next to it.
[[nodiscard]] std::vector<std::filesystem::path> stale_scratch_beside(const std::filesystem::path& dir);

// The folder `dir` names, absolute, through any link to it: what a swap
// replaces (a link to a folder stays a link to the new contents).
std::filesystem::path real_folder(const std::filesystem::path& dir);
