// A filter graph: filters connected pin to pin, with media control (run, pause, stop),
// seeking and position in media time, rate, the events of the renderers, and the video window
// of its video renderer.
//
// renderFile builds the graph that plays a file: a source filter (demuxing and decoding with
// FFmpeg) for the containers that mediaGraphContainers() lists, and for each of its streams a
// renderer from the class registry, with a converter inserted where the renderer does not
// take the decoder's type (YUV pictures for an RGB renderer). The source runs one streaming
// thread for the graph.
//
// Times are media time (100 ns units). The stream clock runs from the position at which the
// graph was last started, at the graph's rate; paced renderers present by it.
//
// The graph is controlled from one thread at a time (the methods are not reentrant); events
// are queued from the streaming thread and the notification function, if set, is called
// there: it should post to the thread that reads the events (for the editor, the GUI thread).
// Destroying the graph stops it and releases its filters.
#pragma once

#include "platform/graph/class_registry.h"
#include "platform/graph/filter.h"
#include "platform/graph/renderer_base.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zef::graph {

// Time formats of seeking: only media time is supported.
constexpr Guid kTimeFormatMediaTime = Guid::parse("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");
constexpr Guid kTimeFormatFrame = Guid::parse("{7B785570-8C82-11CF-BC0C-00AA00AC74F6}");

// Class identifiers of the graph's own filters.
constexpr Guid kClassColourConverter = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21C001}");
constexpr Guid kClassVideoRenderer = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21C002}");
constexpr Guid kClassAudioRenderer = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21C003}");

class FilterGraph {
public:
    // registry must outlive the graph.
    explicit FilterGraph(const FilterClassRegistry& registry);
    ~FilterGraph();
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    const FilterClassRegistry& registry() const { return m_registry; }

    // Filters. Names are unique within the graph (a number is added to a repeated one).
    HResult addFilter(std::shared_ptr<Filter> filter, const std::string& name);
    // Disconnects the filter's pins and removes it.
    HResult removeFilter(Filter& filter);
    std::vector<std::shared_ptr<Filter>> filters() const { return m_filters; }
    std::shared_ptr<Filter> findFilterByName(const std::string& name) const;

    // Builds the graph that plays a file. kOk when every stream was rendered, kFalse when
    // only some were; failure (kCannotRender, kUnsupportedStream, kNotFound) when none was,
    // and the graph is left empty then.
    HResult renderFile(const std::string& path);
    // Connects two pins: directly, or through a converter of the registry.
    HResult connect(Pin& output, Pin& input);
    // Connects directly, with the given type or the first acceptable one.
    HResult connectDirect(Pin& output, Pin& input, const MediaType* type = nullptr);
    // Breaks the connection of a pin on both sides.
    HResult disconnect(Pin& pin);

    // Media control.
    HResult run();
    HResult pause();
    HResult stop();
    FilterState state() const { return m_state; }

    // Seeking, in media time. setTimeFormat accepts kTimeFormatMediaTime only.
    HResult setTimeFormat(const Guid& format);
    HResult setPosition(int64_t position);
    // While running: the stream clock; otherwise the position last set (0 at first).
    int64_t currentPosition() const;
    int64_t duration() const;
    HResult setRate(double rate);
    double rate() const { return m_rate; }
    // Seconds, as a position interface gives them.
    HResult putCurrentPosition(double seconds);
    double getCurrentPosition() const;

    // The stream clock: media time that is due now (the start position while not running).
    int64_t streamTime() const;

    // Events.
    void postEvent(int32_t code, intptr_t param1 = 0, intptr_t param2 = 0);
    // Takes the oldest event, waiting up to timeoutMs for one; kFalse (timeout) when none.
    HResult getEvent(int32_t& code, intptr_t& param1, intptr_t& param2, int32_t timeoutMs);
    HResult freeEventParams(int32_t code, intptr_t param1, intptr_t param2);
    // Called from the thread that posts an event; an empty function removes it.
    void setNotify(std::function<void()> notify);

    // The video window of the filter that has one (the video renderer); null when none.
    VideoWindow* videoWindow() const;
    // The renderer filters (by the interfaces they expose), or null.
    Filter* videoRenderer() const;
    Filter* audioRenderer() const;

    // Called by renderers when they reach the end of their stream; posts kEventComplete once
    // every renderer has, while running.
    void rendererEnded();
    // Wakes the source's streaming thread (a renderer may want samples now).
    void wakeSources();

private:
    HResult renderPin(Pin& output);
    std::vector<Filter*> orderedDownstreamFirst() const;
    int64_t streamTimeLocked() const;

    const FilterClassRegistry& m_registry;
    std::vector<std::shared_ptr<Filter>> m_filters;
    std::atomic<FilterState> m_state = FilterState::stopped;
    std::atomic<double> m_rate = 1.0;
    int64_t m_position = 0; // where the stream clock starts
    std::chrono::steady_clock::time_point m_runStart;
    std::atomic<bool> m_completePosted = false;

    mutable std::mutex m_eventLock;
    std::condition_variable m_eventArrived;
    struct Event {
        int32_t code;
        intptr_t p1, p2;
    };
    std::deque<Event> m_events;
    std::function<void()> m_notify;
    mutable std::mutex m_clockLock;
};

// Media-graph sources: implemented by filters that read a file.
constexpr Guid kIIDFileSource = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21D004}");
class FileSource {
public:
    virtual ~FileSource() = default;
    virtual int64_t duration() const = 0;
    // Moves every stream to position (media time); the next samples delivered are the ones
    // shown at it.
    virtual void seek(int64_t position) = 0;
};

} // namespace zef::graph
