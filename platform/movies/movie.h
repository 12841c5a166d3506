// Movies and tracks: the structure the composition engine builds and the compositor evaluates.
//
// Time. A movie has a time scale (units per second, 600 by default); track times are movie
// times. Each track has an edit list: consecutive segments from track time 0, each either
// empty or mapping its span of track time onto a span of some media's time. A segment plays
// its media span over its own duration, so its rate is media duration / track duration; a
// segment may refer to the media of another track or movie (segments inserted from a source
// movie keep referring to the source's media, which they keep alive). A track's offset is the
// length of a leading empty segment. Times are 64-bit; durations must be positive.
//
// Space. A track has a size (16.16), a matrix, a layer (lower numbers are drawn in front),
// an enabled flag, a volume (8.8, 256 = unity) and an optional clip region in its own
// coordinates. The movie has a matrix, an optional clip region in movie coordinates (before
// the movie matrix) and a box: its natural bounds (the union of its enabled tracks' rectangles,
// cut to the clip region's bounds) mapped through the movie matrix.
//
// Errors are returned as codes (errors.h); the movie remembers the last one and hands every
// failure to its error procedure when one is installed. Track pointers stay valid until the
// track is disposed or the movie destroyed. One thread builds a movie; while nobody changes
// it, any number of threads may evaluate it (lookups and sample reads only read). A movie that
// goes on being edited is played from a snapshot (Movie::snapshot), which its edits leave alone.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/descriptions.h"
#include "platform/movies/errors.h"
#include "platform/movies/matrix.h"
#include "platform/movies/media.h"
#include "platform/movies/region.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace zef::movies {

class Movie;

// Track reference types.
constexpr OSType kTrackReferenceModifier = fourcc("ssrc");
constexpr OSType kTrackReferenceTimeCode = fourcc("tmcd");
constexpr OSType kTrackReferenceChapterList = fourcc("chap");

// Media characteristics for finding tracks: visual (video and text media) and audible (sound).
constexpr OSType VisualMediaCharacteristic = fourcc("eyes");
constexpr OSType AudioMediaCharacteristic = fourcc("ears");

// Play hints.
constexpr uint32_t hintsPlayingEveryFrame = 0x40000;
constexpr uint32_t hintsHighQuality = 0x100;

// Messages of the progress procedure.
constexpr int16_t movieProgressOpen = 0;
constexpr int16_t movieProgressUpdatePercent = 1;
constexpr int16_t movieProgressClose = 2;

struct Edit {
    TimeValue duration = 0;       // track time (movie time scale), > 0
    std::shared_ptr<Media> media; // null for an empty segment
    TimeValue mediaTime = 0;      // start in the media's time scale
    TimeValue mediaDuration = 0;  // span of media played over duration

    bool isEmpty() const { return media == nullptr; }
    // The playback rate as 16.16 (media seconds per movie second); 0 for empty segments.
    Fixed rate(TimeScale movieScale) const;
};

// Where a movie time falls in a track (Track::lookup).
struct TrackPosition {
    size_t editIndex = 0;
    TimeValue editStart = 0; // movie time
    TimeValue editEnd = 0;
    Media* media = nullptr; // null inside an empty segment
    TimeValue mediaTime = 0;
    int64_t sampleIndex = -1;     // -1 inside an empty segment
    TimeValue sampleStart = 0;    // media time
    TimeValue sampleDuration = 0; // media time
    Fixed rate = 0;
    // The first movie time after t at which the segment or the sample changes.
    TimeValue nextTime = 0;
};

class Track {
public:
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    Movie& movie() const { return *m_movie; }
    uint32_t id() const { return m_id; }

    int16_t layer() const { return m_layer; }
    void setLayer(int16_t layer)
    {
        if (layer != m_layer) touch();
        m_layer = layer;
    }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled)
    {
        if (enabled != m_enabled) touch();
        m_enabled = enabled;
    }
    int16_t volume() const { return m_volume; }
    void setVolume(int16_t volume)
    {
        if (volume != m_volume) touch();
        m_volume = volume;
    }
    Fixed width() const { return m_width; }
    Fixed height() const { return m_height; }
    void setDimensions(Fixed width, Fixed height);
    const MatrixRecord& matrix() const { return m_matrix; }
    void setMatrix(const MatrixRecord& m)
    {
        if (m != m_matrix) touch();
        m_matrix = m;
    }
    const std::optional<Region>& clipRegion() const { return m_clip; }
    void setClipRegion(std::optional<Region> clip)
    {
        m_clip = std::move(clip);
        touch();
    }
    // The track's rectangle (0, 0, width, height) mapped through its matrix.
    Rect bounds() const;

    // The track's own media (null until Movie::newTrackMedia).
    const std::shared_ptr<Media>& media() const { return m_media; }

    // Edit list.
    const std::vector<Edit>& edits() const { return m_edits; }
    TimeValue duration() const;
    TimeValue offset() const; // length of the leading empty segment
    OSErr setOffset(TimeValue offset);
    // Inserts [mediaTime, mediaTime + mediaDuration) of the track's media at trackStart
    // (movie time) at the given rate (16.16); later segments move later. A trackStart beyond
    // the end leaves an empty segment up to it. mediaTime -1 inserts an empty segment.
    OSErr insertMedia(TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                      Fixed rate = kFixed1);
    OSErr insertEmptySegment(TimeValue trackStart, TimeValue duration);
    // Copies the segments of source (any movie, this track too) covering
    // [sourceIn, sourceIn + sourceDuration) of source's movie time to destIn; the part beyond
    // the source's end becomes empty. Times convert between the two movies' scales.
    OSErr insertSegmentFrom(const Track& source, TimeValue sourceIn, TimeValue sourceDuration,
                            TimeValue destIn);
    // Removes [start, start + duration) (cut to the track's end); later segments move earlier.
    OSErr deleteSegment(TimeValue start, TimeValue duration);
    // Stretches [start, start + oldDuration) to newDuration; the media spans stay the same, so
    // their rates change. Later segments move by the difference.
    OSErr scaleSegment(TimeValue start, TimeValue oldDuration, TimeValue newDuration);

    // Where movie time t falls; false when t is before 0 or at/after the end.
    bool lookup(TimeValue t, TrackPosition& out) const;

    // Track references by type; indexes are 1-based and stable (a disposed target leaves its
    // slot empty). Adding a reference that exists returns its index.
    OSErr addReference(const Track& target, OSType type, int32_t* index);
    Track* reference(OSType type, int32_t index) const;
    int32_t referenceCount(OSType type) const;
    const std::map<OSType, std::vector<uint32_t>>& references() const { return m_references; }

private:
    friend class Movie;
    friend class MovieFileReader;
    Track(Movie* movie, uint32_t id) : m_movie(movie), m_id(id) {}

    // Makes an edit boundary at t (0 <= t <= duration); returns the index of the segment
    // starting at t (edits.size() at the end).
    size_t splitAt(TimeValue t);
    OSErr insertEdits(TimeValue at, std::vector<Edit> edits);
    void appendEdit(Edit e);
    void normalize();
    // Rebuilds the start table after the edit list changed. The table is always current, so
    // const lookups only read and may run on several threads at once.
    void changed();
    // Counts a change of the movie's structure (Movie::changeCount).
    void touch();
    const std::vector<TimeValue>& starts() const { return m_starts; }
    OSErr report(OSErr err) const;

    Movie* m_movie;
    uint32_t m_id;
    int16_t m_layer = 0;
    bool m_enabled = true;
    int16_t m_volume = 0;
    Fixed m_width = 0;
    Fixed m_height = 0;
    MatrixRecord m_matrix = MatrixRecord::identity();
    std::optional<Region> m_clip;
    std::shared_ptr<Media> m_media;
    std::vector<Edit> m_edits;
    std::map<OSType, std::vector<uint32_t>> m_references;
    std::vector<TimeValue> m_starts{0}; // segment start times, size edits + 1
};

class Movie {
public:
    using ProgressProc = std::function<OSErr(Movie& movie, int16_t message, Fixed fraction)>;
    using ErrorProc = std::function<void(OSErr err)>;

    explicit Movie(TimeScale timeScale = 600);
    ~Movie();
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;

    // A copy of the movie's structure — its tracks with their settings, edit lists and
    // references, the movie's matrix, clip regions and volume — that shares the media (sample
    // tables and the media files behind them) with this movie. Later edits of either movie
    // leave the other alone, so a player may evaluate the snapshot on its threads while this
    // movie goes on being edited, provided nobody adds samples to a medium the snapshot already
    // uses (an editor adds samples only to the media of tracks it has just made). The copy has
    // no storage, progress or error procedure.
    std::unique_ptr<Movie> snapshot() const;
    // Goes up with every change of the structure that a snapshot copies: tracks made, given
    // media or disposed, edit lists, references and track or movie settings. Adding samples
    // to a medium does not count.
    uint64_t changeCount() const { return m_changes; }

    TimeScale timeScale() const { return m_timeScale; }
    // Changes the scale, converting every track's segment times (rounded to nearest).
    OSErr setTimeScale(TimeScale scale);
    // The end of the longest track.
    TimeValue duration() const;

    // A new track with the given size (16.16) and volume (8.8); ids start at 1.
    Track* newTrack(Fixed width, Fixed height, int16_t volume);
    // Gives a track its media; media of a file movie write their samples to its file.
    OSErr newTrackMedia(Track* track, OSType mediaType, TimeScale timeScale);
    // Removes the track; references to it in other tracks become empty slots.
    OSErr disposeTrack(Track* track);
    size_t trackCount() const { return m_tracks.size(); }
    Track* indTrack(size_t index) const; // 1-based, in creation order; null when out of range
    Track* trackByID(uint32_t id) const;
    // The index-th (1-based) track whose media has the characteristic, counting enabled
    // tracks only when enabledOnly; null when there is none.
    Track* indTrackWithCharacteristic(size_t index, OSType characteristic, bool enabledOnly) const;
    size_t countTracksWithCharacteristic(OSType characteristic, bool enabledOnly) const;
    // The enabled tracks in drawing order: front (lowest layer) first; equal layers keep
    // their creation order.
    std::vector<Track*> enabledTracksByLayer() const;
    bool owns(const Track* track) const;
    const std::vector<std::unique_ptr<Track>>& tracks() const { return m_tracks; }

    // Removes [start, start + duration) from every track.
    OSErr deleteSegment(TimeValue start, TimeValue duration);

    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }
    const MatrixRecord& matrix() const { return m_matrix; }
    void setMatrix(const MatrixRecord& m)
    {
        m_matrix = m;
        ++m_changes;
    }
    const std::optional<Region>& clipRegion() const { return m_clip; }
    void setClipRegion(std::optional<Region> clip)
    {
        m_clip = std::move(clip);
        ++m_changes;
    }
    // The display clip applies after the movie matrix, in display coordinates.
    const std::optional<Region>& displayClipRegion() const { return m_displayClip; }
    void setDisplayClipRegion(std::optional<Region> clip)
    {
        m_displayClip = std::move(clip);
        ++m_changes;
    }
    int16_t volume() const { return m_volume; } // 8.8, 256 = unity
    void setVolume(int16_t volume)
    {
        m_volume = volume;
        ++m_changes;
    }
    Rect naturalBounds() const;
    Rect box() const;
    // Sets the movie matrix so that the natural bounds map onto box.
    void setBox(const Rect& box);

    uint32_t playHints() const { return m_playHints; }
    void setPlayHints(uint32_t flags, uint32_t mask);

    void setProgressProc(ProgressProc proc) { m_progress = std::move(proc); }
    bool hasProgressProc() const { return bool(m_progress); }
    // Calls the progress procedure (noErr without one); a non-zero answer means stop.
    OSErr callProgress(int16_t message, Fixed fraction);
    void setErrorProc(ErrorProc proc) { m_errorProc = std::move(proc); }
    OSErr lastError() const { return m_lastError; }
    // Records a result; failures go to the error procedure. Returns err.
    OSErr report(OSErr err) const;

    // The movie file that receives added sample data (createMovieFile), or null.
    const std::shared_ptr<MovieStorage>& storage() const { return m_storage; }
    void setStorage(std::shared_ptr<MovieStorage> storage) { m_storage = std::move(storage); }

private:
    friend class MovieFileReader;
    friend class Track;
    Track* addTrackWithID(uint32_t id);

    TimeScale m_timeScale;
    std::vector<std::unique_ptr<Track>> m_tracks;
    uint32_t m_nextTrackID = 1;
    bool m_active = true;
    MatrixRecord m_matrix = MatrixRecord::identity();
    std::optional<Region> m_clip;
    std::optional<Region> m_displayClip;
    int16_t m_volume = 256;
    uint32_t m_playHints = 0;
    ProgressProc m_progress;
    ErrorProc m_errorProc;
    mutable OSErr m_lastError = noErr;
    std::shared_ptr<MovieStorage> m_storage;
    uint64_t m_changes = 0;
};

// The image description of an effect sample: compression type = the effect type, 32-bit
// depth, 72 dpi, one frame; width and height as given (the output size).
ImageDescription makeImageDescriptionForEffect(OSType effectType, int16_t width = 0,
                                               int16_t height = 0);

} // namespace zef::movies
