#include "platform/movies/capture/sequence_grabber.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace zef::movies {

namespace {

bool pulseServerPresent()
{
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    struct stat st {};
    return ::stat((std::string(runtime) + "/pulse/native").c_str(), &st) == 0;
}

// The first camera, or none.
std::optional<avcapture::DeviceRef> firstCamera()
{
    for (int i = 0; i < 16; ++i) {
        const std::string path = "/dev/video" + std::to_string(i);
        if (std::filesystem::exists(path))
            return avcapture::DeviceRef{avcapture::DeviceKind::V4L2, path};
    }
    return std::nullopt;
}

} // namespace

SequenceGrabber::~SequenceGrabber() { stop(); }

OSErr SequenceGrabber::initialize()
{
    using avcapture::DeviceKind;
    using avcapture::DeviceRef;
    if (m_source) {
        try {
            const DeviceRef source{DeviceKind::External, m_sourceName, m_source};
            m_session = std::make_unique<avcapture::CaptureSession>(
                source, m_source->hasSound() ? std::optional(source) : std::nullopt, 0);
            m_videoDevice = source;
            if (m_source->hasSound()) m_soundDevice = source;
            return noErr;
        } catch (const std::exception&) {
            return ioErr;
        }
    }
    // A camera with the desktop's sound input; without a camera the test pattern with its
    // tone, which belong together (the tone marks the pattern's seconds).
    if (auto camera = firstCamera()) {
        try {
            const DeviceRef sound = pulseServerPresent() ? DeviceRef{DeviceKind::Pulse, "default"}
                                                         : DeviceRef{DeviceKind::Alsa, "default"};
            m_session = std::make_unique<avcapture::CaptureSession>(*camera, sound, 30.0);
            m_videoDevice = *camera;
            m_soundDevice = sound;
        } catch (const std::exception&) {
            try {
                m_session =
                    std::make_unique<avcapture::CaptureSession>(*camera, std::nullopt, 30.0);
                m_videoDevice = *camera;
            } catch (const std::exception&) {
            }
        }
    }
    if (!m_session) {
        try {
            m_videoDevice = DeviceRef{DeviceKind::TestPattern, {}};
            m_soundDevice = DeviceRef{DeviceKind::TestTone, {}};
            m_session =
                std::make_unique<avcapture::CaptureSession>(m_videoDevice, m_soundDevice, 30.0);
        } catch (const std::exception&) {
            return ioErr;
        }
    }
    return noErr;
}

SequenceGrabber::Channel* SequenceGrabber::newChannel(FourCC type)
{
    if (!m_session) return nullptr;
    if (type == fourcc("vide") && m_session->hasVideo()) {
        m_video.emplace();
        m_video->type = type;
        m_video->sourceBounds = {0, 0, m_session->videoWidth(), m_session->videoHeight()};
        m_video->bounds = m_video->sourceBounds;
        return &*m_video;
    }
    if (type == fourcc("soun") && m_session->hasAudio()) {
        m_sound.emplace();
        m_sound->type = type;
        return &*m_sound;
    }
    return nullptr;
}

std::string SequenceGrabber::videoDeviceName() const
{
    if (!m_videoDevice) return {};
    return m_videoDevice->kind == avcapture::DeviceKind::TestPattern ? "Test Pattern"
                                                                     : m_videoDevice->id;
}

std::string SequenceGrabber::soundDeviceName() const
{
    if (!m_soundDevice) return {};
    return m_soundDevice->kind == avcapture::DeviceKind::TestTone ? "Test Tone" : m_soundDevice->id;
}

OSErr SequenceGrabber::setDataOutput(const std::string& path)
{
    if (path.empty()) return paramErr;
    m_output = path;
    return noErr;
}

OSErr SequenceGrabber::setChannelOutput(Channel* channel, const std::string& path)
{
    if (!channel || path.empty()) return paramErr;
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (!dir.empty() && !std::filesystem::is_directory(dir)) return dirNFErr;
    channel->outputFile = path;
    return noErr;
}

OSErr SequenceGrabber::startPreview()
{
    if (!m_session) return paramErr;
    m_previewing = true;
    return noErr;
}

OSErr SequenceGrabber::startRecord()
{
    if (!m_session || m_recording || m_output.empty()) return paramErr;
    const bool video = m_video && (m_video->usage & seqGrabRecord);
    const bool sound = m_sound && (m_sound->usage & seqGrabRecord);
    if (!video && !sound) return paramErr;
    avcapture::RecordOptions o;
    o.container = "mov";
    o.coding = avcapture::VideoCoding::MotionJpeg;
    if (video) o.videoFile = m_video->outputFile.empty() ? m_output : m_video->outputFile;
    if (sound) o.audioFile = m_sound->outputFile.empty() ? m_output : m_sound->outputFile;
    o.frameRate = video ? m_video->frameRate : 0;
    o.maxMicros = m_maxMicros;
    o.previewDuringCapture = video && (m_video->usage & seqGrabPlayDuringRecord);
    try {
        // The device is asked for the channel's rate, so that its pictures are not thinned
        // or spread to fit the file's (a source the program feeds keeps its own).
        const double rate = video ? m_video->frameRate : 0;
        if (rate > 0 && m_videoDevice && m_videoDevice->kind != avcapture::DeviceKind::External &&
            std::abs(m_session->deviceRate() - rate) > 1e-3) {
            const double before = m_session->deviceRate();
            m_session.reset();
            try {
                m_session =
                    std::make_unique<avcapture::CaptureSession>(m_videoDevice, m_soundDevice, rate);
            } catch (const std::exception&) {
                m_session = std::make_unique<avcapture::CaptureSession>(m_videoDevice,
                                                                        m_soundDevice, before);
            }
        }
        m_session->startRecording(o);
    } catch (const std::exception&) {
        return ioErr;
    }
    m_recording = true;
    m_previewing = false;
    m_endReason = avcapture::EndReason::None;
    return noErr;
}

OSErr SequenceGrabber::stop()
{
    if (m_session && m_recording) {
        m_endReason = m_session->stopRecording();
        m_last = m_session->statistics();
    }
    m_recording = false;
    m_previewing = false;
    return noErr;
}

OSErr SequenceGrabber::pause(bool paused)
{
    if (!m_session) return paramErr;
    m_session->setPaused(paused);
    return noErr;
}

bool SequenceGrabber::paused() const { return m_session && m_session->paused(); }

OSErr SequenceGrabber::idle()
{
    if (!m_session || !m_recording) return noErr;
    const avcapture::Statistics s = m_session->statistics();
    if (dataProc) dataProc(s.capturedMs * 600 / 1000);
    if (!m_session->ended()) return noErr;
    m_endReason = m_session->stopRecording();
    m_last = m_session->statistics();
    m_recording = false;
    return eofErr;
}

bool SequenceGrabber::newestPicture(avcapture::Picture& out)
{
    return m_session && m_session->newestPicture(out, &m_sequence);
}

avcapture::Statistics SequenceGrabber::statistics() const
{
    return m_session && m_recording ? m_session->statistics() : m_last;
}

} // namespace zef::movies
