// Internal: one output file or stream written with FFmpeg — a video and/or a sound encoder and
// a muxer. Pictures arrive as Pixmaps (BGRA) and are converted with the output's colour
// coefficients; sound arrives as interleaved 16-bit samples and is resampled, cut into the
// encoder's frame size and stamped from the sample count. Not thread-safe: one thread writes.
#pragma once

#include "platform/movies/errors.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_exporter.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct AVFrame;

namespace zef::movies::exportav {

// Colour description of a YUV output; see colourFor.
struct Colour {
    int space = 2;     // AVColorSpace (2 = unspecified)
    int primaries = 2; // AVColorPrimaries
    int transfer = 2;  // AVColorTransferCharacteristic
    int range = 0;     // AVColorRange
};
// BT.709 for HD (height >= 720), else BT.601 (625-line primaries for 576/288 lines, 525-line
// otherwise); limited range unless fullRange.
Colour colourFor(int width, int height, bool fullRange);

struct VideoSetup {
    std::string encoder; // FFmpeg encoder name ("libx264", "mjpeg", ...)
    int pixelFormat = 0; // AVPixelFormat
    int width = 0;
    int height = 0;
    FrameRate rate;
    int gop = 0;         // 0: codec default
    int64_t bitrate = 0; // bits per second, 0: quality-driven
    int qscale = 0;      // 1..31 for codecs with a fixed quantiser, 0: none
    Colour colour;
    bool tagColour = true;
    std::map<std::string, std::string> options; // encoder private options
    int threads = 0;                            // 0: automatic
    int strict = 0;                             // strict_std_compliance
    // Converts a picture into the encoder's frame itself (palette formats); when empty the
    // picture is scaled and converted with swscale.
    std::function<bool(const Pixmap&, AVFrame*)> convert;
};

struct AudioSetup {
    std::string encoder; // "aac", "pcm_s16le", ...
    int sampleRate = 0;
    int channels = 0;
    int64_t bitrate = 0;
};

class AvOutput : public ExportSink {
public:
    AvOutput();
    ~AvOutput();
    AvOutput(const AvOutput&) = delete;
    AvOutput& operator=(const AvOutput&) = delete;

    // Opens the encoders and the output (a file path or a URL). format is the muxer name.
    // source* describe what is written in: picture size and sample rate/channels of the input.
    // muxerOptions go to avformat_write_header, ioOptions to avio_open2 (timeouts).
    OSErr open(const std::string& target, const std::string& format, const VideoSetup* video,
               int sourceWidth, int sourceHeight, const AudioSetup* audio, int sourceRate,
               int sourceChannels, const std::map<std::string, std::string>& muxerOptions = {},
               const std::map<std::string, std::string>& ioOptions = {});

    // Title, author, copyright, ... written by open() into the container.
    void setMetadata(std::map<std::string, std::string> metadata)
    {
        m_metadata = std::move(metadata);
    }

    // Encodes one picture as frame number index (pts in frames of the setup's rate).
    OSErr writeVideo(const Pixmap& picture, int64_t index) override;
    // Pictures of the encoder's size going to 8-bit 4:2:0 are converted on the rendering
    // thread; others go to writeVideo.
    bool preparePicture(const Pixmap& picture, PreparedPicture& out) override;
    OSErr writePrepared(const PreparedPicture& picture, int64_t index) override;
    // Encodes sample frames of the source format (count × sourceChannels values).
    OSErr writeAudio(const int16_t* samples, int64_t count) override;
    // Flushes the encoders and writes the trailer. Idempotent.
    OSErr finish() override;
    // Closes without finishing (for a failed open or an abandoned output).
    void close();

    const std::string& lastError() const { return m_error; }

private:
    // Encodes the picture in the video frame.
    OSErr sendPicture(int64_t index);

    struct Impl;
    std::unique_ptr<Impl> d;
    std::string m_error;
    std::map<std::string, std::string> m_metadata;
};

} // namespace zef::movies::exportav
