// The plug-in's ICaptureDevicePlugin (capture/capture_plugin.h states the contract).
//
// Lists the video and audio devices (device_list.h) anew on every count and select, keeps the
// selected devices, the frame rate and the capture file, makes and reserves the capture file,
// opens and closes (Open checks that the selected devices are present and selects the
// defaults where none is), and saves and restores all of that (settings_block.h). Preview and
// capture run a capture session (platform/avcapture) of the selected devices; a thread of the
// instance sends the capture's events: started, statistics four times a second, finished
// (after the file is closed, whether the capture was stopped or ended by itself).
#pragma once

#include "capture/capture_plugin.h"
#include "captureplugin/device_list.h"

#include "platform/avcapture/capture_session.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zef::captureplugin {

class CaptureInstance final : public ICaptureDevicePlugin {
public:
    CaptureInstance() = default;
    ~CaptureInstance() override;

    HResult GetCapabilities(uint32_t* flags) noexcept override;
    HResult GetState(int32_t* state) noexcept override;
    HResult ShowMoreDialog() noexcept override;
    HResult Open(WindowId mainWindow, WindowId previewWindow) noexcept override;
    HResult Close() noexcept override;
    HResult GetVideoDeviceCount(int32_t* count) noexcept override;
    HResult GetVideoDeviceName(int32_t index, char** name) noexcept override;
    HResult GetCurrentVideoDevice(char** name) noexcept override;
    HResult SelectVideoDevice(const char* name) noexcept override;
    HResult GetAudioDeviceCount(int32_t* count) noexcept override;
    HResult GetAudioDeviceName(int32_t index, char** name) noexcept override;
    HResult GetCurrentAudioDevice(char** name) noexcept override;
    HResult SelectAudioDevice(const char* name) noexcept override;
    HResult StartCapture(int64_t maxSeconds, CaptureEventProc eventProc, bool useCaptureFile,
                         int32_t reserved, bool previewDuringCapture, bool interleavedDV,
                         const char* fileName) noexcept override;
    HResult SetPreview(int32_t reserved, bool on, bool optimized) noexcept override;
    HResult StopCapture(int32_t reserved) noexcept override;
    HResult ExportCaptureFile(const char* destination) noexcept override;
    HResult SetCaptureFile(const char* path, uint64_t size) noexcept override;
    HResult ShowDialog(int32_t which) noexcept override;
    HResult RestoreSettings(const void* block, uint32_t size, bool hosted) noexcept override;
    HResult SaveSettings(void** block, uint32_t* size) noexcept override;
    HResult SetVideoWindow(const CaptureRect* area) noexcept override;
    HResult SetFrameRate(double framesPerSecond) noexcept override;
    intptr_t GetCapturedFramePtr(int32_t a, int32_t b, int32_t c, int32_t d) noexcept override;
    int32_t IsPreviewRunning() noexcept override;

private:
    struct Selection {
        MediaKind kind;
        std::vector<Device> listed; // the list the names by index refer to
        bool everListed = false;
        std::optional<Device> current;
    };

    HResult count(Selection& s, int32_t* count);
    HResult nameAt(Selection& s, int32_t index, char** name);
    HResult current(const Selection& s, char** name) const;
    HResult select(Selection& s, const char* name);
    void relist(Selection& s);
    // The session of the selected devices, made when first needed.
    HResult ensureSession();
    void endSession();
    void monitor(CaptureEventProc proc);

    Selection m_video{MediaKind::Video, {}, false, {}};
    Selection m_audio{MediaKind::Audio, {}, false, {}};
    int32_t m_state = kCaptureStateClosed;
    WindowId m_mainWindow = 0;
    WindowId m_previewWindow = 0;
    double m_frameRate = 0.0;
    std::string m_captureFile;
    uint64_t m_captureFileSize = 0;
    CaptureRect m_videoArea{0, 0, 0, 0};

    std::unique_ptr<avcapture::CaptureSession> m_session;
    bool m_previewOn = false;
    std::thread m_monitor;
    std::atomic<bool> m_stopRequested{false};
    CaptureEventProc m_eventProc = nullptr;
    std::string m_recordedFile;      // where the last capture went
    mutable std::mutex m_stateMutex; // m_state is also changed by the monitor thread
    std::vector<uint8_t> m_frame;    // what GetCapturedFramePtr handed out last
    uint64_t m_frameSequence = 0;
};

} // namespace zef::captureplugin
