// Filters and pins: the parts of a media graph.
//
// A filter has pins; an output pin of one filter is connected to an input pin of another with
// a media type both accept. Samples travel downstream by calls: the upstream filter's thread
// calls the input pin's receive() and the filter handles the sample before returning (a
// converter hands its result on in the same call). Flow is driven by demand: a source only
// delivers a sample on an output pin whose downstream input says readyForSample(), so a
// renderer that has what it wants holds the stream where it is instead of losing samples.
//
// Results are HResult codes (kOk, kFalse, or a negative failure). Interfaces beyond the base
// classes are found with queryInterface and an interface identifier, so that filters made by
// another library are reached without knowing their classes.
//
// Thread safety: connecting and the state calls happen on the thread that controls the graph;
// receive, readyForSample, endOfStream and the flushes come from the graph's streaming
// thread. Filters guard what the two share.
#pragma once

#include "platform/graph/guid.h"
#include "platform/graph/media_type.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

namespace zef::graph {

using HResult = int32_t;
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;
constexpr HResult kFail = int32_t(0x80004005);
constexpr HResult kInvalidArg = int32_t(0x80070057);
constexpr HResult kNoInterface = int32_t(0x80004002);
constexpr HResult kPointer = int32_t(0x80004003);
constexpr HResult kOutOfMemory = int32_t(0x8007000E);
constexpr HResult kNotImplemented = int32_t(0x80004001);
// Graph failures.
constexpr HResult kAlreadyConnected = int32_t(0x80040204);
constexpr HResult kNotConnected = int32_t(0x80040209);
constexpr HResult kNoAcceptableTypes = int32_t(0x80040207);
constexpr HResult kTypeNotAccepted = int32_t(0x8004022A);
constexpr HResult kCannotRender = int32_t(0x80040218);
constexpr HResult kUnsupportedStream = int32_t(0x80040265);
constexpr HResult kWrongState = int32_t(0x80040227);
constexpr HResult kNotFound = int32_t(0x80040216);
constexpr HResult kTimeFormatNotSupported = int32_t(0x8004025B);
inline bool succeeded(HResult r) { return r >= 0; }

// Graph events (code, two parameters).
constexpr int32_t kEventComplete = 1;   // every renderer has reached the end of its stream
constexpr int32_t kEventUserAbort = 2;  // a renderer's window was closed by the user
constexpr int32_t kEventErrorAbort = 3; // the stream stopped on an error; parameter 1: HResult

enum class FilterState { stopped, paused, running };
enum class PinDirection { input, output };

// One sample: data valid only during the receive call that carries it.
struct MediaSample {
    const uint8_t* data = nullptr;
    size_t size = 0;
    int64_t start = 0; // media time of the first picture or sound frame
    int64_t stop = 0;  // media time at which the next one begins
    bool discontinuity = false;
    // A YUV sample carries the decoder's picture instead of data.
    const AVFrame* picture = nullptr;
};

class Filter;
class FilterGraph;

class Pin {
public:
    Pin(Filter& owner, std::string name, PinDirection direction);
    virtual ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    Filter& filter() const { return m_owner; }
    const std::string& name() const { return m_name; }
    PinDirection direction() const { return m_direction; }
    Pin* connectedTo() const { return m_connected; }
    bool isConnected() const { return m_connected != nullptr; }
    // The type of the connection; MajorType::none when not connected.
    const MediaType& connectionMediaType() const { return m_type; }

    // The types an output pin offers, preferred first (input pins may list none).
    virtual std::vector<MediaType> mediaTypes() const { return {}; }
    // Whether this pin takes a connection of that type: kOk, or why not.
    virtual HResult checkMediaType(const MediaType& type) const = 0;

    // Connects this output pin to input: with the given type, or the first offered type the
    // input accepts. kAlreadyConnected, kNoAcceptableTypes, kTypeNotAccepted.
    HResult connect(Pin& input, const MediaType* type = nullptr);
    // Breaks this pin's side of a connection (the other side is broken separately).
    HResult disconnect();

    // Streaming, on input pins. receive handles one sample; kFalse asks the upstream to stop
    // sending (it is flushing or stopped).
    virtual HResult receive(const MediaSample&) { return kNotImplemented; }
    virtual bool readyForSample() const { return false; }
    virtual void endOfStream() {}
    // The source jumped to another place: what an input held from before is dropped.
    virtual void newSegment(int64_t /*start*/) {}

    // Output pins: the downstream input's answers (false / kNotConnected without one).
    bool downstreamReady() const;
    HResult deliver(const MediaSample& sample);
    void deliverEndOfStream();
    void deliverNewSegment(int64_t start);

protected:
    // Called on both pins when a connection is made or broken.
    virtual HResult completeConnect(Pin& /*other*/, const MediaType& /*type*/) { return kOk; }
    virtual void breakConnect() {}

private:
    Filter& m_owner;
    std::string m_name;
    PinDirection m_direction;
    Pin* m_connected = nullptr;
    MediaType m_type;
};

class Filter {
public:
    virtual ~Filter();
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    virtual Guid classId() const = 0;
    virtual std::vector<Pin*> pins() = 0;
    // The interface with that identifier, or null.
    virtual void* queryInterface(const Guid& /*iid*/) { return nullptr; }

    // State changes, made by the graph (filters are told in downstream-first order).
    virtual HResult pause();
    virtual HResult run(int64_t startTime);
    virtual HResult stop();
    FilterState state() const { return m_state; }
    // Sources only: the streaming thread is told that a downstream pin may be ready now.
    virtual void wake() {}
    // Renderers: whether the end of their stream has arrived (others answer true).
    virtual bool reachedEnd() const { return true; }

    const std::string& name() const { return m_name; }
    FilterGraph* graph() const { return m_graph; }
    // Called by the graph when the filter joins (graph set) or leaves (null) it.
    virtual void joinGraph(FilterGraph* graph, const std::string& name);

    Pin* findPin(const std::string& name);

protected:
    Filter() = default;
    FilterState m_state = FilterState::stopped;

private:
    FilterGraph* m_graph = nullptr;
    std::string m_name;
};

// The first pin of a filter in that direction, or null.
Pin* firstPin(Filter& filter, PinDirection direction);

} // namespace zef::graph
