// The host tools on a 1080p photo-like animation (40 frames of 1920x1080 at
// 32 bpp), each timed once in this one run and printed as ratios:
//   preview over libwebp's own img2webp (lossless, fastest effort) on the
//   same 40 screens; pelimora-vfb over preview; encode over reading the same
//   PNGs with libvips alone (decode only). Peak memory in screens, and the
//   animation's size beside img2webp's. Then encode over FFmpeg's own
//   decoding of the same clip and of the same PNGs, at four sizes.
//   tools_speed TOOLS_DIR
#include "artwork/still.h"
#include "core/schedule.h"
#include "frames/replay.h"
#include "lib/process.h"
#include "lib/temp_dir.h"
#include "preview/png.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vips/vips8>
#include <webp/encode.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t W = 1920, H = 1080;
const double SCREEN_MIB = W * H * 4 / 1048576.0;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Timed {
    double seconds = 0, screens = 0;
    bool ok = false;
};

Timed timed(const std::vector<std::string>& argv, bool search_path = false)
{
    SpawnRequest request;
    request.argv = argv;
    request.search_path = search_path;
    sync(); // no other command's writes left for this one to wait behind
    double start = now();
    ProcessRun run = run_process(request, true);
    Timed result;
    result.seconds = now() - start;
    result.screens = run.peak_kib / 1024.0 / SCREEN_MIB;
    result.ok = run.exit_status == 0;
    if (!result.ok)
        std::fprintf(stderr, "tools_speed: %s failed: %s\n", argv[0].c_str(), run.err.c_str());
    return result;
}

// Artwork with a photograph's statistics: soft gradients, texture at a few
// scales and a fine grain, panning a little each frame.
std::vector<uint8_t> photo_like(int frame)
{
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    uint32_t grain = 12345u + uint32_t(frame);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            double u = (x + frame * 12.0) / W, v = (y + frame * 5.0) / H;
            double shape = std::sin(u * 7.1 + std::sin(v * 5.3) * 2) * std::cos(v * 6.7 - u * 3.1)
                + 0.5 * std::sin(u * 41 + v * 29) * std::sin(v * 37 - u * 17);
            for (int c = 0; c < 3; ++c) {
                grain = grain * 1664525u + 1013904223u;
                double noise = double(grain >> 24) / 255.0 - 0.5;
                double value = 128 + 70 * shape * (1 - 0.3 * c) + 60 * (u - 0.5) * (c - 1) + 18 * noise;
                rgb[(size_t(y) * W + x) * 3 + c] = uint8_t(std::clamp(value, 0.0, 255.0));
            }
        }
    return rgb;
}

// What libwebp's lossless encoder adds to a process's peak for one screen at
// the tools' settings (least effort), measured in a child of its own.
double encoder_screens(const std::vector<uint8_t>& rgb)
{
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        struct rusage before, after;
        getrusage(RUSAGE_SELF, &before);
        WebPConfig config;
        WebPPicture picture;
        WebPMemoryWriter memory;
        WebPConfigInit(&config);
        WebPConfigLosslessPreset(&config, 0);
        WebPPictureInit(&picture);
        WebPMemoryWriterInit(&memory);
        picture.use_argb = 1, picture.width = int(W), picture.height = int(H);
        picture.writer = WebPMemoryWrite, picture.custom_ptr = &memory;
        WebPPictureImportRGB(&picture, rgb.data(), int(W * 3));
        WebPEncode(&config, &picture);
        getrusage(RUSAGE_SELF, &after);
        double kib = double(after.ru_maxrss - before.ru_maxrss);
        (void)!write(fds[1], &kib, sizeof kib);
        _exit(0);
    }
    close(fds[1]);
    double kib = 0;
    if (read(fds[0], &kib, sizeof kib) != sizeof kib)
        kib = 0;
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return kib / 1024 / SCREEN_MIB;
}

double file_mib(const fs::path& path)
{
    std::error_code ec;
    return double(fs::file_size(path, ec)) / 1048576.0;
}

// Encode against FFmpeg's own decoding of the same input, at the panel's
// size: 40 frames of a test clip (H.264), and the same pictures as PNGs.
bool print_against_ffmpeg(const fs::path& tools, const fs::path& scratch)
{
    std::printf("encode over FFmpeg's own decode of the same input (ffmpeg -i IN -f null -), 40 frames:\n");
    for (const char* size : { "640x480", "1280x720", "1920x1080", "3840x2160" }) {
        fs::path dir = scratch / size;
        fs::create_directories(dir / "stills");
        std::string clip = dir / "clip.mp4", stills = dir / "stills" / "%02d.png";
        auto ffmpeg = [](std::vector<std::string> args) {
            args.insert(args.begin(), { "ffmpeg", "-v", "error", "-nostdin", "-y" });
            return timed(args, true);
        };
        if (!ffmpeg({ "-f", "lavfi", "-i", std::string("testsrc2=r=50:d=0.8:s=") + size, "-c:v", "libx264",
                        "-preset", "fast", clip })
                 .ok
            || !ffmpeg({ "-i", clip, "-start_number", "1", stills }).ok)
            return false;
        Timed video_decode = ffmpeg({ "-i", clip, "-f", "null", "-" });
        Timed video_encode = timed({ tools / "pelimora-frames", "encode", clip, "--size", size, "--depth",
            "32", "-q", "-o", dir / "from-clip" });
        Timed stills_decode = ffmpeg({ "-i", stills, "-f", "null", "-" });
        Timed stills_encode = timed({ tools / "pelimora-frames", "encode", dir / "stills", "--size", size,
            "--depth", "32", "-q", "-o", dir / "from-stills" });
        if (!video_encode.ok || !stills_encode.ok)
            return false;
        std::printf("  %-9s  video %.2f (%.2f s / %.2f s)  stills %.2f (%.2f s / %.2f s)\n", size,
            video_encode.seconds / video_decode.seconds, video_encode.seconds, video_decode.seconds,
            stills_encode.seconds / stills_decode.seconds, stills_encode.seconds, stills_decode.seconds);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tools_speed TOOLS_DIR\n");
        return 2;
    }
    if (VIPS_INIT(argv[0]))
        return 1;
    fs::path tools = argv[1];
    // First, while this process is small: a spawned child's peak starts from its parent's size.
    Timed libraries = timed({ tools / "pelimora-frames", "--version" });
    TempDir scratch("pelimora-speed");
    fs::create_directories(scratch / "art");
    fs::create_directories(scratch / "screens");
    std::vector<std::string> art;
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%02d.png", n);
        art.push_back(scratch / "art" / name);
        if (write_png_rgb(art.back(), W, H, photo_like(n)))
            return 1;
    }

    // The same PNGs read by libvips alone, decoded to memory one at a time.
    sync();
    double start = now();
    for (const std::string& path : art) {
        vips::VImage image
            = vips::VImage::new_from_file(path.c_str(), vips::VImage::option()->set("access", "sequential"));
        size_t size = 0;
        g_free(image.write_to_memory(&size));
    }
    double read_only = now() - start;
    Timed encode = timed({ tools / "pelimora-frames", "encode", scratch / "art", "--size", "1920x1080",
        "--depth", "32", "-o", scratch / "set", "-q" });
    Timed preview
        = timed({ tools / "pelimora-frames", "preview", scratch / "set", "-o", scratch / "preview", "-q" });
    Timed vfb = timed({ tools / "pelimora-vfb", "--frames", scratch / "set", "-o", scratch / "vfb", "-q" });

    // The screens the device shows, as PNGs, for img2webp at its fastest lossless effort.
    std::vector<std::string> img2webp = { "img2webp", "-loop", "0", "-lossless", "-q", "0", "-m", "0", "-d",
        std::to_string(FRAME_DELAY_US / 1000) };
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        fs::path png = scratch / "screens" / (std::to_string(n) + ".png");
        if (!timed({ tools / "pelimora-frames", "decode", scratch / "set" / frame_name(n), "-o", png }).ok)
            return 1;
        img2webp.push_back(png);
    }
    img2webp.insert(img2webp.end(), { "-o", scratch / "img2webp.webp" });
    Timed reference = timed(img2webp, true);
    if (!encode.ok || !preview.ok || !reference.ok)
        return 1;

    std::printf("40 photo-like frames of %ux%u at 32 bpp, each command timed once:\n", W, H);
    std::printf("  encode over reading the PNGs with libvips alone: %.2f (%.2f s / %.2f s)\n",
        encode.seconds / read_only, encode.seconds, read_only);
    std::printf("  preview over img2webp -lossless -q 0 -m 0: %.2f (%.2f s / %.2f s)\n",
        preview.seconds / reference.seconds, preview.seconds, reference.seconds);
    std::printf("  pelimora-vfb over preview: %.2f (%.2f s)%s\n", vfb.seconds / preview.seconds, vfb.seconds,
        vfb.ok ? "" : ", and it failed");
    std::printf("  peak memory in screens: encode %.2f, preview %.2f, pelimora-vfb %.2f, img2webp %.2f\n",
        encode.screens, preview.screens, vfb.screens, reference.screens);
    // preview = the libraries + its own pictures + one encoder a core at once.
    RgbaImage shown;
    if (read_picture(scratch / "screens" / "1.png", W, H, &shown))
        return 1;
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < shown.rgba.size(); i += 4)
        rgb.insert(rgb.end(), &shown.rgba[i], &shown.rgba[i + 3]);
    double encoder = encoder_screens(rgb);
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("  preview's peak less the libraries (%.2f) and %u encoders at once (%.2f each, one measured "
                "alone): %.2f screens\n",
        libraries.screens, cores, encoder, preview.screens - libraries.screens - cores * encoder);
    std::printf("  animation: preview %.1f MiB, img2webp %.1f MiB\n",
        file_mib(scratch / "preview" / "animation.webp"), file_mib(scratch / "img2webp.webp"));
    return print_against_ffmpeg(tools, scratch.path()) ? 0 : 1;
}
