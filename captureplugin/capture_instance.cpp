#include "captureplugin/capture_instance.h"

#include "captureplugin/settings_block.h"
#include "platform/com/task_memory.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <unistd.h>

namespace zef::captureplugin {

namespace {

// Runs body, turning exceptions into results: nothing may unwind into the caller.
template <class Body> HResult guarded(Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kCaptureErrOutOfMemory;
    } catch (...) {
        return kCaptureErrFail;
    }
}

HResult giveString(const std::string& text, char** out)
{
    *out = com::taskMemDupString(text);
    return *out ? kCaptureOk : kCaptureErrOutOfMemory;
}

// Makes path anew and reserves size bytes of disk for it; on failure no file is left there.
HResult makeReservedFile(const std::string& path, uint64_t size)
{
    if (size > uint64_t(std::numeric_limits<off_t>::max())) return kCaptureErrInvalidArg;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return kCaptureErrFile;
    int error = ::posix_fallocate(fd, 0, off_t(size));
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(path.c_str());
        return kCaptureErrFile;
    }
    return kCaptureOk;
}

} // namespace

CaptureInstance::~CaptureInstance() { Close(); }

HResult CaptureInstance::GetCapabilities(uint32_t* flags) noexcept
{
    if (!flags) return kCaptureErrPointer;
    *flags = 0; // no settings dialog yet
    return kCaptureOk;
}

HResult CaptureInstance::GetState(int32_t* state) noexcept
{
    if (!state) return kCaptureErrPointer;
    *state = m_state;
    return kCaptureOk;
}

HResult CaptureInstance::ShowMoreDialog() noexcept { return kCaptureErrNotImplemented; }

HResult CaptureInstance::Open(WindowId mainWindow, WindowId previewWindow) noexcept
{
    return guarded([&] {
        if (m_state != kCaptureStateClosed) {
            m_mainWindow = mainWindow;
            m_previewWindow = previewWindow;
            return kCaptureOk;
        }
        // Both devices are settled before anything changes, so a failure leaves all as it was.
        std::optional<Device> chosen[2];
        Selection* selections[2] = {&m_video, &m_audio};
        for (int i = 0; i < 2; ++i) {
            Selection& s = *selections[i];
            relist(s);
            if (!s.current) {
                chosen[i] = s.listed[defaultDeviceIndex(s.listed)];
                continue;
            }
            for (const Device& d : s.listed)
                if (sameDevice(d, *s.current)) chosen[i] = d;
            if (!chosen[i]) return kCaptureErrNoDevice;
        }
        m_video.current = std::move(chosen[0]);
        m_audio.current = std::move(chosen[1]);
        m_mainWindow = mainWindow;
        m_previewWindow = previewWindow;
        m_state = kCaptureStateOpen;
        return kCaptureOk;
    });
}

HResult CaptureInstance::Close() noexcept
{
    m_state = kCaptureStateClosed;
    m_mainWindow = 0;
    m_previewWindow = 0;
    return kCaptureOk;
}

void CaptureInstance::relist(Selection& s)
{
    s.listed = listDevices(s.kind);
    s.everListed = true;
}

HResult CaptureInstance::count(Selection& s, int32_t* count)
{
    if (!count) return kCaptureErrPointer;
    return guarded([&] {
        relist(s);
        *count = int32_t(s.listed.size());
        return kCaptureOk;
    });
}

HResult CaptureInstance::nameAt(Selection& s, int32_t index, char** name)
{
    if (!name) return kCaptureErrPointer;
    *name = nullptr;
    return guarded([&] {
        if (!s.everListed) relist(s);
        if (index < 0 || size_t(index) >= s.listed.size()) return kCaptureErrInvalidArg;
        return giveString(s.listed[size_t(index)].name, name);
    });
}

HResult CaptureInstance::current(const Selection& s, char** name) const
{
    if (!name) return kCaptureErrPointer;
    *name = nullptr;
    if (!s.current) return kCaptureFalse;
    return guarded([&] { return giveString(s.current->name, name); });
}

HResult CaptureInstance::select(Selection& s, const char* name)
{
    if (!name) return kCaptureErrPointer;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    return guarded([&] {
        relist(s);
        for (const Device& d : s.listed) {
            if (d.name == name) {
                s.current = d;
                return kCaptureOk;
            }
        }
        return kCaptureErrNoDevice;
    });
}

HResult CaptureInstance::GetVideoDeviceCount(int32_t* n) noexcept { return count(m_video, n); }
HResult CaptureInstance::GetVideoDeviceName(int32_t index, char** name) noexcept
{
    return nameAt(m_video, index, name);
}
HResult CaptureInstance::GetCurrentVideoDevice(char** name) noexcept
{
    return current(m_video, name);
}
HResult CaptureInstance::SelectVideoDevice(const char* name) noexcept
{
    return select(m_video, name);
}
HResult CaptureInstance::GetAudioDeviceCount(int32_t* n) noexcept { return count(m_audio, n); }
HResult CaptureInstance::GetAudioDeviceName(int32_t index, char** name) noexcept
{
    return nameAt(m_audio, index, name);
}
HResult CaptureInstance::GetCurrentAudioDevice(char** name) noexcept
{
    return current(m_audio, name);
}
HResult CaptureInstance::SelectAudioDevice(const char* name) noexcept
{
    return select(m_audio, name);
}

HResult CaptureInstance::StartCapture(int64_t, CaptureEventProc, bool, int32_t, bool, bool,
                                      const char*) noexcept
{
    return kCaptureErrNotImplemented;
}

HResult CaptureInstance::SetPreview(int32_t, bool, bool) noexcept
{
    return kCaptureErrNotImplemented;
}

HResult CaptureInstance::StopCapture(int32_t) noexcept { return kCaptureErrNotImplemented; }

HResult CaptureInstance::ExportCaptureFile(const char*) noexcept
{
    return kCaptureErrNotImplemented;
}

HResult CaptureInstance::SetCaptureFile(const char* path, uint64_t size) noexcept
{
    if (!path) return kCaptureErrPointer;
    size_t length = std::strlen(path);
    if (length == 0 || length > kMaxSettingsText) return kCaptureErrInvalidArg;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    return guarded([&] {
        std::string file(path, length);
        if (size != 0) {
            if (HResult r = makeReservedFile(file, size); captureFailed(r)) return r;
        } else if (file == m_captureFile) {
            size = m_captureFileSize; // the same file keeps its reservation
        }
        m_captureFile = std::move(file);
        m_captureFileSize = size;
        return kCaptureOk;
    });
}

HResult CaptureInstance::ShowDialog(int32_t) noexcept { return kCaptureErrNotImplemented; }

HResult CaptureInstance::RestoreSettings(const void* block, uint32_t size,
                                         [[maybe_unused]] bool hosted) noexcept
{
    if (!block) return kCaptureErrPointer;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    return guarded([&] {
        PluginSettings s;
        if (!decodeSettings(static_cast<const uint8_t*>(block), size, s))
            return kCaptureErrBadSettings;
        // A restored device need not be present now: it stays selected, and Open says
        // whether it can be used.
        m_video.current = std::move(s.video);
        m_audio.current = std::move(s.audio);
        m_frameRate = s.frameRate;
        m_captureFile = std::move(s.captureFile);
        m_captureFileSize = s.captureFileSize;
        return kCaptureOk;
    });
}

HResult CaptureInstance::SaveSettings(void** block, uint32_t* size) noexcept
{
    if (!block || !size) return kCaptureErrPointer;
    *block = nullptr;
    *size = 0;
    return guarded([&] {
        PluginSettings s;
        s.video = m_video.current;
        s.audio = m_audio.current;
        s.frameRate = m_frameRate;
        s.captureFile = m_captureFile;
        s.captureFileSize = m_captureFileSize;
        std::vector<uint8_t> bytes = encodeSettings(s);
        void* copy = com::taskMemAlloc(bytes.size());
        if (!copy) return kCaptureErrOutOfMemory;
        std::memcpy(copy, bytes.data(), bytes.size());
        *block = copy;
        *size = uint32_t(bytes.size());
        return kCaptureOk;
    });
}

HResult CaptureInstance::SetVideoWindow(const CaptureRect*) noexcept
{
    return kCaptureErrNotImplemented;
}

HResult CaptureInstance::SetFrameRate(double framesPerSecond) noexcept
{
    if (!std::isfinite(framesPerSecond) || framesPerSecond < 0 || framesPerSecond > kMaxFrameRate)
        return kCaptureErrInvalidArg;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    m_frameRate = framesPerSecond;
    return kCaptureOk;
}

intptr_t CaptureInstance::GetCapturedFramePtr(int32_t, int32_t, int32_t, int32_t) noexcept
{
    return kCaptureErrNotImplemented;
}

int32_t CaptureInstance::IsPreviewRunning() noexcept
{
    return m_state == kCaptureStatePreviewing ? 1 : 0;
}

} // namespace zef::captureplugin

namespace zef {

extern "C" ICaptureDevicePlugin* CreateCaptureInstance()
{
    return new (std::nothrow) captureplugin::CaptureInstance();
}

} // namespace zef
