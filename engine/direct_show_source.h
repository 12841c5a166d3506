// FDirectShowSource: the media graph of one clip that the movie toolbox cannot open. A clip
// read this way has two: readerA in display mode (it shows the clip in the preview window)
// and readerB without display, which serves the frames and sound that the codec components
// ask for through RenderFrame and RenderAudio.
//
// Opening renders the file into a graph, replaces its video renderer by "Video Quorrel" and,
// outside display mode, its audio renderer by "DX Audio Renderer" (both made from the class
// registry, where the render filter library registered them), then runs and pauses the graph
// once at position 0. Outside display mode the rate is 5.0.
//
// Fetches seek the graph, arm the render filter with the ready event, run the graph, wait for
// the event (100 ms, then up to 20 more times 100 ms, so at most 2.1 s), pause it and copy
// what was captured. A fetch whose event did not come reports false and leaves the
// destination as it was. Every operation that touches the graph after opening holds the
// reader's lock, so fetches of one clip are serialised; the object may be used from any
// thread. Times are media time of the file (100 ns units) unless said otherwise.
#pragma once

#include "model/edit_time.h"
#include "model/mutex.h"
#include "platform/graph/event.h"
#include "platform/graph/filter_graph.h"
#include "platform/movies/descriptions.h"
#include "platform/movies/fourcc.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace zef {

namespace quorrel {
class FrameBuffer;
class AudioBuffer;
} // namespace quorrel

class FDirectShowSource {
public:
    // The message the display-mode graph posts to the main window for its events.
    static constexpr int32_t kGraphEventMessage = 1126;
    static constexpr double kFetchRate = 5.0;

    struct Display {
        intptr_t previewWindow = 0;   // the video window's owner
        graph::Rect32 videoRect;      // where it is shown in the preview window
        std::function<void()> notify; // called (on a streaming thread) when an event is queued
    };

    // registry must outlive the reader and hold the render filter library's classes.
    explicit FDirectShowSource(const graph::FilterClassRegistry& registry);
    ~FDirectShowSource();
    FDirectShowSource(const FDirectShowSource&) = delete;
    FDirectShowSource& operator=(const FDirectShowSource&) = delete;

    // Builds the graph; false (error set) when the file cannot be played or a render filter
    // cannot be made.
    bool open(const std::string& path, bool displayMode, const Display& display,
              std::string* error = nullptr);
    bool open(const std::string& path, bool displayMode) { return open(path, displayMode, {}); }
    void close();
    bool isOpen() const { return m_graph != nullptr; }
    // Opens the graph if it is not open, pauses it and shows the video window.
    bool ensureOpen();
    void show(bool visible);
    void play(bool fullScreen);
    void pause();
    void setRate(double rate);
    // Sets the position and waits (at most 2 s) until the graph reports it.
    void seek(int64_t mediaTime);
    // The position as an edit time at the video's frame rate.
    EditTime position();
    void seekToStart();
    void seekToEnd();
    void step(int32_t frames);
    // The shown part of the picture: four 16.16 fractions (left, top, right, bottom).
    void setSourceRect(const std::array<movies::Fixed, 4>& fractions);

    double frameRate() const;
    int64_t frameCount() const;
    int64_t duration() const; // media time
    movies::ImageDescription videoDescription() const;
    movies::SoundDescription soundDescription() const;
    bool hasVideo() const { return m_videoType.major == graph::MajorType::video; }
    bool hasAudio() const { return m_audioType.major == graph::MajorType::audio; }
    const std::string& path() const { return m_path; }

    // The picture shown at mediaTime into a 32-bit destination (rows rowBytes apart, 0 for
    // width × 4; flip: top-down, else the rows in the stored bottom-up order).
    bool fetchFrame(int64_t mediaTime, uint8_t* buffer, int32_t width, int32_t height,
                    int32_t rowBytes, bool flip);
    // sourceFrames frames of the sound from mediaTime on, as frames 16-bit stereo frames at
    // 44.1 kHz.
    bool fetchAudio(int64_t mediaTime, int16_t* buffer, int32_t sourceFrames, int32_t frames);

    // Display mode: takes one queued graph event (false when none); playback complete tells
    // the caller that the preview ended.
    bool takeEvent(int32_t& code);
    graph::FilterGraph* filterGraph() const { return m_graph.get(); }
    graph::VideoWindow* videoWindow() const { return m_graph ? m_graph->videoWindow() : nullptr; }

private:
    void closeLocked();
    void seekLocked(int64_t mediaTime);
    bool waitReady();

    const graph::FilterClassRegistry& m_registry;
    Mutex m_lock;
    std::unique_ptr<graph::FilterGraph> m_graph;
    std::shared_ptr<graph::Filter> m_videoRenderer;
    std::shared_ptr<graph::Filter> m_audioRenderer;
    quorrel::FrameBuffer* m_frameBuffer = nullptr;
    quorrel::AudioBuffer* m_audioBuffer = nullptr;
    graph::MediaType m_videoType;
    graph::MediaType m_audioType;
    graph::Event m_ready;
    bool m_displayMode = false;
    Display m_display;
    std::string m_path;
};

} // namespace zef
