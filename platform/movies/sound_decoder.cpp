#include "platform/movies/sound_decoder.h"

#include "platform/movies/av_support.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace zef::movies {

namespace {
constexpr int kMaxReadRetries = 1000;
constexpr int kMaxDecodeErrors = 10000;
} // namespace

struct SoundDecoder::State {
    av::FormatPtr fmt;
    av::CodecPtr codec;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr frame = av::makeFrame();
    int stream = -1;
    SwrContext* swr = nullptr;
    int swrFormat = -1;
    int swrRate = 0;
    AVChannelLayout swrLayout{};

    std::vector<int16_t> fifo; // output frames not yet handed out, from fifoRead on
    size_t fifoRead = 0;       // in values (frames × channels)
    int64_t fifoStart = 0;     // output frame index of the first frame not yet handed out
    int64_t feedFrom = 0;      // source samples before this index are dropped
    int64_t srcPos = -1;       // source index of the next decoded sample; -1 until known
    bool afterSeek = false;    // the next frame tells whether the demuxer landed too late
    bool flushing = false;
    bool eof = false;

    ~State()
    {
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
    }
};

SoundDecoder::SoundDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex,
                           int32_t outputRate, int32_t outputChannels)
    : m_file(std::move(file)), m_outRate(outputRate), m_outChannels(outputChannels),
      m_state(std::make_unique<State>())
{
    if (!m_file || trackIndex >= m_file->tracks().size()) return;
    m_track = &m_file->tracks()[trackIndex];
    if (m_track->mediaType != kSoundMediaType || m_track->sampleRate <= 0) return;
    if (outputRate < 1 || outputRate > 768000 || outputChannels < 1 || outputChannels > 8) return;
    m_valid = reopen();
}

SoundDecoder::~SoundDecoder() = default;

bool SoundDecoder::reopen()
{
    State& s = *m_state;
    s.stream = m_track->streamIndex;
    if (!av::openStreamDecoder(m_file->path(), s.stream, 1, s.fmt, s.codec)) return false;
    swr_free(&s.swr);
    s.fifo.clear();
    s.fifoRead = 0;
    s.fifoStart = 0;
    s.feedFrom = 0;
    s.srcPos = -1;
    s.afterSeek = false;
    s.flushing = s.eof = false;
    return true;
}

int64_t SoundDecoder::frameCount() const
{
    if (!m_valid) return 0;
    return av_rescale_rnd(m_track->sampleCount, m_outRate, m_track->sampleRate, AV_ROUND_DOWN);
}

int64_t SoundDecoder::frameIndex(int64_t time, int32_t timeScale) const
{
    if (timeScale <= 0) timeScale = m_track ? m_track->timeScale : 1;
    return av_rescale_rnd(time, m_outRate, timeScale, AV_ROUND_DOWN);
}

bool SoundDecoder::readSpan(int64_t start, int64_t duration, int32_t timeScale,
                            std::vector<int16_t>& out)
{
    int64_t first = frameIndex(start, timeScale);
    int64_t end = frameIndex(start + std::max<int64_t>(0, duration), timeScale);
    int64_t count = std::max<int64_t>(0, end - first);
    out.assign(size_t(count) * size_t(m_outChannels), 0);
    return readFrames(first, count, out.data());
}

bool SoundDecoder::readFrames(int64_t first, int64_t count, int16_t* out)
{
    const size_t ch = size_t(m_outChannels);
    if (count <= 0) return m_valid;
    std::fill(out, out + size_t(count) * ch, int16_t(0));
    if (!m_valid) return false;
    if (first < 0) { // silence before the track
        int64_t n = std::min(count, -first);
        out += size_t(n) * ch;
        first += n;
        count -= n;
    }
    const int64_t total = frameCount();
    count = std::min(count, std::max<int64_t>(0, total - first));
    if (count <= 0) return true;

    State& s = *m_state;
    auto buffered = [&] { return int64_t((s.fifo.size() - s.fifoRead) / ch); };
    auto consume = [&](int64_t n) {
        s.fifoRead += size_t(n) * ch;
        s.fifoStart += n;
        if (s.fifoRead > s.fifo.size() / 2) {
            s.fifo.erase(s.fifo.begin(), s.fifo.begin() + ptrdiff_t(s.fifoRead));
            s.fifoRead = 0;
        }
    };
    // Near ahead: decode on and drop; behind or far ahead: seek.
    const int64_t slack = m_outRate / 2;
    if (!s.codec || first < s.fifoStart || first > s.fifoStart + buffered() + slack) {
        if (!reposition(first)) return false;
    }
    while (s.fifoStart < first) {
        if (buffered() == 0 && !fill(std::min<int64_t>(first - s.fifoStart, 1 << 16))) break;
        consume(std::min(buffered(), first - s.fifoStart));
    }
    if (s.fifoStart != first) return true; // the track ended early: silence
    fill(count);
    int64_t n = std::min(count, buffered());
    std::memcpy(out, s.fifo.data() + s.fifoRead, size_t(n) * ch * sizeof(int16_t));
    consume(n);
    return true;
}

bool SoundDecoder::reposition(int64_t first)
{
    State& s = *m_state;
    ++m_seeks;
    const int32_t srcRate = m_track->sampleRate;
    int64_t srcTarget = av_rescale_rnd(first, srcRate, m_outRate, AV_ROUND_DOWN);
    // Compressed sound needs the frames before the target to decode it correctly.
    int64_t preroll = std::max<int64_t>(4096, srcRate / 5);
    int64_t seekSrc = srcTarget - preroll;
    bool ok = false;
    if (seekSrc > 0 && s.fmt && s.codec) {
        AVRational tb{m_track->timeBaseNum, m_track->timeBaseDen};
        int64_t ts = m_track->startPts + av_rescale_q(seekSrc, AVRational{1, srcRate}, tb);
        avcodec_flush_buffers(s.codec.get());
        if (av_seek_frame(s.fmt.get(), s.stream, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
            swr_free(&s.swr);
            s.fifo.clear();
            s.fifoRead = 0;
            s.srcPos = -1;
            s.afterSeek = true;
            s.flushing = s.eof = false;
            ok = true;
        }
    }
    if (!ok && !reopen()) return false;
    s.fifoStart = first;
    s.feedFrom = srcTarget;
    return true;
}

bool SoundDecoder::configureResampler(const AVFrame* frame)
{
    State& s = *m_state;
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&in, std::max(1, frame->ch_layout.nb_channels));
    else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
        return false;
    if (s.swr && s.swrFormat == frame->format && s.swrRate == frame->sample_rate &&
        av_channel_layout_compare(&s.swrLayout, &in) == 0) {
        av_channel_layout_uninit(&in);
        return true;
    }
    swr_free(&s.swr);
    AVChannelLayout out{};
    av_channel_layout_default(&out, m_outChannels);
    int r = swr_alloc_set_opts2(&s.swr, &out, AV_SAMPLE_FMT_S16, m_outRate, &in,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    if (r < 0 || swr_init(s.swr) < 0) {
        swr_free(&s.swr);
        av_channel_layout_uninit(&in);
        return false;
    }
    s.swrFormat = frame->format;
    s.swrRate = frame->sample_rate;
    av_channel_layout_uninit(&s.swrLayout);
    s.swrLayout = in;
    return true;
}

void SoundDecoder::pushSource(const AVFrame* frame, int64_t skip)
{
    State& s = *m_state;
    if (!configureResampler(frame)) return;
    const AVSampleFormat fmt = AVSampleFormat(frame->format);
    const int bps = av_get_bytes_per_sample(fmt);
    const int channels = frame->ch_layout.nb_channels;
    const uint8_t* in[AV_NUM_DATA_POINTERS] = {};
    if (av_sample_fmt_is_planar(fmt)) {
        if (channels > AV_NUM_DATA_POINTERS && !frame->extended_data) return;
        std::vector<const uint8_t*> planes(size_t(std::max(1, channels)));
        for (int c = 0; c < channels; ++c)
            planes[size_t(c)] = frame->extended_data[c] + skip * bps;
        int n = int(frame->nb_samples - skip);
        int capacity = swr_get_out_samples(s.swr, n);
        if (capacity <= 0) return;
        size_t old = s.fifo.size();
        s.fifo.resize(old + size_t(capacity) * size_t(m_outChannels));
        uint8_t* outp = reinterpret_cast<uint8_t*>(s.fifo.data() + old);
        int got = swr_convert(s.swr, &outp, capacity, planes.data(), n);
        s.fifo.resize(old + size_t(std::max(0, got)) * size_t(m_outChannels));
        return;
    }
    in[0] = frame->data[0] + skip * bps * channels;
    int n = int(frame->nb_samples - skip);
    int capacity = swr_get_out_samples(s.swr, n);
    if (capacity <= 0) return;
    size_t old = s.fifo.size();
    s.fifo.resize(old + size_t(capacity) * size_t(m_outChannels));
    uint8_t* outp = reinterpret_cast<uint8_t*>(s.fifo.data() + old);
    int got = swr_convert(s.swr, &outp, capacity, in, n);
    s.fifo.resize(old + size_t(std::max(0, got)) * size_t(m_outChannels));
}

bool SoundDecoder::fill(int64_t frames)
{
    State& s = *m_state;
    if (!s.fmt || !s.codec) return false; // the file went away when it was opened again
    const size_t ch = size_t(m_outChannels);
    auto buffered = [&] { return int64_t((s.fifo.size() - s.fifoRead) / ch); };
    AVFrame* frame = s.frame.get();
    AVPacket* pkt = s.packet.get();
    const AVRational tb{m_track->timeBaseNum, m_track->timeBaseDen};
    const int32_t srcRate = m_track->sampleRate;
    int errors = 0;
    while (buffered() < frames && !s.eof) {
        int r = avcodec_receive_frame(s.codec.get(), frame);
        if (r == 0) {
            int64_t index = s.srcPos;
            if (index < 0) {
                int64_t pts = frame->best_effort_timestamp;
                index = pts == AV_NOPTS_VALUE
                            ? 0
                            : av_rescale_q(pts - m_track->startPts, tb, AVRational{1, srcRate});
            }
            if (s.afterSeek && index > s.feedFrom) {
                // Landed past the wanted position: decode from the top instead.
                av_frame_unref(frame);
                int64_t fifoStart = s.fifoStart, feedFrom = s.feedFrom;
                if (!reopen()) return false;
                s.fifoStart = fifoStart;
                s.feedFrom = feedFrom;
                continue;
            }
            s.afterSeek = false;
            int64_t skip = std::clamp<int64_t>(s.feedFrom - index, 0, frame->nb_samples);
            if (skip < frame->nb_samples) pushSource(frame, skip);
            s.srcPos = index + frame->nb_samples;
            av_frame_unref(frame);
            continue;
        }
        if (r == AVERROR_EOF) {
            if (s.swr) { // the resampler's last samples
                for (int guard = 0; guard < 64; ++guard) {
                    int capacity = std::max(1024, swr_get_out_samples(s.swr, 0));
                    size_t old = s.fifo.size();
                    s.fifo.resize(old + size_t(capacity) * ch);
                    uint8_t* outp = reinterpret_cast<uint8_t*>(s.fifo.data() + old);
                    int got = swr_convert(s.swr, &outp, capacity, nullptr, 0);
                    s.fifo.resize(old + size_t(std::max(0, got)) * ch);
                    if (got <= 0) break;
                }
            }
            s.eof = true;
            break;
        }
        if (r != AVERROR(EAGAIN)) {
            if (++errors > kMaxDecodeErrors) s.eof = true;
            continue;
        }
        if (s.flushing) {
            s.eof = true;
            break;
        }
        bool sent = false;
        for (int retries = 0; !sent && retries < kMaxReadRetries;) {
            int rr = av_read_frame(s.fmt.get(), pkt);
            if (rr == AVERROR(EAGAIN)) {
                ++retries;
                continue;
            }
            if (rr < 0) break;
            if (pkt->stream_index == s.stream) {
                if (avcodec_send_packet(s.codec.get(), pkt) < 0 && ++errors > kMaxDecodeErrors)
                    s.eof = true;
                sent = true;
            }
            av_packet_unref(pkt);
        }
        if (!sent) {
            avcodec_send_packet(s.codec.get(), nullptr);
            s.flushing = true;
        }
    }
    return buffered() > 0;
}

} // namespace zef::movies
