// What the FFmpeg reader stands on: the containers it may open, the input
// it reads through (our descriptor or bytes, never a path), FFmpeg's objects
// owned, and its messages and lengths in our terms.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

// Containers read here. Playlists and concatenations (HLS, DASH, concat)
// are not among them: they name other files.
constexpr char CONTAINERS[] = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,flv,ogg,ivf,apng,gif";

// Whether a demuxer's names ("matroska,webm") are among CONTAINERS.
bool is_allowed(const char* names);

// The input FFmpeg reads through: our descriptor or bytes, nothing else.
struct Input {
    int fd = -1;
    std::span<const uint8_t> bytes;
    int64_t position = 0;
    int64_t size = 0;
};

// FFmpeg's reading and seeking callbacks on an Input.
int read_input(void* opaque, uint8_t* buffer, int size);
int64_t seek_input(void* opaque, int64_t offset, int whence);
// A demuxer that asks for another file (a reference movie, a playlist) gets none.
int refuse_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);

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

// FFmpeg's words for an error code.
std::string av_message(int code);

// How long the header says the video plays, in microseconds; 0 when it does not say.
int64_t video_length_claimed(const AVFormatContext& format, const AVStream& stream);
