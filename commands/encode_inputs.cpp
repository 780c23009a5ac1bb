// encode's inputs: pictures, sequences and folders in natural order, the
// first one opened, and the options that fit them.
#include "commands/command_support.h"
#include "commands/encode_job.h"
#include "lib/natural_order.h"

#include <cmath>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

// "logo-%02d.png": the numbered files there are, from 0 or 1 up to the first gap.
bool is_sequence(const std::string& input)
{
    size_t at = input.find('%');
    if (at == std::string::npos)
        return false;
    size_t d = input.find_first_not_of("0123456789", at + 1);
    return d != std::string::npos && input[d] == 'd' && input.find('%', d) == std::string::npos;
}

Error expand_sequence(const std::string& pattern, std::vector<fs::path>* paths)
{
    std::error_code ec;
    size_t before = paths->size();
    for (int n = 0; n < 100000; ++n) {
        char name[4096];
        std::snprintf(name, sizeof name, pattern.c_str(), n);
        if (fs::exists(name, ec))
            paths->emplace_back(name);
        else if (n > 0 || paths->size() > before)
            break;
    }
    if (paths->size() == before)
        return input_error(pattern + ": no numbered files, from 0 or 1 on");
    return {};
}

// The pictures the inputs name: directories in natural order (hidden files
// skipped, others named in one note), sequences in number order.
Error collect_inputs(const std::vector<std::string>& inputs, std::vector<fs::path>* paths, bool* several)
{
    std::vector<std::string> skipped;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (is_sequence(input) && !fs::exists(input, ec)) {
            if (Error error = expand_sequence(input, paths))
                return error;
            *several = true;
            continue;
        }
        if (!fs::is_directory(input, ec)) {
            paths->emplace_back(input);
            continue;
        }
        *several = true;
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(input, ec)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with("."))
                continue;
            std::error_code type_error;
            if (entry.is_regular_file(type_error) && is_artwork_name(entry.path()))
                found.push_back(entry.path());
            else
                skipped.push_back(name);
        }
        if (ec)
            return input_error(input + ": cannot list: " + ec.message());
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return natural_less(a.filename().string(), b.filename().string());
        });
        paths->insert(paths->end(), found.begin(), found.end());
    }
    if (!skipped.empty())
        note("skipping " + std::to_string(skipped.size()) + " that are not pictures: " + name_list(skipped));
    return {};
}

} // namespace

std::string seconds_text(int64_t us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(us) / 1e6);
    return text;
}

Error check_options(const EncodeOptions& options, EncodeJob& job)
{
    if (Error error = parse_colour(options.background, &job.background))
        return within("--background ", error);
    std::optional<Fit> fit = parse_fit(options.fit);
    if (!fit)
        return usage_error("--fit '" + options.fit + "': expected contain, cover, fill or none");
    job.fit = *fit;
    if (!std::isfinite(options.start_seconds) || options.start_seconds < 0 || options.start_seconds > 1e6)
        return usage_error("--start must be a number of seconds from 0");
    if (options.every_ms <= 0)
        return usage_error("--every must be a number of milliseconds above 0");
    return {};
}

Error open_inputs(EncodeJob& job)
{
    const EncodeOptions& options = job.options;
    if (Error error = collect_inputs(options.inputs, &job.inputs, &job.several))
        return error;
    if (job.inputs.empty())
        return input_error("no pictures in " + name_list(options.inputs));
    if (job.inputs.size() > 1 && (options.hold || options.fade_in))
        return usage_error(std::string(options.hold ? "--hold" : "--fade-in") + " takes one picture, not "
            + std::to_string(job.inputs.size()));
    if (Error error = open_artwork(job.inputs[0], &job.artwork))
        return error;
    job.moving = job.artwork->moving();
    const std::string first = job.inputs[0].string();
    if (job.moving && job.inputs.size() > 1)
        return input_error(first + ": a " + job.artwork->kind() + " is encoded on its own; give it alone");
    if (!job.moving && (options.spread || options.start_seconds > 0))
        return usage_error(std::string(options.spread ? "--spread" : "--start")
            + " samples an animation or video; " + first + " is a still " + job.artwork->kind());
    if (options.dither)
        note("dithering breaks up runs, so the frames get larger");
    return {};
}
