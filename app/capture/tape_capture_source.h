// A tape deck's output as a capture source: the pictures and sound the deck puts out while its
// tape moves, for the sequence grabber to preview and record. With a range set, a recording
// keeps only the frames from the first to the last frame number of the range played at normal
// speed (the deck winds and cues outside it), so a capture with device control starts and
// ends on the requested timecodes even though the deck is cued and stopped a little around
// them.
//
// Thread-safe: the deck's output thread delivers, the GUI thread sets the range.
#pragma once

#include "platform/avcapture/capture_session.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zef::graph {
class TapeDeckOutput;
}

namespace zef::app {

class TapeCaptureSource : public avcapture::ExternalSource {
public:
    explicit TapeCaptureSource(std::shared_ptr<graph::TapeDeckOutput> output);
    ~TapeCaptureSource() override;

    int width() override;
    int height() override;
    double frameRate() override;
    bool hasSound() override { return true; }
    void start(Sink sink) override;
    void stop() override;

    // Frames first…last (tape frame numbers) are recorded; outside them only shown. Without a
    // range every frame at play speed is recorded.
    void setRange(int64_t first, int64_t last);
    void clearRange();
    // The newest frame number put out (-1 before the first), and whether a frame after the
    // range's last has been seen since the range was set.
    int64_t lastFrame() const { return m_lastFrame; }
    bool pastRange() const { return m_pastRange; }

private:
    std::shared_ptr<graph::TapeDeckOutput> m_output;
    std::mutex m_mutex;
    int64_t m_token = 0;
    std::atomic<int64_t> m_first{-1}, m_last{-1};
    std::atomic<int64_t> m_lastFrame{-1};
    std::atomic<bool> m_pastRange{false};
};

} // namespace zef::app
