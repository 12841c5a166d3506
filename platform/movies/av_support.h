// Internal helpers of the media layer over FFmpeg: owning pointers, library set-up and the
// common way of opening a container. Not part of the toolbox's interface.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <memory>
#include <string>

namespace zef::movies::av {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// Quietens FFmpeg's console messages once per process (set ZEF_AV_LOG=1 to keep them).
void initialise();

// Opens and probes a container (the image demuxers read the path literally, never as a
// numbered pattern). Returns null on failure and puts FFmpeg's reason into error.
FormatPtr openFormat(const std::string& path, std::string* error);

// An opened decoder for one stream; threads 0 means one per core. Null on failure.
CodecPtr openDecoder(const AVStream* stream, int threads);

// Opens the container at path for decoding one stream: every other stream is discarded so
// the demuxer skips its packets. False (with fmt and codec reset) on failure.
bool openStreamDecoder(const std::string& path, int streamIndex, int threads, FormatPtr& fmt,
                       CodecPtr& codec);

PacketPtr makePacket();
FramePtr makeFrame();

std::string errorText(int code);

} // namespace zef::movies::av
