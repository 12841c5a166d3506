#include "exporter/dv_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

namespace zef::peltra {

using namespace movies;

namespace {

constexpr int kSoundRate = 48000;
constexpr int kSoundChannels = 2;
constexpr int kBytesPerSample = 2 * kSoundChannels; // a stereo 16-bit sample frame

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct Input {
    AVFormatContext* fmt = nullptr;
    ~Input() { avformat_close_input(&fmt); }
    OSErr open(const std::string& path)
    {
        if (::access(path.c_str(), R_OK) != 0) return fnfErr;
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return ioErr;
        if (avformat_find_stream_info(fmt, nullptr) < 0) return ioErr;
        return noErr;
    }
};

struct Codec {
    AVCodecContext* ctx = nullptr;
    ~Codec() { avcodec_free_context(&ctx); }
};

struct Output {
    AVFormatContext* fmt = nullptr;
    bool customIo = false;
    ~Output()
    {
        if (!fmt) return;
        if (customIo && fmt->pb) {
            av_freep(&fmt->pb->buffer);
            avio_context_free(&fmt->pb);
        } else if (fmt->pb) {
            avio_closep(&fmt->pb);
        }
        avformat_free_context(fmt);
    }
};

struct Scaler {
    SwsContext* ctx = nullptr;
    ~Scaler() { sws_freeContext(ctx); }
};
struct Resampler {
    SwrContext* ctx = nullptr;
    ~Resampler() { swr_free(&ctx); }
};

AVRational toRational(FrameRate r) { return AVRational{r.num, r.den}; }

// Sound sample frames before DV frame k: the sound of k frames, rounded up.
int64_t samplesBefore(int64_t k, AVRational rate)
{
    return av_rescale_rnd(k, int64_t(kSoundRate) * rate.den, rate.num, AV_ROUND_UP);
}

OSErr openDecoder(const AVStream* stream, Codec& out)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return kExportSourceErr;
    out.ctx = avcodec_alloc_context3(codec);
    if (!out.ctx) return memFullErr;
    if (avcodec_parameters_to_context(out.ctx, stream->codecpar) < 0) return kExportSourceErr;
    if (avcodec_open2(out.ctx, codec, nullptr) < 0) return kExportSourceErr;
    return noErr;
}

AVRational streamRate(const AVStream* s)
{
    if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0) return s->avg_frame_rate;
    if (s->r_frame_rate.num > 0 && s->r_frame_rate.den > 0) return s->r_frame_rate;
    return av_inv_q(s->time_base);
}

// The DV file being written: the encoder, the two streams and the sound waiting to go out.
class DvWriter {
public:
    DvWriter(DvStandard standard, bool widescreen) : m_standard(standard), m_wide(widescreen) {}

    OSErr open(const std::string& path)
    {
        if (avformat_alloc_output_context2(&m_out.fmt, nullptr, "avi", path.c_str()) < 0)
            return kExportEncoderErr;
        const AVCodec* dv = avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
        if (!dv) return kExportEncoderErr;
        m_enc.ctx = avcodec_alloc_context3(dv);
        if (!m_enc.ctx) return memFullErr;
        AVCodecContext* c = m_enc.ctx;
        c->width = m_standard.width();
        c->height = m_standard.height();
        // DV25: 4:2:0 on PAL tape, 4:1:1 on NTSC tape.
        c->pix_fmt = m_standard.pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
        c->framerate = toRational(m_standard.rate());
        c->time_base = av_inv_q(c->framerate);
        // The pixel shape that shows the frame at 4:3 or 16:9.
        c->sample_aspect_ratio = m_standard.pal ? (m_wide ? AVRational{64, 45} : AVRational{16, 15})
                                                : (m_wide ? AVRational{32, 27} : AVRational{8, 9});
        c->thread_count = 0;
        c->thread_type = FF_THREAD_SLICE;
        if (avcodec_open2(c, dv, nullptr) < 0) return kExportEncoderErr;

        m_video = avformat_new_stream(m_out.fmt, nullptr);
        m_sound = avformat_new_stream(m_out.fmt, nullptr);
        if (!m_video || !m_sound) return memFullErr;
        if (avcodec_parameters_from_context(m_video->codecpar, c) < 0) return kExportEncoderErr;
        m_video->time_base = c->time_base;
        m_video->avg_frame_rate = c->framerate;
        m_video->sample_aspect_ratio = c->sample_aspect_ratio;
        AVCodecParameters* a = m_sound->codecpar;
        a->codec_type = AVMEDIA_TYPE_AUDIO;
        a->codec_id = AV_CODEC_ID_PCM_S16LE;
        a->format = AV_SAMPLE_FMT_S16;
        a->sample_rate = kSoundRate;
        av_channel_layout_default(&a->ch_layout, kSoundChannels);
        a->bits_per_coded_sample = 16;
        a->block_align = kBytesPerSample;
        a->bit_rate = int64_t(kSoundRate) * kBytesPerSample * 8;
        m_sound->time_base = AVRational{1, kSoundRate};

        if (avio_open(&m_out.fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return ioErr;
        if (avformat_write_header(m_out.fmt, nullptr) < 0) return kExportEncoderErr;
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_frame || !m_packet) return memFullErr;
        m_frame->format = c->pix_fmt;
        m_frame->width = c->width;
        m_frame->height = c->height;
        if (av_frame_get_buffer(m_frame.get(), 0) < 0) return memFullErr;
        return noErr;
    }

    // Scales a decoded picture into the frame the next DV frames show.
    OSErr takePicture(const AVFrame* picture)
    {
        m_scaler.ctx = sws_getCachedContext(m_scaler.ctx, picture->width, picture->height,
                                            AVPixelFormat(picture->format), m_frame->width,
                                            m_frame->height, AVPixelFormat(m_frame->format),
                                            SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_scaler.ctx) return kExportEncoderErr;
        // The encoder may still hold the previous picture.
        if (av_frame_make_writable(m_frame.get()) < 0) return memFullErr;
        sws_scale(m_scaler.ctx, picture->data, picture->linesize, 0, picture->height, m_frame->data,
                  m_frame->linesize);
        return noErr;
    }

    // Encodes the current picture as the next DV frame, then the sound up to its end (all that
    // is there; with padSound, silence for what is not).
    OSErr writeFrame(bool padSound)
    {
        m_frame->pts = m_frames;
        OSErr err = encode(m_frame.get());
        if (err != noErr) return err;
        ++m_frames;
        return writeSound(samplesBefore(m_frames, m_video->avg_frame_rate), padSound);
    }

    void addSound(const int16_t* samples, int count)
    {
        m_pending.insert(m_pending.end(), samples, samples + size_t(count) * kSoundChannels);
    }

    // Flushes the encoder, pads the sound to one frame past the last picture (the playout
    // takes each frame's sound before the frame) and closes the file.
    OSErr finish()
    {
        OSErr err = encode(nullptr);
        if (err == noErr)
            err = writeSound(samplesBefore(m_frames + 1, m_video->avg_frame_rate), true);
        if (err != noErr) return err;
        return av_write_trailer(m_out.fmt) < 0 ? ioErr : noErr;
    }

    int64_t frames() const { return m_frames; }
    int64_t soundWritten() const { return m_soundWritten; }

private:
    OSErr encode(AVFrame* frame)
    {
        if (avcodec_send_frame(m_enc.ctx, frame) < 0) return kExportEncoderErr;
        for (;;) {
            const int r = avcodec_receive_packet(m_enc.ctx, m_packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return noErr;
            if (r < 0) return kExportEncoderErr;
            av_packet_rescale_ts(m_packet.get(), m_enc.ctx->time_base, m_video->time_base);
            m_packet->stream_index = m_video->index;
            if (av_interleaved_write_frame(m_out.fmt, m_packet.get()) < 0) return ioErr;
        }
    }

    OSErr writeSound(int64_t upTo, bool pad)
    {
        while (m_soundWritten < upTo) {
            const int64_t queued = int64_t(m_pending.size() / kSoundChannels);
            int64_t n = std::min<int64_t>(upTo - m_soundWritten, 4 * kSoundRate / 25);
            if (queued < n) {
                if (!pad) n = queued;
                if (n == 0) return noErr;
            }
            if (av_new_packet(m_packet.get(), int(n * kBytesPerSample)) < 0) return memFullErr;
            auto* out = reinterpret_cast<int16_t*>(m_packet->data);
            const int64_t fromQueue = std::min(n, queued);
            std::copy_n(m_pending.begin(), fromQueue * kSoundChannels, out);
            std::fill(out + fromQueue * kSoundChannels, out + n * kSoundChannels, int16_t(0));
            m_pending.erase(m_pending.begin(),
                            m_pending.begin() + std::ptrdiff_t(fromQueue * kSoundChannels));
            m_packet->pts = m_packet->dts = m_soundWritten;
            m_packet->duration = n;
            m_packet->stream_index = m_sound->index;
            av_packet_rescale_ts(m_packet.get(), AVRational{1, kSoundRate}, m_sound->time_base);
            m_soundWritten += n;
            if (av_interleaved_write_frame(m_out.fmt, m_packet.get()) < 0) return ioErr;
        }
        return noErr;
    }

    DvStandard m_standard;
    bool m_wide;
    Output m_out;
    Codec m_enc;
    Scaler m_scaler;
    AVStream* m_video = nullptr;
    AVStream* m_sound = nullptr;
    FramePtr m_frame;
    PacketPtr m_packet;
    int64_t m_frames = 0;
    int64_t m_soundWritten = 0;
    std::deque<int16_t> m_pending;
};

OSErr encodeInto(const std::string& input, const std::string& output, DvStandard standard,
                 const StepProgress& progress)
{
    Input in;
    OSErr err = in.open(input);
    if (err != noErr) return err;
    const int vi = av_find_best_stream(in.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0) return kExportSourceErr;
    const int ai = av_find_best_stream(in.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVStream* vs = in.fmt->streams[vi];
    Codec vdec, adec;
    if ((err = openDecoder(vs, vdec)) != noErr) return err;
    if (ai >= 0 && (err = openDecoder(in.fmt->streams[ai], adec)) != noErr) return err;

    const AVRational inRate = streamRate(vs);
    const AVRational dvRate = toRational(standard.rate());
    const double ratio = av_q2d(inRate) / av_q2d(dvRate);
    const bool framePerFrame = std::fabs(ratio - 1.0) < 0.01;
    // The first DV frame that shows input picture i.
    auto firstFrameOf = [&](int64_t i) {
        if (framePerFrame) return i;
        return av_rescale_rnd(i, int64_t(dvRate.num) * inRate.den, int64_t(dvRate.den) * inRate.num,
                              AV_ROUND_UP);
    };
    int64_t expected = vs->nb_frames;
    if (expected <= 0 && in.fmt->duration > 0)
        expected = int64_t(double(in.fmt->duration) / AV_TIME_BASE * av_q2d(inRate) + 0.5);

    const AVRational sar =
        vs->sample_aspect_ratio.num > 0 ? vs->sample_aspect_ratio : AVRational{1, 1};
    const double aspect =
        double(vs->codecpar->width) * av_q2d(sar) / std::max(1, vs->codecpar->height);
    DvWriter writer(standard, aspect >= 1.55);
    if ((err = writer.open(output)) != noErr) return err;

    Resampler resampler;
    if (ai >= 0) {
        AVChannelLayout inLayout{};
        if (adec.ctx->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
            adec.ctx->ch_layout.nb_channels == 0)
            av_channel_layout_default(&inLayout, std::max(1, adec.ctx->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &adec.ctx->ch_layout);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, kSoundChannels);
        // Frame for frame, the sound plays at the DV rate too: taken as slightly faster or
        // slower sound, it stays with the pictures.
        const int inSampleRate =
            framePerFrame ? int(std::lround(adec.ctx->sample_rate / ratio)) : adec.ctx->sample_rate;
        const int r =
            swr_alloc_set_opts2(&resampler.ctx, &outLayout, AV_SAMPLE_FMT_S16, kSoundRate,
                                &inLayout, adec.ctx->sample_fmt, inSampleRate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (r < 0 || swr_init(resampler.ctx) < 0) return kExportEncoderErr;
    }
    const bool padSound = ai < 0;

    FramePtr decoded(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!decoded || !packet) return memFullErr;
    std::vector<int16_t> converted;
    int64_t pictures = 0;

    auto onPicture = [&]() -> OSErr {
        OSErr e = writer.takePicture(decoded.get());
        if (e != noErr) return e;
        const int64_t end = firstFrameOf(pictures + 1);
        while (writer.frames() < end)
            if ((e = writer.writeFrame(padSound)) != noErr) return e;
        ++pictures;
        return progress ? progress(expected > 0 ? std::min(1.0, double(pictures) / expected) : 0)
                        : noErr;
    };
    auto convertSound = [&](const AVFrame* frame) -> OSErr {
        const int room = swr_get_out_samples(resampler.ctx, frame ? frame->nb_samples : 0);
        if (room < 0) return kExportEncoderErr;
        converted.resize(size_t(room + 16) * kSoundChannels);
        uint8_t* out = reinterpret_cast<uint8_t*>(converted.data());
        const int n =
            swr_convert(resampler.ctx, &out, room + 16,
                        frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                        frame ? frame->nb_samples : 0);
        if (n < 0) return kExportEncoderErr;
        writer.addSound(converted.data(), n);
        return noErr;
    };
    // Takes every frame a decoder has ready.
    auto drain = [&](Codec& dec, bool video) -> OSErr {
        for (;;) {
            const int r = avcodec_receive_frame(dec.ctx, decoded.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return noErr;
            if (r < 0) return kExportSourceErr;
            const OSErr e = video ? onPicture() : convertSound(decoded.get());
            av_frame_unref(decoded.get());
            if (e != noErr) return e;
        }
    };

    while (av_read_frame(in.fmt, packet.get()) >= 0) {
        OSErr e = noErr;
        if (packet->stream_index == vi) {
            if (avcodec_send_packet(vdec.ctx, packet.get()) < 0) e = kExportSourceErr;
            if (e == noErr) e = drain(vdec, true);
        } else if (packet->stream_index == ai) {
            // Damaged sound is left out rather than ending the print.
            if (avcodec_send_packet(adec.ctx, packet.get()) >= 0) e = drain(adec, false);
        }
        av_packet_unref(packet.get());
        if (e != noErr) return e;
    }
    avcodec_send_packet(vdec.ctx, nullptr);
    if ((err = drain(vdec, true)) != noErr) return err;
    if (ai >= 0) {
        avcodec_send_packet(adec.ctx, nullptr);
        if ((err = drain(adec, false)) != noErr) return err;
        if ((err = convertSound(nullptr)) != noErr) return err;
    }
    if (writer.frames() == 0) return kExportSourceErr;
    return writer.finish();
}

} // namespace

DvStandard dvStandardFor(FrameRate rate, int height)
{
    if (!rate.valid()) return DvStandard{height == 576};
    const double fps = rate.value();
    const double toPal = std::fabs(std::remainder(std::log2(fps / 25.0), 1.0));
    const double toNtsc = std::fabs(std::remainder(std::log2(fps / (30000.0 / 1001.0)), 1.0));
    return DvStandard{toPal <= toNtsc};
}

OSErr encodeDvFile(const std::string& input, const std::string& output, DvStandard standard,
                   const StepProgress& progress)
{
    const std::string partial = output + ".part";
    OSErr err = encodeInto(input, partial, standard, progress);
    if (err == noErr && std::rename(partial.c_str(), output.c_str()) != 0) err = ioErr;
    if (err != noErr) ::unlink(partial.c_str());
    return err;
}

OSErr probeDvFile(const std::string& path, bool* pal, int64_t* frames)
{
    Input in;
    const OSErr err = in.open(path);
    if (err != noErr) return err;
    const int vi = av_find_best_stream(in.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0 || in.fmt->streams[vi]->codecpar->codec_id != AV_CODEC_ID_DVVIDEO) return paramErr;
    const AVStream* s = in.fmt->streams[vi];
    if (pal) *pal = s->codecpar->height == 576;
    if (frames) *frames = s->nb_frames;
    return noErr;
}

namespace {

// Where the DV multiplexer's output goes: straight on to the transmitter.
struct PlayoutSink {
    DvTransmitter* transmitter = nullptr;
    OSErr result = noErr;
    static int write(void* opaque, uint8_t* data, int size)
    {
        auto* self = static_cast<PlayoutSink*>(opaque);
        if (self->result == noErr) self->result = self->transmitter->send(data, size_t(size));
        return self->result == noErr ? size : AVERROR(EIO);
    }
};

} // namespace

OSErr playOutDvFile(const std::string& path, DvTransmitter& transmitter,
                    const StepProgress& progress)
{
    Input in;
    OSErr err = in.open(path);
    if (err != noErr) return err;
    const int vi = av_find_best_stream(in.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0 || in.fmt->streams[vi]->codecpar->codec_id != AV_CODEC_ID_DVVIDEO) return paramErr;
    const AVStream* ivs = in.fmt->streams[vi];
    const bool pal = ivs->codecpar->height == 576;
    const AVRational rate = pal ? AVRational{25, 1} : AVRational{30000, 1001};
    // The file's sound when it is what DV carries (ours always is), else silence.
    int ai = av_find_best_stream(in.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (ai >= 0) {
        const AVCodecParameters* a = in.fmt->streams[ai]->codecpar;
        if (a->codec_id != AV_CODEC_ID_PCM_S16LE || a->ch_layout.nb_channels != kSoundChannels ||
            a->sample_rate != kSoundRate)
            ai = -1;
    }
    const int64_t total = ivs->nb_frames;

    Output out;
    if (avformat_alloc_output_context2(&out.fmt, nullptr, "dv", nullptr) < 0)
        return kExportEncoderErr;
    PlayoutSink sink{&transmitter};
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    if (!buffer) return memFullErr;
    out.fmt->pb =
        avio_alloc_context(buffer, kBufferSize, 1, &sink, nullptr, &PlayoutSink::write, nullptr);
    if (!out.fmt->pb) {
        av_free(buffer);
        return memFullErr;
    }
    out.customIo = true;
    out.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* vs = avformat_new_stream(out.fmt, nullptr);
    AVStream* as = avformat_new_stream(out.fmt, nullptr);
    if (!vs || !as) return memFullErr;
    if (avcodec_parameters_copy(vs->codecpar, ivs->codecpar) < 0) return memFullErr;
    vs->codecpar->codec_tag = 0;
    vs->time_base = av_inv_q(rate);
    as->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    as->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    as->codecpar->format = AV_SAMPLE_FMT_S16;
    as->codecpar->sample_rate = kSoundRate;
    av_channel_layout_default(&as->codecpar->ch_layout, kSoundChannels);
    as->codecpar->bits_per_coded_sample = 16;
    as->codecpar->block_align = kBytesPerSample;
    as->time_base = AVRational{1, kSoundRate};
    if (avformat_write_header(out.fmt, nullptr) < 0) return kExportEncoderErr;

    // Each frame's sound goes to the multiplexer before the frame, so that it can build every
    // DIF frame as its picture arrives.
    PacketPtr packet(av_packet_alloc());
    PacketPtr soundPacket(av_packet_alloc());
    if (!packet || !soundPacket) return memFullErr;
    std::deque<PacketPtr> pictures;
    std::deque<uint8_t> sound;
    int64_t soundRead = 0, soundSent = 0, sent = 0;
    bool ended = false;
    auto readMore = [&]() {
        if (av_read_frame(in.fmt, packet.get()) < 0) {
            ended = true;
            return;
        }
        if (packet->stream_index == vi) {
            pictures.emplace_back(av_packet_clone(packet.get()));
        } else if (packet->stream_index == ai) {
            sound.insert(sound.end(), packet->data, packet->data + packet->size);
            soundRead += packet->size / kBytesPerSample;
        }
        av_packet_unref(packet.get());
    };
    for (;;) {
        while (pictures.empty() && !ended)
            readMore();
        if (pictures.empty()) break;
        const int64_t need = samplesBefore(sent + 1, rate);
        while (soundRead < need && !ended)
            readMore();
        const int64_t n = need - soundSent;
        if (n > 0) {
            if (av_new_packet(soundPacket.get(), int(n * kBytesPerSample)) < 0) return memFullErr;
            const size_t bytes = size_t(n * kBytesPerSample);
            const size_t have = std::min(bytes, sound.size());
            std::copy_n(sound.begin(), have, soundPacket->data);
            std::fill(soundPacket->data + have, soundPacket->data + bytes, uint8_t(0));
            sound.erase(sound.begin(), sound.begin() + std::ptrdiff_t(have));
            soundPacket->pts = soundPacket->dts = soundSent;
            soundPacket->duration = n;
            soundPacket->stream_index = as->index;
            av_packet_rescale_ts(soundPacket.get(), AVRational{1, kSoundRate}, as->time_base);
            soundSent = need;
            if (av_write_frame(out.fmt, soundPacket.get()) < 0)
                return sink.result != noErr ? sink.result : kExportEncoderErr;
        }
        AVPacket* picture = pictures.front().get();
        picture->stream_index = vs->index;
        picture->pts = picture->dts = av_rescale_q(sent, av_inv_q(rate), vs->time_base);
        picture->duration = av_rescale_q(1, av_inv_q(rate), vs->time_base);
        picture->pos = -1;
        if (av_write_frame(out.fmt, picture) < 0)
            return sink.result != noErr ? sink.result : kExportEncoderErr;
        pictures.pop_front();
        ++sent;
        if (progress) {
            const OSErr p = progress(total > 0 ? std::min(1.0, double(sent) / total) : 0.0);
            if (p != noErr) return p;
        }
    }
    if (av_write_trailer(out.fmt) < 0 && sink.result == noErr) return kExportEncoderErr;
    avio_flush(out.fmt->pb);
    if (sink.result != noErr) return sink.result;
    if (sent == 0) return paramErr;
    return transmitter.finish();
}

} // namespace zef::peltra
