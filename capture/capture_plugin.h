// The contract between the editor and its capture plug-in library.
//
// The plug-in is a shared library of its own that the program links against; the program
// does not start without it. Its one export, CreateCaptureInstance, makes an
// ICaptureDevicePlugin: the editor makes one per run, when the project is set up, and destroys
// it with delete when the project goes. The editor never sees the plug-in's classes; both
// sides meet only in the table of virtual functions below, so its order is fixed: every
// function has its entry number (written beside it) and no entry ever moves. On this
// platform's C++ ABI a virtual destructor fills two entries, 0 (destroy) and 1 (destroy and
// free the memory; what delete calls), so the first function proper is entry 2. Entries 19,
// 21, 25, 26, 28 and 30 exist and are never called; reserved functions hold their places.
//
// The plug-in built with the editor (captureplugin/, libzefcapture.so) lists the devices
// FFmpeg's device library sees (V4L2 video, ALSA and PulseAudio sound) and an always-present
// "Test Pattern" video and "Test Tone" audio device, keeps the selection, frame rate and
// capture file, and saves and restores them. It captures into AVI files (Motion JPEG, or DV
// with interleaved DV, and 16-bit PCM sound at 48 kHz) and hands the preview's pictures to the
// editor through GetCapturedFramePtr (CapturedFrame below), which draws them itself. It has
// no settings dialogs: GetCapabilities offers none, ShowDialog and ShowMoreDialog answer
// kCaptureErrNotImplemented.
//
// Results: HResult, negative = failure, 0 or positive = success (kCaptureFalse: success with
// nothing to give), unless a function says otherwise.
//
// Memory: every string and settings block a function returns through an out argument is
// allocated by the plug-in with zef::com::taskMemAlloc (platform/com/task_memory.h) and
// belongs to the caller, who frees it with zef::com::taskMemFree. Strings are zero-terminated
// UTF-8. Out arguments are set to null (or left as they were, where a function says so) on
// failure. Arguments the editor passes in stay the editor's; the plug-in copies what it keeps.
//
// Threads: an instance is not thread-safe; the editor calls it from its GUI thread only. Calls
// may take a moment (listing devices opens them) but never wait for a device without limit.
// The event procedure given to StartCapture is called on a thread of the plug-in; the editor
// copies what it needs, hands the event on to its GUI thread and does not call the instance
// from inside the procedure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zef {

using HResult = int32_t;

constexpr HResult kCaptureOk = 0;
constexpr HResult kCaptureFalse = 1;              // success, nothing to give
constexpr HResult kCaptureErrFail = -1;           // failure without a more precise reason
constexpr HResult kCaptureErrNotImplemented = -2; // this plug-in does not do that (yet)
constexpr HResult kCaptureErrInvalidArg = -3;     // an argument out of range or malformed
constexpr HResult kCaptureErrPointer = -4;        // a required pointer argument is null
constexpr HResult kCaptureErrOutOfMemory = -5;
constexpr HResult kCaptureErrBadSettings = -6; // a settings block damaged or not this plug-in's
constexpr HResult kCaptureErrNoDevice = -7;    // the named or selected device is not present
constexpr HResult kCaptureErrBusy = -8;        // not allowed in the current state
constexpr HResult kCaptureErrFile = -9;        // a file could not be created or written

constexpr bool captureFailed(HResult result) { return result < 0; }

// Bits of GetCapabilities: which settings dialogs ShowDialog / ShowMoreDialog can show.
constexpr uint32_t kCaptureCanDisplay = 1u << 2;       // ShowDialog(4), "Display..."
constexpr uint32_t kCaptureCanFormat = 1u << 3;        // ShowDialog(1), "Format..."
constexpr uint32_t kCaptureCanAudioSettings = 1u << 4; // ShowDialog(2), audio "Settings..."
constexpr uint32_t kCaptureCanVideoSettings = 1u << 5; // ShowDialog(0), video "Settings..."
constexpr uint32_t kCaptureCanCompress = 1u << 6;      // ShowDialog(3), "Compress..."

// Values of GetState. The editor presets the out value to -1 and tests for 9 and 11.
constexpr int32_t kCaptureStateClosed = 0;
constexpr int32_t kCaptureStateOpen = 1; // open, neither previewing nor capturing
constexpr int32_t kCaptureStatePreviewing = 9;
constexpr int32_t kCaptureStateCapturing = 11;

// Event codes of the event procedure and their argument.
constexpr int32_t kCaptureEventStarted = 0;    // argument 0
constexpr int32_t kCaptureEventFinished = 1;   // argument: kCaptureEnd… (why it ended)
constexpr int32_t kCaptureEventProgress = 2;   // argument: percentage; 100 or more ends it
constexpr int32_t kCaptureEventStatistics = 4; // argument: const CaptureStatistics*

// Why a capture finished (the argument of kCaptureEventFinished). Whatever the reason, the
// file holds what was captured up to then and is closed as a playable movie.
constexpr int32_t kCaptureEndStopped = 0;    // StopCapture, or the maximum length was reached
constexpr int32_t kCaptureEndDiskFull = 1;   // the disk (or the file size limit) ran out
constexpr int32_t kCaptureEndDeviceLost = 2; // a device stopped delivering
constexpr int32_t kCaptureEndWriteError = 3; // the file could not be written

// The running figures of a capture, passed with kCaptureEventStatistics; valid only during
// the call of the event procedure.
struct CaptureStatistics {
    float achievedFrameRate;  // frames per second
    int32_t achievedDataRate; // bytes per second
    int32_t capturedTime;     // milliseconds
    int32_t capturedFrames;
    int32_t droppedFrames;
    int32_t diskSecondsRemaining; // what the whole free disk space allows; negative = unknown
    int32_t fileSecondsRemaining; // what the pre-allocated capture file allows; negative = none
};
static_assert(sizeof(CaptureStatistics) == 28, "seven 32-bit fields, no padding");
static_assert(offsetof(CaptureStatistics, fileSecondsRemaining) == 24);

// The event procedure: C calling convention; context is the plug-in instance (the editor
// ignores it); returns 0.
extern "C" {
typedef int32_t (*CaptureEventProc)(void* context, int32_t event, intptr_t argument);
}

// A window of the platform's window system (an X11 window id), 0 = none.
using WindowId = uintptr_t;

// A rectangle in pixels of the preview window's client area; right and bottom are exclusive.
struct CaptureRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// What GetCapturedFramePtr(kCapturedFrameNewest, 0, 0, 0) answers: a copy of the newest
// preview picture, a header followed by height rows of stride bytes (BGRA). It belongs to the
// plug-in and stays valid until the next call of GetCapturedFramePtr or Close.
constexpr int32_t kCapturedFrameNewest = 0;
struct CapturedFrame {
    int32_t width;
    int32_t height;
    int32_t stride;
    int32_t reserved;
    uint64_t sequence; // grows with every new picture
};
static_assert(sizeof(CapturedFrame) == 24);

class ICaptureDevicePlugin {
public:
    // 0, 1: destroys the instance; closes the device first if it is open.
    virtual ~ICaptureDevicePlugin() = default;

    // 2: the dialogs the plug-in offers, kCaptureCan… bits.
    virtual HResult GetCapabilities(uint32_t* flags) noexcept = 0;
    // 3: kCaptureState… of the instance.
    virtual HResult GetState(int32_t* state) noexcept = 0;
    // 4: the plug-in's further settings ("More...").
    virtual HResult ShowMoreDialog() noexcept = 0;
    // 5: opens the capture device for the selected video and audio devices (choosing the
    // defaults where none is selected); the windows are the editor's main window and the
    // window the preview is shown in. Fails with kCaptureErrNoDevice when a selected device is
    // not present; the instance then stays closed.
    virtual HResult Open(WindowId mainWindow, WindowId previewWindow) noexcept = 0;
    // 6: stops preview and capture and closes the device; closing a closed instance succeeds.
    virtual HResult Close() noexcept = 0;

    // 7: lists the video devices present now; the names by index refer to this list.
    virtual HResult GetVideoDeviceCount(int32_t* count) noexcept = 0;
    // 8: the name of entry index of that list; the caller frees it with taskMemFree.
    virtual HResult GetVideoDeviceName(int32_t index, char** name) noexcept = 0;
    // 9: the selected video device's name (the caller frees it), or null and kCaptureFalse
    // when none is selected.
    virtual HResult GetCurrentVideoDevice(char** name) noexcept = 0;
    // 10: selects the video device of that name; kCaptureErrNoDevice if none has it.
    virtual HResult SelectVideoDevice(const char* name) noexcept = 0;
    // 11 … 14: the same for audio devices.
    virtual HResult GetAudioDeviceCount(int32_t* count) noexcept = 0;
    virtual HResult GetAudioDeviceName(int32_t index, char** name) noexcept = 0;
    virtual HResult GetCurrentAudioDevice(char** name) noexcept = 0;
    virtual HResult SelectAudioDevice(const char* name) noexcept = 0;

    // 15: starts capturing to fileName for at most maxSeconds (-1 = until stopped); events go
    // to eventProc. 0 = started, anything else = failed. reserved is 0.
    virtual HResult StartCapture(int64_t maxSeconds, CaptureEventProc eventProc,
                                 bool useCaptureFile, int32_t reserved, bool previewDuringCapture,
                                 bool interleavedDV, const char* fileName) noexcept = 0;
    // 16: starts or stops the preview in the preview window. reserved is 0.
    virtual HResult SetPreview(int32_t reserved, bool on, bool optimized) noexcept = 0;
    // 17: stops the capture; kCaptureEventFinished follows. reserved is 0.
    virtual HResult StopCapture(int32_t reserved) noexcept = 0;
    // 18: copies the capture file to destination, with progress events.
    virtual HResult ExportCaptureFile(const char* destination) noexcept = 0;
    // 19: never called.
    virtual HResult Reserved19() noexcept { return kCaptureErrNotImplemented; }
    // 20: the capture file. size 0 only sets the path; otherwise the file is made anew and
    // size bytes of disk are reserved for it. On failure the previous file stays set.
    virtual HResult SetCaptureFile(const char* path, uint64_t size) noexcept = 0;
    // 21: never called.
    virtual HResult Reserved21() noexcept { return kCaptureErrNotImplemented; }
    // 22: shows a settings dialog: 0 video settings, 1 format, 2 audio settings,
    // 3 compression, 4 display.
    virtual HResult ShowDialog(int32_t which) noexcept = 0;
    // 23: restores what SaveSettings saved. A block that is damaged, of another version or of
    // another plug-in is refused with kCaptureErrBadSettings and changes nothing. hosted is
    // true when another plug-in, not the user, opened the device. The block stays the caller's.
    virtual HResult RestoreSettings(const void* block, uint32_t size, bool hosted) noexcept = 0;
    // 24: the plug-in's settings as one block; the caller frees it with taskMemFree.
    virtual HResult SaveSettings(void** block, uint32_t* size) noexcept = 0;
    // 25, 26: never called.
    virtual HResult Reserved25() noexcept { return kCaptureErrNotImplemented; }
    virtual HResult Reserved26() noexcept { return kCaptureErrNotImplemented; }
    // 27: where in the preview window the video is shown.
    virtual HResult SetVideoWindow(const CaptureRect* area) noexcept = 0;
    // 28: never called.
    virtual HResult Reserved28() noexcept { return kCaptureErrNotImplemented; }
    // 29: the capture frame rate in frames per second; 0 = unset (the device's own rate).
    virtual HResult SetFrameRate(double framesPerSecond) noexcept = 0;
    // 30: never called.
    virtual HResult Reserved30() noexcept { return kCaptureErrNotImplemented; }
    // 31: serves the editor's export CALLBACK_GetCapturedFramePtr, which passes its four values
    // through and returns this result unchanged; negative = failure.
    virtual intptr_t GetCapturedFramePtr(int32_t a, int32_t b, int32_t c, int32_t d) noexcept = 0;
    // 32: nonzero while a preview runs.
    virtual int32_t IsPreviewRunning() noexcept = 0;
};

// The plug-in library's export: a new instance, or null when it cannot be made.
extern "C" __attribute__((visibility("default"))) ICaptureDevicePlugin* CreateCaptureInstance();

} // namespace zef
