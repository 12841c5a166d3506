// A live capture: the sources of one video and one sound device, the newest picture for a
// preview, and the recording of both into movie files.
//
// Sources run on threads of their own and stamp what they deliver with the session's clock
// (microseconds since the session was made). The synthetic devices are paced by that clock
// like real ones; the libavdevice ones (V4L2, ALSA, PulseAudio) are stamped when their data
// arrives. A recording starts at the clock's time of startRecording: a picture taken t µs
// later is written at t µs in the file and sound the same, so picture and sound stay together.
//
// The recorder encodes and writes on a thread of its own from a short queue: a picture that
// finds the queue full is dropped and counted. It ends by itself at the time limit, when a
// device stops delivering, or before the disk (or the process's file size limit) runs out:
// it keeps a reserve for the end of the file, so what was captured is closed as a playable
// movie. Movie (.mov) files are written in fragments of about a second, which stay readable
// even if the end could not be written.
//
// Thread-safe: every function may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zef::avcapture {

enum class DeviceKind { TestPattern, TestTone, V4L2, Alsa, Pulse, External };

// A picture: BGRA, rows of width × 4 bytes.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
    int64_t timeUs = 0; // on the session's clock
    // False for a picture the preview shows but a recording leaves out (a tape deck's picture
    // outside the range being captured); its sound is left out with it.
    bool record = true;
    // The source's own number of the picture (a tape's frame number), -1 when it has none.
    int64_t sourceFrame = -1;
};

// A source whose pictures and sound come from elsewhere in the program (a tape deck's
// output): each delivery is one picture with the sound of its period (48 kHz stereo, possibly
// none). The session stamps both with its clock when they arrive.
class ExternalSource {
public:
    using Sink = std::function<void(Picture&& picture, std::vector<int16_t>&& samples)>;
    virtual ~ExternalSource() = default;
    virtual int width() = 0;
    virtual int height() = 0;
    virtual double frameRate() = 0;
    virtual bool hasSound() = 0;
    // Starts delivering to sink (on any thread, one call at a time) until stop(), which waits
    // for a running call to return.
    virtual void start(Sink sink) = 0;
    virtual void stop() = 0;
};

struct DeviceRef {
    DeviceRef(DeviceKind k = DeviceKind::TestPattern, std::string i = {},
              std::shared_ptr<ExternalSource> s = {})
        : kind(k), id(std::move(i)), source(std::move(s))
    {
    }
    DeviceKind kind = DeviceKind::TestPattern;
    std::string id; // the backend's name ("/dev/video0", "hw:0,0"); unused for synthetic ones
    std::shared_ptr<ExternalSource> source; // DeviceKind::External: picture and sound
};

enum class VideoCoding { MotionJpeg, DV };

struct RecordOptions {
    // The files: the same path for one movie of both, two paths for split tracks; an empty
    // path leaves that stream out.
    std::string videoFile;
    std::string audioFile;
    std::string container = "mov"; // FFmpeg's muxer name: "mov" or "avi"
    VideoCoding coding = VideoCoding::MotionJpeg;
    // Frames a second in the file; 0 = the device's rate. DV takes 25 (PAL) when this is 25,
    // else 29.97 (NTSC), and the standard's picture size.
    double frameRate = 0;
    int64_t maxMicros = -1;           // -1 = until stopped
    bool previewDuringCapture = true; // the preview picture is kept up to date while recording
};

struct Statistics {
    double frameRate = 0;   // achieved, frames a second
    double dataRate = 0;    // bytes a second
    int64_t capturedMs = 0; // time recorded
    int64_t capturedFrames = 0;
    int64_t droppedFrames = 0;
    int64_t diskSecondsRemaining = -1; // what the free space (and file size limit) still allows
    int64_t bytesWritten = 0;
};

enum class EndReason { None, Stopped, TimeLimit, DiskFull, DeviceLost, WriteError };

class CaptureSession {
public:
    // Opens the devices (either may be absent; not both). Throws std::runtime_error with a
    // message when a device cannot be opened. deviceRate: the rate asked of a camera and of
    // the test pattern (0: 30 frames a second).
    CaptureSession(std::optional<DeviceRef> video, std::optional<DeviceRef> audio,
                   double deviceRate);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    bool hasVideo() const;
    bool hasAudio() const;
    int videoWidth() const;
    int videoHeight() const;
    double deviceRate() const;

    // The newest picture when it is newer than *sequence (which is then updated).
    bool newestPicture(Picture& out, uint64_t* sequence) const;

    // Starts recording; throws std::runtime_error (the files cannot be made, the codec is
    // missing). Nothing is recorded from a source that options leave without a file.
    void startRecording(const RecordOptions& options);
    // Ends the recording and closes its files; returns why it ended (Stopped when this call
    // ended it). Does nothing without one.
    EndReason stopRecording();
    bool recording() const;
    // The recording ended by itself (time limit, disk full, device lost, write error) and
    // waits for stopRecording to close it.
    bool ended() const;
    EndReason endReason() const;
    // Frames and sound arriving while paused are not recorded; the file goes on without a gap.
    void setPaused(bool paused);
    bool paused() const;
    Statistics statistics() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The text of a reason, for messages ("the disk is full").
const char* endReasonText(EndReason reason);

} // namespace zef::avcapture
