// Runs a fuzz target once over each file given, or each file in the
// directories given, without libFuzzer: the ordinary and sanitizer builds
// replay the seeds and the kept regressions this way.
#include "lib/file_io.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec))
            for (const auto& entry : fs::directory_iterator(argv[i]))
                inputs.push_back(entry.path());
        else
            inputs.emplace_back(argv[i]);
    }
    for (const fs::path& input : inputs) {
        std::vector<uint8_t> bytes;
        if (Error error = read_whole_file(input, &bytes)) {
            std::fprintf(stderr, "%s\n", error.message.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return inputs.empty();
}
