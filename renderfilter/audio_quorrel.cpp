#include "renderfilter/quorrel_filters.h"

#include <algorithm>
#include <cmath>

namespace zef::quorrel {

using namespace graph;

AudioQuorrel::AudioQuorrel() { ++g_liveObjects; }
AudioQuorrel::~AudioQuorrel() { --g_liveObjects; }

void* AudioQuorrel::queryInterface(const Guid& iid)
{
    if (iid == kIIDAudioBuffer) return static_cast<AudioBuffer*>(this);
    if (iid == kIIDBasicAudio) return static_cast<BasicAudio*>(this);
    return nullptr;
}

HResult AudioQuorrel::checkMediaType(const MediaType& t) const
{
    if (t.format != FormatType::waveFormatEx) return kInvalidArg;
    if (t.major != MajorType::audio || t.sub != SubType::pcm || t.audio.bitsPerSample != 16 ||
        t.audio.channels < 1 || t.audio.channels > 8 || t.audio.samplesPerSec == 0)
        return kFail;
    return kOk;
}

bool AudioQuorrel::wantsSample() const
{
    std::lock_guard lock(m_bufferLock);
    return m_armed && !m_complete;
}

void AudioQuorrel::completeLocked()
{
    m_frames.resize(size_t(m_want) * 2, 0); // what the stream did not give is silence
    m_complete = true;
    if (m_armed) m_armed->set();
    m_armed = nullptr;
}

HResult AudioQuorrel::render(const MediaSample& s)
{
    const WaveFormatEx& f = input().connectionMediaType().audio;
    if (f.channels == 0 || !s.data) return kOk;
    std::lock_guard lock(m_bufferLock);
    if (!m_armed || m_complete) return kOk;
    const int16_t* pcm = reinterpret_cast<const int16_t*>(s.data);
    const int64_t count = int64_t(s.size / f.blockAlign);
    // The sample's first frame counted from the start asked for.
    const int64_t first = int64_t(std::llround(double(s.start - m_start) * double(f.samplesPerSec) /
                                               double(kUnitsPerSecond)));
    for (int64_t k = std::max<int64_t>(0, -first); k < count; ++k) {
        const int64_t index = first + k;
        if (index >= m_want) break;
        const int64_t have = int64_t(m_frames.size() / 2);
        if (index < have) continue;            // overlaps what is in already
        m_frames.resize(size_t(index) * 2, 0); // a gap in the stream: silence
        const int16_t* frame = pcm + k * f.channels;
        m_frames.push_back(frame[0]);
        m_frames.push_back(f.channels > 1 ? frame[1] : frame[0]);
    }
    if (int64_t(m_frames.size() / 2) >= m_want) completeLocked();
    return kOk;
}

void AudioQuorrel::streamEnded()
{
    std::lock_guard lock(m_bufferLock);
    m_ended = true;
    if (m_armed && !m_complete) completeLocked();
}

void AudioQuorrel::segmentStarted(int64_t)
{
    std::lock_guard lock(m_bufferLock);
    m_ended = false;
}

HResult AudioQuorrel::ArmAudioEvent(Event* event, int32_t sourceFrames, int64_t start, int64_t stop)
{
    if (!event) {
        // Disarmed: nothing more is collected.
        std::lock_guard lock(m_bufferLock);
        m_armed = nullptr;
        return kOk;
    }
    if (sourceFrames < 1 || sourceFrames > kMaxSourceFrames) return kInvalidArg;
    {
        std::lock_guard lock(m_bufferLock);
        // One frame more than asked for: the spread over the output reaches into it, so
        // consecutive requests join without a step.
        m_want = sourceFrames + 1;
        m_start = start;
        m_stop = stop;
        m_frames.clear();
        m_frames.reserve(size_t(m_want) * 2);
        m_complete = false;
        m_armed = event;
        event->reset();
        if (m_ended) completeLocked();
    }
    wakeSource();
    return kOk;
}

HResult AudioQuorrel::GetAudio(int16_t* dst, int32_t frames)
{
    std::lock_guard lock(m_bufferLock);
    if (!m_complete || m_want < 2) return kFail;
    if (!dst) return kPointer;
    if (frames <= 0) return kOk;
    // The source frames asked for spread over the output frames, linearly interpolated.
    const double step = double(m_want - 1) / double(frames);
    for (int32_t i = 0; i < frames; ++i) {
        const double pos = double(i) * step;
        const size_t i0 = size_t(pos);
        const double frac = pos - double(i0);
        const size_t i1 = std::min(i0 + 1, size_t(m_want - 1));
        for (size_t c = 0; c < 2; ++c) {
            const double v =
                double(m_frames[i0 * 2 + c]) * (1.0 - frac) + double(m_frames[i1 * 2 + c]) * frac;
            dst[size_t(i) * 2 + c] = int16_t(std::clamp(std::lround(v), -32768L, 32767L));
        }
    }
    return kOk;
}

} // namespace zef::quorrel
