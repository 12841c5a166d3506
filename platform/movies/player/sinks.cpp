#include "platform/movies/player/sinks.h"

#include <algorithm>
#include <thread>

namespace zef::movies {

using Clock = std::chrono::steady_clock;

NullFrameSink::NullFrameSink(double refreshHz)
    : m_epoch(Clock::now()),
      m_period(std::chrono::nanoseconds(int64_t(1e9 / std::clamp(refreshHz, 1.0, 1000.0))))
{
}

void NullFrameSink::showFrame(const Pixmap& picture, TimeValue t)
{
    // The picture appears at the next refresh tick.
    const auto now = Clock::now();
    const auto ticks = (now - m_epoch) / m_period + 1;
    const auto at = m_epoch + ticks * m_period;
    std::this_thread::sleep_until(at);
    const uint32_t centre =
        picture.isEmpty() ? 0 : picture.pixel(picture.width() / 2, picture.height() / 2);
    std::lock_guard lock(m_mutex);
    m_shown.push_back({t, at, centre});
}

std::vector<NullFrameSink::Shown> NullFrameSink::shown() const
{
    std::lock_guard lock(m_mutex);
    return m_shown;
}

void NullFrameSink::clear()
{
    std::lock_guard lock(m_mutex);
    m_shown.clear();
}

NullAudioSink::NullAudioSink(int32_t rate, int32_t channels, int64_t bufferFrames, bool keepSamples)
    : m_rate(std::clamp(rate, 1, 768000)), m_channels(std::clamp(channels, 1, 8)),
      m_capacity(std::max<int64_t>(64, bufferFrames)), m_keep(keepSamples), m_anchor(Clock::now())
{
}

int64_t NullAudioSink::playedLocked(Clock::time_point now) const
{
    const double seconds = std::chrono::duration<double>(now - m_anchor).count();
    const int64_t drained = int64_t(std::max(0.0, seconds) * m_rate);
    return std::min(m_written, m_playedAtAnchor + drained);
}

int64_t NullAudioSink::write(const int16_t* samples, int64_t frames)
{
    if (!samples || frames <= 0) return 0;
    for (;;) {
        std::unique_lock lock(m_mutex);
        const auto now = Clock::now();
        const int64_t played = playedLocked(now);
        if (played >= m_written) {
            // Ran dry: the device starts again from here.
            m_anchor = now;
            m_playedAtAnchor = m_written;
        }
        const int64_t room = m_capacity - (m_written - playedLocked(now));
        if (room > 0) {
            const int64_t n = std::min(room, frames);
            if (m_keep) m_samples.insert(m_samples.end(), samples, samples + n * m_channels);
            m_written += n;
            return n;
        }
        lock.unlock();
        // Wait until about a quarter of the buffer has drained.
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::max<int64_t>(500, m_capacity * 250000 / m_rate)));
    }
}

int64_t NullAudioSink::playedFrames() const
{
    std::lock_guard lock(m_mutex);
    return playedLocked(Clock::now());
}

void NullAudioSink::flush()
{
    std::lock_guard lock(m_mutex);
    m_written = 0;
    m_playedAtAnchor = 0;
    m_anchor = Clock::now();
    ++m_flushes;
}

int64_t NullAudioSink::writtenFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

int64_t NullAudioSink::flushCount() const
{
    std::lock_guard lock(m_mutex);
    return m_flushes;
}

std::vector<int16_t> NullAudioSink::samples() const
{
    std::lock_guard lock(m_mutex);
    return m_samples;
}

} // namespace zef::movies

namespace zef::movies {

void NullAudioSink::clearSamples()
{
    std::lock_guard lock(m_mutex);
    m_samples.clear();
}

} // namespace zef::movies
