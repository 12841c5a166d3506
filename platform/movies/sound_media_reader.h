// The sound of one sound media along its own time line, at the mixer's output rate and
// channel count: the part of SoundMixer (sound_mixer.h) that reads samples. Media frame s lies
// at s / rate seconds of media time.
//
// Sample kinds and the rules for them are those of sound_mixer.h. The reader keeps one
// SoundDecoder per file track for reading in order (a few per file track when the same file
// is read at several places at once, e.g. two clips of one file overlapping in a cross fade),
// remembers the last frames each decoder delivered so that a read may step back over them
// without seeking, and keeps one decompressor instance per sample description it meets.
// Sample descriptions are read once per media: one replaced by Media::setSampleDescription
// while a reader plays that media is noticed after reset(). Not thread-safe.
#pragma once

#include "platform/movies/components.h"
#include "platform/movies/media.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zef::movies {

// a / b rounded toward minus infinity, in 128-bit intermediates, saturated to 64 bits: sample
// positions are floor(t × rate / scale), which keeps consecutive spans joined exactly.
inline int64_t floorDivWide(__int128 a, __int128 b)
{
    __int128 q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    if (q > INT64_MAX) return INT64_MAX;
    if (q < INT64_MIN) return INT64_MIN;
    return int64_t(q);
}
inline int64_t ceilDivWide(__int128 a, __int128 b) { return -floorDivWide(-a, b); }

class MediaFile;
class SoundDecoder;

class SoundMediaReader {
public:
    static constexpr int kMaxDecodersPerTrack = 4;
    static constexpr size_t kMaxDecoders = 32;
    static constexpr size_t kMaxDecompressors = 32;
    static constexpr size_t kMaxFormats = 64;
    // Sample data in a movie file is read in blocks of up to this many bytes.
    static constexpr int64_t kStorageWindow = 64 << 10;
    static constexpr int64_t kTailFrames = 256;
    // The most frames one decompressed sample may produce.
    static constexpr int64_t kMaxDecompressedFrames = int64_t(1) << 22;

    SoundMediaReader(int32_t rate, int32_t channels, ComponentManager* components);
    ~SoundMediaReader();
    SoundMediaReader(const SoundMediaReader&) = delete;
    SoundMediaReader& operator=(const SoundMediaReader&) = delete;

    // Writes media frames [first, first + count) into out (count × channels values, which the
    // caller has cleared; frames without sound stay as they are). Returns the first problem
    // met (see sound_mixer.h); the frames concerned are silent.
    OSErr render(const std::shared_ptr<Media>& media, int64_t first, int64_t count, float* out);

    // Marks the start of a new mix: a decoder read by one place in the file during a mix is
    // not moved to another place in the same mix.
    void beginMix() { ++m_mix; }
    void reset();
    size_t decoderCount() const { return m_decoders.size(); }
    int64_t decoderSeeks() const;

private:
    struct Decoder;
    struct Decompressor;
    struct Format;
    struct FormatEntry;

    OSErr renderFile(const Sample& sample, int64_t delta, int64_t first, int64_t count, float* out);
    OSErr renderPcm(const std::shared_ptr<Media>& media, int64_t index, int64_t first,
                    int64_t count, float* out);
    OSErr parseFormat(const Media& media, int32_t descriptionIndex, Format& f) const;
    OSErr formatOf(const std::shared_ptr<Media>& media, int32_t descriptionIndex, Format& f);
    Decoder* decoderFor(const std::shared_ptr<const MediaFile>& file, size_t track, int64_t first);
    Decompressor* decompressorFor(const std::shared_ptr<Media>& media, int32_t descriptionIndex);
    OSErr decompress(Decompressor& d, const Media& media, int64_t index);
    std::shared_ptr<MediaFile> fileOf(const Sample& sample);
    bool inWindow(const SampleData& d) const;
    OSErr storageBytes(const Media& media, int64_t index, const uint8_t** data);

    int32_t m_rate;
    int32_t m_channels;
    ComponentManager* m_components;
    uint64_t m_clock = 0;
    uint64_t m_mix = 1;
    std::vector<std::unique_ptr<Decoder>> m_decoders;
    // File tracks that cannot be decoded, not tried again until reset().
    std::vector<std::pair<std::shared_ptr<const MediaFile>, size_t>> m_failed;
    std::vector<std::unique_ptr<Decompressor>> m_decompressors;
    std::vector<FormatEntry> m_formats;
    std::map<std::string, std::shared_ptr<MediaFile>> m_openedByPath;
    std::vector<int16_t> m_pcm;                    // decoded file frames, one block at a time
    std::vector<uint8_t> m_bytes;                  // sample data of a decompressed sample
    std::shared_ptr<MovieStorage> m_windowStorage; // movie file bytes read last
    int64_t m_windowOffset = 0;
    std::vector<uint8_t> m_window;
    std::vector<float> m_frame; // one source frame
};

// Channel matching of one frame: mono goes to every output channel and several channels are
// averaged into mono; otherwise, with more outputs than inputs, output c repeats input
// c mod inputs, and with fewer, output c is the average of the inputs k with k mod outputs = c.
void mapChannels(const float* in, int inChannels, float* out, int outChannels);

} // namespace zef::movies
