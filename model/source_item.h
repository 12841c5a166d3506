// A clip: an item that shows a range of a media file.
#pragma once

#include "model/item.h"
#include "platform/movies/matrix.h"

#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace zef {

// The opened media of a clip (a movie of the movie toolbox, or the media-graph readers).
// Destroying it closes the media. The settings calls have harmless defaults for media that
// cannot honour them.
class ClipMedia {
public:
    virtual ~ClipMedia() = default;
    virtual bool viaMovieToolbox() const = 0;
    // Enables exactly the (videoTrackIndex + 1)-th visual and the (audioTrackIndex + 1)-th
    // audible track; an index past the last track of its kind enables none of that kind.
    virtual void selectTracks(int32_t /*videoTrackIndex*/, int32_t /*audioTrackIndex*/) {}
    // Movie volume; 256 = full.
    virtual void setVolume(int32_t /*volume*/) {}
    // The part of the picture that is shown, in image pixels (the crop); the composition
    // engine reads it when it builds the clip.
    virtual void setDisplayClip(const movies::Rect& /*rect*/) {}
    virtual std::optional<movies::Rect> displayClip() const { return std::nullopt; }
    // Draws the frame shown at source time t into a width × height picture of 32-bit pixels
    // (the layout of movies::Pixmap); false, leaving the pixels as they were, when there is
    // no picture to draw.
    virtual bool drawFrame(const EditTime& /*t*/, uint8_t* /*pixels*/, int32_t /*width*/,
                           int32_t /*height*/)
    {
        return false;
    }
    // The source times (units of 100 ns) at which the pictures shown over [from, to) begin,
    // the one shown at `from` first, in order; false when the media cannot tell (the clip's
    // frames then follow its frame rate).
    virtual bool frameStarts(int64_t /*from*/, int64_t /*to*/,
                             std::vector<int64_t>& /*starts*/) const
    {
        return false;
    }
    // Media of the same opened file for another clip, made without reading the file again
    // (its settings are the defaults); null when the media cannot be shared.
    virtual std::unique_ptr<ClipMedia> share() const { return nullptr; }
};

struct MediaInfo;

// Opens clip files: the movie toolbox first, the media-graph readers second. Provided by the
// project owner; without one no file can be opened.
class ClipOpener {
public:
    virtual ~ClipOpener() = default;
    // The opened media and what it holds, or null when the file cannot be opened; then
    // notAMovie tells whether the file was readable but holds no movie.
    virtual std::unique_ptr<ClipMedia> open(const std::string& path, int32_t videoTrackIndex,
                                            int32_t audioTrackIndex, MediaInfo& info,
                                            bool& notAMovie) = 0;
};

// What opening a clip's file tells about its media.
struct MediaInfo {
    int32_t rateNum = 0; // 0 = no video
    int32_t rateDen = 1;
    int32_t frameCount = 0; // 1 = a still image
    int32_t audioRate = 0;  // Hz; 0 = no audio
    int32_t audioSampleCount = 0;
    int32_t videoTrackCount = 0;
    int32_t audioTrackCount = 0;
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    movies::Handle imageDescription;
    movies::Handle soundDescription;
};

// The question asked when a clip's file cannot be opened while a project is read.
std::string cannotOpenQuestion(const std::string& path);

// Remembers how a located file's path differs from the path it was missing under: the two
// paths without their longest common ending become a pair of oldPrefixes / newPrefixes
// (C:\old\clips\a.mov located as D:\new\clips\a.mov gives C:\old -> D:\new).
void learnPathSubstitution(const std::string& oldPath, const std::string& newPath,
                           std::vector<std::string>& oldPrefixes,
                           std::vector<std::string>& newPrefixes);

// The path with its remembered old prefix `from` replaced by `to`. When `to` is a path of
// this system (it begins with '/'), backslashes in the rest of the path become '/'.
std::string substitutePrefix(const std::string& path, const std::string& from,
                             const std::string& to);

class ZEFSourceItem;

// Opened media of clips that left the project, kept for clips read back in (a snapshot being
// restored): a clip takes media opened from its own path with its own choice of video and
// audio track instead of opening the file again, and with it the thumbnail when that shows
// the clip's first frame. Closing the pool closes what no clip took.
class ClipMediaPool {
public:
    ClipMediaPool();
    ~ClipMediaPool();
    ClipMediaPool(const ClipMediaPool&) = delete;
    ClipMediaPool& operator=(const ClipMediaPool&) = delete;

    // Takes the clip's opened media and thumbnail (the clip is left closed); a clip without
    // media gives nothing.
    void park(ZEFSourceItem& clip);
    // Gives the clip parked media of its file, with what was learnt when it was opened and
    // the thumbnail drawn from it (one of the clip's first frame when there is one); false
    // when none is parked. The last parked media of a file is shared when it can be, so that
    // clips read in beyond those that left (an undone removal) find it too.
    bool lend(ZEFSourceItem& clip);

private:
    struct Shelf;
    std::unique_ptr<Shelf> m_shelf;
};

class ZEFSourceItem : public ZEFItem {
public:
    ZEFSourceItem(FProject* project, int32_t track, ZEFItem* owner = nullptr);
    ~ZEFSourceItem() override;

    // Opens the media if needed (also for an invalid clip, whose file may be back) and makes it
    // the preview source; false when it cannot.
    bool activate() override;
    EditTime sourceToTimeline(const EditTime& t) const override;
    EditTime timelineToSource(const EditTime& t, bool clamp) const override;
    void save(storage::StreamWriter& out) const override;
    // Reads the record, then opens the media as on loading a project: remembered path
    // substitutions are tried, then the user is asked; Retry lets the user locate the file and
    // remembers the path substitution learnt from it. Throws ZEFException (code 1 or 2, or
    // "Invalid file") when the clip is to be dropped; the record has been read whole then.
    void load(storage::StreamReader& in, int32_t version) override;
    std::unique_ptr<ZEFItem> clone(ZEFItem* owner) const override;
    int32_t rateDenominator() const override { return m_mediaRateDen; }
    int32_t rateNumerator() const override { return m_mediaRateNum; }
    // Frees the thumbnail and allocates a zero-filled one of the thumbnail size; the frame at
    // sourceIn is drawn into it by the composition engine, or, when there is none or it
    // draws nothing, by the clip's own media. False when nothing was drawn.
    bool refreshThumbnail() override;
    EditTime earliestStart() const override;
    bool latestEnd(EditTime& out) const override;
    DeckRequest createDeck(bool forTransition) override;
    // An invalid clip ignores trims. With clamp, trims move the source points (or re-time a
    // still image).
    EditTime trimStart(EditTime t, int32_t mode, bool clamp) override;
    EditTime trimEnd(EditTime t, int32_t mode, bool clamp) override;

    void setSourceIn(const EditTime& t);
    void setSourceOut(const EditTime& t);
    void setScaleFactor(float factor);
    // The factor in use: scaleFactor, or 1 when scaleType is 0.
    double factor() const
    {
        return m_scaleType != 0 && m_scaleFactor > 0.0f && std::isfinite(m_scaleFactor)
                   ? double(m_scaleFactor)
                   : 1.0;
    }
    EditTime mediaDuration() const;
    bool isStill() const { return m_frameCount == 1; }

    // Clip media. Opening fills the media fields through setMediaInfo; when the file cannot
    // be opened the clip becomes invalid and, as asked: failIfMissing throws code 1;
    // substitute with a remembered prefix rewrites the path and throws code 3; interactive
    // asks the project's user interface (Abort throws code 1, Retry code 2, Ignore keeps the
    // clip invalid; without a user interface, or while the project restores a snapshot, the
    // clip is kept); otherwise "Cannot open file <path>" is thrown.
    void open(bool setDefaults, bool failIfMissing, bool interactive, bool substitute);
    void close();
    bool isOpen() const { return m_media != nullptr; }
    ClipMedia* media() const { return m_media.get(); }
    // Enables the chosen video and audio tracks of the opened media.
    void selectTracks();
    // Sets the media's display clip to the crop rectangle in image pixels (each 16.16
    // product rounded to nearest), or to the whole image with full. Needs opened media and
    // an image description.
    void applyCrop(bool full = false);
    // The display clip applyCrop computes; none without an image description.
    std::optional<movies::Rect> cropPixels(bool full = false) const;
    // Installs opened media and what was learnt from it.
    void setMedia(std::unique_ptr<ClipMedia> media, const MediaInfo& info);
    void setMediaInfo(const MediaInfo& info);
    // What the clip learnt from its media (the fields setMediaInfo sets).
    MediaInfo mediaInfo() const;
    // Takes over the opened media of another clip (opened from this clip's path) with what
    // it learnt from it; other is closed. Selects the tracks and applies volume and crop.
    void adoptMedia(ZEFSourceItem& other);
    // Sets both placement matrices to keep the clip's aspect in the output frame (needs an
    // image description of at least 86 bytes); sets fitToAspect.
    void fitToProjectAspect();

    // Fields.
    const std::string& path() const { return m_path; }
    void setPath(const std::string& path) { m_path = path; }
    const EditTime& sourceIn() const { return m_sourceIn; }
    const EditTime& sourceOut() const { return m_sourceOut; }
    // Assigns the source points without re-timing (used when building clips).
    void assignSourceRange(const EditTime& in, const EditTime& out)
    {
        m_sourceIn = in;
        m_sourceOut = out;
    }
    float scaleFactor() const { return m_scaleFactor; }
    int32_t scaleType() const { return m_scaleType; }
    void setScaleType(int32_t type) { m_scaleType = type; }
    int32_t videoTrackIndex() const { return m_videoTrackIndex; }
    void setVideoTrackIndex(int32_t i) { m_videoTrackIndex = i; }
    int32_t audioTrackIndex() const { return m_audioTrackIndex; }
    void setAudioTrackIndex(int32_t i) { m_audioTrackIndex = i; }
    const movies::Handle& auxHandle() const { return m_auxHandle; }
    void setAuxHandle(movies::Handle h) { m_auxHandle = std::move(h); }
    const movies::Handle& imageDescription() const { return m_imageDescription; }
    const movies::Handle& soundDescription() const { return m_soundDescription; }
    int32_t mediaRateNum() const { return m_mediaRateNum; }
    int32_t mediaRateDen() const { return m_mediaRateDen; }
    int32_t audioRate() const { return m_audioRate; }
    bool fitToAspect() const { return m_fitToAspect; }
    int32_t videoTrackCount() const { return m_videoTrackCount; }
    int32_t audioTrackCount() const { return m_audioTrackCount; }
    int32_t placementMode() const { return m_placementMode; }
    void setPlacementMode(int32_t mode) { m_placementMode = mode; }
    const movies::MatrixRecord& matrix(int i) const { return m_matrices.at(size_t(i)); }
    void setMatrix(int i, const movies::MatrixRecord& m) { m_matrices.at(size_t(i)) = m; }
    const std::array<movies::Fixed, 4>& cropRect() const { return m_cropRect; }
    void setCropRect(const std::array<movies::Fixed, 4>& r) { m_cropRect = r; }
    bool invalid() const { return m_invalid; }
    void setInvalid(bool invalid) { m_invalid = invalid; }
    int32_t frameCount() const { return m_frameCount; }
    int32_t audioSampleCount() const { return m_audioSampleCount; }
    const std::vector<uint8_t>& thumbnail() const { return m_thumbnail; }
    int32_t thumbWidth() const { return m_thumbWidth; }
    int32_t thumbHeight() const { return m_thumbHeight; }
    int32_t volume() const { return m_volume; }
    // Also sets the volume of opened media.
    void setVolume(int32_t v)
    {
        m_volume = v;
        if (m_media) m_media->setVolume(v);
    }
    bool viaMovieToolbox() const { return m_viaQuickTime; }

    static constexpr int32_t kFitToAspectSinceVersion = 9;

private:
    friend class ClipMediaPool;
    // Re-times the item after a change of the source range or factor.
    void retime(EditTime oldDuration);
    void retimeStill();
    // Opens the media on loading (the media pool's, or the file: remembered substitutions,
    // questions), then fits the source range to it and draws the thumbnail.
    void openOnLoad();
    void openFileOnLoad();

    std::string m_path;
    EditTime m_sourceIn;
    EditTime m_sourceOut;
    std::unique_ptr<ClipMedia> m_media;
    float m_scaleFactor = 1.0f;
    int32_t m_scaleType = 0;
    int32_t m_videoTrackIndex = 0;
    int32_t m_audioTrackIndex = 0;
    movies::Handle m_auxHandle;
    movies::Handle m_imageDescription;
    movies::Handle m_soundDescription;
    int32_t m_mediaRateNum = 0;
    int32_t m_audioRate = 0;
    int32_t m_mediaRateDen = 1;
    bool m_fitToAspect = false;
    int32_t m_videoTrackCount = 0;
    int32_t m_audioTrackCount = 0;
    int32_t m_placementMode = 0;
    std::array<movies::MatrixRecord, 2> m_matrices;
    std::array<movies::Fixed, 4> m_cropRect{0, 0, movies::kFixed1, movies::kFixed1};
    bool m_invalid = false;
    int32_t m_frameCount = 0;
    int32_t m_audioSampleCount = 0;
    std::vector<uint8_t> m_thumbnail;
    std::optional<EditTime> m_thumbnailAt; // the source time drawn into it, if any
    int32_t m_thumbWidth = 0;
    int32_t m_thumbHeight = 0;
    int32_t m_volume = 256;
    bool m_viaQuickTime = true;
};

} // namespace zef
