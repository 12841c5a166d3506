// The two filters of the render filter library (see render_filter.h for their contract).
#pragma once

#include "renderfilter/render_filter.h"

#include "platform/graph/renderer_base.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace zef::quorrel {

// Live objects of the library (for DllCanUnloadNow).
extern std::atomic<int> g_liveObjects;

class VideoQuorrel : public graph::RendererBase, public graph::BasicVideo, public FrameBuffer {
public:
    VideoQuorrel();
    ~VideoQuorrel() override;

    Guid classId() const override { return kClassVideoQuorrel; }
    void* queryInterface(const Guid& iid) override;
    HResult run(int64_t startTime) override;
    bool videoSize(int32_t& width, int32_t& height) const override;

    HResult GetFrame(uint8_t* destination, int32_t width, int32_t height, int32_t rowBytes,
                     bool flip) override;
    HResult ArmFrameEvent(graph::Event* event) override;
    HResult SetSourceRect(const int32_t rect[4]) override;
    HResult SetDisplayMode(bool display) override;

    graph::VideoWindow& window() { return m_window; }

protected:
    HResult checkMediaType(const graph::MediaType& type) const override;
    HResult render(const graph::MediaSample& sample) override;
    bool wantsSample() const override;
    bool paced() const override { return m_display; }
    void streamEnded() override;

private:
    void draw(const graph::MediaType& type, const graph::MediaSample& sample);

    graph::VideoWindow m_window;
    // The frame buffer object.
    mutable std::mutex m_bufferLock;
    graph::Event* m_armed = nullptr;
    std::vector<uint8_t> m_buffer; // width × height × 4
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_sourceRect[4] = {0, 0, 0, 0};
    bool m_endedUncaptured = false; // the last arming ended with the stream, nothing captured
    std::atomic<bool> m_display = false;
};

class AudioQuorrel : public graph::RendererBase, public graph::BasicAudio, public AudioBuffer {
public:
    static constexpr int32_t kOutputRate = 44100;
    // The most source frames one arming collects (bounds the memory a request can take).
    static constexpr int32_t kMaxSourceFrames = 8 * 192000;

    AudioQuorrel();
    ~AudioQuorrel() override;

    Guid classId() const override { return kClassAudioQuorrel; }
    void* queryInterface(const Guid& iid) override;
    void setVolume(int32_t volume) override { m_volume = volume; }
    int32_t volume() const override { return m_volume; }

    HResult GetAudio(int16_t* destination, int32_t frames) override;
    HResult ArmAudioEvent(graph::Event* event, int32_t sourceFrames, int64_t start,
                          int64_t stop) override;

protected:
    HResult checkMediaType(const graph::MediaType& type) const override;
    HResult render(const graph::MediaSample& sample) override;
    bool wantsSample() const override;
    void streamEnded() override;
    void segmentStarted(int64_t start) override;

private:
    void completeLocked();

    std::atomic<int32_t> m_volume = 0;
    mutable std::mutex m_bufferLock;
    graph::Event* m_armed = nullptr;
    int32_t m_want = 0; // frames to collect: the source frames asked for and one more
    int64_t m_start = 0;
    int64_t m_stop = 0;
    std::vector<int16_t> m_frames; // stereo
    bool m_complete = false;
    bool m_ended = false; // the stream ended since the last seek
};

} // namespace zef::quorrel
