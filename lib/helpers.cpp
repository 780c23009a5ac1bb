#include "lib/helpers.h"

#include <climits>
#include <unistd.h>

std::filesystem::path helpers_dir()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::filesystem::path dir = n > 0 ? std::filesystem::path(std::string(self, size_t(n))).parent_path()
                                      : std::filesystem::path(".");
    return (dir / PELIMORA_HELPERS_RELATIVE).lexically_normal();
}
