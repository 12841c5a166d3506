#include "platform/movies/png_writer.h"

#include "platform/movies/av_support.h"

#include <cstdio>
#include <memory>

namespace zef::movies {

bool writePng(const Pixmap& picture, const std::string& path)
{
    if (picture.isEmpty()) return false;
    av::initialise();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) return false;
    av::CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    ctx->width = picture.width();
    ctx->height = picture.height();
    ctx->pix_fmt = AV_PIX_FMT_RGBA;
    ctx->time_base = AVRational{1, 25};
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;

    av::FramePtr frame = av::makeFrame();
    frame->width = picture.width();
    frame->height = picture.height();
    frame->format = AV_PIX_FMT_RGBA;
    if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
    for (int32_t y = 0; y < picture.height(); ++y) {
        const uint32_t* src = picture.row(y);
        uint8_t* dst = frame->data[0] + size_t(y) * size_t(frame->linesize[0]);
        for (int32_t x = 0; x < picture.width(); ++x) {
            uint32_t p = src[x];
            dst[4 * x + 0] = redOf(p);
            dst[4 * x + 1] = greenOf(p);
            dst[4 * x + 2] = blueOf(p);
            dst[4 * x + 3] = alphaOf(p);
        }
    }
    av::PacketPtr pkt = av::makePacket();
    if (avcodec_send_frame(ctx.get(), frame.get()) < 0 ||
        avcodec_send_frame(ctx.get(), nullptr) < 0 ||
        avcodec_receive_packet(ctx.get(), pkt.get()) < 0)
        return false;

    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) return false;
    if (std::fwrite(pkt->data, 1, size_t(pkt->size), file.get()) != size_t(pkt->size)) return false;
    return std::fclose(file.release()) == 0;
}

} // namespace zef::movies
