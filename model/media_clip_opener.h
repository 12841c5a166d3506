// Opening clip files with the movie toolbox's media layer: which tracks a clip uses, its frame
// rate, length, picture and sound formats, and the pictures of its thumbnail. Files the toolbox
// refuses are offered to the media-graph readers.
//
// Not thread-safe: clips are opened on the project's thread. A MovieClipMedia shares its
// (immutable) MediaFile and opens a decoder of its own only while it draws.
#pragma once

#include "model/source_item.h"
#include "platform/movies/media_file.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zef {

struct FrameRate {
    int32_t num = 0; // 0 = no video
    int32_t den = 1;
    friend bool operator==(const FrameRate&, const FrameRate&) = default;
};

// The frame rate of a video track whose shortest frame lasts `shortest` units of `timeScale`
// per second, as the exact ratio timeScale / shortest reduced to lowest terms (30000/1001
// for NTSC video, 25/1 for PAL). A ratio too large for frame arithmetic (numerator above
// kMaxRateNum or denominator above kMaxRateDen) becomes the closest ratio within those bounds.
// {0, 1} when either value is not positive.
FrameRate exactFrameRate(int64_t timeScale, int64_t shortest);
constexpr int32_t kMaxRateNum = 10'000'000;
constexpr int32_t kMaxRateDen = 10'010;

// The frame rate the media-graph readers report as r frames per second: r × 1000 rounded
// over 1000 when the first decimal of r is not 0 (29.97 gives 29970/1000), else r rounded
// over 1 (25.04 gives 25/1).
FrameRate graphFrameRate(double framesPerSecond);

// Whole hertz of a sound description's unsigned 16.16 rate; the usual rates that are not
// whole numbers of hertz in 16.16 (11127, 22254) come out as their names say.
int32_t audioRateOf(uint32_t rate1616);

// Thumbnail size of a width × height picture: the longer side 80 pixels, the other scaled
// to it and rounded to nearest (at least 1). {0, 0} for an empty picture.
std::pair<int32_t, int32_t> thumbnailSize(int32_t width, int32_t height);
constexpr int32_t kThumbnailSide = 80;

// The file a clip's path names. An absolute path stays as it is; a relative one is taken
// from the current directory (where a drive-letter system would take the current drive's
// root). Paths written on such a system ("C:\clips\a.mov", "\\server\share\a.mov") are left
// as they are: no such file exists here, so they go through the locate flow.
std::string resolveClipPath(const std::string& path);

// A clip opened by the movie toolbox: the file, the tracks the clip uses and its settings.
class MovieClipMedia : public ClipMedia {
public:
    MovieClipMedia(std::shared_ptr<const movies::MediaFile> file, FrameRate rate);

    bool viaMovieToolbox() const override { return true; }
    void selectTracks(int32_t videoTrackIndex, int32_t audioTrackIndex) override;
    void setVolume(int32_t volume) override { m_volume = volume; }
    void setDisplayClip(const movies::Rect& rect) override { m_displayClip = rect; }
    std::optional<movies::Rect> displayClip() const override { return m_displayClip; }
    // Decodes the frame shown at t (ticks mapped through the clip's frame rate to the middle
    // of that frame, so rounding never lands on its neighbour) and scales it to the picture.
    bool drawFrame(const EditTime& t, uint8_t* pixels, int32_t width, int32_t height) override;
    // Another clip media of the same file and rate, with no track chosen.
    std::unique_ptr<ClipMedia> share() const override;

    const movies::MediaFile& file() const { return *m_file; }
    std::shared_ptr<const movies::MediaFile> sharedFile() const { return m_file; }
    // Indices into file().tracks() of the enabled video and audio track, or -1.
    int32_t videoTrack() const { return m_videoTrack; }
    int32_t audioTrack() const { return m_audioTrack; }
    bool trackEnabled(size_t track) const { return track < m_enabled.size() && m_enabled[track]; }
    int32_t volume() const { return m_volume; }
    // The media time (in the video track's time scale) that source time t shows; -1 without
    // video.
    int64_t mediaTimeAt(const EditTime& t) const;

private:
    std::shared_ptr<const movies::MediaFile> m_file;
    FrameRate m_rate;
    std::vector<bool> m_enabled;
    int32_t m_videoTrack = -1;
    int32_t m_audioTrack = -1;
    int32_t m_volume = 256;
    std::optional<movies::Rect> m_displayClip;
};

// What the media-graph readers report of a file they can read.
struct GraphMediaInfo {
    bool hasVideo = false;
    bool hasAudio = false;
    double framesPerSecond = 0;
    int32_t frameCount = 0;
    int32_t audioSampleCount = 0;
    movies::ImageDescription image; // width and height of the picture
    movies::SoundDescription sound; // its 16.16 rate
};

// The second way of opening a clip: the readers of the media graph.
class MediaGraphReaders {
public:
    virtual ~MediaGraphReaders() = default;
    // The opened readers (whose viaMovieToolbox() is false), or null when they cannot read
    // the file.
    virtual std::unique_ptr<ClipMedia> open(const std::string& path, GraphMediaInfo& info) = 0;
};

// Until the media-graph layer is built, no file is read that way.
class NoMediaGraphReaders : public MediaGraphReaders {
public:
    std::unique_ptr<ClipMedia> open(const std::string&, GraphMediaInfo&) override
    {
        return nullptr;
    }
};

// The project's clip opener: the movie toolbox first, the media-graph readers second. A file
// once read by the readers goes to them directly the next time.
class MediaClipOpener : public ClipOpener {
public:
    // graph may be null (no second try); it must outlive the opener.
    explicit MediaClipOpener(MediaGraphReaders* graph = nullptr) : m_graph(graph) {}

    std::unique_ptr<ClipMedia> open(const std::string& path, int32_t videoTrackIndex,
                                    int32_t audioTrackIndex, MediaInfo& info,
                                    bool& notAMovie) override;

    // What a clip using the given video and audio choice learns from a toolbox file.
    static MediaInfo mediaInfoOf(const movies::MediaFile& file, int32_t videoTrackIndex,
                                 int32_t audioTrackIndex);
    // The same from the media-graph readers' report.
    static MediaInfo mediaInfoOf(const GraphMediaInfo& graph);

private:
    MediaGraphReaders* m_graph;
    // Files the toolbox refused and the readers took: later opens go to the readers directly.
    std::set<std::string> m_viaGraph;
};

} // namespace zef
