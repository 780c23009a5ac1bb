#include "lib/scratch.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char SCRATCH_PREFIX[] = ".pelimora-";

} // namespace

fs::path real_folder(const fs::path& dir)
{
    std::error_code ec;
    fs::path real = fs::canonical(dir, ec);
    if (ec)
        real = fs::absolute(dir, ec).lexically_normal();
    return real.filename().empty() ? real.parent_path() : real;
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

bool is_stale_scratch(const std::string& name)
{
    long pid = 0;
    return is_scratch_name(name, &pid) && pid != getpid() && kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

std::vector<fs::path> stale_scratch_beside(const fs::path& dir)
{
    std::error_code ec;
    const fs::path absolute = real_folder(dir);
    const std::string own = absolute.filename().string();
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(absolute.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with("-" + own) && is_stale_scratch(name)
            && name.find('-', std::strlen(SCRATCH_PREFIX)) + 1 == name.size() - own.size())
            found.push_back(entry.path());
    }
    return found;
}
