// The source clips of the demo project: moving colour bars with a frame counter and a moving
// block, and a steady sine tone, written as H.264 + AAC movies by the built-in 'MooV' exporter.
//
// Every picture is a pure function of the clip, the frame index and the picture size, so the
// end-to-end checks can compute what any frame of a clip looked like before it was encoded:
//   - the top twelfth of the picture is the counter strip: bit k of the frame index (k < 10)
//     fills x in [k·w/12, (k+1)·w/12) with kCounterOn when set, kCounterOff when clear; the
//     last two twelfths are kCounterOff;
//   - below it, eight vertical colour bars of the clip's palette scroll to the left by one
//     picture width every kPeriodFrames frames;
//   - a square block of side h/6 whose top lies at 3h/4 slides from the left edge to the right
//     edge every kPeriodFrames frames.
// Apart from the counter strip, frame n and frame n + kPeriodFrames are the same picture. No
// pixel of any clip is near white, so white in a rendered frame comes from a title.
//
// Not thread-safe; each DemoPattern is read by one thread at a time.
#pragma once

#include "platform/movies/export/movie_exporter.h"
#include "platform/movies/pixmap.h"

#include <array>
#include <cstdint>
#include <string>

namespace zef::demo {

constexpr int kFrameRate = 30;
constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int kPeriodFrames = 60;
constexpr int kCounterBits = 10;
constexpr int16_t kToneAmplitude = 8000;
constexpr uint32_t kCounterOn = movies::argb(255, 255, 200, 0);
constexpr uint32_t kCounterOff = movies::argb(255, 0, 0, 0);

struct ClipSpec {
    char name;     // 'a', 'b', 'c': also the file's stem
    int seconds;   // length of the clip
    double toneHz; // its tone
    std::array<uint32_t, 8> bars;
    uint32_t block; // the sliding block's colour
};

// The three clips: a (12 s, 440 Hz), b (12 s, 660 Hz), c (6 s, 880 Hz).
const std::array<ClipSpec, 3>& demoClips();
const ClipSpec& demoClip(char name); // throws std::invalid_argument for another name

// One clip as the source of an export, at width × height (each 16 .. 4096), 30 fps, 48 kHz
// stereo. Throws std::invalid_argument for a size outside that range.
class DemoPattern final : public movies::ExportSource {
public:
    DemoPattern(const ClipSpec& clip, int width, int height);

    movies::VideoFormat video() const override;
    movies::AudioFormat audio() const override;
    int64_t frameCount() const override;
    bool renderFrame(int64_t index, movies::Pixmap& out) override;
    bool renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved) override;

    // The picture of any frame index >= 0 (also past the clip's end), as renderFrame draws it.
    movies::Pixmap picture(int64_t index) const;
    // The value of the tone at sample n (both channels).
    int16_t sample(int64_t n) const;

private:
    const ClipSpec& m_clip;
    int m_width, m_height;
};

// Reads the counter strip of an ARGB picture (decoded frames as 32-bit words, 0xAARRGGBB)
// of a clip shown full frame: the frame index modulo 1024, or -1 when a bit is unclear.
int readCounter(const uint32_t* argb, int width, int height);

// Whether path is a usable demo clip: the toolbox opens it, with an enabled video track of
// width × height and a sound track, lasting the clip's length (to within a frame). On false,
// *why (when given) says what is wrong.
bool demoClipValid(const std::string& path, const ClipSpec& clip, int width, int height,
                   std::string* why = nullptr);

// The file name of a clip made at a size: "a_640x480.mov".
std::string demoClipFileName(const ClipSpec& clip, int width, int height);

// Makes the clip in dir (created when missing) unless a valid one is there already, and returns
// its path. The movie is written under a temporary name and renamed, so a reader never sees a
// partial file. Throws std::runtime_error when the clip cannot be made.
std::string ensureDemoClip(const std::string& dir, const ClipSpec& clip, int width, int height);

} // namespace zef::demo
