#include "platform/avcapture/capture_session.h"

#include "platform/avcapture/test_pattern.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <thread>

namespace zef::avcapture {

namespace {

using Clock = std::chrono::steady_clock;

std::string averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Pictures waiting for the encoder; one more finds the queue full and is dropped.
constexpr size_t kQueuedPictures = 12;
// What a file keeps free for its end (index, trailer) besides 40 bytes per packet.
constexpr int64_t kEndReserve = 512 * 1024;

struct Queued {
    bool video = false;
    Picture picture;
    std::vector<int16_t> samples; // interleaved stereo at kToneRate
    int64_t timeUs = 0;
};

struct Output {
    AVFormatContext* format = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    std::string path;
    int64_t packets = 0;
};

} // namespace

const char* endReasonText(EndReason reason)
{
    switch (reason) {
    case EndReason::None:
        return "running";
    case EndReason::Stopped:
        return "stopped";
    case EndReason::TimeLimit:
        return "the capture time was reached";
    case EndReason::DiskFull:
        return "the disk is full";
    case EndReason::DeviceLost:
        return "the capture device stopped delivering";
    case EndReason::WriteError:
        return "the file could not be written";
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// The recorder.

class Recorder {
public:
    Recorder(const RecordOptions& options, int width, int height, double deviceRate, bool video,
             bool audio, int64_t startUs);
    ~Recorder();

    void pushPicture(const Picture& p);
    void pushSamples(std::vector<int16_t> samples, int64_t timeUs);
    // Ends the writer thread and closes the files.
    void finish(EndReason reason);
    // Ends the recording from another thread; finish closes it.
    void abandon(EndReason reason) { end(reason); }
    bool ended() const { return m_end.load() != EndReason::None; }
    EndReason reason() const { return m_end.load(); }
    Statistics statistics() const;
    void setPaused(bool paused, int64_t nowUs);
    bool paused() const { return m_pausedSince >= 0; }
    bool previewWanted() const { return m_options.previewDuringCapture; }

private:
    void openOutputs();
    void openVideoEncoder();
    void openAudioEncoder();
    void run();
    void writeVideo(Picture& p);
    void writeAudio(std::vector<int16_t>& s, int64_t timeUs);
    bool writePacket(Output& out, AVStream* stream, AVPacket* packet, AVRational from);
    void encodeVideo(AVFrame* frame);
    void encodeAudio(AVFrame* frame);
    void end(EndReason reason);
    Output& videoOutput() { return m_outputs[0]; }
    Output& audioOutput() { return m_outputs.size() > 1 ? m_outputs[1] : m_outputs[0]; }
    int64_t budget(const Output& out) const;

    RecordOptions m_options;
    int m_srcWidth, m_srcHeight;
    bool m_video, m_audio;
    int64_t m_startUs;
    std::atomic<int64_t> m_pausedUs{0};
    int64_t m_pausedSince = -1;
    AVRational m_rate{30, 1};
    int m_width = 0, m_height = 0;
    AVPixelFormat m_pixfmt = AV_PIX_FMT_YUVJ420P;

    std::vector<Output> m_outputs;
    AVCodecContext* m_venc = nullptr;
    AVCodecContext* m_aenc = nullptr;
    SwsContext* m_sws = nullptr;
    AVFrame* m_vframe = nullptr;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Queued> m_queue;
    size_t m_queuedPictures = 0;
    bool m_quit = false;
    std::thread m_thread;
    std::atomic<EndReason> m_end{EndReason::None};
    std::atomic<bool> m_blocked{false}; // the disk is full or a write failed: nothing more
    std::mutex m_finishMutex;
    bool m_closed = false;

    // Figures (written by the writer thread).
    int64_t m_lastPts = -1;
    std::atomic<int64_t> m_frames{0}, m_dropped{0}, m_bytes{0}, m_videoUs{0}, m_audioUs{0};
    std::atomic<int64_t> m_budget{-1};
    int64_t m_samplesWritten = 0;
    bool m_audioStarted = false;
    // With pictures, the file's time 0 is the first picture's: sound waits for it.
    bool m_videoStarted = false;
    std::vector<std::pair<std::vector<int16_t>, int64_t>> m_pendingAudio;
};

Recorder::Recorder(const RecordOptions& options, int width, int height, double deviceRate,
                   bool video, bool audio, int64_t startUs)
    : m_options(options), m_srcWidth(width), m_srcHeight(height),
      m_video(video && !options.videoFile.empty()), m_audio(audio && !options.audioFile.empty()),
      m_startUs(startUs)
{
    if (!m_video && !m_audio) throw std::runtime_error("nothing to record");
    const double rate = options.frameRate > 0 ? options.frameRate : deviceRate;
    if (options.coding == VideoCoding::DV) {
        const bool pal = std::abs(rate - 25.0) < 0.01;
        m_rate = pal ? AVRational{25, 1} : AVRational{30000, 1001};
        m_width = 720;
        m_height = pal ? 576 : 480;
        m_pixfmt = pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
    } else {
        m_rate = std::abs(rate - 29.97) < 0.001 ? AVRational{30000, 1001} : av_d2q(rate, 100000);
        m_width = width & ~1;
        m_height = height & ~1;
        m_pixfmt = AV_PIX_FMT_YUVJ420P;
    }
    // A file size limit must end the recording through the budget, not kill the program.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        if (m_video) openVideoEncoder();
        if (m_audio) openAudioEncoder();
        openOutputs();
    } catch (...) {
        m_closed = true;
        for (Output& out : m_outputs) {
            if (out.format && out.format->pb) {
                avio_closep(&out.format->pb);
                std::filesystem::remove(out.path);
            }
            avformat_free_context(out.format);
        }
        avcodec_free_context(&m_venc);
        avcodec_free_context(&m_aenc);
        throw;
    }
    m_thread = std::thread([this] { run(); });
}

Recorder::~Recorder() { finish(EndReason::Stopped); }

void Recorder::openVideoEncoder()
{
    const AVCodec* codec = avcodec_find_encoder(
        m_options.coding == VideoCoding::DV ? AV_CODEC_ID_DVVIDEO : AV_CODEC_ID_MJPEG);
    if (!codec) throw std::runtime_error("the video encoder is missing");
    m_venc = avcodec_alloc_context3(codec);
    m_venc->width = m_width;
    m_venc->height = m_height;
    m_venc->pix_fmt = m_pixfmt;
    m_venc->time_base = av_inv_q(m_rate);
    m_venc->framerate = m_rate;
    m_venc->sample_aspect_ratio = {1, 1};
    if (m_options.coding == VideoCoding::MotionJpeg) {
        m_venc->flags |= AV_CODEC_FLAG_QSCALE;
        m_venc->global_quality = FF_QP2LAMBDA * 4;
        m_venc->color_range = AVCOL_RANGE_JPEG;
    }
    if (m_options.container == "mov") m_venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int r = avcodec_open2(m_venc, codec, nullptr); r < 0)
        throw std::runtime_error("the video encoder cannot be opened: " + averror(r));
    m_vframe = av_frame_alloc();
    m_vframe->format = m_pixfmt;
    m_vframe->width = m_width;
    m_vframe->height = m_height;
    av_frame_get_buffer(m_vframe, 0);
}

void Recorder::openAudioEncoder()
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (!codec) throw std::runtime_error("the sound encoder is missing");
    m_aenc = avcodec_alloc_context3(codec);
    m_aenc->sample_rate = kToneRate;
    m_aenc->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&m_aenc->ch_layout, kToneChannels);
    m_aenc->time_base = {1, kToneRate};
    if (int r = avcodec_open2(m_aenc, codec, nullptr); r < 0)
        throw std::runtime_error("the sound encoder cannot be opened: " + averror(r));
}

void Recorder::openOutputs()
{
    const bool split = m_video && m_audio && m_options.videoFile != m_options.audioFile;
    std::vector<std::string> paths;
    if (m_video) paths.push_back(m_options.videoFile);
    if (m_audio && (split || !m_video)) paths.push_back(m_options.audioFile);
    for (size_t i = 0; i < paths.size(); ++i) {
        Output out;
        out.path = paths[i];
        if (int r = avformat_alloc_output_context2(&out.format, nullptr,
                                                   m_options.container.c_str(), out.path.c_str());
            r < 0)
            throw std::runtime_error("no muxer " + m_options.container);
        m_outputs.push_back(out);
        Output& o = m_outputs.back();
        const bool withVideo = m_video && i == 0;
        const bool withAudio = m_audio && (!withVideo || !split);
        if (withVideo) {
            o.video = avformat_new_stream(o.format, nullptr);
            avcodec_parameters_from_context(o.video->codecpar, m_venc);
            o.video->time_base = m_venc->time_base;
            o.video->avg_frame_rate = m_rate;
        }
        if (withAudio) {
            o.audio = avformat_new_stream(o.format, nullptr);
            avcodec_parameters_from_context(o.audio->codecpar, m_aenc);
            o.audio->time_base = {1, kToneRate};
        }
        if (int r = avio_open(&o.format->pb, o.path.c_str(), AVIO_FLAG_WRITE); r < 0)
            throw std::runtime_error("cannot create " + o.path + ": " + averror(r));
        AVDictionary* opts = nullptr;
        if (m_options.container == "mov") {
            // Fragments of about a second: what was written stays playable without the end.
            av_dict_set(&opts, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
            av_dict_set(&opts, "min_frag_duration", "1000000", 0);
        }
        const int r = avformat_write_header(o.format, &opts);
        av_dict_free(&opts);
        if (r < 0) throw std::runtime_error("cannot write " + o.path + ": " + averror(r));
    }
}

int64_t Recorder::budget(const Output& out) const
{
    int64_t room = INT64_MAX;
    struct statvfs fs {};
    const std::string dir = std::filesystem::path(out.path).parent_path().string();
    if (::statvfs(dir.empty() ? "." : dir.c_str(), &fs) == 0)
        room = int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room = std::min<int64_t>(room, int64_t(limit.rlim_cur) - avio_tell(out.format->pb));
    return room - kEndReserve - out.packets * 40;
}

void Recorder::pushPicture(const Picture& p)
{
    std::lock_guard lock(m_mutex);
    if (m_quit || !m_video || m_pausedSince >= 0) return;
    if (m_queuedPictures >= kQueuedPictures) return; // dropped: the time gap counts it
    ++m_queuedPictures;
    Queued q;
    q.video = true;
    q.picture = p;
    q.timeUs = p.timeUs;
    m_queue.push_back(std::move(q));
    m_wake.notify_one();
}

void Recorder::pushSamples(std::vector<int16_t> samples, int64_t timeUs)
{
    std::lock_guard lock(m_mutex);
    if (m_quit || !m_audio || m_pausedSince >= 0) return;
    Queued q;
    q.samples = std::move(samples);
    q.timeUs = timeUs;
    m_queue.push_back(std::move(q));
    m_wake.notify_one();
}

void Recorder::setPaused(bool paused, int64_t nowUs)
{
    std::lock_guard lock(m_mutex);
    if (paused && m_pausedSince < 0) {
        m_pausedSince = nowUs;
    } else if (!paused && m_pausedSince >= 0) {
        m_pausedUs += nowUs - m_pausedSince;
        m_pausedSince = -1;
    }
}

void Recorder::end(EndReason reason)
{
    EndReason none = EndReason::None;
    m_end.compare_exchange_strong(none, reason);
    std::lock_guard lock(m_mutex);
    m_quit = true;
    m_wake.notify_all();
}

void Recorder::run()
{
    for (;;) {
        Queued q;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || !m_queue.empty(); });
            // A stop writes what had arrived; the other ends leave it.
            if (m_quit && (m_end.load() != EndReason::Stopped || m_queue.empty())) break;
            q = std::move(m_queue.front());
            m_queue.pop_front();
            if (q.video) --m_queuedPictures;
        }
        if (q.video)
            writeVideo(q.picture);
        else
            writeAudio(q.samples, q.timeUs);
    }
}

bool Recorder::writePacket(Output& out, AVStream* stream, AVPacket* packet, AVRational from)
{
    if (m_blocked) return false;
    const int64_t room = budget(out);
    m_budget = room;
    if (room < packet->size) {
        m_blocked = true;
        end(EndReason::DiskFull);
        return false;
    }
    av_packet_rescale_ts(packet, from, stream->time_base);
    packet->stream_index = stream->index;
    m_bytes += packet->size;
    ++out.packets;
    if (av_interleaved_write_frame(out.format, packet) < 0 || out.format->pb->error < 0) {
        m_blocked = true;
        end(EndReason::WriteError);
        return false;
    }
    return true;
}

void Recorder::encodeVideo(AVFrame* frame)
{
    if (avcodec_send_frame(m_venc, frame) < 0) return;
    AVPacket* packet = av_packet_alloc();
    while (avcodec_receive_packet(m_venc, packet) == 0) {
        const bool ok = writePacket(videoOutput(), videoOutput().video, packet, m_venc->time_base);
        av_packet_unref(packet);
        if (!ok) break;
    }
    av_packet_free(&packet);
}

void Recorder::encodeAudio(AVFrame* frame)
{
    if (avcodec_send_frame(m_aenc, frame) < 0) return;
    AVPacket* packet = av_packet_alloc();
    while (avcodec_receive_packet(m_aenc, packet) == 0) {
        const bool ok = writePacket(audioOutput(), audioOutput().audio, packet, m_aenc->time_base);
        av_packet_unref(packet);
        if (!ok) break;
    }
    av_packet_free(&packet);
}

void Recorder::writeVideo(Picture& p)
{
    if (p.bgra.empty() || p.timeUs < m_startUs) return;
    if (!m_videoStarted) {
        // The first picture starts the file exactly, so no picture is rounded to its frame.
        m_videoStarted = true;
        m_startUs = p.timeUs - m_pausedUs;
        for (auto& [samples, time] : m_pendingAudio)
            writeAudio(samples, time);
        m_pendingAudio.clear();
    }
    const int64_t t = p.timeUs - m_startUs - m_pausedUs;
    if (m_options.maxMicros >= 0 && t >= m_options.maxMicros) {
        end(EndReason::TimeLimit);
        return;
    }
    const int64_t pts = av_rescale_q(t, {1, 1000000}, m_venc->time_base);
    if (pts <= m_lastPts) return; // more pictures than the file's rate asks for
    // A picture that did not come (dropped here or by the device) leaves a gap.
    if (m_lastPts >= 0) m_dropped += pts - m_lastPts - 1;
    m_lastPts = pts;
    m_sws = sws_getCachedContext(m_sws, p.width, p.height, AV_PIX_FMT_BGRA, m_width, m_height,
                                 m_pixfmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws || av_frame_make_writable(m_vframe) < 0) return;
    const uint8_t* src[1] = {p.bgra.data()};
    const int srcStride[1] = {p.width * 4};
    sws_scale(m_sws, src, srcStride, 0, p.height, m_vframe->data, m_vframe->linesize);
    m_vframe->pts = pts;
    encodeVideo(m_vframe);
    if (!m_blocked) {
        ++m_frames;
        m_videoUs = av_rescale_q(pts + 1, m_venc->time_base, {1, 1000000});
    }
}

void Recorder::writeAudio(std::vector<int16_t>& s, int64_t timeUs)
{
    if (m_video && !m_videoStarted) {
        // Sound waits for the first picture, which starts the file; at most a second of it
        // (what came earlier lies before the file's start anyway).
        m_pendingAudio.emplace_back(std::move(s), timeUs);
        while (m_pendingAudio.size() > 1 && timeUs - m_pendingAudio.front().second > 1'000'000)
            m_pendingAudio.erase(m_pendingAudio.begin());
        return;
    }
    int64_t count = int64_t(s.size()) / kToneChannels;
    int64_t skip = 0, pad = 0;
    const int64_t start = av_rescale(timeUs - m_startUs - m_pausedUs, kToneRate, 1000000);
    if (!m_audioStarted) {
        if (start + count <= 0) return;
        m_audioStarted = true;
        if (start < 0)
            skip = -start;
        else
            pad = start;
    } else if (start - m_samplesWritten > kToneRate / 10) {
        pad = start - m_samplesWritten; // the device left a gap: silence keeps the times
    }
    int64_t total = pad + count - skip;
    bool limitReached = false;
    if (m_options.maxMicros >= 0) {
        const int64_t limit = av_rescale(m_options.maxMicros, kToneRate, 1000000);
        if (m_samplesWritten + total >= limit) {
            total = std::max<int64_t>(0, limit - m_samplesWritten);
            limitReached = true;
        }
    }
    if (total <= 0) {
        if (limitReached) end(EndReason::TimeLimit);
        return;
    }
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = kToneRate;
    av_channel_layout_default(&frame->ch_layout, kToneChannels);
    frame->nb_samples = int(total);
    av_frame_get_buffer(frame, 0);
    auto* out = reinterpret_cast<int16_t*>(frame->data[0]);
    const int64_t padded = std::min(pad, total);
    std::fill(out, out + padded * kToneChannels, int16_t(0));
    std::copy(s.begin() + skip * kToneChannels, s.begin() + (skip + total - padded) * kToneChannels,
              out + padded * kToneChannels);
    frame->pts = m_samplesWritten;
    encodeAudio(frame);
    av_frame_free(&frame);
    if (!m_blocked) {
        m_samplesWritten += total;
        m_audioUs = av_rescale(m_samplesWritten, 1000000, kToneRate);
    }
    if (limitReached) end(EndReason::TimeLimit);
}

void Recorder::finish(EndReason reason)
{
    std::lock_guard finishing(m_finishMutex);
    end(reason);
    if (m_thread.joinable()) m_thread.join();
    if (m_closed) return;
    m_closed = true;
    // The encoders' last packets, then the files' ends (also after an error: what was written
    // stays a movie as far as it goes).
    if (m_venc) encodeVideo(nullptr);
    if (m_aenc) encodeAudio(nullptr);
    for (Output& out : m_outputs) {
        av_write_trailer(out.format);
        avio_closep(&out.format->pb);
        avformat_free_context(out.format);
        out.format = nullptr;
    }
    avcodec_free_context(&m_venc);
    avcodec_free_context(&m_aenc);
    av_frame_free(&m_vframe);
    sws_freeContext(m_sws);
    m_sws = nullptr;
}

Statistics Recorder::statistics() const
{
    Statistics s;
    s.capturedFrames = m_frames;
    s.droppedFrames = m_dropped;
    s.bytesWritten = m_bytes;
    s.capturedMs = std::max(m_videoUs.load(), m_audioUs.load()) / 1000;
    if (s.capturedMs > 0) {
        s.frameRate = double(s.capturedFrames) * 1000.0 / double(s.capturedMs);
        s.dataRate = double(s.bytesWritten) * 1000.0 / double(s.capturedMs);
    }
    const int64_t room = m_budget;
    if (room >= 0 && s.dataRate > 0) s.diskSecondsRemaining = int64_t(double(room) / s.dataRate);
    return s;
}

// ---------------------------------------------------------------------------------------------
// The session and its sources.

struct CaptureSession::Impl {
    Clock::time_point origin = Clock::now();
    std::atomic<bool> quit{false};
    std::vector<std::thread> threads;
    bool video = false, audio = false;
    int width = 0, height = 0;
    double rate = 30;

    mutable std::mutex pictureMutex;
    Picture newest;
    uint64_t sequence = 0;

    mutable std::mutex recorderMutex;
    std::shared_ptr<Recorder> recorder;
    std::atomic<bool> deviceLost{false};
    Statistics lastStats;

    int64_t nowUs() const
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin).count();
    }
    std::shared_ptr<Recorder> currentRecorder() const
    {
        std::lock_guard lock(recorderMutex);
        return recorder;
    }
    void deliverPicture(Picture&& p)
    {
        std::shared_ptr<Recorder> r = currentRecorder();
        if (r && !r->ended() && p.record) r->pushPicture(p);
        if (r && !r->ended() && !r->previewWanted()) return;
        std::lock_guard lock(pictureMutex);
        newest = std::move(p);
        ++sequence;
    }
    void deliverSamples(std::vector<int16_t>&& s, int64_t timeUs)
    {
        if (std::shared_ptr<Recorder> r = currentRecorder(); r && !r->ended())
            r->pushSamples(std::move(s), timeUs);
    }
    void lost()
    {
        deviceLost = true;
        // The recording ends with what it has; its owner closes it.
        if (std::shared_ptr<Recorder> r = currentRecorder()) r->abandon(EndReason::DeviceLost);
    }
    void sleepUntilUs(int64_t us)
    {
        const auto due = origin + std::chrono::microseconds(us);
        while (!quit && Clock::now() < due)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
    }

    void startPattern();
    void startTone();
    void startExternal(const std::shared_ptr<ExternalSource>& source, bool withVideo,
                       bool withAudio);
    std::vector<std::shared_ptr<ExternalSource>> externals; // started, to stop
    void startDevice(const DeviceRef& ref, bool isVideo);
};

void CaptureSession::Impl::startPattern()
{
    video = true;
    width = kPatternWidth;
    height = kPatternHeight;
    threads.emplace_back([this] {
        int64_t n = 0;
        while (!quit) {
            const int64_t due = int64_t(std::llround(double(n) * 1e6 / rate));
            sleepUntilUs(due);
            if (quit) break;
            // A camera that fell behind skips the pictures it could not take.
            const int64_t late = int64_t(double(nowUs()) * rate / 1e6);
            if (late > n + 1) {
                n = late;
                continue;
            }
            Picture p;
            p.width = width;
            p.height = height;
            p.bgra.resize(size_t(width) * height * 4);
            drawPattern(p.bgra.data(), width, height, n);
            p.timeUs = due;
            deliverPicture(std::move(p));
            ++n;
        }
    });
}

void CaptureSession::Impl::startTone()
{
    audio = true;
    threads.emplace_back([this] {
        constexpr int kChunk = kToneRate / 100; // 10 ms
        int64_t k = 0;
        while (!quit) {
            // A chunk is delivered once all of it has been "heard".
            sleepUntilUs((k + 1) * 10000);
            if (quit) break;
            std::vector<int16_t> s(size_t(kChunk) * kToneChannels);
            fillTone(s.data(), k * kChunk, kChunk);
            deliverSamples(std::move(s), k * 10000);
            ++k;
        }
    });
}

void CaptureSession::Impl::startExternal(const std::shared_ptr<ExternalSource>& source,
                                         bool withVideo, bool withAudio)
{
    if (!source) throw std::runtime_error("no source");
    if (withVideo) {
        video = true;
        width = source->width();
        height = source->height();
        rate = source->frameRate();
    }
    audio = audio || (withAudio && source->hasSound());
    externals.push_back(source);
    // A source that numbers its pictures (a tape's frame numbers) is stamped by the numbers
    // from an anchor, so the jitter of its thread neither doubles nor skips a picture in the
    // file; a jump (a wind, a stop) or a drift of more than a few frames sets a new anchor.
    // Unnumbered pictures keep to the frame cadence while they arrive within half a period.
    const double rate = source->frameRate() > 0 ? source->frameRate() : 25.0;
    const int64_t period = int64_t(1e6 / rate);
    struct Anchor {
        int64_t time = -1, frame = -1, previous = -1;
    };
    auto anchor = std::make_shared<Anchor>();
    source->start(
        [this, withVideo, withAudio, rate, period, anchor](Picture&& p, std::vector<int16_t>&& s) {
            if (quit) return;
            int64_t now = nowUs();
            Anchor& a = *anchor;
            if (p.sourceFrame >= 0 && a.frame >= 0 && p.sourceFrame > a.frame) {
                const int64_t t =
                    a.time + int64_t(std::llround(double(p.sourceFrame - a.frame) * 1e6 / rate));
                if (std::llabs(t - now) <= 4 * period)
                    now = t;
                else
                    a.frame = -1;
            } else if (p.sourceFrame < 0 && a.previous >= 0 &&
                       std::llabs(now - (a.previous + period)) < period / 2) {
                now = a.previous + period;
            } else {
                a.frame = -1;
            }
            if (p.sourceFrame >= 0 && a.frame < 0) {
                a.frame = p.sourceFrame;
                a.time = now;
            }
            a.previous = now;
            const bool record = p.record;
            p.timeUs = now;
            if (withVideo && !p.bgra.empty()) deliverPicture(std::move(p));
            if (withAudio && record && !s.empty()) deliverSamples(std::move(s), now);
        });
}

namespace {

int interruptCallback(void* opaque)
{
    auto* deadline = static_cast<std::pair<std::atomic<bool>*, Clock::time_point>*>(opaque);
    return *deadline->first || Clock::now() > deadline->second;
}

} // namespace

void CaptureSession::Impl::startDevice(const DeviceRef& ref, bool isVideo)
{
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
    const char* name = ref.kind == DeviceKind::V4L2   ? "video4linux2"
                       : ref.kind == DeviceKind::Alsa ? "alsa"
                                                      : "pulse";
    const AVInputFormat* input = av_find_input_format(name);
    if (!input) throw std::runtime_error(std::string("no device backend ") + name);
    auto deadline = std::make_shared<std::pair<std::atomic<bool>*, Clock::time_point>>(
        &quit, Clock::now() + std::chrono::seconds(5));
    AVFormatContext* fmt = avformat_alloc_context();
    fmt->interrupt_callback = {interruptCallback, deadline.get()};
    AVDictionary* opts = nullptr;
    if (isVideo && rate > 0) av_dict_set(&opts, "framerate", std::to_string(rate).c_str(), 0);
    if (!isVideo) av_dict_set(&opts, "sample_rate", std::to_string(kToneRate).c_str(), 0);
    int r = avformat_open_input(&fmt, ref.id.c_str(), input, &opts);
    av_dict_free(&opts);
    if (r < 0) throw std::runtime_error("cannot open " + ref.id + ": " + averror(r));
    avformat_find_stream_info(fmt, nullptr);
    const int index = av_find_best_stream(fmt, isVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO,
                                          -1, -1, nullptr, 0);
    const AVCodec* codec =
        index >= 0 ? avcodec_find_decoder(fmt->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext* dec = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!dec || avcodec_parameters_to_context(dec, fmt->streams[index]->codecpar) < 0 ||
        avcodec_open2(dec, codec, nullptr) < 0) {
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
        throw std::runtime_error("cannot decode " + ref.id);
    }
    if (isVideo) {
        video = true;
        width = dec->width;
        height = dec->height;
    } else {
        audio = true;
    }
    threads.emplace_back([this, fmt, dec, isVideo, deadline]() mutable {
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        SwsContext* sws = nullptr;
        SwrContext* swr = nullptr;
        while (!quit) {
            deadline->second = Clock::now() + std::chrono::seconds(5);
            const int r = av_read_frame(fmt, packet);
            if (r == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (r < 0) {
                if (!quit) lost();
                break;
            }
            const int64_t arrived = nowUs();
            if (avcodec_send_packet(dec, packet) >= 0) {
                while (avcodec_receive_frame(dec, frame) == 0) {
                    if (isVideo) {
                        Picture p;
                        p.width = frame->width;
                        p.height = frame->height;
                        p.bgra.resize(size_t(p.width) * p.height * 4);
                        sws = sws_getCachedContext(
                            sws, frame->width, frame->height, AVPixelFormat(frame->format), p.width,
                            p.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
                        uint8_t* dst[1] = {p.bgra.data()};
                        const int stride[1] = {p.width * 4};
                        if (sws)
                            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst,
                                      stride);
                        p.timeUs = arrived;
                        deliverPicture(std::move(p));
                    } else {
                        AVChannelLayout stereo;
                        av_channel_layout_default(&stereo, kToneChannels);
                        if (!swr)
                            swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, kToneRate,
                                                &frame->ch_layout, AVSampleFormat(frame->format),
                                                frame->sample_rate, 0, nullptr);
                        if (!swr || (!swr_is_initialized(swr) && swr_init(swr) < 0)) continue;
                        const int most = swr_get_out_samples(swr, frame->nb_samples);
                        std::vector<int16_t> s(size_t(std::max(0, most)) * kToneChannels);
                        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(s.data())};
                        const int got =
                            swr_convert(swr, out, most, const_cast<const uint8_t**>(frame->data),
                                        frame->nb_samples);
                        if (got <= 0) continue;
                        s.resize(size_t(got) * kToneChannels);
                        deliverSamples(std::move(s), arrived - int64_t(got) * 1000000 / kToneRate);
                    }
                }
            }
            av_packet_unref(packet);
        }
        sws_freeContext(sws);
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    });
}

CaptureSession::CaptureSession(std::optional<DeviceRef> video, std::optional<DeviceRef> audio,
                               double deviceRate)
    : m_impl(std::make_unique<Impl>())
{
    if (!video && !audio) throw std::runtime_error("no capture device");
    m_impl->rate = deviceRate > 0 ? deviceRate : 30.0;
    try {
        // One external source gives both picture and sound when both name it.
        const bool shared = video && audio && video->kind == DeviceKind::External &&
                            audio->kind == DeviceKind::External && video->source == audio->source;
        if (video) {
            if (video->kind == DeviceKind::TestPattern)
                m_impl->startPattern();
            else if (video->kind == DeviceKind::External)
                m_impl->startExternal(video->source, true, shared);
            else
                m_impl->startDevice(*video, true);
        }
        if (audio && !shared) {
            if (audio->kind == DeviceKind::TestTone)
                m_impl->startTone();
            else if (audio->kind == DeviceKind::External)
                m_impl->startExternal(audio->source, false, true);
            else
                m_impl->startDevice(*audio, false);
        }
    } catch (...) {
        for (auto& source : m_impl->externals)
            source->stop();
        m_impl->quit = true;
        for (std::thread& t : m_impl->threads)
            t.join();
        throw;
    }
}

CaptureSession::~CaptureSession()
{
    stopRecording();
    for (auto& source : m_impl->externals)
        source->stop();
    m_impl->quit = true;
    for (std::thread& t : m_impl->threads)
        t.join();
}

bool CaptureSession::hasVideo() const { return m_impl->video; }
bool CaptureSession::hasAudio() const { return m_impl->audio; }
int CaptureSession::videoWidth() const { return m_impl->width; }
int CaptureSession::videoHeight() const { return m_impl->height; }
double CaptureSession::deviceRate() const { return m_impl->rate; }

bool CaptureSession::newestPicture(Picture& out, uint64_t* sequence) const
{
    std::lock_guard lock(m_impl->pictureMutex);
    if (m_impl->sequence == 0 || (sequence && *sequence == m_impl->sequence)) return false;
    out = m_impl->newest;
    if (sequence) *sequence = m_impl->sequence;
    return true;
}

void CaptureSession::startRecording(const RecordOptions& options)
{
    if (recording()) throw std::runtime_error("a recording is running");
    auto r = std::make_shared<Recorder>(options, m_impl->width, m_impl->height, m_impl->rate,
                                        m_impl->video, m_impl->audio, m_impl->nowUs());
    std::lock_guard lock(m_impl->recorderMutex);
    m_impl->recorder = std::move(r);
}

EndReason CaptureSession::stopRecording()
{
    std::shared_ptr<Recorder> r;
    {
        std::lock_guard lock(m_impl->recorderMutex);
        r = std::move(m_impl->recorder);
    }
    if (!r) return EndReason::None;
    r->finish(EndReason::Stopped);
    m_impl->lastStats = r->statistics();
    return r->reason();
}

bool CaptureSession::recording() const { return m_impl->currentRecorder() != nullptr; }
bool CaptureSession::ended() const
{
    std::shared_ptr<Recorder> r = m_impl->currentRecorder();
    return r && r->ended();
}
EndReason CaptureSession::endReason() const
{
    std::shared_ptr<Recorder> r = m_impl->currentRecorder();
    return r ? r->reason() : EndReason::None;
}
void CaptureSession::setPaused(bool paused)
{
    if (std::shared_ptr<Recorder> r = m_impl->currentRecorder())
        r->setPaused(paused, m_impl->nowUs());
}
bool CaptureSession::paused() const
{
    std::shared_ptr<Recorder> r = m_impl->currentRecorder();
    return r && r->paused();
}
Statistics CaptureSession::statistics() const
{
    std::shared_ptr<Recorder> r = m_impl->currentRecorder();
    return r ? r->statistics() : m_impl->lastStats;
}

} // namespace zef::avcapture
