// The base of renderer filters: one input pin named "Input", the state a renderer keeps
// (whether it has shown a picture since it was paused or sought, the end of its stream), and
// pacing by the graph's clock for renderers that present in real time.
//
// A renderer is ready for a sample when wantsSample() says so; by default that is while
// running, and once while paused (the picture shown at a paused position). Paced renderers
// wait in receive until the sample's start is due on the graph's stream clock; the wait
// ends early when the state changes or the graph flushes.
//
// Also here: the interfaces that mark a filter as the graph's video or audio renderer, and
// the video window that a renderer in display mode draws into.
#pragma once

#include "platform/graph/filter.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zef::graph {

// Exposed by the filter that renders a graph's pictures.
constexpr Guid kIIDBasicVideo = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21D001}");
// Exposed by the filter that renders a graph's sound.
constexpr Guid kIIDBasicAudio = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21D002}");
// Exposed by a filter that has a video window (returns the VideoWindow).
constexpr Guid kIIDVideoWindow = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21D003}");

class BasicVideo {
public:
    virtual ~BasicVideo() = default;
    // The connected video's size; false when not connected.
    virtual bool videoSize(int32_t& width, int32_t& height) const = 0;
};

class BasicAudio {
public:
    virtual ~BasicAudio() = default;
    // Volume in hundredths of a decibel, 0 full, -10000 silent.
    virtual void setVolume(int32_t volume) = 0;
    virtual int32_t volume() const = 0;
};

// A renderer's window. It holds the place, visibility and owner the editor gives it and the
// current picture (top-down, 32-bit blue-green-red-alpha). Showing the picture on a screen is
// the presenter's business: a function the GUI installs, called (on the streaming thread)
// whenever the picture or the window's visibility or place changes. Thread-safe.
class VideoWindow {
public:
    struct Picture {
        int32_t width = 0;
        int32_t height = 0;
        std::vector<uint8_t> pixels; // width × height × 4
    };
    using Presenter = std::function<void(const VideoWindow&)>;

    void setOwner(intptr_t owner);
    intptr_t owner() const;
    void setStyle(uint32_t style);
    uint32_t style() const;
    void setPosition(const Rect32& rect);
    Rect32 position() const;
    void setVisible(bool visible);
    bool visible() const;
    void setAutoShow(bool on);
    bool autoShow() const;
    void setFullScreen(bool on);
    bool fullScreen() const;
    void setMessageDrain(intptr_t window);
    intptr_t messageDrain() const;
    void setPresenter(Presenter presenter);

    void setPicture(Picture picture);
    // A copy of the current picture (empty when none).
    Picture picture() const;
    bool hasPicture() const;

private:
    void changed();
    mutable std::mutex m_lock;
    intptr_t m_owner = 0;
    intptr_t m_drain = 0;
    uint32_t m_style = 0;
    Rect32 m_position{0, 0, 320, 240};
    bool m_visible = false;
    bool m_autoShow = true;
    bool m_fullScreen = false;
    Picture m_picture;
    Presenter m_presenter;
};

class RendererBase : public Filter {
public:
    RendererBase();
    ~RendererBase() override;

    std::vector<Pin*> pins() override { return {&m_input}; }
    HResult pause() override;
    HResult run(int64_t startTime) override;
    HResult stop() override;

    Pin& input() { return m_input; }
    bool reachedEnd() const override;

protected:
    // The media types the renderer takes.
    virtual HResult checkMediaType(const MediaType& type) const = 0;
    // Handles a sample (after pacing). Runs on the streaming thread.
    virtual HResult render(const MediaSample& sample) = 0;
    // Whether the renderer takes a sample now. Default: running, or paused without a
    // picture since the pause or the last seek. Called with m_lock held.
    virtual bool wantsSample() const;
    // Whether samples wait for their time on the graph's clock.
    virtual bool paced() const { return false; }
    virtual void connected(const MediaType&) {}
    virtual void disconnected() {}
    // The stream ended (after the renderer has marked it). Runs on the streaming thread.
    virtual void streamEnded() {}
    // Called when the graph jumps (seek): the renderer may take a paused picture again.
    // Called with m_lock held.
    virtual void segmentStarted(int64_t /*start*/) {}

    // Tells the source that this renderer may be ready (after a change of wantsSample).
    void wakeSource();

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_prerolled = false; // a sample was taken since the last pause or seek
    bool m_endOfStream = false;

private:
    class InputPin : public Pin {
    public:
        explicit InputPin(RendererBase& owner)
            : Pin(owner, "Input", PinDirection::input), m_r(owner)
        {
        }
        HResult checkMediaType(const MediaType& type) const override
        {
            return m_r.checkMediaType(type);
        }
        HResult receive(const MediaSample& sample) override { return m_r.receiveSample(sample); }
        bool readyForSample() const override;
        void endOfStream() override { m_r.receiveEndOfStream(); }
        void newSegment(int64_t start) override;

    protected:
        HResult completeConnect(Pin&, const MediaType& type) override
        {
            m_r.connected(type);
            return kOk;
        }
        void breakConnect() override { m_r.disconnected(); }

    private:
        RendererBase& m_r;
    };
    HResult receiveSample(const MediaSample& sample);
    void receiveEndOfStream();

    InputPin m_input;
    uint64_t m_stateSerial = 0;
};

} // namespace zef::graph
