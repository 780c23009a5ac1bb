#include "frames/replay.h"

#include "core/coverage.h"
#include "core/decode.h"
#include "core/schedule.h"
#include "lib/file_io.h"
#include "lib/interrupt.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <xxhash.h>

namespace fs = std::filesystem;

std::string frame_path(int n)
{
    char path[FRAME_PATH_BUFFER_SIZE];
    format_frame_path(path, n);
    return path;
}

std::string frame_name(int n)
{
    return frame_path(n).substr(frame_directory_length());
}

namespace {

// Feeds the mapped bytes of one frame file to the player's decoder a piece at
// a time, each piece onto what is left of the screen.
class FrameWalker {
public:
    FrameWalker(uint32_t mapped_bytes, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
        : geometry_(geometry)
        , screen_(screen)
    {
        report_.status = mapped_bytes ? FrameReport::drawn : FrameReport::empty;
        report_.records = mapped_bytes / FRAME_RECORD_BYTES;
        report_.trailing_bytes = mapped_bytes % FRAME_RECORD_BYTES;
    }
    // Whole records only; false once a run no longer fits.
    bool feed(const uint8_t* records, uint32_t count)
    {
        // Drawing, the player's own decoder says how far it got; the walk then counts what it drew.
        uint32_t reached = count;
        if (screen_) {
            uint64_t left = geometry_.pixels() - coverage_.pixels;
            uint8_t* at = screen_->data() + coverage_.pixels * geometry_.depth() / 8;
            reached
                = decode_frame(records, count * FRAME_RECORD_BYTES, at, uint32_t(left), 1, geometry_.depth());
        }
        return cover_records(records, reached, geometry_.pixels(), &coverage_) && reached == count;
    }
    // The report once the records are fed, for a file of `file_bytes`.
    FrameReport finish(uint64_t file_bytes)
    {
        report_.file_bytes = file_bytes;
        report_.drawn_records = coverage_.drawn_records;
        report_.zero_records = coverage_.zero_records;
        report_.pixels_covered = coverage_.pixels;
        return report_;
    }

private:
    const ScreenGeometry& geometry_;
    std::vector<uint8_t>* screen_;
    FrameReport report_;
    FrameCoverage coverage_;
};

constexpr uint32_t CHUNK_RECORDS = 1 << 18; // 1 MiB of records at a time

} // namespace

FrameReport draw_frame(
    std::span<const uint8_t> file, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    // The player maps the size's low 32 bits.
    uint32_t mapped = uint32_t(file.size());
    FrameWalker walker(mapped, geometry, screen);
    walker.feed(file.data(), mapped / FRAME_RECORD_BYTES);
    return walker.finish(file.size());
}

FrameReport draw_frame_file(
    const fs::path& path, const ScreenGeometry& geometry, std::vector<uint8_t>* screen)
{
    FrameReport report;
    Error error;
    struct stat info = {};
    int fd = open_regular_file(path, &error, &info);
    if (fd < 0) {
        int open_error = errno;
        report.status = S_ISDIR(info.st_mode) ? FrameReport::directory
            : info.st_mode                    ? FrameReport::not_regular
            : open_error == ENOENT            ? FrameReport::missing
                                              : FrameReport::unreadable;
        report.error = error;
        return report;
    }
    uint32_t mapped = uint32_t(info.st_size);
    FrameWalker walker(mapped, geometry, screen);
    std::vector<uint8_t> chunk(
        size_t(std::min(mapped / FRAME_RECORD_BYTES, CHUNK_RECORDS)) * FRAME_RECORD_BYTES);
    for (uint32_t records = mapped / FRAME_RECORD_BYTES; records > 0;) {
        uint32_t count = std::min(records, CHUNK_RECORDS);
        size_t want = size_t(count) * FRAME_RECORD_BYTES, got = 0;
        while (got < want) {
            ssize_t n = read(fd, chunk.data() + got, want - got);
            if (n < 0 && errno == EINTR && !interrupt_signal())
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        if (got < want) {
            report.status = FrameReport::unreadable;
            report.error = input_error(
                path.string() + ": cannot read: " + (got ? "it got shorter" : std::strerror(errno)));
            (void)close(fd);
            stop_if_interrupted();
            return report;
        }
        records -= count;
        if (!walker.feed(chunk.data(), count))
            break;
    }
    (void)close(fd);
    return walker.finish(uint64_t(info.st_size));
}

void play_directory(const fs::path& dir, const ScreenGeometry& geometry, std::vector<uint8_t> initial,
    bool draw, const FrameCallback& on_frame)
{
    // The screen is the initial picture itself, not a copy beside it.
    std::vector<uint8_t> screen;
    if (draw)
        screen = initial.empty() ? std::vector<uint8_t>(geometry.memory_bytes()) : std::move(initial);
    for (int n = 1; n <= FRAME_COUNT; ++n) {
        stop_if_interrupted();
        FrameReport report = draw_frame_file(dir / frame_name(n), geometry, draw ? &screen : nullptr);
        on_frame(n, report, screen);
    }
}

uint64_t screen_digest(std::span<const uint16_t> codes, ScreenDigest kind)
{
    static_assert(std::endian::native == std::endian::little, "the codes' bytes are digested low byte first");
    if (kind == ScreenDigest::xxh3)
        return XXH3_64bits(codes.data(), codes.size_bytes());
    uint64_t digest = 0xcbf29ce484222325;
    for (uint16_t code : codes)
        for (uint8_t byte : { uint8_t(code), uint8_t(code >> 8) })
            digest = (digest ^ byte) * 0x100000001b3;
    return digest;
}

std::vector<int> frames_not_as_intended(const fs::path& dir, uint32_t width, uint32_t height,
    const std::vector<uint64_t>& screens, ScreenDigest kind)
{
    // At 16 bits a pixel the screen holds the colour codes themselves.
    ScreenGeometry codes_screen { width, height, 16, width * 2, nullptr };
    std::vector<int> differing;
    std::vector<uint16_t> codes(size_t(width) * height);
    play_directory(
        dir, codes_screen, {}, true, [&](int n, const FrameReport&, const std::vector<uint8_t>& screen) {
            std::memcpy(codes.data(), screen.data(), codes.size() * 2);
            if (size_t(n) > screens.size() || screen_digest(codes, kind) != screens[size_t(n) - 1])
                differing.push_back(n);
        });
    return differing;
}

std::optional<std::vector<int>> frames_not_as_made(
    const fs::path& dir, const std::optional<SetDescription>& description, const ScreenGeometry& geometry)
{
    if (!description || description->screens.empty() || description->width != geometry.width
        || description->height != geometry.height)
        return std::nullopt;
    return frames_not_as_intended(
        dir, description->width, description->height, description->screens, description->digest);
}
