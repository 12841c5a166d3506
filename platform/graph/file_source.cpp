#include "platform/graph/file_source.h"
#include "platform/graph/containers.h"

#include "platform/movies/av_support.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace zef::graph {

namespace av = zef::movies::av;

namespace {

constexpr AVRational kMediaTimeBase{1, int(kUnitsPerSecond)};
// A stream decodes through at most this much rather than seeking its demuxer.
constexpr int64_t kDecodeThrough = 3 * kUnitsPerSecond;
// Seeks that land after the position go back further, by these margins, then to the start.
constexpr int64_t kSeekMargins[] = {0, kUnitsPerSecond, 4 * kUnitsPerSecond, 16 * kUnitsPerSecond};
// Packets read per turn of the streaming loop before it looks at seeks and states again.
constexpr int kPacketsPerTurn = 16;
// The start of a picture that cannot be placed yet.
constexpr int64_t kUnplaced = INT64_MIN;
// Audio blocks whose stamps are this close to where the previous block ended follow it.
constexpr int64_t kAudioJoin = 20'000;
// How long the idle streaming thread sleeps before it looks again (it is woken earlier).
constexpr auto kIdleWait = std::chrono::milliseconds(50);
// The longest a seek waits for the streaming thread to take the position up.
constexpr auto kSeekTakeUp = std::chrono::seconds(2);

bool usableVideo(const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    return p->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && p->width > 0 && p->height > 0 &&
           avcodec_find_decoder(p->codec_id);
}

bool usableAudio(const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    return p->codec_type == AVMEDIA_TYPE_AUDIO && p->sample_rate > 0 &&
           p->ch_layout.nb_channels > 0 && avcodec_find_decoder(p->codec_id);
}

// The media-time origin of a file: its container's start.
int64_t originOf(const AVFormatContext* fmt)
{
    return fmt->start_time != AV_NOPTS_VALUE
               ? av_rescale_q(fmt->start_time, AV_TIME_BASE_Q, kMediaTimeBase)
               : 0;
}

int64_t durationOf(const AVFormatContext* fmt)
{
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kMediaTimeBase);
    int64_t d = 0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->duration != AV_NOPTS_VALUE)
            d = std::max(d, av_rescale_q(st->duration, st->time_base, kMediaTimeBase));
    }
    return d;
}

// Picture length from the stream's average rate (0 when unknown).
int64_t framePeriodOf(const AVStream* st)
{
    AVRational r = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                            : st->r_frame_rate;
    if (r.num <= 0 || r.den <= 0) return 0;
    return av_rescale(kUnitsPerSecond, r.den, r.num);
}

struct Decoded {
    av::FramePtr picture; // video
    std::vector<int16_t> pcm;
    int32_t frames = 0; // audio frames
    int64_t start = 0;
    int64_t stop = -1; // -1: not known yet (the next picture has not been decoded)
};

class SourcePin : public Pin {
public:
    SourcePin(Filter& f, std::string name, MediaType type)
        : Pin(f, std::move(name), PinDirection::output), m_type(std::move(type))
    {
    }
    std::vector<MediaType> mediaTypes() const override { return {m_type}; }
    HResult checkMediaType(const MediaType& t) const override
    {
        return t == m_type ? kOk : kTypeNotAccepted;
    }

private:
    MediaType m_type;
};

} // namespace

struct FileSourceFilter::Impl {
    struct Stream {
        bool video = false;
        int index = -1;
        av::FormatPtr fmt;
        av::CodecPtr codec;
        AVRational timeBase{1, 1};
        int64_t origin = 0;
        int64_t firstStart = 0; // media time of the stream's first sample
        int64_t period = 0;     // picture length, for the last picture's end
        std::unique_ptr<SourcePin> pin;
        SwrContext* swr = nullptr;
        int32_t outChannels = 0;
        int32_t rate = 0;

        // Owned by the streaming thread.
        std::deque<Decoded> ready;
        Decoded last; // the last sample delivered
        bool haveLast = false;
        Decoded lastDropped; // the last picture dropped before the position
        bool haveDropped = false;
        int64_t target = 0;
        bool deliveredSinceSeek = true;
        bool demuxEnded = false;
        bool drained = false; // the decoder has given all it will
        bool endSent = false;
        bool needKey = false;
        int margin = -1; // margin index of the running hard seek, -1 none
        int64_t expectNext = INT64_MIN;
        int64_t decodedUpTo = 0; // end of the last decoded sample

        // Guarded by the filter's lock: a position asked for and not yet taken up.
        bool seekPending = true;
        int64_t pendingTarget = 0;
        // A position taken up and not yet moved to (streaming thread).
        bool deferred = false;
        int64_t deferredTarget = 0;

        ~Stream() { swr_free(&swr); }
    };

    std::string path;
    int64_t duration = 0;
    std::vector<std::unique_ptr<Stream>> streams;

    std::mutex lock;
    std::condition_variable wakeUp;
    std::condition_variable seekTaken;
    FilterState state = FilterState::stopped;
    bool quit = false;
    bool woken = false;
    std::thread thread;
    av::PacketPtr packet = av::makePacket();

    void threadMain();
    bool service(Stream& s, bool ready);
    void applySeek(Stream& s, int64_t target);
    void hardSeek(Stream& s, int marginIndex);
    bool decodeMore(Stream& s);
    void addDecoded(Stream& s, AVFrame* frame);
    bool headDeliverable(const Stream& s) const;
    HResult deliverHead(Stream& s);
    void finishStream(Stream& s);
};

void FileSourceFilter::Impl::threadMain()
{
    std::unique_lock lk(lock);
    while (!quit) {
        if (state == FilterState::stopped) {
            wakeUp.wait(lk, [&] { return quit || state != FilterState::stopped; });
            continue;
        }
        woken = false;
        bool progressed = false;
        for (auto& sp : streams) {
            Stream& s = *sp;
            if (!s.pin->isConnected()) continue;
            if (s.seekPending) {
                // Taken up: nothing from before the position is delivered from now on. The
                // stream moves there when its renderer next wants a sample, so a stream that
                // is not asked for is not moved back and forth by the other's requests.
                s.seekPending = false;
                s.deferred = true;
                s.deferredTarget = s.pendingTarget;
                seekTaken.notify_all();
                progressed = true;
            }
            lk.unlock();
            const bool ready = s.pin->downstreamReady();
            if (s.deferred && ready) {
                s.deferred = false;
                applySeek(s, s.deferredTarget);
            }
            if (!s.deferred) progressed |= service(s, ready);
            lk.lock();
        }
        if (!progressed && !woken && !quit) wakeUp.wait_for(lk, kIdleWait);
    }
}

// Decides how a stream reaches a new position: from what it holds, by decoding on, or by
// seeking its demuxer.
void FileSourceFilter::Impl::applySeek(Stream& s, int64_t t)
{
    s.target = t;
    s.deliveredSinceSeek = false;
    s.endSent = false;
    if (s.haveLast && s.last.start <= t && (s.last.stop < 0 || t < s.last.stop)) {
        // Inside the sample delivered last: it is delivered again.
        s.ready.push_front(std::move(s.last));
        s.haveLast = false;
        return;
    }
    const int64_t next = !s.ready.empty() ? s.ready.front().start : s.decodedUpTo;
    const bool behind = s.haveLast ? t < s.last.start : t < next;
    if (!behind && t - next <= kDecodeThrough && s.margin < 0) return; // decoded on
    s.haveDropped = false;
    hardSeek(s, 0);
}

void FileSourceFilter::Impl::hardSeek(Stream& s, int marginIndex)
{
    constexpr int kMargins = int(std::size(kSeekMargins));
    s.ready.clear();
    s.haveLast = false;
    s.haveDropped = false;
    s.demuxEnded = s.drained = false;
    s.expectNext = INT64_MIN;
    avcodec_flush_buffers(s.codec.get());
    if (marginIndex >= kMargins ||
        s.target - kSeekMargins[std::min(marginIndex, kMargins - 1)] <= s.firstStart) {
        // From the beginning: the first byte where the demuxer allows it (a seek by time can
        // land after the first packets of streams that interleave loosely).
        const AVStream* st = s.fmt->streams[s.index];
        const int64_t first = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        if (av_seek_frame(s.fmt.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0 &&
            avformat_seek_file(s.fmt.get(), s.index, INT64_MIN, first, first, 0) < 0)
            av_seek_frame(s.fmt.get(), s.index, first, AVSEEK_FLAG_BACKWARD);
        s.margin = -1;
    } else {
        const int64_t at = s.target - kSeekMargins[marginIndex] + s.origin;
        const int64_t ts = av_rescale_q(at, kMediaTimeBase, s.timeBase);
        if (avformat_seek_file(s.fmt.get(), s.index, INT64_MIN, ts, ts, 0) < 0)
            av_seek_frame(s.fmt.get(), s.index, ts, AVSEEK_FLAG_BACKWARD);
        s.margin = marginIndex;
    }
    s.needKey = s.video;
    s.decodedUpTo = s.target;
}

void FileSourceFilter::Impl::addDecoded(Stream& s, AVFrame* frame)
{
    const int64_t ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    const bool stamped = ts != AV_NOPTS_VALUE;
    int64_t start = stamped ? av_rescale_q(ts, s.timeBase, kMediaTimeBase) - s.origin : 0;
    if (s.video) {
        if (s.needKey && !frame->key_frame && frame->pict_type != AV_PICTURE_TYPE_I) return;
        s.needKey = false;
        const int64_t period = std::max<int64_t>(1, s.period);
        if (!stamped) {
            // A picture without a stamp follows the one before it; the first ones after a
            // seek (demuxers that land inside a packet lose its stamp) wait for the next
            // stamped picture, which places them by the picture length.
            start = !s.ready.empty() && s.ready.back().start != kUnplaced
                        ? s.ready.back().start + period
                        : kUnplaced;
        } else {
            int64_t t = start;
            for (auto it = s.ready.rbegin(); it != s.ready.rend() && it->start == kUnplaced; ++it)
                it->start = t -= period;
            // A seek that landed after the position goes back further.
            const int64_t first = s.ready.empty() ? start : s.ready.front().start;
            if (s.margin >= 0 && first > s.target && first > s.firstStart) {
                hardSeek(s, s.margin + 1);
                return;
            }
            s.margin = -1;
        }
        if (start != kUnplaced && !s.ready.empty() && s.ready.back().start != kUnplaced &&
            start <= s.ready.back().start)
            return; // out of order: broken
        if (start != kUnplaced && s.haveLast && start <= s.last.start && s.ready.empty()) return;
        Decoded d;
        d.picture = av::makeFrame();
        av_frame_move_ref(d.picture.get(), frame);
        d.start = start;
        const int64_t length = frame->pkt_duration > 0
                                   ? av_rescale_q(frame->pkt_duration, s.timeBase, kMediaTimeBase)
                                   : period;
        if (start != kUnplaced) s.decodedUpTo = start + std::max<int64_t>(1, length);
        s.ready.push_back(std::move(d));
        // Each picture lasts until the next one starts.
        for (size_t i = 0; i + 1 < s.ready.size(); ++i)
            if (s.ready[i + 1].start != kUnplaced) s.ready[i].stop = s.ready[i + 1].start;
        return;
    }
    if (!stamped) {
        if (s.expectNext == INT64_MIN) return; // nothing tells where it belongs
        start = s.expectNext;
    }
    // Sound: blocks that follow on keep their place to the sample.
    if (s.expectNext != INT64_MIN && std::abs(start - s.expectNext) <= kAudioJoin)
        start = s.expectNext;
    if (s.margin >= 0 && start > s.target + kAudioJoin && start > s.firstStart) {
        hardSeek(s, s.margin + 1);
        return;
    }
    s.margin = -1;
    const int outMax = swr_get_out_samples(s.swr, frame->nb_samples);
    if (outMax <= 0) return;
    Decoded d;
    d.pcm.resize(size_t(outMax) * size_t(s.outChannels));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(d.pcm.data())};
    const int n = swr_convert(s.swr, out, outMax, const_cast<const uint8_t**>(frame->extended_data),
                              frame->nb_samples);
    if (n <= 0) return;
    d.pcm.resize(size_t(n) * size_t(s.outChannels));
    d.frames = n;
    d.start = start;
    d.stop = start + av_rescale(n, kUnitsPerSecond, s.rate);
    s.expectNext = d.stop;
    s.decodedUpTo = d.stop;
    s.ready.push_back(std::move(d));
}

// Reads and decodes a little more; false when nothing more can come.
bool FileSourceFilter::Impl::decodeMore(Stream& s)
{
    if (s.drained) return false;
    av::FramePtr frame = av::makeFrame();
    for (int n = 0; n < kPacketsPerTurn; ++n) {
        // What the decoder has ready first.
        int r;
        while ((r = avcodec_receive_frame(s.codec.get(), frame.get())) == 0) {
            addDecoded(s, frame.get());
            av_frame_unref(frame.get());
        }
        if (r == AVERROR_EOF) {
            s.drained = true;
            return false;
        }
        if (!s.ready.empty() && (s.ready.size() >= 2 || !s.video)) return true;
        if (s.demuxEnded) return false;
        r = av_read_frame(s.fmt.get(), packet.get());
        if (r < 0) {
            if (r == AVERROR(EAGAIN)) continue;
            s.demuxEnded = true;
            avcodec_send_packet(s.codec.get(), nullptr); // drains the decoder
            continue;
        }
        if (packet->stream_index == s.index) {
            r = avcodec_send_packet(s.codec.get(), packet.get());
            if (r == AVERROR(EAGAIN)) {
                // The decoder must give frames first; the packet is sent again after that.
                while (avcodec_receive_frame(s.codec.get(), frame.get()) == 0) {
                    addDecoded(s, frame.get());
                    av_frame_unref(frame.get());
                }
                avcodec_send_packet(s.codec.get(), packet.get());
            }
        }
        av_packet_unref(packet.get());
    }
    return true;
}

bool FileSourceFilter::Impl::headDeliverable(const Stream& s) const
{
    if (s.ready.empty() || s.ready.front().start == kUnplaced) return false;
    return !s.video || s.ready.front().stop >= 0 || s.drained;
}

HResult FileSourceFilter::Impl::deliverHead(Stream& s)
{
    Decoded& d = s.ready.front();
    if (d.stop < 0) d.stop = d.start + std::max<int64_t>(1, s.period);
    MediaSample sample;
    sample.start = d.start;
    sample.stop = d.stop;
    sample.discontinuity = !s.deliveredSinceSeek;
    if (s.video) {
        sample.picture = d.picture.get();
    } else {
        sample.data = reinterpret_cast<const uint8_t*>(d.pcm.data());
        sample.size = d.pcm.size() * sizeof(int16_t);
    }
    const HResult r = s.pin->deliver(sample);
    // kFalse: not taken now (the renderer's wait was cut short), kept for the next time. A
    // sample that failed downstream is passed by, so that it cannot hold the stream.
    if (r == kFalse) return r;
    s.last = std::move(d);
    s.haveLast = true;
    s.ready.pop_front();
    s.deliveredSinceSeek = true;
    return kOk;
}

// One turn for a stream: take what ends before the position away, deliver when the renderer
// is ready, keep a little decoded ahead otherwise. True when anything happened.
bool FileSourceFilter::Impl::service(Stream& s, bool downstreamReady)
{
    bool progressed = false;
    for (int turn = 0; turn < 8; ++turn) {
        while (!s.deliveredSinceSeek && headDeliverable(s) && s.ready.front().stop >= 0 &&
               s.ready.front().stop <= s.target) {
            if (s.video) {
                s.lastDropped = std::move(s.ready.front());
                s.haveDropped = true;
            }
            s.ready.pop_front();
            progressed = true;
        }
        if (headDeliverable(s)) {
            if (!downstreamReady) return progressed;
            return deliverHead(s) != kFalse || progressed;
        }
        if (!s.drained) {
            decodeMore(s);
            progressed = true;
            continue;
        }
        // The end. When nothing was shown since the position, the latest picture is: the file
        // shows it from then on.
        if (!s.deliveredSinceSeek && s.video && (s.haveDropped || s.haveLast)) {
            s.ready.push_back(std::move(s.haveDropped ? s.lastDropped : s.last));
            if (s.haveDropped)
                s.haveDropped = false;
            else
                s.haveLast = false;
            s.ready.back().stop = std::max(s.ready.back().stop, s.target + 1);
            continue;
        }
        if (!s.endSent) {
            s.endSent = true;
            s.pin->deliverEndOfStream();
            return true;
        }
        return progressed;
    }
    return progressed;
}

std::shared_ptr<FileSourceFilter> FileSourceFilter::open(const std::string& path,
                                                         std::string* error)
{
    auto fail = [&](const std::string& why) -> std::shared_ptr<FileSourceFilter> {
        if (error) *error = why;
        return nullptr;
    };
    av::FormatPtr probe = av::openFormat(path, error);
    if (!probe) return nullptr;
    if (!isMediaGraphDemuxer(probe->iformat->name))
        return fail(std::string("container not read by the media graph: ") + probe->iformat->name);
    int video = -1, audio = -1;
    for (unsigned i = 0; i < probe->nb_streams; ++i) {
        if (video < 0 && usableVideo(probe->streams[i])) video = int(i);
        if (audio < 0 && usableAudio(probe->streams[i])) audio = int(i);
    }
    if (video < 0 && audio < 0) return fail("no stream that can be decoded");

    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->duration = std::max<int64_t>(0, durationOf(probe.get()));
    const int64_t origin = originOf(probe.get());
    std::shared_ptr<FileSourceFilter> filter(new FileSourceFilter(std::move(impl)));
    Impl& m = *filter->m_impl;
    for (int index : {video, audio}) {
        if (index < 0) continue;
        auto s = std::make_unique<Impl::Stream>();
        s->video = index == video;
        s->index = index;
        // Video decodes with the cores; sound needs one thread.
        if (!av::openStreamDecoder(path, index, s->video ? 0 : 1, s->fmt, s->codec)) continue;
        const AVStream* st = s->fmt->streams[index];
        s->timeBase = st->time_base;
        s->origin = origin;
        s->firstStart = st->start_time != AV_NOPTS_VALUE
                            ? av_rescale_q(st->start_time, st->time_base, kMediaTimeBase) - origin
                            : 0;
        s->period = framePeriodOf(st);
        s->decodedUpTo = 0;
        if (s->video) {
            const int pf =
                s->codec->pix_fmt != AV_PIX_FMT_NONE ? s->codec->pix_fmt : AV_PIX_FMT_YUV420P;
            s->pin = std::make_unique<SourcePin>(
                *filter, "Video",
                yuvVideoType(pf, st->codecpar->width, st->codecpar->height, s->period));
        } else {
            const int inChannels = s->codec->ch_layout.nb_channels;
            s->outChannels = inChannels >= 2 ? 2 : 1;
            s->rate = s->codec->sample_rate;
            AVChannelLayout outLayout;
            av_channel_layout_default(&outLayout, s->outChannels);
            AVChannelLayout inLayout;
            if (s->codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&inLayout, inChannels);
            else
                av_channel_layout_copy(&inLayout, &s->codec->ch_layout);
            if (swr_alloc_set_opts2(&s->swr, &outLayout, AV_SAMPLE_FMT_S16, s->rate, &inLayout,
                                    s->codec->sample_fmt, s->rate, 0, nullptr) < 0 ||
                swr_init(s->swr) < 0) {
                av_channel_layout_uninit(&inLayout);
                continue;
            }
            av_channel_layout_uninit(&inLayout);
            s->pin = std::make_unique<SourcePin>(
                *filter, "Audio", pcmAudioType(uint16_t(s->outChannels), uint32_t(s->rate)));
        }
        m.streams.push_back(std::move(s));
    }
    if (m.streams.empty()) return fail("no stream that can be decoded");
    m.thread = std::thread([&m] { m.threadMain(); });
    return filter;
}

FileSourceFilter::FileSourceFilter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

FileSourceFilter::~FileSourceFilter()
{
    {
        std::lock_guard lk(m_impl->lock);
        m_impl->quit = true;
    }
    m_impl->wakeUp.notify_all();
    if (m_impl->thread.joinable()) m_impl->thread.join();
}

std::vector<Pin*> FileSourceFilter::pins()
{
    std::vector<Pin*> out;
    for (auto& s : m_impl->streams)
        out.push_back(s->pin.get());
    return out;
}

void* FileSourceFilter::queryInterface(const Guid& iid)
{
    return iid == kIIDFileSource ? static_cast<FileSource*>(this) : nullptr;
}

static HResult setSourceState(FileSourceFilter::Impl& m, FilterState state)
{
    {
        std::lock_guard lk(m.lock);
        m.state = state;
        m.woken = true;
    }
    m.wakeUp.notify_all();
    return kOk;
}

HResult FileSourceFilter::pause()
{
    m_state = FilterState::paused;
    return setSourceState(*m_impl, m_state);
}

HResult FileSourceFilter::run(int64_t)
{
    m_state = FilterState::running;
    return setSourceState(*m_impl, m_state);
}

HResult FileSourceFilter::stop()
{
    m_state = FilterState::stopped;
    return setSourceState(*m_impl, m_state);
}

void FileSourceFilter::wake()
{
    {
        std::lock_guard lk(m_impl->lock);
        m_impl->woken = true;
    }
    m_impl->wakeUp.notify_all();
}

int64_t FileSourceFilter::duration() const { return m_impl->duration; }

void FileSourceFilter::seek(int64_t position)
{
    Impl& m = *m_impl;
    std::unique_lock lk(m.lock);
    for (auto& s : m.streams) {
        s->seekPending = true;
        s->pendingTarget = position;
    }
    m.woken = true;
    m.wakeUp.notify_all();
    // The streaming thread takes the position up at its next turn (a turn is short); nothing
    // it delivers after that is from before the position. Stopped, it takes it up on starting.
    if (m.state == FilterState::stopped) return;
    m.seekTaken.wait_for(lk, kSeekTakeUp, [&] {
        return std::none_of(m.streams.begin(), m.streams.end(),
                            [](const auto& s) { return s->seekPending; });
    });
}

const std::string& FileSourceFilter::path() const { return m_impl->path; }

bool videoFrameStarts(const std::string& path, int64_t from, int64_t to,
                      std::vector<int64_t>& starts)
{
    starts.clear();
    av::FormatPtr fmt = av::openFormat(path, nullptr);
    if (!fmt || !isMediaGraphDemuxer(fmt->iformat->name)) return false;
    int index = -1;
    for (unsigned i = 0; i < fmt->nb_streams && index < 0; ++i)
        if (usableVideo(fmt->streams[i])) index = int(i);
    if (index < 0) return false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVStream* st = fmt->streams[index];
    const int64_t origin = originOf(fmt.get());
    av::PacketPtr packet = av::makePacket();
    constexpr int64_t kMaxPackets = 20'000'000;

    for (int64_t margin : {kUnitsPerSecond, 8 * kUnitsPerSecond, INT64_MAX}) {
        std::vector<int64_t> stamps;
        if (margin == INT64_MAX || from - margin <= 0) {
            av_seek_frame(fmt.get(), index, st->start_time != AV_NOPTS_VALUE ? st->start_time : 0,
                          AVSEEK_FLAG_BACKWARD);
            margin = INT64_MAX;
        } else {
            const int64_t ts = av_rescale_q(from - margin + origin, kMediaTimeBase, st->time_base);
            avformat_seek_file(fmt.get(), index, INT64_MIN, ts, ts, 0);
        }
        for (int64_t n = 0; n < kMaxPackets; ++n) {
            const int r = av_read_frame(fmt.get(), packet.get());
            if (r == AVERROR(EAGAIN)) continue;
            if (r < 0) break;
            if (packet->stream_index != index) {
                av_packet_unref(packet.get());
                continue;
            }
            if (packet->pts == AV_NOPTS_VALUE) return false;
            const int64_t pts = av_rescale_q(packet->pts, st->time_base, kMediaTimeBase) - origin;
            const int64_t dts =
                packet->dts != AV_NOPTS_VALUE
                    ? av_rescale_q(packet->dts, st->time_base, kMediaTimeBase) - origin
                    : pts - kUnitsPerSecond;
            av_packet_unref(packet.get());
            stamps.push_back(pts);
            // Decoding order: once a packet is decoded after `to`, every later one shows after.
            if (dts > to) break;
        }
        std::sort(stamps.begin(), stamps.end());
        stamps.erase(std::unique(stamps.begin(), stamps.end()), stamps.end());
        // The seek must land before the picture shown at `from`.
        if (margin != INT64_MAX && (stamps.empty() || stamps.front() > from)) continue;
        auto firstAfter = std::upper_bound(stamps.begin(), stamps.end(), from);
        starts.push_back(firstAfter == stamps.begin() ? from : *(firstAfter - 1));
        for (auto it = firstAfter; it != stamps.end() && *it < to; ++it)
            starts.push_back(*it);
        return true;
    }
    return false;
}

} // namespace zef::graph
