// The sound of a movie over a span of time: the enabled sound tracks mixed into 16-bit signed
// interleaved PCM at a chosen rate and channel count.
//
// Frames. Output frame n lies at n / rate seconds of movie time. A span (start, duration) in
// a time scale covers the frames [floor(start × rate / scale), floor((start + duration) × rate
// / scale)), so consecutive spans join without gaps or repeats, and mixing them one after the
// other gives exactly the samples of one long span (each frame's value depends only on the
// frame's position, never on how the time was cut into spans).
//
// What is mixed. Every enabled track whose media (its own, or that of its segments) is sound
// media. A track's edit list maps movie time to media time: empty segments are silent, and a
// segment whose media span differs from its duration (its 16.16 rate is not 1.0) plays that
// span faster or slower, resampled by linear interpolation (the pitch changes with the rate);
// a segment more than 16 times faster is silent (featureUnsupported). Sound media samples
// may be:
//   - file samples (Media::addFileSample): the sound of the file's stream whose
//     TrackInfo::streamIndex is the sample's stream, from the sample's fileTime on, decoded
//     and resampled by SoundDecoder (one decoder per file track in the mixer, so playback in
//     order decodes on without seeking); a file sample without an opened file is opened from
//     its path once;
//   - in-memory or movie-file PCM described by the sample's SoundDescription: 'sowt'
//     (little-endian) and 'twos' (big-endian) signed 8- or 16-bit, 'raw ' 8-bit unsigned;
//     a sample's bytes are frames at the description's rate (the media time scale when it is
//     0) played from the sample's start and cut at its end;
//   - any other format, decoded by a sound decompressor component of that subtype
//     (sound_decompressor.h) found through the ComponentManager given to the mixer.
// Channels are matched per source: mono is copied to every output channel, several channels
// are averaged into mono, other counts repeat or average channels round-robin (mapChannels in
// sound_media_reader.h).
//
// Level. Each track is scaled by its volume and the movie's (8.8, 0x100 = unity; 0 or
// negative is silent) and by its volume modifiers: the tracks its media's input map attaches
// with the modifier type volume (3) — audio fade tween tracks (audio_fade.h). Inside a fade
// sample the gain moves linearly from the start to the end value over the sample's duration,
// computed per output frame; several volume modifiers multiply; where a modifier track has no
// sample (before or after it, in an empty segment) or is disabled, it leaves the level alone.
// The tracks are summed and saturated to the 16-bit range.
//
// Results. mix answers paramErr for a bad span or a span longer than kMaxFrames and leaves
// out empty. Otherwise the buffer is always complete; material that cannot be played (a
// missing file, an unknown format without a decompressor, unreadable data) is silent and the
// first such problem is returned (badDataRefIndex, cantOpenHandler, invalidSampleDescription,
// ...), so that a player may go on while a renderer may stop.
//
// Resources. A mixer keeps its work buffers, decoders and decompressor instances between
// calls (no allocation per call once they have grown), and releases them on reset() or
// destruction. The ComponentManager, when given, must outlive the mixer. Not thread-safe: one
// mixer per thread; the movie is only read and must not change during a call.
#pragma once

#include "platform/movies/components.h"
#include "platform/movies/movie.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zef::movies {

class SoundMixer {
public:
    static constexpr int64_t kMaxFrames = int64_t(1) << 24; // per call

    // rate in hertz (1…768000), channels 1…8; otherwise isValid() is false and mix fails.
    SoundMixer(int32_t rate, int32_t channels, ComponentManager* components = nullptr);
    ~SoundMixer();
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;

    bool isValid() const { return m_valid; }
    int32_t rate() const { return m_rate; }
    int32_t channels() const { return m_channels; }

    // The first output frame at or after time / scale seconds: floor(time × rate / scale).
    int64_t frameIndex(TimeValue time, TimeScale scale) const;

    // Mixes the movie over [start, start + duration) in scale units (the movie's time scale
    // when scale is 0); out is resized to frames × channels.
    OSErr mix(const Movie& movie, TimeValue start, TimeValue duration, TimeScale scale,
              std::vector<int16_t>& out);
    // Mixes count frames from output frame first into out (count × channels values).
    OSErr mixFrames(const Movie& movie, int64_t first, int64_t count, int16_t* out);

    // Closes every decoder and decompressor instance.
    void reset();

    // For tests and diagnostics: open file decoders, and how often they had to seek.
    size_t decoderCount() const;
    int64_t decoderSeeks() const;

private:
    struct Impl;
    int32_t m_rate;
    int32_t m_channels;
    bool m_valid;
    std::unique_ptr<Impl> m_impl;
};

// One-off mix with a temporary mixer.
OSErr mixMovieSound(const Movie& movie, TimeValue start, TimeValue duration, TimeScale scale,
                    int32_t rate, int32_t channels, std::vector<int16_t>& out,
                    ComponentManager* components = nullptr);

} // namespace zef::movies
