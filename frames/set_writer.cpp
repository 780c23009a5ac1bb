#include "frames/set_writer.h"

#include "core/schedule.h"
#include "frames/replay.h"
#include "frames/rle565.h"

#include <algorithm>

#include <cstring>

namespace {

// A frame that draws nothing is one byte, not none: the player maps it, lays
// no record and pans, keeping the pace (an empty file would not be panned).
const std::vector<uint8_t> NOTHING_TO_DRAW = { 0 };

// Records are made and written this much at a time: the file of a frame
// that changes everywhere is as large as its screen, and is never held whole.
constexpr size_t RECORDS_ROOM = 256 * 1024;

// How far `a` and `b` (of one size) run until the last pixel in which they
// differ: 0 when they are the same. A frame that changes a spinner in the
// middle of the screen leaves half of it to compare, a block at a time.
size_t through_last_difference(std::span<const uint16_t> a, std::span<const uint16_t> b)
{
    constexpr size_t BLOCK = 256;
    size_t last = a.size();
    while (last >= BLOCK && std::memcmp(&a[last - BLOCK], &b[last - BLOCK], BLOCK * sizeof a[0]) == 0)
        last -= BLOCK;
    while (last > 0 && a[last - 1] == b[last - 1])
        --last;
    return last;
}

} // namespace

SetWriter::SetWriter(StagedFiles& staged, std::string prefix, bool trim, int frames)
    : staged_(staged)
    , prefix_(std::move(prefix))
    , trim_(trim)
    , digests_(size_t(frames))
{
}

Error SetWriter::add_frame(int i, std::vector<uint16_t>* codes, FrameWritten* written)
{
    const std::vector<uint16_t>& stream = *codes;
    // The frame ends after the last pixel that differs from the screen the frame before left.
    const size_t last
        = i > 0 && screen_.size() == stream.size() ? through_last_difference(stream, screen_) : stream.size();
    *written = {};
    written->whole = stream.size();
    written->trimmed = last;
    const size_t drawn = trim_ ? last : stream.size();
    written->draws_nothing = drawn == 0;
    partial_ = partial_ || drawn < stream.size();
    whole_ += written->whole, trimmed_ += written->trimmed;
    const bool changes_screen = i == 0 || last > 0;
    if (changes_screen) {
        screen_.swap(*codes);
        digests_[size_t(i)] = screen_digest(screen_, ScreenDigest::xxh3);
    } else {
        digests_[size_t(i)] = digests_[size_t(i) - 1]; // a screen left as it was keeps its digest
    }
    if (drawn == 0)
        return stage(i, NOTHING_TO_DRAW, written);
    // The frame's codes, which the screen took when they change it.
    const std::vector<uint16_t>& frame = changes_screen ? screen_ : *codes;
    return stage_records(i, std::span(frame).first(drawn), written);
}

Error SetWriter::stage_records(int i, std::span<const uint16_t> pixels, FrameWritten* written)
{
    const std::string name = prefix_ + frame_name(i + 1);
    if (!records_)
        records_ = std::make_unique_for_overwrite<uint8_t[]>(RECORDS_ROOM);
    int fd = -1;
    if (Error error = staged_.begin_file(name, &fd))
        return error;
    Error error;
    written->file_bytes = 0;
    encode_rle565_through(pixels, { records_.get(), RECORDS_ROOM }, [&](std::span<const uint8_t> piece) {
        written->file_bytes += piece.size();
        error = staged_.put_piece(fd, name, piece);
        return !error;
    });
    return error ? error : staged_.end_file(fd, name);
}

Error SetWriter::add_held(int i, FrameWritten* written)
{
    *written = {};
    written->draws_nothing = true;
    partial_ = true;
    digests_[size_t(i)] = i > 0 ? digests_[size_t(i) - 1] : screen_digest(screen_, ScreenDigest::xxh3);
    return stage(i, NOTHING_TO_DRAW, written);
}

Error SetWriter::stage(int i, std::span<const uint8_t> file, FrameWritten* written)
{
    written->file_bytes = file.size();
    return staged_.add(prefix_ + frame_name(i + 1), file);
}

Error SetWriter::add_description(const ScreenGeometry& screen)
{
    SetDescription description;
    static_cast<ScreenGeometry&>(description) = screen;
    description.partial_frames = partial_;
    description.screens = digests_;
    description.digest = ScreenDigest::xxh3;
    return staged_.add(prefix_ + SET_DESCRIPTION_FILE, set_description_bytes(description));
}

std::vector<std::string> set_file_names()
{
    std::vector<std::string> names;
    for (int n = 1; n <= FRAME_COUNT; ++n)
        names.push_back(frame_name(n));
    names.push_back(SET_DESCRIPTION_FILE);
    return names;
}

bool is_set_file(const std::string& name)
{
    const std::vector<std::string> names = set_file_names();
    return std::find(names.begin(), names.end(), name) != names.end();
}
