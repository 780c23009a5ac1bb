#include "artwork/ffmpeg_artwork.h"

#include "artwork/ffmpeg_support.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

FitPixels fit_frame = nullptr;

class FfmpegArtwork : public Artwork {
public:
    FfmpegArtwork(std::string name, const Input& input)
        : name_(std::move(name))
        , input_(input)
    {
    }
    ~FfmpegArtwork() override
    {
        // The handles go first, the container before its reader.
        scaler_.reset(), next_.reset(), current_.reset(), packet_.reset(), codec_.reset();
        format_.reset(), io_.reset();
        if (input_.fd >= 0)
            (void)close(input_.fd);
    }
    FfmpegArtwork(const FfmpegArtwork&) = delete;
    FfmpegArtwork& operator=(const FfmpegArtwork&) = delete;

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

    // The best video stream and its decoder; fails when there is none.
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
        if (parameters->width <= 0 || parameters->height <= 0)
            return input_error(name_ + ": video of " + std::to_string(parameters->width) + "x"
                + std::to_string(parameters->height) + " pixels");
        return within(name_ + ": video of ",
            source_size_allowed(uint32_t(parameters->width), uint32_t(parameters->height)));
    }

    // The decoder opened on the stream, with its frames and packet.
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
        if (holds(current_) && time_us < time_of(current_.get())) {
            // Looped back: decode again from the start.
            if (int code = av_seek_frame(format_.get(), stream_, first_pts_, AVSEEK_FLAG_BACKWARD); code < 0)
                return input_error(name_ + ": cannot go back to its start: " + av_message(code));
            avcodec_flush_buffers(codec_.get());
            av_frame_unref(current_.get()), av_frame_unref(next_.get());
            packets_ = Packets::reading;
            index_ = -1;
        } else if (!holds(current_) && time_us > 0 && index_ < 0) {
            // Straight to the key frame before the time, rather than decoding the way there.
            int64_t target = first_pts_ + av_rescale_q(time_us, AV_TIME_BASE_Q, time_base_);
            if (av_seek_frame(format_.get(), stream_, target, AVSEEK_FLAG_BACKWARD) >= 0) {
                avcodec_flush_buffers(codec_.get());
                counting_ = Counting::by_time;
            }
        }
        if (Error error = decode_until(time_us))
            return error;
        if (!holds(current_))
            return input_error(name_ + ": no frame could be decoded");
        if (!holds(next_) && packets_ == Packets::drained && !end_us_) {
            // Its last frame: the clip ends when that frame's time is up.
            int64_t shown = current_->pkt_duration > 0
                ? av_rescale_q(current_->pkt_duration, time_base_, AV_TIME_BASE_Q)
                : rate_.num > 0 ? av_rescale_q(1, av_inv_q(rate_), AV_TIME_BASE_Q)
                                : 0;
            end_us_ = time_of(current_.get()) + shown;
        }
        which->past_end = end_us_ && time_us >= end_us_;
        which->time_us = time_of(current_.get());
        which->index = counting_ == Counting::by_time && rate_.num > 0
            ? int(std::llround(double(which->time_us) * rate_.num / rate_.den / 1e6))
            : index_;
        // Converted afresh for each call: a screen's worth of copying saved
        // on every frame costs a conversion on the rare one asked for twice.
        if (Error error = convert(current_.get(), fitting, picture))
            return within(name_ + ": ", error);
        return {};
    }

private:
    // Whether a frame holds a decoded picture.
    static bool holds(const AvHandle<AVFrame>& frame) { return frame->buf[0] != nullptr; }

    // Decodes until `current_` is the frame shown at `time_us` (or the last)
    // and `next_` the one after it, when there is one.
    Error decode_until(int64_t time_us)
    {
        for (;;) {
            if (!holds(next_)) {
                int got = decode(next_.get());
                if (got < 0)
                    return input_error(name_ + ": cannot decode frame " + std::to_string(index_ + 2) + ": "
                        + av_message(got));
                if (got == 0)
                    return {};
            }
            if (holds(current_) && time_of(next_.get()) > time_us)
                return {};
            std::swap(current_, next_);
            av_frame_unref(next_.get());
            ++index_;
        }
    }

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
            if (packets_ == Packets::drained)
                return 0;
            for (;;) {
                if (av_read_frame(format_.get(), packet_.get()) < 0) {
                    // The end, or a truncated file: what was read is decoded.
                    avcodec_send_packet(codec_.get(), nullptr);
                    packets_ = Packets::drained;
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
        return fit_frame(rgb_.data(), uint32_t(frame->width), uint32_t(frame->height), bands, quarter_turns_,
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
    // Whether packets are still read, or all have gone to the decoder.
    enum class Packets { reading, drained } packets_ = Packets::reading;
    // How a frame's number is known: counted from the start, or from its
    // time once a seek skipped the frames before it.
    enum class Counting { by_decoding, by_time } counting_ = Counting::by_decoding;
    int index_ = -1; // of `current_`, counted from the start or the seek
    std::vector<uint8_t> rgb_;
};

} // namespace

void fit_video_frames_with(FitPixels fit)
{
    fit_frame = fit;
}

Opened open_ffmpeg_artwork(int fd, std::span<const uint8_t> bytes, const std::string& name,
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
    auto opening = std::make_unique<FfmpegArtwork>(name, input);
    Opened opened = opening->start(error);
    if (opened == Opened::opened)
        *artwork = std::move(opening);
    return opened;
}
