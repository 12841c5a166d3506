// Image decompressor components ('imdc'): the calls through which the compositor has a sample
// of a format it does not decode itself drawn by a registered component whose subtype is the
// sample description's compression type.
//
// Protocol, per sample drawn (every parameter a pointer passed as a component call parameter):
//   Preflight  (kImageCodecPreflightSelect)   params[0] = CodecDecompressParams*,
//                                             params[1] = CodecCapabilities* (filled in)
//   Initialize (kImageCodecInitializeSelect)  params[0] = ImageSubCodecDecompressCapabilities*
//                                             (filled in)
//   BeginBand  (kImageCodecBeginBandSelect)   params[0] = CodecDecompressParams*,
//                                             params[1] = ImageSubCodecDecompressRecord*,
//                                             params[2] = flags (0)
//   DrawBand   (kImageCodecDrawBandSelect)    params[0] = ImageSubCodecDecompressRecord*
//   EndBand    (kImageCodecEndBandSelect)     params[0] = ImageSubCodecDecompressRecord*,
//                                             params[1] = the result so far, params[2] = flags
// Any non-zero result ends the sample (EndBand is still sent after a BeginBand that succeeded)
// and the track shows nothing for it. The destination is 32-bit 0xAARRGGBB pixels (pixmap.h),
// the whole picture in one band; a component that asks for another pixel size in Preflight is
// refused with codecConditionErr. The record's userDecompressRecord points to storage of the
// size the component asked for in Initialize (at most kMaxDecompressRecordSize bytes), zeroed
// before BeginBand and kept until EndBand.
#pragma once

#include "platform/movies/descriptions.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/geometry.h"
#include "platform/movies/matrix.h"

#include <cstdint>

namespace zef::movies {

constexpr OSType decompressorComponentType = fourcc("imdc");

constexpr int16_t kImageCodecGetCodecInfoSelect = 0x0000;
constexpr int16_t kImageCodecPreflightSelect = 0x0200;
constexpr int16_t kImageCodecInitializeSelect = 0x0201;
constexpr int16_t kImageCodecBeginBandSelect = 0x0202;
constexpr int16_t kImageCodecDrawBandSelect = 0x0203;
constexpr int16_t kImageCodecEndBandSelect = 0x0204;

constexpr int32_t codecConditionErr = -8972;
constexpr int32_t kMaxDecompressRecordSize = 1 << 16;

struct CodecDecompressParams {
    const ImageDescription* imageDescription = nullptr;
    // The description as the media stores it (with any bytes after its standard fields).
    const uint8_t* descriptionData = nullptr;
    int64_t descriptionSize = 0;
    const uint8_t* data = nullptr; // the sample's bytes
    int64_t dataSize = 0;
    Rect srcRect;            // (0, 0, width, height) of the image description
    MatrixRecord matrix;     // source → destination (the scaling to the band)
    int16_t depth = 32;      // bits per pixel of the destination
    int32_t frameNumber = 0; // the sample's index in its media
};

// What GetCodecInfo (params[0] = CodecInfo*) fills in: the codec's public description.
struct CodecInfo {
    uint8_t typeName[32] = {}; // Pascal string
    int16_t version = 0;
    int16_t revisionLevel = 0;
    uint32_t vendor = 0;
    uint32_t decompressFlags = 0;
    uint32_t compressFlags = 0;
    uint32_t formatFlags = 0;
    uint8_t compressionAccuracy = 0;
    uint8_t decompressionAccuracy = 0;
    uint16_t compressionSpeed = 0;
    uint16_t decompressionSpeed = 0;
    uint8_t compressionLevel = 0;
    uint8_t reserved = 0;
    int16_t minimumHeight = 0;
    int16_t minimumWidth = 0;
    int16_t decompressPipelineLatency = 0;
    int16_t compressPipelineLatency = 0;
    int32_t privateData = 0;
};
static_assert(sizeof(CodecInfo) == 72);

struct CodecCapabilities {
    int16_t wantedPixelSize = 32; // set by the component; only 32 is accepted
    int16_t bandMin = 0;          // rows per band it wants (the whole picture is one band)
    int16_t bandInc = 0;
    int16_t extendWidth = 0;
    int16_t extendHeight = 0;
    uint32_t flags = 0;
};

struct ImageSubCodecDecompressCapabilities {
    int32_t recordSize = 0;           // size of this record as the caller knows it
    int32_t decompressRecordSize = 0; // storage the component wants per band
    bool canAsync = false;
};

struct ImageSubCodecDecompressRecord {
    uint32_t* baseAddr = nullptr; // the band's first pixel
    int32_t rowBytes = 0;
    int32_t width = 0; // the band's size in pixels
    int32_t height = 0;
    const uint8_t* codecData = nullptr; // the sample's bytes
    int64_t dataSize = 0;
    void* userDecompressRecord = nullptr;
    int32_t frameNumber = 0;
};

} // namespace zef::movies
