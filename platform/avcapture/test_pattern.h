// The synthetic capture devices: a moving picture that carries its frame number, and a tone
// that beeps at every whole second of the same clock. A capture of both lets a test measure
// how far the recorder moved sound against picture: frame n was taken at n / rate seconds and
// the beep of second k starts at k seconds, so in a well-made file the frame whose number is
// a multiple of the rate and the beep it belongs to start at the same time.
#pragma once

#include <cstdint>
#include <vector>

namespace zef::avcapture {

constexpr int kPatternWidth = 640;
constexpr int kPatternHeight = 480;
constexpr int kToneRate = 48000;
constexpr int kToneChannels = 2;
constexpr double kBeepHz = 1000.0;
constexpr double kBeepSeconds = 0.1; // each beep's length, from the start of its second
constexpr int kCounterBits = 20;

// Draws frame number n into a BGRA picture of width × height (stride width × 4): colour bars
// that move one step a frame, the number in large digits and as a row of black and white
// blocks at the top that survive any compression (see readPatternCounter).
void drawPattern(uint8_t* bgra, int width, int height, int64_t n);

// The number the blocks of a pattern picture carry, or -1 when the picture holds none. The
// picture is read as 8-bit grey (luma) of width × height with the given stride.
int64_t readPatternCounter(const uint8_t* luma, int width, int height, int stride);

// The tone's samples (interleaved stereo, 16-bit) from sample index first on, count frames.
void fillTone(int16_t* out, int64_t first, int count);

} // namespace zef::avcapture
