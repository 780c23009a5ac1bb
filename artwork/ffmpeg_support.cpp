#include "artwork/ffmpeg_support.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// "00:00:03.000000000", as Matroska keeps a track's length among its tags.
int64_t tagged_length_us(const AVDictionary* metadata)
{
    const AVDictionaryEntry* tag = av_dict_get(metadata, "DURATION", nullptr, 0);
    unsigned hours = 0, minutes = 0;
    double seconds = 0;
    if (!tag || std::sscanf(tag->value, "%u:%u:%lf", &hours, &minutes, &seconds) != 3)
        return 0;
    return int64_t(std::llround(((hours * 60.0 + minutes) * 60 + seconds) * 1e6));
}

} // namespace

// A demuxer's names ("matroska,webm") against the containers read here.
bool is_allowed(const char* names)
{
    auto listed = [](std::string_view name) {
        std::string_view list = CONTAINERS;
        for (size_t at = 0; at <= list.size();) {
            size_t end = std::min(list.find(',', at), list.size());
            if (list.substr(at, end - at) == name)
                return true;
            at = end + 1;
        }
        return false;
    };
    std::string_view all = names;
    for (size_t at = 0; at <= all.size();) {
        size_t end = std::min(all.find(',', at), all.size());
        if (end > at && listed(all.substr(at, end - at)))
            return true;
        at = end + 1;
    }
    return false;
}

std::string av_message(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int read_input(void* opaque, uint8_t* buffer, int size)
{
    auto* input = static_cast<Input*>(opaque);
    if (input->position >= input->size)
        return AVERROR_EOF;
    size_t wanted = size_t(std::min<int64_t>(size, input->size - input->position));
    ssize_t got;
    if (input->fd >= 0) {
        got = pread(input->fd, buffer, wanted, input->position);
        if (got < 0)
            return AVERROR(errno);
    } else {
        std::memcpy(buffer, input->bytes.data() + input->position, wanted);
        got = ssize_t(wanted);
    }
    if (got == 0)
        return AVERROR_EOF;
    input->position += got;
    return int(got);
}

int64_t seek_input(void* opaque, int64_t offset, int whence)
{
    auto* input = static_cast<Input*>(opaque);
    if (whence & AVSEEK_SIZE)
        return input->size;
    int64_t base = (whence & 3) == SEEK_CUR ? input->position : (whence & 3) == SEEK_END ? input->size : 0;
    if (base + offset < 0)
        return AVERROR(EINVAL);
    input->position = base + offset;
    return input->position;
}

// How long the header says the video plays: its stream's own length, else
// the file's when the video is all it holds (a longer sound track would
// otherwise pass for video that is missing).
int64_t video_length_claimed(const AVFormatContext& format, const AVStream& stream)
{
    if (stream.duration > 0 && stream.duration != AV_NOPTS_VALUE)
        return av_rescale_q(stream.duration, stream.time_base, AV_TIME_BASE_Q);
    if (int64_t tagged = tagged_length_us(stream.metadata))
        return tagged;
    return format.nb_streams == 1 && format.duration > 0 ? format.duration : 0;
}

// A demuxer that asks for another file (a reference movie, a playlist) gets none.
int refuse_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}
