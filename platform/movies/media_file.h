// Media files as the movie toolbox sees them: which files it takes, their tracks, time scales,
// sample tables and sample descriptions. Pictures and sound are decoded by VideoDecoder
// (video_decoder.h) and SoundDecoder (sound_decoder.h), which read the file on their own.
//
// Files the toolbox takes (decided by the container FFmpeg detects, never by the extension):
// movie and MPEG-4 files, AVI, DV, MPEG-1 system and elementary streams, WAV, AIFF, MP3 and
// still images (PNG, JPEG, BMP, GIF, TIFF). A still is a video track of one frame.
// Files FFmpeg reads but the toolbox refuses (Matroska, WebM, MPEG-2 program and transport
// streams, Ogg, FLV, ASF, and other media FFmpeg recognises by content) and files without an
// audio or video stream give MediaOpenStatus::notAMovie; files that are missing, not regular
// files, unreadable, not media (also bytes that only resemble media by name or by chance) or
// damaged beyond use give MediaOpenStatus::cannotOpen.
//
// Times: each track has its media time scale (units per second). Media time 0 is the track's
// first displayed sample; `offset` places that sample in the file's common time line.
//
// Thread safety: a MediaFile is immutable after open() and may be read from any thread.
#pragma once

#include "platform/movies/descriptions.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/matrix.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zef::movies {

// Result of MediaFile::open. The values are stable and may be stored or compared as integers.
enum class MediaOpenStatus : int32_t {
    ok = 0,
    notAMovie = -2048,  // readable media, but not a kind of file the toolbox opens itself
    cannotOpen = -2000, // missing, unreadable, not media at all, empty, truncated or corrupt
};

// "ok", "not a movie" or "cannot open".
const char* mediaOpenStatusText(MediaOpenStatus status);

constexpr FourCC kVideoMediaType = fourcc("vide");
constexpr FourCC kSoundMediaType = fourcc("soun");

// One displayed video sample (a frame): media time and duration in the media time scale.
// Samples are in display order, gap-free: time[i + 1] == time[i] + duration[i].
struct VideoSample {
    int64_t time = 0;
    int64_t duration = 0;
    int64_t pts = 0;   // the frame's presentation stamp in the stream's own time base
    bool sync = false; // a key frame: decoding may start here
};

// Where decoding may start: a key frame, found by its presentation stamp.
struct KeyFrame {
    int64_t pts = 0; // stream time base
    int64_t dts = 0; // stream time base, as the demuxer indexes it for seeking
    int64_t decodeIndex = 0;
};

struct TrackInfo {
    int32_t streamIndex = -1; // the stream inside the file
    FourCC mediaType = 0;     // kVideoMediaType or kSoundMediaType
    bool visual = false;      // characteristic: draws pictures
    bool audible = false;     // characteristic: plays sound
    bool enabled = true;

    int32_t timeScale = 600; // media time units per second
    int64_t duration = 0;    // media duration in timeScale units
    int64_t offset = 0;      // start of the track in the file's time line, timeScale units
    int64_t sampleCount = 0; // video: frames; sound: sample frames at the source rate

    // Video.
    bool still = false; // a still image: one frame of 600 units at time scale 600
    std::vector<VideoSample> samples;
    std::vector<KeyFrame> keyFrames;     // sorted by pts
    std::vector<int64_t> decodeOrderDts; // dts of every packet in decode order
    bool allStamped = true; // every packet carried its display stamp (none was inferred)
    // Elementary streams, and AVI files with reordered frames, carry no trustworthy display
    // stamps: their frames are numbered in display order (VideoSample::pts is the frame's
    // number) and shown at the stream's frame rate. Decoding such a track can only start at
    // its top, so going backwards in it decodes from the start again.
    bool countedFrames = false;
    // The track matrix the file gives its pictures (its display matrix: the quarter turns and
    // mirror images that phones and cameras record), which maps the stored pictures
    // (0, 0, codedWidth, codedHeight) onto the pictures as shown (0, 0, width, height). Only
    // quarter turns and mirror images are taken; other matrices count as the identity.
    // Decoders draw the pictures as shown, so every user of the track sees them upright.
    MatrixRecord matrix = MatrixRecord::identity();
    ImageDescription imageDescription; // of the pictures as shown
    int32_t width = 0;                 // as shown
    int32_t height = 0;
    int32_t codedWidth = 0; // as stored
    int32_t codedHeight = 0;

    // Sound.
    SoundDescription soundDescription;
    int32_t sampleRate = 0; // hertz (also the time scale of a sound track)
    int32_t channels = 0;
    int32_t bitsPerSample = 0; // of the stored samples; 16 for compressed formats
    int64_t startPts = 0;      // stream time base: the stamp of media time 0

    // The stream's own time base (seconds per unit = num / den).
    int32_t timeBaseNum = 1;
    int32_t timeBaseDen = 1;

    // The display sample whose interval holds mediaTime; -1 outside the track.
    int64_t sampleIndexAt(int64_t mediaTime) const;
    // The shortest duration among the first five samples, starting from the time scale itself
    // (video); 0 for tracks without samples.
    int64_t shortestFirstDuration() const;
    // Frames per second as the exact ratio timeScale / shortestFirstDuration().
    double frameRate() const;
};

// How a track matrix of TrackInfo makes the shown picture from the stored one: x and y
// exchanged first (a quarter turn with a mirror image), then the picture mirrored left to
// right and top to bottom.
struct PictureTurn {
    bool transpose = false;
    bool mirrorX = false;
    bool mirrorY = false;
    bool isIdentity() const { return !transpose && !mirrorX && !mirrorY; }
    // The clockwise quarter turns (0-3) and whether the stored picture is mirrored left to
    // right before them.
    int32_t clockwiseQuarters() const;
    bool mirrored() const { return transpose != (mirrorX != mirrorY); }
};
PictureTurn pictureTurnOf(const MatrixRecord& matrix);

class MediaFile;

struct MediaOpenResult {
    MediaOpenStatus status = MediaOpenStatus::cannotOpen;
    std::shared_ptr<MediaFile> file; // set only with MediaOpenStatus::ok
    std::string detail;              // a short English reason, for logs and the probe tool
};

class MediaFile {
public:
    // Opens the file, checks that the toolbox takes it and builds the sample tables from the
    // packet stamps (the packets are read once, nothing is decoded; in movie files the
    // sample data is not even read unless ZEF_MEDIA_FULL_SCAN=1 is set). Never throws for
    // bad input; throws std::bad_alloc only when memory runs out.
    static MediaOpenResult open(const std::string& path);

    const std::string& path() const { return m_path; }
    // FFmpeg's name of the container, e.g. "mov,mp4,m4a,3gp,3g2,mj2", "avi", "wav".
    const std::string& formatName() const { return m_formatName; }
    const std::vector<TrackInfo>& tracks() const { return m_tracks; }
    // Index into tracks() of the n-th track of a media type, or -1.
    int32_t findTrack(FourCC mediaType, int32_t n = 0) const;
    int32_t trackCount(FourCC mediaType) const;
    // Length of the whole file in seconds (the end of its longest track).
    double durationSeconds() const;

private:
    MediaFile() = default;
    std::string m_path;
    std::string m_formatName;
    std::vector<TrackInfo> m_tracks;
};

} // namespace zef::movies
