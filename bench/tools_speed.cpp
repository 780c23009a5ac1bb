// The host tools against what they stand on, each command run once in this
// one run, at four screen sizes and on two kinds of artwork: the built-in
// sample (a boot animation: a spinner, little changes from frame to frame)
// and photo-like frames that change everywhere. For each, as ratios:
//   encode from the 40 PNG stills, and from an H.264 clip of them (every
//   frame of the clip used), over FFmpeg's own decoding of the same input
//   (ffmpeg -i IN -f null -), in CPU time and in wall time, and how much of
//   that is the kernel's (mostly writing the frames), beside a plain copy of
//   the set (cp -r), which costs what writing those bytes anew costs;
//   preview over img2webp (lossless, least effort) on the same screens, in
//   CPU time and in the animation's size; pelimora-vfb over preview;
//   each tool's peak memory (and FFmpeg's, decoding the clip), in screens
//   (W x H x 4 bytes) from 1920x1080 up and in MiB below it, where the
//   libraries' fixed cost dominates; and
//   that fixed cost on its own (each tool's --version, and encode of one
//   pixel with the artwork readers loaded), in MiB.
// Prints a Markdown table.
//   tools_speed TOOLS_DIR [WIDTHxHEIGHT...]
#include "core/schedule.h"
#include "frames/replay.h"
#include "lib/process.h"
#include "lib/temp_dir.h"
#include "preview/png.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Timed {
    double seconds = 0, cpu = 0, system = 0, peak_mib = 0;
    bool ok = false;
    std::string out;
};

Timed timed(std::vector<std::string> argv, bool search_path = false)
{
    SpawnRequest request;
    request.argv = std::move(argv);
    request.search_path = search_path;
    sync(); // no other command's writes left for this one to wait behind
    ProcessRun run = run_process(request, true);
    Timed result { run.seconds, run.cpu_seconds, run.system_seconds, run.peak_kib / 1024.0,
        run.exit_status == 0, run.out };
    if (!result.ok)
        std::fprintf(stderr, "tools_speed: %s failed: %s\n", request.argv[0].c_str(), run.err.c_str());
    return result;
}

Timed ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), { "ffmpeg", "-v", "error", "-nostdin", "-y" });
    return timed(args, true);
}

// A photograph's statistics: soft gradients, texture at a few scales and a
// fine grain, panning a little each frame.
std::vector<uint8_t> photo_like(int frame, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint32_t grain = 12345u + uint32_t(frame);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            double u = (x + frame * 12.0) / width, v = (y + frame * 5.0) / height;
            double shape = std::sin(u * 7.1 + std::sin(v * 5.3) * 2) * std::cos(v * 6.7 - u * 3.1)
                + 0.5 * std::sin(u * 41 + v * 29) * std::sin(v * 37 - u * 17);
            for (int c = 0; c < 3; ++c) {
                grain = grain * 1664525u + 1013904223u;
                double noise = double(grain >> 24) / 255.0 - 0.5;
                double value = 128 + 70 * shape * (1 - 0.3 * c) + 60 * (u - 0.5) * (c - 1) + 18 * noise;
                rgb[(size_t(y) * width + x) * 3 + c] = uint8_t(std::clamp(value, 0.0, 255.0));
            }
        }
    return rgb;
}

enum class Kind { boot, photo };

// 01.png ... 40.png in `dir`, and `dir`/clip.mp4 of them at the player's pace.
bool make_artwork(const fs::path& tools, Kind kind, uint32_t width, uint32_t height, const fs::path& dir)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (kind == Kind::boot) {
        if (!timed({ tools / "pelimora-frames", "sample", "--size", size, "-o", dir / "sample" }).ok)
            return false;
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            char from[32], to[16];
            std::snprintf(from, sizeof from, "spinner-%02d.png", n);
            std::snprintf(to, sizeof to, "%02d.png", n);
            fs::rename(dir / "sample" / from, dir / to);
        }
        fs::remove_all(dir / "sample");
    } else {
        // Made two at a time, written one at a time.
        std::future<std::vector<uint8_t>> next
            = std::async(std::launch::async, [=] { return photo_like(1, width, height); });
        for (int n = 1; n <= FRAME_COUNT; ++n) {
            std::vector<uint8_t> rgb = next.get();
            if (n < FRAME_COUNT)
                next = std::async(std::launch::async, [=] { return photo_like(n + 1, width, height); });
            char name[16];
            std::snprintf(name, sizeof name, "%02d.png", n);
            if (Error error = write_png_rgb(dir / name, width, height, rgb)) {
                std::fprintf(stderr, "tools_speed: %s\n", error.message.c_str());
                return false;
            }
        }
    }
    const std::string rate = std::to_string(1000000 / FRAME_DELAY_US);
    return ffmpeg({ "-framerate", rate, "-i", dir / "%02d.png", "-c:v", "libx264", "-preset", "fast",
                      "-pix_fmt", "yuv420p", dir / "clip.mp4" })
        .ok;
}

// How many of the source's frames encode's report names ("(frame N)").
size_t source_frames_used(const std::string& report)
{
    std::set<std::string> used;
    for (size_t at = report.find("(frame "); at != std::string::npos; at = report.find("(frame ", at + 1))
        used.insert(report.substr(at, report.find(')', at) - at));
    return used.size();
}

struct Row {
    Timed stills_decode, stills_encode, set_copy, clip_decode, clip_encode, preview, vfb, img2webp;
    double preview_mib = 0, img2webp_mib = 0;
    size_t clip_frames = 0;
};

bool measure(const fs::path& tools, Kind kind, uint32_t width, uint32_t height, const fs::path& dir, Row* row)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string depth = kind == Kind::boot ? "16" : "32";
    const fs::path frames = tools / "pelimora-frames";
    row->stills_decode = ffmpeg({ "-i", dir / "%02d.png", "-f", "null", "-" });
    row->stills_encode
        = timed({ frames, "encode", dir, "--size", size, "--depth", depth, "-q", "-o", dir / "set" });
    // What writing the set's files alone costs: any encoder writes these bytes.
    row->set_copy = timed({ "cp", "-r", dir / "set", dir / "set-copy" }, true);
    row->clip_decode = ffmpeg({ "-i", dir / "clip.mp4", "-f", "null", "-" });
    row->clip_encode = timed({ frames, "encode", dir / "clip.mp4", "--size", size, "--depth", depth, "-q",
        "-o", dir / "from-clip" });
    row->clip_frames = source_frames_used(row->clip_encode.out);
    row->preview = timed({ frames, "preview", dir / "set", "-q", "-o", dir / "preview" });
    row->vfb = timed({ tools / "pelimora-vfb", "--frames", dir / "set", "-q", "-o", dir / "vfb" });
    // The screens the device shows (the set's frames are whole), for img2webp.
    std::vector<std::string> img2webp = { "img2webp", "-loop", "0", "-lossless", "-q", "0", "-m", "0", "-d",
        std::to_string(FRAME_DELAY_US / 1000) };
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        fs::path png = dir / ("screen" + std::to_string(n) + ".png");
        if (!timed({ frames, "decode", dir / "set" / frame_name(n), "-o", png }).ok)
            return false;
        img2webp.push_back(png);
    }
    img2webp.insert(img2webp.end(), { "-o", dir / "img2webp.webp" });
    row->img2webp = timed(img2webp, true);
    std::error_code ec;
    row->preview_mib = double(fs::file_size(dir / "preview" / "animation.webp", ec)) / 1048576;
    row->img2webp_mib = double(fs::file_size(dir / "img2webp.webp", ec)) / 1048576;
    return row->stills_encode.ok && row->set_copy.ok && row->clip_encode.ok && row->preview.ok && row->vfb.ok
        && row->img2webp.ok;
}

std::string ratio(const Timed& a, const Timed& b)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f (%.2f)", a.cpu / b.cpu, a.seconds / b.seconds);
    return text;
}

std::string memory(const Timed& run, uint32_t width, uint32_t height)
{
    char text[32];
    const double screen_mib = double(width) * height * 4 / 1048576;
    if (uint64_t(width) * height >= 1920 * 1080)
        std::snprintf(text, sizeof text, "%.1f", run.peak_mib / screen_mib);
    else
        std::snprintf(text, sizeof text, "%.0f MiB", run.peak_mib);
    return text;
}

void print_row(const char* kind, uint32_t width, uint32_t height, const Row& r)
{
    std::printf(
        "| %ux%u | %s | %s | %s%s | %.2f / %.2f / %.2f | %s | %.2f | %.2f | %s / %s (%s) / %s / %s |\n",
        width, height, kind, ratio(r.stills_encode, r.stills_decode).c_str(),
        ratio(r.clip_encode, r.clip_decode).c_str(),
        r.clip_frames == size_t(FRAME_COUNT) ? "" : " (not every frame of the clip)",
        r.stills_encode.system / r.stills_decode.cpu, r.set_copy.cpu / r.stills_decode.cpu,
        r.clip_encode.system / r.clip_decode.cpu, ratio(r.preview, r.img2webp).c_str(),
        r.preview_mib / r.img2webp_mib, r.vfb.cpu / r.preview.cpu,
        memory(r.stills_encode, width, height).c_str(), memory(r.clip_encode, width, height).c_str(),
        memory(r.clip_decode, width, height).c_str(), memory(r.preview, width, height).c_str(),
        memory(r.vfb, width, height).c_str());
    std::fflush(stdout);
}

// encode at its smallest: the artwork readers' fixed cost.
Timed encode_one_pixel(const fs::path& tools, const fs::path& scratch)
{
    const std::vector<uint8_t> black(3);
    if (Error error = write_png_rgb(scratch / "pixel.png", 1, 1, black))
        std::fprintf(stderr, "tools_speed: %s\n", error.message.c_str());
    return timed({ tools / "pelimora-frames", "encode", scratch / "pixel.png", "--depth", "16", "-q", "-o",
        scratch / "pixel.rle" });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tools_speed TOOLS_DIR [WIDTHxHEIGHT...]\n");
        return 2;
    }
    const fs::path tools = argv[1];
    std::vector<std::string> sizes(argv + 2, argv + argc);
    if (sizes.empty())
        sizes = { "640x480", "1280x720", "1920x1080", "3840x2160" };
    // First, while this process is small: a spawned child's peak starts from its parent's size.
    const Timed frames_alone = timed({ tools / "pelimora-frames", "--version" });
    const Timed vfb_alone = timed({ tools / "pelimora-vfb", "--version" });
    TempDir scratch("pelimora-speed");
    const Timed with_readers = encode_one_pixel(tools, scratch.path());
    std::printf("The libraries alone (--version): pelimora-frames %.0f MiB, pelimora-vfb %.0f MiB; with the "
                "artwork readers' module and its libraries (encode of a 1x1 PNG): %.0f MiB.\n\n",
        frames_alone.peak_mib, vfb_alone.peak_mib, with_readers.peak_mib);
    std::printf("CPU time ratio (wall time ratio in brackets), each command run once; the boot animation at "
                "16 bpp, the photo-like frames at 32 bpp; the kernel's part, and a cp -r of the set, in the "
                "same units (over ffmpeg's CPU); peak memory in screens (W x H x 4 bytes), in MiB below "
                "1920x1080.\n\n");
    std::printf(
        "| screen | artwork | encode PNGs / ffmpeg | encode clip / ffmpeg | of which the kernel: encode "
        "PNGs, "
        "cp of the set, encode clip | preview / img2webp | "
        "preview's size / img2webp's | pelimora-vfb / preview | peak: encode PNGs / encode clip (ffmpeg's "
        "decode of it) / preview / vfb |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const std::string& size : sizes) {
        uint32_t width = 0, height = 0;
        if (std::sscanf(size.c_str(), "%ux%u", &width, &height) != 2)
            return 2;
        for (Kind kind : { Kind::boot, Kind::photo }) {
            const fs::path dir = scratch / (size + (kind == Kind::boot ? "-boot" : "-photo"));
            fs::create_directories(dir);
            Row row;
            if (!make_artwork(tools, kind, width, height, dir)
                || !measure(tools, kind, width, height, dir, &row))
                return 1;
            print_row(kind == Kind::boot ? "boot animation" : "photo-like", width, height, row);
            fs::remove_all(dir);
        }
    }
    return 0;
}
