// CAudioOutput: the desktop's sound output (Qt Multimedia) as the player's audio sink, and so
// the master clock of playback.
//
// The player's sound feeder writes 16-bit stereo samples into a ring buffer; a QAudioSink on a
// thread of its own (with its own event loop, so a busy GUI thread cannot starve the device)
// moves them to the device every few milliseconds in push mode. The played position is what
// was handed to the device less what its buffer still holds, interpolated between the moves by
// the elapsed time, so the clock runs smoothly and stops when the device runs dry.
//
// The device runs on from opening to closing: a flush empties the ring and counts played
// frames anew from the first frame written after it. What the device already held (at most
// its buffer, about 60 ms) still plays out; the device is not stopped, since stopping and
// starting the output again left it unable to start playing on some sound servers.
//
// open() answers null when the desktop has no sound output (a machine without a sound server,
// a test run): the player then runs on its steady clock.
//
// Thread safety: write, playedFrames and flush may be called from any thread (the player's);
// construction and destruction on the GUI thread.
#pragma once

#include "platform/movies/player/sinks.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

namespace zef::ui {

class AudioPump;

class CAudioOutput final : public movies::AudioSink {
public:
    static constexpr int32_t kRate = 48000;
    static constexpr int32_t kChannels = 2;
    static constexpr int64_t kRingFrames = 4096; // about 85 ms waiting for the device

    // The default output device, or null when there is none (or ZEF_AUDIO_OUTPUT=none).
    static std::unique_ptr<CAudioOutput> open();
    ~CAudioOutput() override;

    QString deviceName() const { return m_device; }

    int32_t sampleRate() const override { return kRate; }
    int32_t channels() const override { return kChannels; }
    int64_t write(const int16_t* samples, int64_t frames) override;
    int64_t playedFrames() const override;
    void flush() override;

    // Called by the pump on its thread: takes up to maxFrames frames out of the ring.
    int64_t take(int16_t* out, int64_t maxFrames);
    // Called by the pump after each move: frames written to the device since it opened, and
    // frames its buffer still holds.
    void deviceState(int64_t handed, int64_t queued);

private:
    CAudioOutput() = default;

    QString m_device;
    QThread* m_thread = nullptr;
    AudioPump* m_pump = nullptr;

    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::vector<int16_t> m_ring; // kRingFrames × kChannels
    int64_t m_readPos = 0;       // frames, ever increasing
    int64_t m_writePos = 0;
    int64_t m_taken = 0; // frames the pump has taken since the device opened
    int64_t m_base = 0;  // of them, those taken before the last flush
    // The device's state at the pump's last move, and when that was.
    int64_t m_handed = 0;
    int64_t m_queued = 0;
    std::chrono::steady_clock::time_point m_stateAt;
    std::atomic<bool> m_closing{false};
};

} // namespace zef::ui
