// The editor's side of the host callbacks: C functions the program exports by name
// (CALLBACK_…, app/host_exports.cpp) so that plug-ins loaded into it — effect components with
// their own parameter dialogs, capture plug-ins — can reach back into it: a frame of the clips
// around the effect being edited, that effect's parameter block, the parameter block of the
// transition in force at a time, whether a render to file runs, and the live capture.
//
// Every copy is bounded: a length is never negative and never more than kMaxHostBlock, a copy
// out of a parameter block takes at most the block's size (the rest of the destination is
// zeroed), a copy into an existing block at most its size (the block keeps its size), a new
// block is made of the length asked for, and a frame is at most kMaxHostFrameSide pixels a
// side. Answers are 1 on success and 0 otherwise.
//
// The program registers one HostContext at start-up. The callbacks run on whatever thread the
// plug-in calls them from; they are serialised among themselves, but the project is not
// locked against the GUI thread (a plug-in calls them from inside its dialog, which the GUI
// thread runs).
#pragma once

#include "capture/capture_plugin.h"

#include <cstdint>
#include <functional>

namespace zef {
class FProject;
class ZEFSourceItem;
} // namespace zef

namespace zef::app {

constexpr int32_t kMaxHostBlock = 1 << 20;  // bytes of a parameter block a call may copy
constexpr int32_t kMaxHostFrameSide = 8192; // pixels of a frame's width or height

struct HostContext {
    FProject* project = nullptr;
    ICaptureDevicePlugin* plugin = nullptr;
    // Opens the capture device for a plug-in (hosted); true when it is open.
    std::function<bool()> handleCapturing;
    // Draws the clip's picture at project time `ticks` into width × height 32-bit pixels,
    // bottom-up; false when nothing was drawn.
    std::function<bool(const ZEFSourceItem& clip, int64_t ticks, uint8_t* buffer, int32_t width,
                       int32_t height)>
        drawClip;
};

// The registration the exports use; null clears it.
void registerHostContext(HostContext* context);

int32_t hostIsPreviewMode();
int32_t hostHandleCapturing();
intptr_t hostGetCapturedFramePtr(int32_t a, int32_t b, int32_t c, int32_t d);
int32_t hostGetFrame(int32_t frame, int32_t second, void* buffer, int32_t width, int32_t height);
int32_t hostSaveData(void* destination, int32_t length);
int32_t hostLoadData(const void* source, int32_t length);
int32_t hostFillDataFromTime(void* destination, int32_t length, int32_t value, int32_t scale);

} // namespace zef::app
