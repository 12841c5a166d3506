// The toolbox's sequence grabber: live video and sound from capture devices, previewed and
// recorded into a movie file, with a video and a sound channel whose usage says what each
// does (record, preview, play during record). The devices are a V4L2 camera and the default
// sound input when there is a camera, else the always-present test pattern and tone.
// Recording runs on threads of its own (platform/avcapture); the owner calls idle() from its
// idle processing, which answers eofErr once the recording ended by itself (time limit, full
// disk, lost device) and the grabber has closed the file.
//
// One thread at a time (the editor's GUI thread).
#pragma once

#include "platform/avcapture/capture_session.h"
#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/geometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zef::movies {

constexpr FourCC kSequenceGrabberType = fourcc("barg");
constexpr OSErr kDiskFullErr = -34;

// Channel usage bits.
constexpr int32_t seqGrabRecord = 1;
constexpr int32_t seqGrabPreview = 2;
constexpr int32_t seqGrabPlayDuringRecord = 4;

class SequenceGrabber {
public:
    struct Channel {
        FourCC type = 0;
        int32_t usage = 0;
        Rect bounds;            // where the preview shows it (video)
        Rect sourceBounds;      // the device's picture (video)
        int16_t volume = 0x100; // 8.8 (sound)
        double frameRate = 0;   // 0 = the device's
        std::string outputFile; // its own file (split tracks); empty = the grabber's
    };

    SequenceGrabber() = default;
    ~SequenceGrabber();
    SequenceGrabber(const SequenceGrabber&) = delete;
    SequenceGrabber& operator=(const SequenceGrabber&) = delete;

    // Opens the devices (noErr, or ioErr when none can be opened).
    OSErr initialize();
    // Before initialize: picture and sound come from this source (a tape deck's output)
    // instead of a camera or the test pattern.
    void setSource(std::shared_ptr<avcapture::ExternalSource> source, std::string name)
    {
        m_source = std::move(source);
        m_sourceName = std::move(name);
    }
    // A channel of 'vide' or 'soun'; null when that kind of device is missing.
    Channel* newChannel(FourCC type);
    Channel* videoChannel() { return m_video ? &*m_video : nullptr; }
    Channel* soundChannel() { return m_sound ? &*m_sound : nullptr; }
    // The names of the devices the channels use.
    std::string videoDeviceName() const;
    std::string soundDeviceName() const;

    // The movie file that records the channels without an output of their own.
    OSErr setDataOutput(const std::string& path);
    OSErr setChannelOutput(Channel* channel, const std::string& path);
    // The longest recording in microseconds (-1: until stopped).
    void setMaxRecordTime(int64_t micros) { m_maxMicros = micros; }

    OSErr startPreview();
    OSErr startRecord();
    // Ends recording (the file is closed) and preview.
    OSErr stop();
    OSErr pause(bool paused);
    bool paused() const;
    bool recording() const { return m_recording; }
    bool previewing() const { return m_previewing; }
    // noErr while all is well; eofErr once a recording ended by itself (endReason says why).
    OSErr idle();
    avcapture::EndReason endReason() const { return m_endReason; }

    // Called from idle() with the time recorded so far (600ths of a second).
    std::function<void(int64_t)> dataProc;

    // The newest picture for the preview, when newer than the last one given.
    bool newestPicture(avcapture::Picture& out);
    avcapture::Statistics statistics() const;

private:
    std::unique_ptr<avcapture::CaptureSession> m_session;
    std::shared_ptr<avcapture::ExternalSource> m_source;
    std::string m_sourceName;
    std::optional<Channel> m_video, m_sound;
    std::optional<avcapture::DeviceRef> m_videoDevice, m_soundDevice;
    std::string m_output;
    int64_t m_maxMicros = -1;
    bool m_previewing = false;
    bool m_recording = false;
    uint64_t m_sequence = 0;
    avcapture::EndReason m_endReason = avcapture::EndReason::None;
    avcapture::Statistics m_last;
};

} // namespace zef::movies
