// The render filter library `quorrel`: the filters that hand decoded pictures and sound of a
// media graph to the editor.
//
// "Video Quorrel" (kClassVideoQuorrel) is a video renderer that, when armed, copies the next
// picture it receives into a 32-bit buffer and signals the armed event; the editor reads the
// buffer with GetFrame. In display mode it also shows the pictures in its video window;
// outside display mode it shows nothing, and it holds the stream (takes no sample) until it
// is armed, so that a picture is never passed by between two fetches.
//
// "DX Audio Renderer" (kClassAudioQuorrel) collects, when armed, the given number of the
// source's sound frames from a start time and signals the event when they are in (or the
// stream ended: the rest is silence); GetAudio writes them as 16-bit stereo at 44.1 kHz.
//
// The library registers both classes through DllRegisterServer with the registry it is
// given; the editor makes them with the registry's create. The interfaces are reached with
// Filter::queryInterface. GetFrame, GetAudio and the arming calls are called from the
// editor's thread, the samples arrive on the graph's streaming thread; the filters guard
// their buffers with a lock.
#pragma once

#include "platform/graph/class_registry.h"
#include "platform/graph/event.h"
#include "platform/graph/filter.h"

#include <cstdint>
#include <memory>

namespace zef::quorrel {

using graph::Guid;
using graph::HResult;

constexpr Guid kClassVideoQuorrel = Guid::parse("{FD501043-8EBE-11CE-8183-00AA00577EA1}");
constexpr Guid kClassAudioQuorrel = Guid::parse("{FD501043-8EBE-11CE-8183-00AA00577EA2}");
constexpr Guid kIIDFrameBuffer = Guid::parse("{FD5010A2-8EBE-11CE-8183-00AA00577DB1}");
constexpr Guid kIIDAudioBuffer = Guid::parse("{FD5010A2-8EBE-11CE-8183-00AA00577DB2}");
constexpr Guid kIIDClassFactory = Guid::parse("{00000001-0000-0000-C000-000000000046}");

constexpr const char* kVideoQuorrelName = "Video Quorrel";
constexpr const char* kAudioQuorrelName = "DX Audio Renderer";
constexpr uint32_t kVideoQuorrelMerit = 0x00200000;

// The frame buffer interface of Video Quorrel.
class FrameBuffer {
public:
    // Copies the last captured picture into destination (width × height pixels of 4 bytes,
    // rows rowBytes apart): a plain copy at the captured size with rowBytes = width × 4 and no
    // flip, else nearest-neighbour scaling of the whole picture onto the whole destination,
    // with flip taking the rows bottom-up. The captured picture is in the order the samples
    // store rows (bottom-up for the RGB types of the graph), pixels blue, green, red, alpha.
    // kFail when no picture was ever captured, or when the stream ended while armed without
    // giving one (the armed event is then set at once, so nobody waits for a picture that
    // cannot come).
    virtual HResult GetFrame(uint8_t* destination, int32_t width, int32_t height, int32_t rowBytes,
                             bool flip) = 0;
    // Arms the capture of the next sample: the event is reset, then set when it is in. A null
    // event disarms.
    virtual HResult ArmFrameEvent(graph::Event* event) = 0;
    // The part of the picture shown in display mode: left, top, right, bottom in pixels.
    virtual HResult SetSourceRect(const int32_t rect[4]) = 0;
    virtual HResult SetDisplayMode(bool display) = 0;

protected:
    ~FrameBuffer() = default;
};

// The audio buffer interface of the audio renderer.
class AudioBuffer {
public:
    // Writes the collected material as frames 16-bit stereo frames at 44,100 Hz (the
    // collected source frames spread over them). kFail when nothing was collected.
    virtual HResult GetAudio(int16_t* destination, int32_t frames) = 0;
    // Arms the collection of sourceFrames frames of the source from start (media time) on;
    // stop is the end of the wanted span as the caller sees it. The event is reset, then set
    // when they are in. A null event disarms.
    virtual HResult ArmAudioEvent(graph::Event* event, int32_t sourceFrames, int64_t start,
                                  int64_t stop) = 0;

protected:
    ~AudioBuffer() = default;
};

class ClassFactory {
public:
    virtual std::shared_ptr<graph::Filter> createInstance() = 0;

protected:
    ~ClassFactory() = default;
};

} // namespace zef::quorrel

extern "C" {
// Registers the library's two classes with the registry.
zef::graph::HResult DllRegisterServer(zef::graph::FilterClassRegistry* registry);
zef::graph::HResult DllUnregisterServer(zef::graph::FilterClassRegistry* registry);
// The class factory (kIIDClassFactory) of one of the two classes.
zef::graph::HResult DllGetClassObject(const zef::graph::Guid* classId, const zef::graph::Guid* iid,
                                      void** factory);
// kOk when no object of the library is alive.
zef::graph::HResult DllCanUnloadNow();
}
