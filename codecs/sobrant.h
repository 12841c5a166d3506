// The codec plug-in `sobrant`: the image decompressor of the clip frame format ('ZEFx') and
// the sound decompressor of the clip audio format ('DxSn'). They hold no media: a sample names
// a clip and a timeline time, and the picture or the sound comes from the editor's exports
// RenderFrame and RenderAudio (app/render_exports.h), which the plug-in imports from the
// program it is loaded into. Layouts of the samples: engine/clip_samples.h.
//
// Both run on the thread that evaluates or mixes the movie and take no locks of their own.
#pragma once

#include "platform/movies/component_abi.h"

#include <cstdint>

namespace zef::sobrant {

constexpr uint32_t fourcc(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr int32_t kBadComponentSelector = int32_t(0x80008002u);
constexpr int32_t kParamErr = -50;
constexpr int32_t kMemFullErr = -108;
constexpr int32_t kBadFormat = -206;
constexpr int32_t kCodecConditionErr = -8972;
constexpr int32_t kSiBadSoundInfo = -2106;

constexpr uint32_t kImageFlags = 0x00000420; // 32-bit depth, temporal
constexpr uint32_t kSoundFlags = 0x00000D0C; // 16-bit and stereo in; 8-bit raw, 16-bit, stereo out

// Sound decompressor selectors beyond the mixer's Begin and Decode (sound_decompressor.h).
constexpr int16_t kSoundSetOutputSelect = 0x0005;
constexpr int16_t kSoundGetInfoSelect = 0x0103;
constexpr int16_t kSoundSetInfoSelect = 0x0104;

// Output format of SetOutput: params[0] = the requested SoundOutput* (in), params[1] = the
// SoundOutput* the decompressor will give (out).
struct SoundOutput {
    uint32_t format = 0; // 'sowt' 16-bit little-endian, 'raw ' 8-bit offset binary, ...
    int16_t channels = 0;
    int16_t sampleSize = 0;
    uint32_t sampleRate = 0; // 16.16
};

// GetInfo 'cmfa': params[0] = 'cmfa', params[1] = CompressionInfo* (filled in).
struct CompressionInfo {
    int32_t recordSize = 0;
    uint32_t format = 0;
    int16_t compressionID = 0;
    uint16_t samplesPerPacket = 0;
    uint16_t bytesPerPacket = 0;
    uint16_t bytesPerFrame = 0;
    uint16_t bytesPerSample = 0;
    uint16_t reserved = 0;
};

// GetInfo and SetInfo 'wave': params[0] = 'wave', params[1] = AtomList*. The list is a run of
// atoms (32-bit big-endian size including the 8-byte header, then the type) ending with a
// terminator atom of type 0. GetInfo writes it into data (capacity bytes) and sets size.
struct AtomList {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
    uint32_t size = 0;
};

} // namespace zef::sobrant

extern "C" {
int32_t SobrantComponentDispatch(ZefComponentCall* call);
int32_t SobrantAudioDecompressorComponentDispatch(ZefComponentCall* call);
}
