#include "artwork/video.h"

#include "artwork/artwork_vips.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Containers read here. Playlists and concatenations (HLS, DASH, concat)
// are not among them: they name other files.
constexpr char CONTAINERS[] = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,flv,ogg,ivf,apng,gif";

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

// The input FFmpeg reads through: our descriptor or bytes, nothing else.
struct Input {
    int fd = -1;
    std::span<const uint8_t> bytes;
    int64_t position = 0;
    int64_t size = 0;
};

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

// FFmpeg's objects, each freed by its own function.
struct FreeAv {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
template <typename T> using AvHandle = std::unique_ptr<T, FreeAv>;
using SwsHandle = AvHandle<SwsContext>;

class VideoArtwork : public Artwork {
public:
    VideoArtwork(std::string name, const Input& input)
        : name_(std::move(name))
        , input_(input)
    {
    }
    ~VideoArtwork() override
    {
        // The handles go first, the container before its reader.
        scaler_.reset(), next_.reset(), current_.reset(), packet_.reset(), codec_.reset();
        format_.reset(), io_.reset();
        if (input_.fd >= 0)
            (void)close(input_.fd);
    }
    VideoArtwork(const VideoArtwork&) = delete;
    VideoArtwork& operator=(const VideoArtwork&) = delete;

    // Our input as one of the containers read here.
    Opened open_container(Error* error)
    {
        constexpr int BUFFER = 1 << 16;
        auto* buffer = static_cast<uint8_t*>(av_malloc(BUFFER));
        io_.reset(buffer ? avio_alloc_context(buffer, BUFFER, 0, &input_, read_input, nullptr, seek_input)
                         : nullptr);
        format_.reset(avformat_alloc_context());
        if (!io_ || !format_) {
            if (!io_)
                av_free(buffer);
            *error = input_error(name_ + ": out of memory");
            return Opened::failed;
        }
        format_->pb = io_.get();
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        format_->format_whitelist = av_strdup(CONTAINERS);
        format_->io_open = refuse_open;
        // What the file claims to be first: one of ours that cannot be
        // opened is damaged or cut, not something else.
        const AVInputFormat* container = nullptr;
        if (av_probe_input_buffer2(io_.get(), &container, name_.c_str(), nullptr, 0, 0) < 0 || !container
            || !is_allowed(container->name)) {
            format_.reset();
            return Opened::not_mine;
        }
        // Frees the context when it fails.
        AVFormatContext* opening = format_.release();
        int code = avformat_open_input(&opening, name_.c_str(), container, nullptr);
        format_.reset(opening);
        if (code < 0) {
            *error = input_error(name_ + ": a damaged or cut " + container->long_name
                + " file: its header cannot be read (" + av_message(code) + ")");
            return Opened::failed; // format_ freed
        }
        return Opened::opened;
    }

    // The container opened, its video stream found and its decoder opened.
    Opened start(Error* error)
    {
        if (Opened container = open_container(error); container != Opened::opened)
            return container;
        const AVCodec* decoder = nullptr;
        if ((*error = find_video(&decoder)))
            return Opened::failed;
        AVStream* stream = format_->streams[stream_];
        if ((*error = open_decoder(decoder, *stream)))
            return Opened::failed;
        note_timing(*stream);
        return Opened::opened;
    }

    // The best video stream and its decoder: "" or why there is none.
    Error find_video(const AVCodec** decoder)
    {
        if (int code = avformat_find_stream_info(format_.get(), nullptr); code < 0)
            return input_error(name_ + ": cannot read its streams: " + av_message(code));
        stream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, decoder, 0);
        bool unreadable = format_->nb_streams == 0;
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            unreadable = unreadable || format_->streams[i]->codecpar->codec_id == AV_CODEC_ID_NONE;
        if (unreadable && stream_ < 0)
            return input_error(name_ + ": its streams cannot be read: damaged or truncated");
        if (stream_ < 0 || !*decoder)
            return input_error(name_
                + (stream_ == AVERROR_DECODER_NOT_FOUND
                        ? ": its video is in a format this FFmpeg cannot decode"
                        : ": has no video stream"));
        const AVCodecParameters* parameters = format_->streams[stream_]->codecpar;
        if (parameters->width <= 0 || parameters->height <= 0
            || uint64_t(parameters->width) * uint64_t(parameters->height) > MAX_SOURCE_PIXELS)
            return input_error(name_ + ": video of " + std::to_string(parameters->width) + "x"
                + std::to_string(parameters->height) + " is over the limit of "
                + std::to_string(MAX_SOURCE_PIXELS) + " pixels");
        return {};
    }

    // The decoder opened on the stream, with its frames and packet: "" or why not.
    Error open_decoder(const AVCodec* decoder, const AVStream& stream)
    {
        codec_.reset(avcodec_alloc_context3(decoder));
        packet_.reset(av_packet_alloc());
        current_.reset(av_frame_alloc());
        next_.reset(av_frame_alloc());
        if (!codec_ || !packet_ || !current_ || !next_)
            return input_error(name_ + ": out of memory");
        // Slices, not frames, in parallel: frame threads hold a frame each,
        // which at 4K is more memory than the rest of the tool.
        codec_->thread_type = FF_THREAD_SLICE;
        int code = 0;
        if ((code = avcodec_parameters_to_context(codec_.get(), stream.codecpar)) < 0
            || (code = avcodec_open2(codec_.get(), decoder, nullptr)) < 0)
            return input_error(
                name_ + ": cannot decode its " + decoder->name + " video: " + av_message(code));
        codec_name_ = decoder->name;
        return {};
    }

    // When the stream starts, how long it claims to play, and how it is turned.
    void note_timing(const AVStream& stream)
    {
        time_base_ = stream.time_base;
        first_pts_ = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
        claimed_us_ = video_length_claimed(*format_, stream);
        duration_us_ = claimed_us_ ? claimed_us_ : std::max<int64_t>(format_->duration, 0);
        frames_ = stream.nb_frames;
        rate_ = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        if (const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
            // The angle to turn it to be shown upright, clockwise.
            double counter_clockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
            if (!std::isnan(counter_clockwise))
                quarter_turns_ = int(std::lround(-counter_clockwise / 90)) & 3;
        }
    }

    std::string kind() const override
    {
        return source_kind() == SourceKind::animation ? "APNG animation" : codec_name_ + " video";
    }
    SourceKind source_kind() const override
    {
        return codec_name_ == "apng" ? SourceKind::animation : SourceKind::video;
    }
    int64_t frame_count() const override { return frames_; }
    int64_t duration_us() const override { return cut_short() || !duration_us_ ? end_us_ : duration_us_; }
    int64_t claimed_duration_us() const override { return cut_short() ? claimed_us_ : 0; }
    void native_size(uint32_t* width, uint32_t* height) const override
    {
        uint32_t w = uint32_t(codec_->width), h = uint32_t(codec_->height);
        *width = quarter_turns_ & 1 ? h : w;
        *height = quarter_turns_ & 1 ? w : h;
    }

    Error picture_at(
        int64_t time_us, const Fitting& fitting, LinearPicture* picture, SourceFrame* which) override
    {
        if (has_current_ && time_us < time_of(current_.get())) {
            // Looped back: decode again from the start.
            if (int code = av_seek_frame(format_.get(), stream_, first_pts_, AVSEEK_FLAG_BACKWARD); code < 0)
                return input_error(name_ + ": cannot go back to its start: " + av_message(code));
            avcodec_flush_buffers(codec_.get());
            has_current_ = has_next_ = draining_ = false;
            index_ = -1;
        } else if (!has_current_ && time_us > 0 && index_ < 0) {
            // Straight to the key frame before the time, rather than decoding the way there.
            int64_t target = first_pts_ + av_rescale_q(time_us, AV_TIME_BASE_Q, time_base_);
            if (av_seek_frame(format_.get(), stream_, target, AVSEEK_FLAG_BACKWARD) >= 0) {
                avcodec_flush_buffers(codec_.get());
                seeked_ = true;
            }
        }
        for (;;) {
            if (!has_next_) {
                int got = decode(next_.get());
                if (got < 0)
                    return input_error(name_ + ": cannot decode frame " + std::to_string(index_ + 2) + ": "
                        + av_message(got));
                if (got == 0)
                    break;
                has_next_ = true;
            }
            if (has_current_ && time_of(next_.get()) > time_us)
                break;
            std::swap(current_, next_);
            has_current_ = true;
            has_next_ = false;
            ++index_;
        }
        if (!has_current_)
            return input_error(name_ + ": no frame could be decoded");
        if (!has_next_ && draining_ && !end_us_) {
            // Its last frame: the clip ends when that frame's time is up.
            int64_t shown = current_->pkt_duration > 0
                ? av_rescale_q(current_->pkt_duration, time_base_, AV_TIME_BASE_Q)
                : rate_.num > 0 ? av_rescale_q(1, av_inv_q(rate_), AV_TIME_BASE_Q)
                                : 0;
            end_us_ = time_of(current_.get()) + shown;
        }
        which->past_end = end_us_ && time_us >= end_us_;
        which->time_us = time_of(current_.get());
        which->index = seeked_ && rate_.num > 0
            ? int(std::llround(double(which->time_us) * rate_.num / rate_.den / 1e6))
            : index_;
        // Converted afresh for each call: a screen's worth of copying saved
        // on every frame costs a conversion on the rare one asked for twice.
        if (Error error = convert(current_.get(), fitting, picture))
            return within(name_ + ": ", error);
        return {};
    }

private:
    // The frames that could be read end before the length the header gives
    // the video (by more than two frames' time: a clip's last frame may be
    // shown a little short of its stated end).
    bool cut_short() const
    {
        if (!end_us_ || !claimed_us_)
            return false;
        int64_t frame_us = rate_.num > 0 ? av_rescale_q(1, av_inv_q(rate_), AV_TIME_BASE_Q) : 40000;
        return end_us_ + 2 * frame_us + 50000 < claimed_us_;
    }

    int64_t time_of(const AVFrame* frame) const
    {
        int64_t pts
            = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        if (pts == AV_NOPTS_VALUE)
            return rate_.num > 0 ? av_rescale_q(index_ + 1, av_inv_q(rate_), AV_TIME_BASE_Q) : 0;
        return av_rescale_q(pts - first_pts_, time_base_, AV_TIME_BASE_Q);
    }

    // 1 with a frame, 0 at the end, or an error.
    int decode(AVFrame* frame)
    {
        for (;;) {
            int code = avcodec_receive_frame(codec_.get(), frame);
            if (code == 0)
                return 1;
            if (code == AVERROR_EOF)
                return 0;
            if (code != AVERROR(EAGAIN))
                return code;
            if (draining_)
                return 0;
            for (;;) {
                if (av_read_frame(format_.get(), packet_.get()) < 0) {
                    // The end, or a truncated file: what was read is decoded.
                    avcodec_send_packet(codec_.get(), nullptr);
                    draining_ = true;
                    break;
                }
                bool ours = packet_->stream_index == stream_;
                code = ours ? avcodec_send_packet(codec_.get(), packet_.get()) : 0;
                av_packet_unref(packet_.get());
                if (code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_INVALIDDATA)
                    return code;
                if (ours)
                    break;
            }
        }
    }

    Error convert(const AVFrame* frame, const Fitting& fitting, LinearPicture* picture)
    {
        auto source = static_cast<AVPixelFormat>(frame->format);
        const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(source);
        if (!description)
            return input_error("a frame in an unknown pixel format");
        bool alpha = description->flags & AV_PIX_FMT_FLAG_ALPHA;
        int bands = alpha ? 4 : 3;
        // Frees the context it replaces.
        scaler_ = SwsHandle(sws_getCachedContext(scaler_.release(), frame->width, frame->height, source,
            frame->width, frame->height, alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr,
            nullptr, nullptr));
        if (!scaler_)
            return input_error("cannot convert its frames to RGB");
        if (!(description->flags & AV_PIX_FMT_FLAG_RGB)) {
            int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709
                : frame->colorspace == AVCOL_SPC_BT470BG || frame->colorspace == AVCOL_SPC_SMPTE170M
                ? SWS_CS_ITU601
                : frame->colorspace == AVCOL_SPC_BT2020_NCL ? SWS_CS_BT2020
                : frame->height >= 720                      ? SWS_CS_ITU709
                                                            : SWS_CS_ITU601;
            sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(matrix),
                frame->color_range == AVCOL_RANGE_JPEG, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                1 << 16);
        }
        // A frame that is already the panel's picture is converted straight into it.
        const bool as_is = !alpha && quarter_turns_ == 0 && uint32_t(frame->width) == fitting.width
            && uint32_t(frame->height) == fitting.height;
        std::vector<uint8_t>& into = as_is ? picture->srgb : rgb_;
        into.resize(size_t(frame->width) * frame->height * bands);
        uint8_t* planes[4] = { into.data(), nullptr, nullptr, nullptr };
        int strides[4] = { frame->width * bands, 0, 0, 0 };
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (as_is) {
            picture->width = fitting.width, picture->height = fitting.height;
            picture->rgb.clear();
            return {};
        }
        return fit_pixels(rgb_.data(), uint32_t(frame->width), uint32_t(frame->height), bands, quarter_turns_,
            fitting, picture);
    }

    std::string name_;
    Input input_;
    AvHandle<AVIOContext> io_;
    AvHandle<AVFormatContext> format_;
    AvHandle<AVCodecContext> codec_;
    AvHandle<AVPacket> packet_;
    AvHandle<AVFrame> current_, next_;
    SwsHandle scaler_;
    int stream_ = -1;
    std::string codec_name_;
    AVRational time_base_ {}, rate_ {};
    int64_t first_pts_ = 0, duration_us_ = 0, frames_ = 0;
    int64_t end_us_ = 0; // when the last frame's time is up, once it has been decoded
    int64_t claimed_us_ = 0; // how long the header says the video stream plays; 0: it does not say
    int quarter_turns_ = 0;
    bool has_current_ = false, has_next_ = false, draining_ = false, seeked_ = false;
    int index_ = -1;
    std::vector<uint8_t> rgb_;
};

} // namespace

Opened open_video(int fd, std::span<const uint8_t> bytes, const std::string& name,
    std::unique_ptr<Artwork>* artwork, Error* error)
{
    av_log_set_level(AV_LOG_QUIET);
    Input input;
    if (fd >= 0) {
        struct stat info { };
        if (fstat(fd, &info) != 0 || (input.fd = dup(fd)) < 0) {
            *error = input_error(name + ": cannot read: " + std::strerror(errno));
            return Opened::failed;
        }
        input.size = info.st_size;
    } else {
        input.bytes = bytes;
        input.size = int64_t(bytes.size());
    }
    auto video = std::make_unique<VideoArtwork>(name, input);
    Opened opened = video->start(error);
    if (opened == Opened::opened)
        *artwork = std::move(video);
    return opened;
}
