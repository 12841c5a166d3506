// Generated sources and outside checks (ffprobe, ffmpeg) for the export tests.
#pragma once

#include "platform/movies/export/movie_exporter.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zef::movies::testing {

// A moving picture with its frame number written in large blocks along the top (kNumberBits
// blocks of one 32th of the width, white = 1), and a 440 Hz tone. With flashAndBeep the
// pictures are dark except a white frame at every whole second, and the sound is silent
// except a 10 ms click at every whole second.
class PatternSource : public ExportSource {
public:
    static constexpr int kNumberBits = 10;
    PatternSource(int width, int height, FrameRate rate, int64_t frames, int sampleRate = 48000,
                  int channels = 2, bool flashAndBeep = false);
    VideoFormat video() const override { return m_video; }
    AudioFormat audio() const override { return m_audio; }
    int64_t frameCount() const override { return m_frames; }
    bool renderFrame(int64_t index, Pixmap& out) override;
    bool renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved) override;

    // The picture of frame index, as renderFrame draws it.
    Pixmap picture(int64_t index) const;

    std::atomic<int64_t> framesRendered{0};
    int64_t failAtFrame = -1; // renderFrame answers false from this frame on

private:
    VideoFormat m_video;
    AudioFormat m_audio;
    int64_t m_frames;
    bool m_flash;
};

// Reads the frame number back from a decoded BGRA picture of a 4:3 source at any size (the
// blocks scale with the picture); -1 when a block is neither light nor dark.
int readFrameNumber(const uint8_t* bgra, int width, int height);

// PSNR (dB) of the RGB channels of a BGRA picture against a Pixmap of the same size; 100 when
// they are equal.
double psnr(const uint8_t* bgra, const Pixmap& reference);
// The same over the means of block × block squares of both pictures: the colour resolution that
// 4:2:0 and 4:2:2 pictures lose at sharp colour edges (and the filters that take it away and
// bring it back) does not count there, while a wrong colour, frame or layer still does.
double psnrOfBlocks(const uint8_t* bgra, const Pixmap& reference, int block);
// PSNR of the luma (BT.601 weights) at full resolution, the usual measure of a codec's loss.
double psnrOfLuma(const uint8_t* bgra, const Pixmap& reference);
// The same for two Pixmaps (0 when their sizes differ).
double psnrOf(const Pixmap& picture, const Pixmap& reference);

// ffprobe -show_streams -show_format -count_frames, flattened to "streams.stream.0.width".
std::map<std::string, std::string> probe(const std::string& path);
// What ffprobe should see in a one-second exported file.
struct ProbedFile {
    const char* codecName; // of stream 0
    int width, height;
    std::string frameRate;      // r_frame_rate, "30/1"
    int frames;                 // pictures counted by decoding
    const char* colourSpace;    // expected color_space tag, or nullptr
    const char* colourRange;    // expected color_range tag, or nullptr
    const char* soundCodecName; // of stream 1; nullptr: no sound stream expected
};
// Checks the file against what it should hold (about a second of 48 kHz sound when any).
void expectProbed(const std::string& path, const ProbedFile& expected);

// Decodes every picture to BGRA at its own size (ffmpeg -f rawvideo -pix_fmt bgra).
std::vector<uint8_t> decodeVideo(const std::string& path, int width, int height,
                                 const std::string& pixelFormat = "bgra");
// Decodes the sound to 16-bit samples at rate (mono unless told; interleaved otherwise).
std::vector<int16_t> decodeAudio(const std::string& path, int rate, int channels = 1);

// A fresh empty folder for one test.
std::string testFolder(const std::string& name);

// Runs a shell command in the background; the process id, or -1.
int startProcess(const std::vector<std::string>& argv);
// Waits up to timeoutMs for the process to end; kills it when it does not. Its exit status.
int waitProcess(int pid, int timeoutMs);
// A TCP port on 127.0.0.1 that nothing listens on right now.
int freePort();
// Whether something listens on 127.0.0.1:port (read from /proc/net/tcp).
bool isListening(int port);

} // namespace zef::movies::testing
