#include "platform/graph/filter_graph.h"
#include "platform/graph/file_source.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace zef::graph {

namespace {

bool hasOutputs(Filter& f) { return firstPin(f, PinDirection::output) != nullptr; }

FileSource* fileSourceOf(Filter& f)
{
    return static_cast<FileSource*>(f.queryInterface(kIIDFileSource));
}

} // namespace

FilterGraph::FilterGraph(const FilterClassRegistry& registry) : m_registry(registry) {}

FilterGraph::~FilterGraph()
{
    stop();
    // Connections first, then the filters (a source's thread ends in its destructor).
    for (auto& f : m_filters)
        for (Pin* p : f->pins())
            if (p->isConnected()) disconnect(*p);
    for (auto& f : m_filters)
        f->joinGraph(nullptr, {});
    m_filters.clear();
}

HResult FilterGraph::addFilter(std::shared_ptr<Filter> filter, const std::string& name)
{
    if (!filter) return kPointer;
    if (std::find(m_filters.begin(), m_filters.end(), filter) != m_filters.end())
        return kInvalidArg;
    std::string unique = name;
    for (int n = 1; findFilterByName(unique); ++n)
        unique = name + " " + std::to_string(n + 1);
    filter->joinGraph(this, unique);
    m_filters.push_back(std::move(filter));
    if (m_state == FilterState::paused) m_filters.back()->pause();
    return kOk;
}

HResult FilterGraph::removeFilter(Filter& filter)
{
    auto it = std::find_if(m_filters.begin(), m_filters.end(),
                           [&](const auto& f) { return f.get() == &filter; });
    if (it == m_filters.end()) return kNotFound;
    for (Pin* p : filter.pins())
        if (p->isConnected()) disconnect(*p);
    filter.stop();
    std::shared_ptr<Filter> keep = *it; // destroyed after it has left the graph
    m_filters.erase(it);
    keep->joinGraph(nullptr, {});
    return kOk;
}

std::shared_ptr<Filter> FilterGraph::findFilterByName(const std::string& name) const
{
    for (const auto& f : m_filters)
        if (f->name() == name) return f;
    return nullptr;
}

HResult FilterGraph::connectDirect(Pin& output, Pin& input, const MediaType* type)
{
    return output.connect(input, type);
}

HResult FilterGraph::disconnect(Pin& pin)
{
    Pin* other = pin.connectedTo();
    if (!other) return kFalse;
    pin.disconnect();
    other->disconnect();
    return kOk;
}

HResult FilterGraph::connect(Pin& output, Pin& input)
{
    if (succeeded(connectDirect(output, input))) return kOk;
    // Through a converter: one whose input takes what the output offers and whose output the
    // input takes.
    for (const FilterClass& c : m_registry.classes(FilterCategory::converter)) {
        if (c.merit <= kMeritDoNotUse) continue;
        std::shared_ptr<Filter> converter = c.create ? c.create() : nullptr;
        if (!converter) continue;
        Pin* in = firstPin(*converter, PinDirection::input);
        Pin* out = firstPin(*converter, PinDirection::output);
        if (!in || !out || !succeeded(addFilter(converter, c.name))) continue;
        if (succeeded(connectDirect(output, *in)) && succeeded(connectDirect(*out, input)))
            return kOk;
        removeFilter(*converter);
    }
    return kNoAcceptableTypes;
}

HResult FilterGraph::renderPin(Pin& output)
{
    const std::vector<MediaType> types = output.mediaTypes();
    if (types.empty()) return kCannotRender;
    const MajorType major = types.front().major;
    for (const FilterClass& c : m_registry.classes(FilterCategory::renderer)) {
        if (c.merit <= kMeritDoNotUse) continue;
        const bool takes = std::any_of(c.pins.begin(), c.pins.end(), [&](const auto& p) {
            return !p.output && (p.major == MajorType::none || p.major == major);
        });
        if (!takes) continue;
        std::shared_ptr<Filter> renderer = c.create ? c.create() : nullptr;
        Pin* in = renderer ? firstPin(*renderer, PinDirection::input) : nullptr;
        if (!in || !succeeded(addFilter(renderer, c.name))) continue;
        if (succeeded(connect(output, *in))) return kOk;
        removeFilter(*renderer);
    }
    return kUnsupportedStream;
}

HResult FilterGraph::renderFile(const std::string& path)
{
    std::string error;
    std::shared_ptr<FileSourceFilter> source = FileSourceFilter::open(path, &error);
    if (!source) return kCannotRender;
    if (!succeeded(addFilter(source, path))) return kFail;
    int rendered = 0, failed = 0;
    for (Pin* p : source->pins()) {
        if (p->direction() != PinDirection::output) continue;
        if (succeeded(renderPin(*p)))
            ++rendered;
        else
            ++failed;
    }
    if (rendered == 0) {
        while (!m_filters.empty())
            removeFilter(*m_filters.back());
        return kUnsupportedStream;
    }
    return failed ? kFalse : kOk;
}

// Renderers first, so that nothing is delivered to a filter that is not ready for it.
std::vector<Filter*> FilterGraph::orderedDownstreamFirst() const
{
    std::vector<Filter*> out;
    for (const auto& f : m_filters)
        if (!hasOutputs(*f)) out.push_back(f.get());
    for (const auto& f : m_filters)
        if (hasOutputs(*f) && firstPin(*f, PinDirection::input)) out.push_back(f.get());
    for (const auto& f : m_filters)
        if (hasOutputs(*f) && !firstPin(*f, PinDirection::input)) out.push_back(f.get());
    return out;
}

HResult FilterGraph::run()
{
    if (m_state == FilterState::running) return kOk;
    if (m_state == FilterState::stopped) pause();
    {
        std::lock_guard lock(m_clockLock);
        m_runStart = std::chrono::steady_clock::now();
    }
    m_completePosted = false;
    m_state = FilterState::running;
    for (Filter* f : orderedDownstreamFirst())
        f->run(m_position);
    return kOk;
}

HResult FilterGraph::pause()
{
    if (m_state == FilterState::running) {
        std::lock_guard lock(m_clockLock);
        m_position = std::clamp<int64_t>(streamTimeLocked(), 0, std::max<int64_t>(0, duration()));
    }
    m_state = FilterState::paused;
    for (Filter* f : orderedDownstreamFirst())
        f->pause();
    return kOk;
}

HResult FilterGraph::stop()
{
    if (m_state == FilterState::stopped) return kOk;
    if (m_state == FilterState::running) pause();
    m_state = FilterState::stopped;
    for (Filter* f : orderedDownstreamFirst())
        f->stop();
    return kOk;
}

HResult FilterGraph::setTimeFormat(const Guid& format)
{
    return format == kTimeFormatMediaTime ? kOk : kTimeFormatNotSupported;
}

HResult FilterGraph::setPosition(int64_t position)
{
    const int64_t d = duration();
    position = std::clamp<int64_t>(position, 0, std::max<int64_t>(0, d));
    {
        std::lock_guard lock(m_clockLock);
        m_position = position;
        m_runStart = std::chrono::steady_clock::now();
    }
    m_completePosted = false;
    auto newSegment = [&] {
        for (const auto& f : m_filters)
            for (Pin* p : f->pins())
                if (p->direction() == PinDirection::input) p->newSegment(position);
    };
    // Renderers end their waits, the sources take the position up, then the renderers forget
    // what arrived from before it meanwhile.
    newSegment();
    bool sought = false;
    for (const auto& f : m_filters)
        if (FileSource* s = fileSourceOf(*f)) {
            s->seek(position);
            sought = true;
        }
    newSegment();
    return sought ? kOk : kNotFound;
}

int64_t FilterGraph::streamTimeLocked() const
{
    if (m_state != FilterState::running) return m_position;
    const auto elapsed = std::chrono::steady_clock::now() - m_runStart;
    const double units =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / 100.0;
    return m_position + int64_t(units * m_rate);
}

int64_t FilterGraph::streamTime() const
{
    std::lock_guard lock(m_clockLock);
    return streamTimeLocked();
}

int64_t FilterGraph::currentPosition() const
{
    return std::clamp<int64_t>(streamTime(), 0, std::max<int64_t>(0, duration()));
}

int64_t FilterGraph::duration() const
{
    int64_t d = 0;
    for (const auto& f : m_filters)
        if (FileSource* s = fileSourceOf(*f)) d = std::max(d, s->duration());
    return d;
}

HResult FilterGraph::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate)) return kInvalidArg;
    std::lock_guard lock(m_clockLock);
    // The clock continues from where it is now.
    if (m_state == FilterState::running) {
        m_position = streamTimeLocked();
        m_runStart = std::chrono::steady_clock::now();
    }
    m_rate = rate;
    return kOk;
}

HResult FilterGraph::putCurrentPosition(double seconds)
{
    if (!std::isfinite(seconds)) return kInvalidArg;
    return setPosition(int64_t(std::llround(seconds * double(kUnitsPerSecond))));
}

double FilterGraph::getCurrentPosition() const
{
    return double(currentPosition()) / double(kUnitsPerSecond);
}

void FilterGraph::postEvent(int32_t code, intptr_t p1, intptr_t p2)
{
    std::function<void()> notify;
    {
        std::lock_guard lock(m_eventLock);
        m_events.push_back({code, p1, p2});
        notify = m_notify;
    }
    m_eventArrived.notify_all();
    if (notify) notify();
}

HResult FilterGraph::getEvent(int32_t& code, intptr_t& p1, intptr_t& p2, int32_t timeoutMs)
{
    std::unique_lock lock(m_eventLock);
    if (!m_eventArrived.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                 [&] { return !m_events.empty(); }))
        return kFalse;
    code = m_events.front().code;
    p1 = m_events.front().p1;
    p2 = m_events.front().p2;
    m_events.pop_front();
    return kOk;
}

HResult FilterGraph::freeEventParams(int32_t, intptr_t, intptr_t) { return kOk; }

void FilterGraph::setNotify(std::function<void()> notify)
{
    std::lock_guard lock(m_eventLock);
    m_notify = std::move(notify);
}

VideoWindow* FilterGraph::videoWindow() const
{
    for (const auto& f : m_filters)
        if (void* w = f->queryInterface(kIIDVideoWindow)) return static_cast<VideoWindow*>(w);
    return nullptr;
}

Filter* FilterGraph::videoRenderer() const
{
    for (const auto& f : m_filters)
        if (f->queryInterface(kIIDBasicVideo)) return f.get();
    return nullptr;
}

Filter* FilterGraph::audioRenderer() const
{
    for (const auto& f : m_filters)
        if (f->queryInterface(kIIDBasicAudio)) return f.get();
    return nullptr;
}

void FilterGraph::rendererEnded()
{
    if (m_state != FilterState::running || m_completePosted) return;
    for (const auto& f : m_filters)
        if (!hasOutputs(*f) && !f->reachedEnd()) return;
    m_completePosted = true;
    postEvent(kEventComplete);
}

void FilterGraph::wakeSources()
{
    for (const auto& f : m_filters)
        f->wake();
}

} // namespace zef::graph
