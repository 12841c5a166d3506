// Media: the samples of one kind (video, sound, text, tween) with their time scale, sample
// descriptions and handler settings (graphics mode, op colour, input map, text properties).
//
// A sample's data is held in one of three places:
//   - in memory: a range of a shared, immutable block (samples added together share one);
//   - in a movie file made by createMovieFile: a range of that file (MovieStorage);
//   - in a media file stream: the file, the stream index and the sample's time in that
//     stream, because file media is decoded by time rather than read as bytes.
// Samples have a 1-based description index, a duration (media time scale, > 0) and a sync
// flag. Sample numbers in this interface are 0-based.
//
// Times are 64-bit. Lookups by time use a table of sample start times (binary search), so a
// lookup costs O(log n) whatever the number of samples. Media are shared (std::shared_ptr)
// between a track and the edits that refer to them, also across movies. Not thread-safe.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/descriptions.h"
#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zef::movies {

class MediaFile;    // an opened media file (audio/video streams decoded by time)
class MovieStorage; // the data file of a movie made by createMovieFile (movie_file.h)

using TimeValue = int64_t;
using TimeScale = int32_t;

constexpr OSType VideoMediaType = fourcc("vide");
constexpr OSType SoundMediaType = fourcc("soun");
constexpr OSType TextMediaType = fourcc("text");
constexpr OSType TweenMediaType = fourcc("twen");

// Graphics modes of the video media handler.
constexpr int32_t srcCopy = 0;
constexpr int32_t ditherCopy = 64;
constexpr int32_t blend = 32;
constexpr int32_t transparent = 36;

struct RGBColor {
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
    friend bool operator==(const RGBColor&, const RGBColor&) = default;
};

struct SampleData {
    enum class Kind { Memory, Storage, FileStream };
    Kind kind = Kind::Memory;
    // Memory
    std::shared_ptr<const std::vector<uint8_t>> block;
    // Memory and Storage: the byte range (offset in the block or in the file).
    int64_t offset = 0;
    int64_t size = 0;
    // Storage
    std::shared_ptr<MovieStorage> storage;
    // FileStream: the file may be null when a saved movie was reopened without resolving it.
    std::shared_ptr<MediaFile> file;
    std::string filePath;
    int32_t stream = 0;
    TimeValue fileTime = 0; // the sample's time in the stream, in this media's time scale
};

struct Sample {
    SampleData data;
    int32_t descriptionIndex = 1;
    TimeValue duration = 0;
    bool sync = true;
};

class Media {
public:
    static constexpr TimeScale kMaxTimeScale = 1 << 30;

    Media(OSType type, TimeScale timeScale);

    OSType type() const { return m_type; }
    TimeScale timeScale() const { return m_timeScale; }
    TimeValue duration() const { return m_starts.back(); }

    // Begin/end of a batch of additions, as callers bracket them. Additions outside a batch
    // are allowed too. endEdits answers invalidMedia when no batch is open.
    OSErr beginEdits();
    OSErr endEdits();
    bool inEdits() const { return m_editDepth > 0; }

    // Sample descriptions (1-based). addSampleDescription reuses an equal existing one.
    int32_t sampleDescriptionCount() const { return int32_t(m_descriptions.size()); }
    Handle sampleDescription(int32_t index) const; // null Handle for a bad index
    // The description read as an image or sound description (none when bad or too short).
    std::optional<ImageDescription> imageDescription(int32_t index) const;
    std::optional<SoundDescription> soundDescription(int32_t index) const;
    OSErr addSampleDescription(const Handle& description, int32_t* index);
    OSErr setSampleDescription(int32_t index, const Handle& description);
    // Appends without looking for an equal one (keeps stored indexes); returns the index.
    int32_t appendSampleDescription(const Handle& description);

    // Adds count samples of durationPerSample each whose data is bytes split into count
    // equal parts. A null description uses the last one added (invalidSampleDescription if
    // none). The data is copied into memory, or appended to the movie file for file movies.
    // sampleTime receives the media time of the first new sample. Errors leave the media
    // unchanged: paramErr (count < 1, bytes not divisible), invalidDuration, ioErr.
    OSErr addSample(std::span<const uint8_t> bytes, TimeValue durationPerSample, int32_t count,
                    const Handle& description, bool sync = true, TimeValue* sampleTime = nullptr);
    // The same with data that stays in a shared block (no copy): [offset, offset + size).
    OSErr addSampleReference(std::shared_ptr<const std::vector<uint8_t>> block, int64_t offset,
                             int64_t size, TimeValue durationPerSample, int32_t count,
                             const Handle& description, bool sync = true,
                             TimeValue* sampleTime = nullptr);
    // A sample decoded from a stream of a media file at fileTime.
    OSErr addFileSample(std::shared_ptr<MediaFile> file, std::string filePath, int32_t stream,
                        TimeValue fileTime, TimeValue duration, const Handle& description,
                        bool sync = true, TimeValue* sampleTime = nullptr);
    // Adds a ready sample record (used when movies are read back).
    OSErr appendSample(const Sample& sample);

    int64_t sampleCount() const { return int64_t(m_samples.size()); }
    const Sample* sample(int64_t index) const;
    TimeValue sampleStart(int64_t index) const; // -1 for a bad index
    // The sample whose interval [start, start + duration) holds mediaTime, or -1.
    int64_t sampleIndexAtTime(TimeValue mediaTime) const;
    // The bytes of a Memory or Storage sample; featureUnsupported for a FileStream sample
    // (decode it through its MediaFile), badDataRefIndex when its data cannot be reached.
    OSErr getSampleData(int64_t index, std::vector<uint8_t>& out) const;

    // Where added sample data goes: a movie file, or memory when null.
    void setStorage(std::shared_ptr<MovieStorage> storage) { m_storage = std::move(storage); }
    const std::shared_ptr<MovieStorage>& storage() const { return m_storage; }

    // Media handler settings.
    int32_t graphicsMode() const { return m_graphicsMode; }
    RGBColor opColor() const { return m_opColor; }
    void setGraphicsMode(int32_t mode, const RGBColor& opColor);
    const AtomContainer& inputMap() const { return m_inputMap; }
    void setInputMap(const AtomContainer& map) { m_inputMap = map; }
    bool hasInputMap() const { return m_inputMap.countChildrenOfType(0, 0) > 0; }
    void setTextProperty(OSType property, std::span<const uint8_t> value);
    const std::vector<uint8_t>* textProperty(OSType property) const;
    const std::map<OSType, std::vector<uint8_t>>& textProperties() const { return m_textProps; }

private:
    OSErr resolveDescription(const Handle& description, int32_t* index);
    OSErr checkAdd(TimeValue durationPerSample, int32_t count) const;
    void push(Sample s);
    // Appends count samples that share data, each the next `each` bytes after data.offset.
    void pushEqualSamples(SampleData data, int64_t each, int32_t count, int32_t descIndex,
                          TimeValue durationPerSample, bool sync);

    OSType m_type;
    TimeScale m_timeScale;
    int m_editDepth = 0;
    std::vector<Handle> m_descriptions;
    std::vector<Sample> m_samples;
    std::vector<TimeValue> m_starts{0}; // m_starts[i] = start of sample i; back() = duration
    std::shared_ptr<MovieStorage> m_storage;
    int32_t m_graphicsMode = ditherCopy;
    RGBColor m_opColor;
    AtomContainer m_inputMap;
    std::map<OSType, std::vector<uint8_t>> m_textProps;
};

} // namespace zef::movies
