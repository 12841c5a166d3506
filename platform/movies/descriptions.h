// Image and sound descriptions: the records that describe the format of a track's samples.
//
// Both have a public big-endian layout. An image description is 86 bytes, optionally followed
// by extension atoms (32-bit size, four-char type, data); a sound description is 36 bytes in
// version 0 and 52 in version 1. toHandle writes that layout, fromHandle reads it back and
// refuses blocks that are too short or whose size field disagrees with the block.
#pragma once

#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef::movies {

struct ImageDescriptionExtension {
    FourCC type = 0;
    std::vector<uint8_t> data;
    friend bool operator==(const ImageDescriptionExtension&,
                           const ImageDescriptionExtension&) = default;
};

struct ImageDescription {
    static constexpr size_t kBaseSize = 86;

    FourCC cType = 0; // compression type: 'raw ', 'avc1', 'jpeg', an effect code...
    int16_t dataRefIndex = 0;
    int16_t version = 0;
    int16_t revisionLevel = 0;
    FourCC vendor = 0;
    uint32_t temporalQuality = 0;
    uint32_t spatialQuality = 0;
    int16_t width = 0;
    int16_t height = 0;
    Fixed hRes = 72 << 16;
    Fixed vRes = 72 << 16;
    int32_t dataSize = 0;
    int16_t frameCount = 1;
    std::string name; // up to 31 bytes, stored as a Pascal string in 32 bytes
    int16_t depth = 24;
    int16_t clutID = -1;
    std::vector<ImageDescriptionExtension> extensions;

    // idSize as stored: 86 plus the extensions.
    int32_t size() const;
    Handle toHandle() const;
    static std::optional<ImageDescription> fromHandle(const Handle& h);
    const ImageDescriptionExtension* findExtension(FourCC type) const;

    friend bool operator==(const ImageDescription&, const ImageDescription&) = default;
};

struct SoundDescription {
    static constexpr size_t kV0Size = 36;
    static constexpr size_t kV1Size = 52;

    FourCC dataFormat = 0; // 'twos', 'sowt', 'raw ', 'mp4a', 'DxSn'...
    int16_t dataRefIndex = 0;
    int16_t version = 0; // 0 or 1
    int16_t revisionLevel = 0;
    FourCC vendor = 0;
    int16_t numChannels = 2;
    int16_t sampleSize = 16;
    int16_t compressionID = 0;
    int16_t packetSize = 0;
    uint32_t sampleRate = 0; // unsigned 16.16 hertz
    // version 1 only
    uint32_t samplesPerPacket = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t bytesPerSample = 0;

    double rateHz() const { return double(sampleRate) / 65536.0; }
    void setRateHz(double hz);
    int32_t size() const { return version >= 1 ? int32_t(kV1Size) : int32_t(kV0Size); }
    Handle toHandle() const;
    static std::optional<SoundDescription> fromHandle(const Handle& h);

    friend bool operator==(const SoundDescription&, const SoundDescription&) = default;
};

} // namespace zef::movies
