// Where the movie player sends its pictures and its sound.
//
// FrameSink::showFrame and AudioSink::write are called from the player's own threads, never
// from the thread that controls the player. A GUI sink copies the picture and marshals it to its
// own thread (for example through a queued signal); it must not wait for the GUI thread, because
// the player's control methods wait for a callback in flight to return.
//
// The null sinks stand in for a display and a sound device: they consume what they get at the
// pace the real devices would (a 60 Hz display, a sound card draining samples in real time) and
// record what they saw, for tests and benchmarks.
#pragma once

#include "platform/movies/media.h"
#include "platform/movies/pixmap.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zef::movies {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // The picture of the movie at time t (movie time scale). The picture is only valid during
    // the call; it is empty when the movie's box is.
    virtual void showFrame(const Pixmap& picture, TimeValue t) = 0;
    // A quick picture near t while the position is still moving (MoviePlayer::scrub); the
    // exact picture of t follows through showFrame unless the position moved on. By default
    // shown like any other.
    virtual void showApproximateFrame(const Pixmap& picture, TimeValue t) { showFrame(picture, t); }
};

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // The format the sink takes: 16-bit signed interleaved samples at this rate and channel count.
    virtual int32_t sampleRate() const = 0;
    virtual int32_t channels() const = 0;
    // Takes up to `frames` frames (frames × channels values); returns how many it accepted.
    // May block while its buffer is full, but must return within about its buffer's length.
    virtual int64_t write(const int16_t* samples, int64_t frames) = 0;
    // Frames heard since the last flush: written frames that have left the device, so the
    // device's latency is already accounted for. Called from any thread.
    virtual int64_t playedFrames() const = 0;
    // Drops every buffered frame and starts counting played frames from 0 again.
    virtual void flush() = 0;
};

// A display that shows one picture per tick of a 60 Hz clock: showFrame waits for the next tick
// and records when the picture appeared.
class NullFrameSink final : public FrameSink {
public:
    struct Shown {
        TimeValue time;
        std::chrono::steady_clock::time_point at;
        uint32_t centrePixel;
    };

    explicit NullFrameSink(double refreshHz = 60.0);
    void showFrame(const Pixmap& picture, TimeValue t) override;

    std::vector<Shown> shown() const;
    void clear();

private:
    const std::chrono::steady_clock::time_point m_epoch;
    const std::chrono::nanoseconds m_period;
    mutable std::mutex m_mutex;
    std::vector<Shown> m_shown;
};

// A sound device that drains its buffer in real time by the steady clock. It holds at most
// `bufferFrames` frames; write blocks (in short sleeps) until there is room for some. When it
// runs dry the device stops and starts again with the next write. With `keepSamples` every
// accepted sample is kept for inspection (flush does not forget them; clearSamples does).
class NullAudioSink : public AudioSink {
public:
    NullAudioSink(int32_t rate = 48000, int32_t channels = 2, int64_t bufferFrames = 4096,
                  bool keepSamples = false);

    int32_t sampleRate() const override { return m_rate; }
    int32_t channels() const override { return m_channels; }
    int64_t write(const int16_t* samples, int64_t frames) override;
    int64_t playedFrames() const override;
    void flush() override;

    int64_t writtenFrames() const;
    int64_t flushCount() const;
    std::vector<int16_t> samples() const;
    void clearSamples();

private:
    int64_t playedLocked(std::chrono::steady_clock::time_point now) const;

    const int32_t m_rate;
    const int32_t m_channels;
    const int64_t m_capacity;
    const bool m_keep;
    mutable std::mutex m_mutex;
    int64_t m_written = 0;
    int64_t m_playedAtAnchor = 0;
    std::chrono::steady_clock::time_point m_anchor;
    int64_t m_flushes = 0;
    std::vector<int16_t> m_samples;
};

} // namespace zef::movies
