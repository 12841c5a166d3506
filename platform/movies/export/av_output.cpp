#include "platform/movies/export/av_output.h"

#include "platform/movies/av_support.h"
#include "platform/movies/export/yuv420.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <new>
#include <vector>

namespace zef::movies::exportav {

Colour colourFor(int width, int height, bool fullRange)
{
    (void)width;
    Colour c;
    if (height >= 720) {
        c.space = AVCOL_SPC_BT709;
        c.primaries = AVCOL_PRI_BT709;
        c.transfer = AVCOL_TRC_BT709;
    } else if (height == 576 || height == 288) {
        c.space = AVCOL_SPC_BT470BG;
        c.primaries = AVCOL_PRI_BT470BG;
        c.transfer = AVCOL_TRC_BT709;
    } else {
        c.space = AVCOL_SPC_SMPTE170M;
        c.primaries = AVCOL_PRI_SMPTE170M;
        c.transfer = AVCOL_TRC_SMPTE170M;
    }
    c.range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    return c;
}

struct AvOutput::Impl {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* venc = nullptr;
    AVCodecContext* aenc = nullptr;
    AVStream* vstream = nullptr;
    AVStream* astream = nullptr;
    SwsContext* sws = nullptr;
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* vframe = nullptr;
    AVFrame* aframe = nullptr;
    AVPacket* packet = nullptr;
    std::function<bool(const Pixmap&, AVFrame*)> convert;
    // Pictures of the encoder's size going to 8-bit 4:2:0 are converted by bgraToYuv420, in
    // one pass and several times faster than swscale's general path; sws is null then.
    bool direct = false;
    YuvMatrix matrix;
    // Set once by open() and only read afterwards, so that the rendering thread may prepare
    // pictures of the encoder's size while the worker encodes: prepareWidth 0 when it cannot.
    int prepareWidth = 0, prepareHeight = 0;
    YuvMatrix prepareMatrix;
    int srcWidth = 0, srcHeight = 0, srcChannels = 0, srcRate = 0;
    int64_t audioPts = 0;
    bool headerWritten = false;
    bool finished = false;

    ~Impl() { release(); }
    void release()
    {
        if (fmt) {
            if (fmt->pb && !(fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt->pb);
            avformat_free_context(fmt);
            fmt = nullptr;
        }
        avcodec_free_context(&venc);
        avcodec_free_context(&aenc);
        sws_freeContext(sws);
        sws = nullptr;
        swr_free(&swr);
        if (fifo) av_audio_fifo_free(fifo);
        fifo = nullptr;
        av_frame_free(&vframe);
        av_frame_free(&aframe);
        av_packet_free(&packet);
    }

    // BGRA pictures of that size into the encoder's format, with the output's coefficients
    // and range (the RGB side is full range).
    bool makeScaler(int width, int height)
    {
        sws_freeContext(sws);
        sws = nullptr;
        srcWidth = width;
        srcHeight = height;
        const bool yuv420 =
            venc->pix_fmt == AV_PIX_FMT_YUV420P || venc->pix_fmt == AV_PIX_FMT_YUVJ420P;
        direct = yuv420 && width == venc->width && height == venc->height && width % 2 == 0 &&
                 height % 2 == 0;
        if (direct) {
            matrix.bt709 = venc->colorspace == AVCOL_SPC_BT709;
            matrix.fullRange =
                venc->color_range == AVCOL_RANGE_JPEG || venc->pix_fmt == AV_PIX_FMT_YUVJ420P;
            return true;
        }
        sws = sws_getContext(width, height, AV_PIX_FMT_BGRA, venc->width, venc->height,
                             venc->pix_fmt, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                             nullptr, nullptr, nullptr);
        if (!sws) return false;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(venc->pix_fmt);
        if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && !(desc->flags & AV_PIX_FMT_FLAG_PAL)) {
            const int cs = venc->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
            const int* table = sws_getCoefficients(cs);
            const bool full = venc->color_range == AVCOL_RANGE_JPEG;
            sws_setColorspaceDetails(sws, table, 1, table, full ? 1 : 0, 0, 1 << 16, 1 << 16);
        }
        return true;
    }

    int drain(AVCodecContext* enc, AVStream* st)
    {
        for (;;) {
            int r = avcodec_receive_packet(enc, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
            if (r < 0) return r;
            av_packet_rescale_ts(packet, enc->time_base, st->time_base);
            packet->stream_index = st->index;
            r = av_interleaved_write_frame(fmt, packet);
            if (r < 0) return r;
        }
    }
    int encode(AVCodecContext* enc, AVStream* st, AVFrame* frame)
    {
        int r = avcodec_send_frame(enc, frame);
        if (r < 0 && r != AVERROR_EOF) return r;
        return drain(enc, st);
    }
    int encodeAudioFrames(bool flushAll)
    {
        const int frameSize = aenc->frame_size > 0 ? aenc->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= frameSize ||
               (flushAll && av_audio_fifo_size(fifo) > 0)) {
            const int n = std::min(frameSize, av_audio_fifo_size(fifo));
            av_frame_unref(aframe);
            aframe->nb_samples = n;
            aframe->format = aenc->sample_fmt;
            aframe->sample_rate = aenc->sample_rate;
            if (av_channel_layout_copy(&aframe->ch_layout, &aenc->ch_layout) < 0)
                return AVERROR(ENOMEM);
            int r = av_frame_get_buffer(aframe, 0);
            if (r < 0) return r;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(aframe->data), n) < n)
                return AVERROR(EIO);
            aframe->pts = audioPts;
            audioPts += n;
            r = encode(aenc, astream, aframe);
            if (r < 0) return r;
        }
        return 0;
    }
};

AvOutput::AvOutput() : d(std::make_unique<Impl>()) {}
AvOutput::~AvOutput() = default;

static AVDictionary* toDictionary(const std::map<std::string, std::string>& m)
{
    AVDictionary* dict = nullptr;
    for (const auto& [k, v] : m)
        av_dict_set(&dict, k.c_str(), v.c_str(), 0);
    return dict;
}

OSErr AvOutput::open(const std::string& target, const std::string& format, const VideoSetup* video,
                     int sourceWidth, int sourceHeight, const AudioSetup* audio, int sourceRate,
                     int sourceChannels, const std::map<std::string, std::string>& muxerOptions,
                     const std::map<std::string, std::string>& ioOptions)
{
    av::initialise();
    close();
    d = std::make_unique<Impl>();
    auto fail = [&](const std::string& what, int code, OSErr result) {
        m_error = what + (code ? ": " + av::errorText(code) : std::string());
        d->release();
        return result;
    };
    int r = avformat_alloc_output_context2(&d->fmt, nullptr, format.c_str(), target.c_str());
    if (r < 0 || !d->fmt) return fail("no muxer " + format, r, kExportEncoderErr);
    for (const auto& [k, v] : m_metadata)
        av_dict_set(&d->fmt->metadata, k.c_str(), v.c_str(), 0);
    d->packet = av_packet_alloc();
    d->vframe = av_frame_alloc();
    d->aframe = av_frame_alloc();
    if (!d->packet || !d->vframe || !d->aframe) throw std::bad_alloc();
    const bool globalHeader = d->fmt->oformat->flags & AVFMT_GLOBALHEADER;

    if (video) {
        const AVCodec* codec = avcodec_find_encoder_by_name(video->encoder.c_str());
        if (!codec) return fail("no encoder " + video->encoder, 0, kExportEncoderErr);
        AVCodecContext* c = d->venc = avcodec_alloc_context3(codec);
        if (!c) throw std::bad_alloc();
        c->width = video->width;
        c->height = video->height;
        c->pix_fmt = AVPixelFormat(video->pixelFormat);
        c->time_base = AVRational{video->rate.den, video->rate.num};
        c->framerate = AVRational{video->rate.num, video->rate.den};
        c->sample_aspect_ratio = AVRational{1, 1};
        if (video->gop > 0) c->gop_size = video->gop;
        if (video->bitrate > 0) c->bit_rate = video->bitrate;
        if (video->qscale > 0) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * video->qscale;
        }
        if (video->tagColour) {
            c->colorspace = AVColorSpace(video->colour.space);
            c->color_primaries = AVColorPrimaries(video->colour.primaries);
            c->color_trc = AVColorTransferCharacteristic(video->colour.transfer);
            c->color_range = AVColorRange(video->colour.range);
        }
        c->strict_std_compliance = video->strict;
        c->thread_count = video->threads;
        if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* opts = toDictionary(video->options);
        r = avcodec_open2(c, codec, &opts);
        av_dict_free(&opts);
        if (r < 0) return fail("cannot open " + video->encoder, r, kExportEncoderErr);
        d->vstream = avformat_new_stream(d->fmt, nullptr);
        if (!d->vstream) throw std::bad_alloc();
        d->vstream->time_base = c->time_base;
        d->vstream->avg_frame_rate = c->framerate;
        d->vstream->r_frame_rate = c->framerate;
        if (avcodec_parameters_from_context(d->vstream->codecpar, c) < 0) throw std::bad_alloc();

        d->vframe->format = c->pix_fmt;
        d->vframe->width = c->width;
        d->vframe->height = c->height;
        if (av_frame_get_buffer(d->vframe, 0) < 0) throw std::bad_alloc();
        d->convert = video->convert;
        d->srcWidth = sourceWidth;
        d->srcHeight = sourceHeight;
        if (!d->convert && !d->makeScaler(sourceWidth, sourceHeight))
            return fail("no picture conversion", 0, kExportEncoderErr);
        if (!d->convert && d->direct) {
            d->prepareWidth = c->width;
            d->prepareHeight = c->height;
            d->prepareMatrix = d->matrix;
        }
    }

    if (audio) {
        const AVCodec* codec = avcodec_find_encoder_by_name(audio->encoder.c_str());
        if (!codec) return fail("no encoder " + audio->encoder, 0, kExportEncoderErr);
        AVCodecContext* c = d->aenc = avcodec_alloc_context3(codec);
        if (!c) throw std::bad_alloc();
        c->sample_rate = audio->sampleRate;
        av_channel_layout_default(&c->ch_layout, audio->channels);
        c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        if (codec->sample_fmts) {
            for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                if (*f == AV_SAMPLE_FMT_S16) c->sample_fmt = *f;
        }
        if (audio->bitrate > 0) c->bit_rate = audio->bitrate;
        c->time_base = AVRational{1, audio->sampleRate};
        if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        r = avcodec_open2(c, codec, nullptr);
        if (r < 0) return fail("cannot open " + audio->encoder, r, kExportEncoderErr);
        d->astream = avformat_new_stream(d->fmt, nullptr);
        if (!d->astream) throw std::bad_alloc();
        d->astream->time_base = c->time_base;
        if (avcodec_parameters_from_context(d->astream->codecpar, c) < 0) throw std::bad_alloc();

        AVChannelLayout in{};
        av_channel_layout_default(&in, sourceChannels);
        r = swr_alloc_set_opts2(&d->swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &in,
                                AV_SAMPLE_FMT_S16, sourceRate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (r < 0 || swr_init(d->swr) < 0) return fail("no sound conversion", r, kExportEncoderErr);
        d->fifo = av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4096);
        if (!d->fifo) throw std::bad_alloc();
        d->srcChannels = sourceChannels;
        d->srcRate = sourceRate;
    }

    if (!(d->fmt->oformat->flags & AVFMT_NOFILE)) {
        AVDictionary* io = toDictionary(ioOptions);
        r = avio_open2(&d->fmt->pb, target.c_str(), AVIO_FLAG_WRITE, nullptr, &io);
        av_dict_free(&io);
        if (r < 0) {
            const OSErr code =
                target.find("://") != std::string::npos ? kExportConnectionErr : ioErr;
            return fail("cannot open " + target, r, code);
        }
    }
    AVDictionary* mux = toDictionary(muxerOptions);
    r = avformat_write_header(d->fmt, &mux);
    av_dict_free(&mux);
    if (r < 0) {
        const OSErr code =
            target.find("://") != std::string::npos ? kExportConnectionErr : kExportEncoderErr;
        return fail("cannot write the header", r, code);
    }
    d->headerWritten = true;
    return noErr;
}

OSErr AvOutput::writeVideo(const Pixmap& picture, int64_t index)
{
    if (!d->venc || d->finished) return paramErr;
    if (av_frame_make_writable(d->vframe) < 0) throw std::bad_alloc();
    if (d->convert) {
        if (!d->convert(picture, d->vframe)) return kExportEncoderErr;
    } else {
        if ((picture.width() != d->srcWidth || picture.height() != d->srcHeight) &&
            !d->makeScaler(picture.width(), picture.height()))
            return kExportEncoderErr;
        if (d->direct) {
            bgraToYuv420(picture, d->vframe->data, d->vframe->linesize, d->matrix);
        } else {
            const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(picture.data())};
            const int stride[1] = {int(picture.strideBytes())};
            sws_scale(d->sws, src, stride, 0, picture.height(), d->vframe->data,
                      d->vframe->linesize);
        }
    }
    return sendPicture(index);
}

bool AvOutput::preparePicture(const Pixmap& picture, PreparedPicture& out)
{
    const int w = d->prepareWidth, h = d->prepareHeight;
    if (w == 0 || picture.width() != w || picture.height() != h) return false;
    const size_t luma = size_t(w) * size_t(h), chroma = luma / 4;
    out.width = w;
    out.height = h;
    out.bytes.resize(luma + 2 * chroma);
    uint8_t* const planes[3] = {out.bytes.data(), out.bytes.data() + luma,
                                out.bytes.data() + luma + chroma};
    const int strides[3] = {w, w / 2, w / 2};
    bgraToYuv420(picture, planes, strides, d->prepareMatrix);
    return true;
}

OSErr AvOutput::writePrepared(const PreparedPicture& picture, int64_t index)
{
    if (!d->venc || d->finished || d->prepareWidth == 0) return paramErr;
    const int w = d->prepareWidth, h = d->prepareHeight;
    if (picture.width != w || picture.height != h ||
        picture.bytes.size() != size_t(w) * size_t(h) * 3 / 2)
        return paramErr;
    if (av_frame_make_writable(d->vframe) < 0) throw std::bad_alloc();
    const uint8_t* src = picture.bytes.data();
    for (int plane = 0; plane < 3; ++plane) {
        const int pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
        av_image_copy_plane(d->vframe->data[plane], d->vframe->linesize[plane], src, pw, pw, ph);
        src += size_t(pw) * size_t(ph);
    }
    return sendPicture(index);
}

OSErr AvOutput::sendPicture(int64_t index)
{
    d->vframe->pts = index;
    d->vframe->color_range = d->venc->color_range;
    d->vframe->colorspace = d->venc->colorspace;
    d->vframe->color_primaries = d->venc->color_primaries;
    d->vframe->color_trc = d->venc->color_trc;
    const int r = d->encode(d->venc, d->vstream, d->vframe);
    if (r < 0) {
        m_error = "video encoding: " + av::errorText(r);
        return r == AVERROR(EPIPE) || r == AVERROR(ECONNRESET) ? kExportConnectionErr
                                                               : kExportEncoderErr;
    }
    return noErr;
}

OSErr AvOutput::writeAudio(const int16_t* samples, int64_t count)
{
    if (!d->aenc || d->finished) return paramErr;
    if (count <= 0) return noErr;
    const int maxOut = swr_get_out_samples(d->swr, int(count));
    if (maxOut < 0) return kExportEncoderErr;
    uint8_t** out = nullptr;
    int linesize = 0;
    if (av_samples_alloc_array_and_samples(&out, &linesize, d->aenc->ch_layout.nb_channels,
                                           std::max(maxOut, 1), d->aenc->sample_fmt, 0) < 0)
        throw std::bad_alloc();
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int got = swr_convert(d->swr, out, maxOut, in, int(count));
    int r = got;
    if (got > 0) r = av_audio_fifo_write(d->fifo, reinterpret_cast<void**>(out), got);
    av_freep(&out[0]);
    av_freep(&out);
    if (r < 0) return kExportEncoderErr;
    r = d->encodeAudioFrames(false);
    if (r < 0) {
        m_error = "sound encoding: " + av::errorText(r);
        return kExportEncoderErr;
    }
    return noErr;
}

OSErr AvOutput::finish()
{
    if (!d->fmt || !d->headerWritten) return paramErr;
    if (d->finished) return noErr;
    d->finished = true;
    int r = 0;
    if (d->aenc) {
        // What the resampler still holds, then the last (short) frame.
        const int pending = int(swr_get_delay(d->swr, d->aenc->sample_rate)) + 16;
        uint8_t** out = nullptr;
        int linesize = 0;
        if (av_samples_alloc_array_and_samples(&out, &linesize, d->aenc->ch_layout.nb_channels,
                                               pending, d->aenc->sample_fmt, 0) < 0)
            throw std::bad_alloc();
        const int got = swr_convert(d->swr, out, pending, nullptr, 0);
        if (got > 0) av_audio_fifo_write(d->fifo, reinterpret_cast<void**>(out), got);
        av_freep(&out[0]);
        av_freep(&out);
        r = d->encodeAudioFrames(true);
        if (r >= 0) r = d->encode(d->aenc, d->astream, nullptr);
    }
    if (r >= 0 && d->venc) r = d->encode(d->venc, d->vstream, nullptr);
    const int t = av_write_trailer(d->fmt);
    if (r >= 0) r = t;
    OSErr result = noErr;
    if (r < 0) {
        m_error = "finishing: " + av::errorText(r);
        result = kExportEncoderErr;
    }
    if (d->fmt->pb && !(d->fmt->oformat->flags & AVFMT_NOFILE)) {
        if (avio_closep(&d->fmt->pb) < 0 && result == noErr) result = ioErr;
    }
    return result;
}

void AvOutput::close()
{
    if (d) d->release();
}

} // namespace zef::movies::exportav
