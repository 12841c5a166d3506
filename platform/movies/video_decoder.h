// Frame-exact pictures of a video track.
//
// A VideoDecoder reads its own copy of the file (its own demuxer and decoder), so separate
// decoders may run on separate threads; one decoder is NOT thread-safe and must be used by one
// thread at a time. The picture shown at media time t is the sample whose interval
// [time, time + duration) holds t, however far apart the key frames are.
//
// Access patterns: asking for a later frame continues decoding from where the decoder stands
// (no seek), so playing forward costs one decode per frame; asking for an earlier frame or for
// one past the next key frame seeks to the nearest key frame at or before it and decodes forward.
// Recently decoded frames are kept in a small cache (bounded by count and bytes). For a position
// that is still moving (scrubbing) frameNear gives a nearby picture at the cost of at most one
// decode, and an abort check lets the owner give up a long roll forward to a frame nobody wants
// any more.
// Decoding uses FFmpeg's frame and slice threads, one per core unless told otherwise.
#pragma once

#include "platform/movies/media_file.h"
#include "platform/movies/pixmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

struct AVFrame;

namespace zef::movies {

class VideoDecoder {
public:
    struct Options {
        int threads = 0;               // decoding threads; 0 = one per core
        size_t cacheFrames = 8;        // decoded frames kept for repeated requests
        size_t cacheBytes = 96u << 20; // and at most this many bytes of them
        // Resize with fast bilinear filtering instead of bicubic (pictures drawn every frame,
        // where speed matters more than the last bit of sharpness).
        bool fastScaling = false;
        // Decoding positions kept: up to this many demuxer-and-decoder pairs, each left
        // standing where its last request took it. A request continues with the one that
        // reaches the frame with the fewest decodes, so coming back to a later frame between the
        // same two key frames (scrubbing back and forth in files with key frames far apart)
        // decodes from there instead of from the key frame. Each costs a decoder's threads and
        // picture buffers, so pictures larger than 1920×1088 get fewer (one at 4K); one not used
        // for kPositionExpiry requests is closed.
        int positions = 1;
    };
    static constexpr int64_t kPositionExpiry = 300;

    // trackIndex indexes file->tracks() and must name a video track; otherwise (or when the
    // decoder cannot be set up) isValid() is false and every request fails.
    VideoDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex);
    VideoDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex, Options options);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    bool isValid() const { return m_valid; }
    const TrackInfo& track() const { return *m_track; }

    // The decoded frame of a display sample, or of the sample holding a media time (in the
    // track's time scale). Null outside the track or when the sample cannot be decoded. The
    // frame belongs to the decoder and stays valid until the next call on it.
    const AVFrame* frameForSample(int64_t sampleIndex);
    const AVFrame* frameAt(int64_t mediaTime);
    // A frame near the media time, for a position that is still moving: the exact frame when
    // it is cached or lies a few frames ahead of where the decoder stands; otherwise the nearer
    // of the closest cached frame and the key frame at or before the time (one decode).
    const AVFrame* frameNear(int64_t mediaTime);

    // Asked between packets while the decoder rolls forward to a frame; an answer of true gives
    // the request up (it returns null or false) and leaves the decoder where it stood, ready to
    // go on from there. The function must outlive the decoder or be unset; null: never asked.
    void setAbortCheck(const std::function<bool()>* check) { m_abort = check; }

    // Draws the picture at a media time into dst as the track shows it (turned and mirrored
    // by the track's matrix), scaled to dst's size (which must not be empty). Returns false,
    // leaving dst unchanged, when there is no picture.
    bool drawAt(int64_t mediaTime, Pixmap& dst);
    bool drawSample(int64_t sampleIndex, Pixmap& dst);
    // drawAt with frameNear's picture.
    bool drawNear(int64_t mediaTime, Pixmap& dst);
    // Converts any decoded frame into dst's size, as it is stored (not turned).
    bool convert(const AVFrame* frame, Pixmap& dst);

    // Counters for tests and benchmarks.
    int64_t seekCount() const { return m_seeks; }
    int64_t decodedFrameCount() const { return m_decoded; }

private:
    struct CachedFrame {
        int64_t sample;
        AVFrame* frame;
        size_t bytes;
    };
    struct Scaler;
    struct State;

    bool reopen();
    // The first key frame shown after pts (end: none).
    std::vector<KeyFrame>::const_iterator keyAfter(int64_t pts) const;
    bool canContinue(const State& s, int64_t targetPts, int64_t keyIndex) const;
    // Makes m_state the position for a frame of targetPts whose key frame has keyIndex; true
    // when it continues from where it stands, false when it must seek.
    bool choosePosition(int64_t sampleIndex, int64_t targetPts, int64_t keyIndex);
    bool seekToKey(int64_t pts);
    const AVFrame* decodeUntil(int64_t sampleIndex);
    int64_t sampleForPts(int64_t pts) const;
    int64_t decodeIndexForDts(int64_t dts) const;
    bool drawShown(const AVFrame* frame, Pixmap& dst);
    const AVFrame* cacheLookup(int64_t sample);
    const AVFrame* cacheStore(int64_t sample, const AVFrame* frame);
    void clearCache();

    std::shared_ptr<const MediaFile> m_file;
    const TrackInfo* m_track = nullptr;
    Options m_options;
    bool m_valid = false;

    State* m_state = nullptr;                     // the position in use
    std::vector<std::unique_ptr<State>> m_states; // every open position, m_state among them
    int64_t m_requests = 0;
    std::unique_ptr<Scaler> m_scaler;
    PictureTurn m_turn;
    Pixmap m_stored;                // a turned picture before its turn
    std::list<CachedFrame> m_cache; // most recent first
    size_t m_cacheBytes = 0;
    int64_t m_seeks = 0;
    int64_t m_decoded = 0;
    const std::function<bool()>* m_abort = nullptr;
    bool m_aborted = false; // the last roll forward was given up
};

} // namespace zef::movies
