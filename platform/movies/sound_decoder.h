// Sound of a track as 16-bit signed interleaved samples at a chosen rate and channel count.
//
// Output sample frame n lies at n / outputRate seconds of media time. A span (start, duration)
// in some time scale covers the frames [floor(start × rate / scale), floor((start + duration)
// × rate / scale)), so consecutive spans join without gaps or repeats. Reading on from where
// the last read ended continues the decoder and the resampler; any other position seeks
// (with a pre-roll for the decoder) and drops samples up to the exact source position.
// Before the track and past its end the output is silence.
//
// Like VideoDecoder, a SoundDecoder reads its own copy of the file and is NOT thread-safe;
// separate decoders may run on separate threads.
#pragma once

#include "platform/movies/media_file.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVFrame;

namespace zef::movies {

class SoundDecoder {
public:
    // trackIndex indexes file->tracks() and must name a sound track; outputRate in hertz
    // (1…768000) and outputChannels (1…8). Otherwise isValid() is false.
    SoundDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex, int32_t outputRate,
                 int32_t outputChannels);
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    bool isValid() const { return m_valid; }
    int32_t outputRate() const { return m_outRate; }
    int32_t outputChannels() const { return m_outChannels; }
    const TrackInfo& track() const { return *m_track; }

    // Number of output frames of the whole track.
    int64_t frameCount() const;
    // The first output frame of a time in a time scale (floor).
    int64_t frameIndex(int64_t time, int32_t timeScale) const;

    // Writes count frames starting at output frame first into out (count × channels values).
    // Returns false (out filled with silence) when the track cannot be decoded at all.
    bool readFrames(int64_t first, int64_t count, int16_t* out);
    // The span [start, start + duration) in timeScale units (the media's own scale when
    // timeScale is 0); out is resized to frames × channels.
    bool readSpan(int64_t start, int64_t duration, int32_t timeScale, std::vector<int16_t>& out);

    int64_t seekCount() const { return m_seeks; }

private:
    struct State;
    bool reposition(int64_t first);
    bool fill(int64_t frames);
    bool reopen();
    bool configureResampler(const AVFrame* frame);
    void pushSource(const AVFrame* frame, int64_t skip);

    std::shared_ptr<const MediaFile> m_file;
    const TrackInfo* m_track = nullptr;
    int32_t m_outRate = 0;
    int32_t m_outChannels = 0;
    bool m_valid = false;
    std::unique_ptr<State> m_state;
    int64_t m_seeks = 0;
};

} // namespace zef::movies
