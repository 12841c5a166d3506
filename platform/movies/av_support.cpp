#include "platform/movies/av_support.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace zef::movies::av {

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const char* keep = std::getenv("ZEF_AV_LOG");
        if (!keep || !*keep || *keep == '0') av_log_set_level(AV_LOG_QUIET);
    });
}

std::string errorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

FormatPtr openFormat(const std::string& path, std::string* error)
{
    initialise();
    AVFormatContext* raw = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pattern_type", "none", 0);
    int r = avformat_open_input(&raw, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        if (error) *error = errorText(r);
        return nullptr;
    }
    FormatPtr fmt(raw);
    r = avformat_find_stream_info(fmt.get(), nullptr);
    if (r < 0) {
        if (error) *error = errorText(r);
        return nullptr;
    }
    return fmt;
}

CodecPtr openDecoder(const AVStream* stream, int threads)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return nullptr;
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    if (avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0) return nullptr;
    ctx->pkt_timebase = stream->time_base;
    if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
    ctx->thread_count = threads;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
    return ctx;
}

bool openStreamDecoder(const std::string& path, int streamIndex, int threads, FormatPtr& fmt,
                       CodecPtr& codec)
{
    codec.reset();
    fmt = openFormat(path, nullptr);
    if (!fmt || streamIndex < 0 || streamIndex >= int(fmt->nb_streams)) return false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    codec = openDecoder(fmt->streams[streamIndex], threads);
    return codec != nullptr;
}

PacketPtr makePacket()
{
    AVPacket* p = av_packet_alloc();
    if (!p) throw std::bad_alloc();
    return PacketPtr(p);
}

FramePtr makeFrame()
{
    AVFrame* f = av_frame_alloc();
    if (!f) throw std::bad_alloc();
    return FramePtr(f);
}

} // namespace zef::movies::av
