#include "platform/graph/filter.h"
#include "platform/graph/filter_graph.h"

namespace zef::graph {

Pin::Pin(Filter& owner, std::string name, PinDirection direction)
    : m_owner(owner), m_name(std::move(name)), m_direction(direction)
{
}

Pin::~Pin() = default;

HResult Pin::connect(Pin& input, const MediaType* type)
{
    if (m_direction != PinDirection::output || input.direction() != PinDirection::input)
        return kInvalidArg;
    if (m_connected || input.m_connected) return kAlreadyConnected;
    auto tryType = [&](const MediaType& t) -> HResult {
        if (checkMediaType(t) != kOk) return kTypeNotAccepted;
        if (input.checkMediaType(t) != kOk) return kTypeNotAccepted;
        m_connected = &input;
        input.m_connected = this;
        m_type = input.m_type = t;
        HResult r = completeConnect(input, t);
        if (succeeded(r)) r = input.completeConnect(*this, t);
        if (!succeeded(r)) {
            m_connected = input.m_connected = nullptr;
            m_type = input.m_type = MediaType{};
        }
        return r;
    };
    if (type) return tryType(*type);
    const std::vector<MediaType> offered = mediaTypes();
    if (offered.empty()) return kNoAcceptableTypes;
    for (const MediaType& t : offered)
        if (succeeded(tryType(t))) return kOk;
    return kNoAcceptableTypes;
}

HResult Pin::disconnect()
{
    if (!m_connected) return kFalse;
    m_connected = nullptr;
    m_type = MediaType{};
    breakConnect();
    return kOk;
}

bool Pin::downstreamReady() const { return m_connected && m_connected->readyForSample(); }

HResult Pin::deliver(const MediaSample& sample)
{
    return m_connected ? m_connected->receive(sample) : kNotConnected;
}

void Pin::deliverEndOfStream()
{
    if (m_connected) m_connected->endOfStream();
}

void Pin::deliverNewSegment(int64_t start)
{
    if (m_connected) m_connected->newSegment(start);
}

Filter::~Filter() = default;

HResult Filter::pause()
{
    m_state = FilterState::paused;
    return kOk;
}

HResult Filter::run(int64_t)
{
    m_state = FilterState::running;
    return kOk;
}

HResult Filter::stop()
{
    m_state = FilterState::stopped;
    return kOk;
}

void Filter::joinGraph(FilterGraph* graph, const std::string& name)
{
    m_graph = graph;
    m_name = graph ? name : std::string();
}

Pin* Filter::findPin(const std::string& name)
{
    for (Pin* p : pins())
        if (p->name() == name) return p;
    return nullptr;
}

Pin* firstPin(Filter& filter, PinDirection direction)
{
    for (Pin* p : filter.pins())
        if (p->direction() == direction) return p;
    return nullptr;
}

} // namespace zef::graph
