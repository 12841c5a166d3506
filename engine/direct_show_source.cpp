#include "engine/direct_show_source.h"

#include "renderfilter/render_filter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace zef {

using namespace graph;

namespace {

constexpr auto kFirstWait = std::chrono::milliseconds(100);
constexpr int kMoreWaits = 20;
constexpr double kSeekTolerance = 0.1;                   // seconds
constexpr auto kSeekPollLimit = std::chrono::seconds(2); // bounds the wait for the position
constexpr uint32_t kChildWindowStyle = 0x40000000;

// Replaces a renderer by a filter of the registry: the output pin connected to it is found,
// the connection broken, the old renderer leaves the graph, and that output pin is connected
// to the new filter's input (a source with a pin per stream keeps its other connections).
std::shared_ptr<Filter> replaceRenderer(FilterGraph& g, Filter& old, const Guid& classId,
                                        const char* name)
{
    Pin* in = firstPin(old, PinDirection::input);
    Pin* out = in ? in->connectedTo() : nullptr;
    if (!out) return nullptr;
    std::shared_ptr<Filter> renderer = g.registry().create(classId);
    if (!renderer || !succeeded(g.addFilter(renderer, name))) return nullptr;
    g.disconnect(*in);
    g.removeFilter(old);
    Pin* newIn = firstPin(*renderer, PinDirection::input);
    if (!newIn || !succeeded(g.connectDirect(*out, *newIn))) {
        g.removeFilter(*renderer);
        return nullptr;
    }
    return renderer;
}

} // namespace

FDirectShowSource::FDirectShowSource(const FilterClassRegistry& registry) : m_registry(registry) {}

FDirectShowSource::~FDirectShowSource() { close(); }

bool FDirectShowSource::open(const std::string& path, bool displayMode, const Display& display,
                             std::string* error)
{
    Lock lock(m_lock);
    closeLocked();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        closeLocked();
        return false;
    };
    m_path = path;
    m_displayMode = displayMode;
    m_display = display;
    m_graph = std::make_unique<FilterGraph>(m_registry);
    if (!succeeded(m_graph->renderFile(path))) return fail("the media graph cannot play the file");
    m_graph->setTimeFormat(kTimeFormatMediaTime);

    Filter* video = m_graph->videoRenderer();
    Filter* audio = m_graph->audioRenderer();
    if (video)
        if (Pin* in = firstPin(*video, PinDirection::input))
            m_videoType = in->connectionMediaType();
    if (audio)
        if (Pin* in = firstPin(*audio, PinDirection::input))
            m_audioType = in->connectionMediaType();

    if (video) {
        m_videoRenderer =
            replaceRenderer(*m_graph, *video, quorrel::kClassVideoQuorrel, "DX Renderer");
        if (!m_videoRenderer) return fail("the video render filter cannot be made");
        m_frameBuffer = static_cast<quorrel::FrameBuffer*>(
            m_videoRenderer->queryInterface(quorrel::kIIDFrameBuffer));
        if (!m_frameBuffer) return fail("the video render filter has no frame buffer");
        m_frameBuffer->SetDisplayMode(displayMode);
        if (Pin* in = firstPin(*m_videoRenderer, PinDirection::input))
            m_videoType = in->connectionMediaType();
    }
    if (VideoWindow* w = m_graph->videoWindow()) {
        if (displayMode) {
            w->setOwner(display.previewWindow);
            w->setStyle(kChildWindowStyle);
            w->setMessageDrain(display.previewWindow);
            m_graph->setNotify(display.notify);
        }
        w->setAutoShow(false);
        w->setVisible(false);
    }
    setSourceRect({0, 0, movies::kFixed1, movies::kFixed1});
    if (audio && !displayMode) {
        m_audioRenderer = replaceRenderer(*m_graph, *audio, quorrel::kClassAudioQuorrel,
                                          quorrel::kAudioQuorrelName);
        if (!m_audioRenderer) return fail("the audio render filter cannot be made");
        m_audioBuffer = static_cast<quorrel::AudioBuffer*>(
            m_audioRenderer->queryInterface(quorrel::kIIDAudioBuffer));
        if (!m_audioBuffer) return fail("the audio render filter has no audio buffer");
    }
    m_graph->run();
    m_graph->pause();
    seekLocked(0);
    if (!displayMode) m_graph->setRate(kFetchRate);
    return true;
}

void FDirectShowSource::close()
{
    Lock lock(m_lock);
    closeLocked();
}

void FDirectShowSource::closeLocked()
{
    if (m_graph) {
        m_graph->stop();
        if (VideoWindow* w = m_graph->videoWindow()) {
            w->setVisible(false);
            w->setOwner(0);
        }
        m_graph->setNotify({});
        for (const auto& f : m_graph->filters())
            for (Pin* p : f->pins())
                if (p->isConnected()) m_graph->disconnect(*p);
        while (!m_graph->filters().empty())
            m_graph->removeFilter(*m_graph->filters().back());
    }
    m_frameBuffer = nullptr;
    m_audioBuffer = nullptr;
    m_videoRenderer.reset();
    m_audioRenderer.reset();
    m_graph.reset();
    m_videoType = MediaType{};
    m_audioType = MediaType{};
}

bool FDirectShowSource::ensureOpen()
{
    if (!isOpen() && !open(m_path, m_displayMode, m_display)) return false;
    pause();
    show(true);
    return true;
}

void FDirectShowSource::show(bool visible)
{
    Lock lock(m_lock);
    VideoWindow* w = videoWindow();
    if (!w) return;
    if (visible) {
        const Rect32& r = m_display.videoRect;
        w->setPosition(r);
        w->setVisible(true);
    } else {
        w->setPosition(Rect32{});
        w->setVisible(false);
    }
}

void FDirectShowSource::play(bool fullScreen)
{
    Lock lock(m_lock);
    if (!m_graph) return;
    m_graph->setRate(1.0);
    if (VideoWindow* w = videoWindow()) w->setFullScreen(fullScreen);
    m_graph->run();
}

void FDirectShowSource::pause()
{
    Lock lock(m_lock);
    if (!m_graph) return;
    m_graph->pause();
    if (VideoWindow* w = videoWindow()) w->setFullScreen(false);
}

void FDirectShowSource::setRate(double rate)
{
    Lock lock(m_lock);
    if (!m_graph) return;
    m_graph->setRate(rate);
    m_graph->run();
}

void FDirectShowSource::seek(int64_t mediaTime)
{
    Lock lock(m_lock);
    seekLocked(mediaTime);
}

void FDirectShowSource::seekLocked(int64_t mediaTime)
{
    if (!m_graph) return;
    const double target = double(mediaTime) / double(kUnitsPerSecond);
    m_graph->putCurrentPosition(target);
    // The graph reports the new position; the wait for it is bounded.
    const auto limit = std::chrono::steady_clock::now() + kSeekPollLimit;
    while (std::abs(m_graph->getCurrentPosition() -
                    std::min(target, double(m_graph->duration()) / double(kUnitsPerSecond))) >
               kSeekTolerance &&
           std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
}

EditTime FDirectShowSource::position()
{
    Lock lock(m_lock);
    if (!m_graph) return EditTime();
    const int64_t ticks = int64_t(std::llround(m_graph->getCurrentPosition() * 600.0));
    const double r = frameRate();
    if (r <= 0) return EditTime::raw(ticks);
    return EditTime::raw(ticks, int32_t(std::llround(r * 1000)), 1000);
}

void FDirectShowSource::seekToStart() { seek(0); }

void FDirectShowSource::seekToEnd()
{
    Lock lock(m_lock);
    if (m_graph) m_graph->setPosition(m_graph->duration());
}

void FDirectShowSource::step(int32_t frames)
{
    Lock lock(m_lock);
    if (!m_graph || m_videoType.video.avgTimePerFrame <= 0) return;
    const int64_t ticks = (m_videoType.video.avgTimePerFrame * 600 + 5'000'000) / 10'000'000;
    m_graph->pause();
    const int64_t now = m_graph->currentPosition();
    m_graph->setPosition(now + int64_t(frames) * ticks * kUnitsPerSecond / 600);
}

void FDirectShowSource::setSourceRect(const std::array<movies::Fixed, 4>& f)
{
    if (!m_frameBuffer || m_videoType.format != FormatType::videoInfo) return;
    const int64_t w = m_videoType.video.bmi.width, h = std::abs(m_videoType.video.bmi.height);
    const int32_t rect[4] = {int32_t((f[0] * w) >> 16), int32_t((f[1] * h) >> 16),
                             int32_t((f[2] * w) >> 16), int32_t((f[3] * h) >> 16)};
    m_frameBuffer->SetSourceRect(rect);
}

double FDirectShowSource::frameRate() const
{
    const int64_t t = m_videoType.video.avgTimePerFrame;
    return m_videoType.format == FormatType::videoInfo && t > 0 ? 1e7 / double(t) : 0.0;
}

int64_t FDirectShowSource::duration() const { return m_graph ? m_graph->duration() : 0; }

int64_t FDirectShowSource::frameCount() const
{
    return int64_t(double(duration()) / double(kUnitsPerSecond) * frameRate());
}

movies::ImageDescription FDirectShowSource::videoDescription() const
{
    movies::ImageDescription d;
    d.cType = 0;
    d.temporalQuality = d.spatialQuality = 0;
    d.hRes = d.vRes = 0;
    d.frameCount = 0;
    d.clutID = 0;
    d.width = int16_t(m_videoType.video.bmi.width);
    d.height = int16_t(std::abs(m_videoType.video.bmi.height));
    d.depth = int16_t(m_videoType.video.bmi.bitCount);
    return d;
}

movies::SoundDescription FDirectShowSource::soundDescription() const
{
    movies::SoundDescription d;
    d.numChannels = int16_t(m_audioType.audio.channels);
    d.sampleSize = int16_t(m_audioType.audio.bitsPerSample);
    d.sampleRate = uint32_t(m_audioType.audio.samplesPerSec) << 16;
    return d;
}

bool FDirectShowSource::waitReady()
{
    if (m_ready.wait(kFirstWait)) return true;
    for (int i = 0; i < kMoreWaits; ++i) {
        std::this_thread::yield();
        if (m_ready.wait(kFirstWait)) return true;
    }
    return false;
}

bool FDirectShowSource::fetchFrame(int64_t mediaTime, uint8_t* buffer, int32_t width,
                                   int32_t height, int32_t rowBytes, bool flip)
{
    Lock lock(m_lock);
    if (!m_graph || !m_frameBuffer || !buffer) return false;
    seekLocked(mediaTime);
    m_frameBuffer->ArmFrameEvent(&m_ready);
    m_graph->run();
    const bool arrived = waitReady();
    m_graph->pause();
    m_frameBuffer->ArmFrameEvent(nullptr);
    // Without the event the buffer holds an earlier picture: not the one asked for.
    if (!arrived) return false;
    return m_frameBuffer->GetFrame(buffer, width, height, rowBytes ? rowBytes : width * 4, flip) ==
           kOk;
}

bool FDirectShowSource::fetchAudio(int64_t mediaTime, int16_t* buffer, int32_t sourceFrames,
                                   int32_t frames)
{
    Lock lock(m_lock);
    if (!m_graph || !m_audioBuffer || !buffer || sourceFrames < 1) return false;
    seekLocked(mediaTime);
    if (!succeeded(m_audioBuffer->ArmAudioEvent(&m_ready, sourceFrames, mediaTime,
                                                mediaTime + kUnitsPerSecond)))
        return false;
    m_graph->run();
    const bool arrived = waitReady();
    m_graph->pause();
    m_audioBuffer->ArmAudioEvent(nullptr, 0, 0, 0);
    if (!arrived) return false;
    return m_audioBuffer->GetAudio(buffer, frames) == kOk;
}

bool FDirectShowSource::takeEvent(int32_t& code)
{
    if (!m_graph) return false;
    intptr_t p1 = 0, p2 = 0;
    if (m_graph->getEvent(code, p1, p2, 0) != kOk) return false;
    m_graph->freeEventParams(code, p1, p2);
    return true;
}

} // namespace zef
