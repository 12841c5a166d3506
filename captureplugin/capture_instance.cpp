#include "captureplugin/capture_instance.h"

#include "captureplugin/settings_block.h"
#include "platform/com/task_memory.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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

std::optional<avcapture::DeviceRef> deviceRef(const std::optional<Device>& d)
{
    if (!d) return std::nullopt;
    using avcapture::DeviceKind;
    switch (d->backend) {
    case Backend::Synthetic:
        return avcapture::DeviceRef{
            d->id == kTestToneId ? DeviceKind::TestTone : DeviceKind::TestPattern, {}};
    case Backend::V4L2:
        return avcapture::DeviceRef{DeviceKind::V4L2, d->id};
    case Backend::Alsa:
        return avcapture::DeviceRef{DeviceKind::Alsa, d->id};
    case Backend::Pulse:
        return avcapture::DeviceRef{DeviceKind::Pulse, d->id};
    }
    return std::nullopt;
}

int32_t clampSeconds(int64_t s) { return int32_t(std::min<int64_t>(s, INT32_MAX)); }

} // namespace

CaptureInstance::~CaptureInstance() { Close(); }

HResult CaptureInstance::ensureSession()
{
    if (m_session) return kCaptureOk;
    if (m_state == kCaptureStateClosed) return kCaptureErrBusy;
    try {
        m_session = std::make_unique<avcapture::CaptureSession>(
            deviceRef(m_video.current), deviceRef(m_audio.current),
            m_frameRate > 0 ? m_frameRate : 30.0);
    } catch (const std::exception&) {
        return kCaptureErrNoDevice;
    }
    return kCaptureOk;
}

void CaptureInstance::endSession()
{
    m_stopRequested = true;
    if (m_monitor.joinable()) m_monitor.join();
    m_session.reset();
    m_previewOn = false;
}

// Sends the capture's events from a thread of its own until the recording ends, then closes
// the file and tells the editor.
void CaptureInstance::monitor(CaptureEventProc proc)
{
    proc(this, kCaptureEventStarted, 0);
    auto send = [&](const avcapture::Statistics& st) {
        CaptureStatistics stats{};
        stats.achievedFrameRate = float(st.frameRate);
        stats.achievedDataRate = int32_t(std::min<double>(st.dataRate, INT32_MAX));
        stats.capturedTime = int32_t(std::min<int64_t>(st.capturedMs, INT32_MAX));
        stats.capturedFrames = int32_t(std::min<int64_t>(st.capturedFrames, INT32_MAX));
        stats.droppedFrames = int32_t(std::min<int64_t>(st.droppedFrames, INT32_MAX));
        stats.diskSecondsRemaining = clampSeconds(st.diskSecondsRemaining);
        stats.fileSecondsRemaining = -1;
        proc(this, kCaptureEventStatistics, reinterpret_cast<intptr_t>(&stats));
    };
    while (!m_stopRequested && !m_session->ended()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        send(m_session->statistics());
    }
    const avcapture::EndReason why =
        m_session->ended() ? m_session->endReason() : avcapture::EndReason::Stopped;
    m_session->stopRecording();
    send(m_session->statistics());
    int32_t end = kCaptureEndStopped;
    if (why == avcapture::EndReason::DiskFull) end = kCaptureEndDiskFull;
    if (why == avcapture::EndReason::DeviceLost) end = kCaptureEndDeviceLost;
    if (why == avcapture::EndReason::WriteError) end = kCaptureEndWriteError;
    {
        std::lock_guard lock(m_stateMutex);
        m_state = m_previewOn ? kCaptureStatePreviewing : kCaptureStateOpen;
    }
    proc(this, kCaptureEventFinished, end);
}

HResult CaptureInstance::GetCapabilities(uint32_t* flags) noexcept
{
    if (!flags) return kCaptureErrPointer;
    *flags = 0; // no settings dialog yet
    return kCaptureOk;
}

HResult CaptureInstance::GetState(int32_t* state) noexcept
{
    if (!state) return kCaptureErrPointer;
    std::lock_guard lock(m_stateMutex);
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
    endSession();
    m_frame.clear();
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
                const bool changed = !s.current || !sameDevice(*s.current, d);
                s.current = d;
                // An open device follows the selection: its preview goes on with the new one.
                if (changed && m_session) {
                    const bool preview = m_previewOn;
                    endSession();
                    if (preview) SetPreview(0, true, true);
                }
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

HResult CaptureInstance::StartCapture(int64_t maxSeconds, CaptureEventProc eventProc,
                                      bool useCaptureFile, int32_t, bool previewDuringCapture,
                                      bool interleavedDV, const char* fileName) noexcept
{
    if (!eventProc) return kCaptureErrPointer;
    if (!useCaptureFile && (!fileName || !*fileName)) return kCaptureErrInvalidArg;
    if (fileName && std::strlen(fileName) > kMaxSettingsText) return kCaptureErrInvalidArg;
    if (useCaptureFile && m_captureFile.empty()) return kCaptureErrInvalidArg;
    if (m_state == kCaptureStateClosed || m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    return guarded([&] {
        if (HResult r = ensureSession(); captureFailed(r)) return r;
        if (m_monitor.joinable()) m_monitor.join();
        avcapture::RecordOptions o;
        o.container = "avi";
        o.coding = interleavedDV ? avcapture::VideoCoding::DV : avcapture::VideoCoding::MotionJpeg;
        m_recordedFile = useCaptureFile ? m_captureFile : std::string(fileName);
        o.videoFile = o.audioFile = m_recordedFile;
        o.frameRate = m_frameRate;
        o.maxMicros = maxSeconds < 0 ? -1 : maxSeconds * 1000000;
        o.previewDuringCapture = previewDuringCapture;
        try {
            m_session->startRecording(o);
        } catch (const std::exception&) {
            return kCaptureErrFile;
        }
        {
            std::lock_guard lock(m_stateMutex);
            m_state = kCaptureStateCapturing;
        }
        m_eventProc = eventProc;
        m_stopRequested = false;
        m_monitor = std::thread([this, eventProc] { monitor(eventProc); });
        return kCaptureOk;
    });
}

HResult CaptureInstance::SetPreview(int32_t, bool on, bool) noexcept
{
    if (m_state == kCaptureStateClosed) return kCaptureErrBusy;
    return guarded([&] {
        if (on) {
            if (HResult r = ensureSession(); captureFailed(r)) return r;
        }
        m_previewOn = on;
        std::lock_guard lock(m_stateMutex);
        if (m_state != kCaptureStateCapturing)
            m_state = on ? kCaptureStatePreviewing : kCaptureStateOpen;
        return kCaptureOk;
    });
}

HResult CaptureInstance::StopCapture(int32_t) noexcept
{
    if (!m_monitor.joinable()) return kCaptureFalse;
    m_stopRequested = true;
    m_monitor.join(); // the finished event has been sent
    return kCaptureOk;
}

HResult CaptureInstance::ExportCaptureFile(const char* destination) noexcept
{
    if (!destination) return kCaptureErrPointer;
    if (!*destination || std::strlen(destination) > kMaxSettingsText) return kCaptureErrInvalidArg;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    if (m_recordedFile.empty()) return kCaptureErrFile;
    return guarded([&] {
        // Copied in pieces with progress events; a failed copy leaves no partial file.
        std::FILE* in = std::fopen(m_recordedFile.c_str(), "rb");
        if (!in) return kCaptureErrFile;
        const std::string part = std::string(destination) + ".part";
        std::FILE* out = std::fopen(part.c_str(), "wb");
        if (!out) {
            std::fclose(in);
            return kCaptureErrFile;
        }
        const uint64_t total = std::filesystem::file_size(m_recordedFile);
        std::vector<char> buffer(1 << 20);
        uint64_t done = 0;
        bool ok = true;
        int lastPercent = -1;
        while (size_t n = std::fread(buffer.data(), 1, buffer.size(), in)) {
            if (std::fwrite(buffer.data(), 1, n, out) != n) {
                ok = false;
                break;
            }
            done += n;
            const int percent = total ? int(done * 99 / total) : 99;
            if (m_eventProc && percent != lastPercent)
                m_eventProc(this, kCaptureEventProgress, percent);
            lastPercent = percent;
        }
        ok = ok && !std::ferror(in);
        std::fclose(in);
        ok = std::fclose(out) == 0 && ok;
        if (ok) ok = std::rename(part.c_str(), destination) == 0;
        if (!ok) std::remove(part.c_str());
        if (m_eventProc) m_eventProc(this, kCaptureEventProgress, 100);
        return ok ? kCaptureOk : kCaptureErrFile;
    });
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
        endSession(); // the restored devices are opened when next needed
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

HResult CaptureInstance::SetVideoWindow(const CaptureRect* area) noexcept
{
    if (!area) return kCaptureErrPointer;
    if (area->right < area->left || area->bottom < area->top) return kCaptureErrInvalidArg;
    m_videoArea = *area; // the editor draws the pictures; the area is kept for it
    return kCaptureOk;
}

HResult CaptureInstance::SetFrameRate(double framesPerSecond) noexcept
{
    if (!std::isfinite(framesPerSecond) || framesPerSecond < 0 || framesPerSecond > kMaxFrameRate)
        return kCaptureErrInvalidArg;
    if (m_state == kCaptureStateCapturing) return kCaptureErrBusy;
    if (framesPerSecond != m_frameRate && m_session) {
        // The devices are asked for the new rate when next opened.
        const bool preview = m_previewOn;
        endSession();
        m_frameRate = framesPerSecond;
        if (preview) SetPreview(0, true, true);
    }
    m_frameRate = framesPerSecond;
    return kCaptureOk;
}

intptr_t CaptureInstance::GetCapturedFramePtr(int32_t which, int32_t, int32_t, int32_t) noexcept
{
    if (which != kCapturedFrameNewest) return kCaptureErrInvalidArg;
    if (!m_session) return kCaptureErrFail;
    try {
        avcapture::Picture p;
        uint64_t sequence = m_frameSequence;
        if (!m_session->newestPicture(p, &sequence)) {
            if (m_frame.empty()) return kCaptureErrFail;
            return reinterpret_cast<intptr_t>(m_frame.data()); // nothing newer
        }
        m_frameSequence = sequence;
        const size_t bytes = size_t(p.width) * p.height * 4;
        m_frame.resize(sizeof(CapturedFrame) + bytes);
        CapturedFrame header{p.width, p.height, p.width * 4, 0, sequence};
        std::memcpy(m_frame.data(), &header, sizeof header);
        std::memcpy(m_frame.data() + sizeof header, p.bgra.data(), std::min(bytes, p.bgra.size()));
        return reinterpret_cast<intptr_t>(m_frame.data());
    } catch (...) {
        return kCaptureErrOutOfMemory;
    }
}

int32_t CaptureInstance::IsPreviewRunning() noexcept
{
    std::lock_guard lock(m_stateMutex);
    return m_previewOn || m_state == kCaptureStatePreviewing ? 1 : 0;
}

} // namespace zef::captureplugin

namespace zef {

extern "C" ICaptureDevicePlugin* CreateCaptureInstance()
{
    return new (std::nothrow) captureplugin::CaptureInstance();
}

} // namespace zef
