// Running programs and reading their output for the demo tests, and measures taken on
// decoded pictures and sound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zef::demo::testing {

struct CommandResult {
    int exitCode = -1;  // -1 when the command could not be run or was killed
    std::string output; // standard output and standard error together
};

// Runs argv (no shell) and waits for it; standard input is /dev/null.
CommandResult run(const std::vector<std::string>& argv);
// The standard output of argv as bytes (standard error discarded).
std::vector<uint8_t> runForBytes(const std::vector<std::string>& argv);

// A fresh empty folder under $ZEF_TEST_TMP (or /tmp) for one test.
std::string freshFolder(const std::string& name);

// A picture as 32-bit ARGB words (decoded BGRA bytes read as little-endian words).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// Decodes the given frame numbers (in increasing order) of the first video stream with the
// ffmpeg program, at the stream's own size; fewer pictures when the stream is shorter.
std::vector<Picture> decodeFrames(const std::string& path, const std::vector<int>& frames,
                                  int width, int height);
// The first sound stream as mono 16-bit samples at rate, decoded with the ffmpeg program.
std::vector<int16_t> decodeMono(const std::string& path, int rate);

// PSNR (dB) of the RGB channels of the w × h region of a at (ax, ay) against the region of b at
// (bx, by). Regions must lie inside both pictures.
double regionPsnr(const Picture& a, int ax, int ay, const Picture& b, int bx, int by, int w, int h);

// The amplitude of the tone of frequency hz in samples [first, first + count) (Goertzel).
double toneAmplitude(const std::vector<int16_t>& samples, int rate, double hz, size_t first,
                     size_t count);

} // namespace zef::demo::testing
