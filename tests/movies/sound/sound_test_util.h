// Movies with sound built in memory for the mixer tests.
#pragma once

#include "platform/movies/audio_fade.h"
#include "platform/movies/input_map.h"
#include "platform/movies/movie.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace zef::movies::testing {

inline Handle pcmDescription(FourCC format, int channels, int bits, uint32_t rateHz)
{
    SoundDescription d;
    d.dataFormat = format;
    d.numChannels = int16_t(channels);
    d.sampleSize = int16_t(bits);
    d.sampleRate = rateHz << 16;
    return d.toHandle();
}

// 'sowt' bytes of interleaved 16-bit values.
inline std::vector<uint8_t> sowtBytes(const std::vector<int16_t>& values)
{
    std::vector<uint8_t> b;
    b.reserve(values.size() * 2);
    for (int16_t v : values) {
        b.push_back(uint8_t(uint16_t(v)));
        b.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return b;
}

// A sound track whose media (time scale = rate) holds the frames as one sample, inserted at
// movie time `at`. With perFrame, every frame is a sample of its own (duration 1).
inline Track* addPcmTrack(Movie& movie, const std::vector<int16_t>& values, int channels, int rate,
                          TimeValue at, bool perFrame = false)
{
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, rate);
    const int32_t frames = int32_t(values.size() / size_t(channels));
    const std::vector<uint8_t> bytes = sowtBytes(values);
    if (perFrame)
        t->media()->addSample(bytes, 1, frames, pcmDescription(fourcc("sowt"), channels, 16, rate));
    else
        t->media()->addSample(bytes, frames, 1, pcmDescription(fourcc("sowt"), channels, 16, rate));
    t->insertMedia(at, 0, frames);
    return t;
}

inline std::vector<int16_t> constant(int16_t value, int frames, int channels = 1)
{
    return std::vector<int16_t>(size_t(frames) * size_t(channels), value);
}

inline std::vector<int16_t> sine(double hz, int rate, int frames, double amplitude,
                                 int channels = 1)
{
    std::vector<int16_t> v(size_t(frames) * size_t(channels));
    for (int n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c)
            v[size_t(n * channels + c)] =
                int16_t(std::lrint(amplitude * std::sin(2 * M_PI * hz * n / rate + c)));
    return v;
}

struct FadeStep {
    Fixed from;
    Fixed to;
    TimeValue duration; // ticks of 1/600 s
};

// A tween track of fade samples (time scale 600) starting at movie time `at`, attached to
// sound as its volume modifier.
inline Track* addFade(Movie& movie, Track& sound, const std::vector<FadeStep>& steps, TimeValue at,
                      FadeByteOrder order = FadeByteOrder::bigEndian)
{
    Track* t = movie.newTrack(0, 0, 0);
    movie.newTrackMedia(t, TweenMediaType, 600);
    TimeValue total = 0;
    for (const FadeStep& s : steps) {
        Handle h = makeFadeTweenSample(s.from, s.to, order);
        t->media()->addSample(h.bytes(), s.duration, 1, fadeTweenDescription());
        total += s.duration;
    }
    t->insertMedia(at, 0, total);
    addTrackInput(sound, *t, kTrackModifierTypeVolume);
    return t;
}

// Root mean square of channel c of interleaved values over frames [from, to).
inline double rms(const std::vector<int16_t>& v, int channels, int64_t from, int64_t to, int c = 0)
{
    double sum = 0;
    for (int64_t n = from; n < to; ++n) {
        const double x = v[size_t(n * channels + c)];
        sum += x * x;
    }
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

} // namespace zef::movies::testing
