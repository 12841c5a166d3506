/* Sound decompressors: components that turn the samples of a compressed or private sound
 * format into 16-bit PCM for the sound mixer (sound_mixer.h).
 *
 * A sound decompressor is registered with the component manager as type 'sdec' and subtype =
 * the sound description's data format that it decodes ('DxSn', ...). It may be a built-in
 * component or a plug-in (component_abi.h); the calls are the same. The mixer opens one
 * instance per sample description it meets, sends Begin once, then one Decode per sample,
 * in media order as far as playback goes in order, and closes the instance when the mixer is
 * reset or destroyed. All calls happen on the mixer's thread.
 *
 * Selectors (params[0] is a pointer to the parameter block; blocks start with their size in
 * bytes, so a block can grow later without breaking old components):
 *
 *   0x0301 Begin   ZefSoundDecompressorBegin*
 *       In: the sample description as stored in the media (big-endian layout of
 *       descriptions.h), the media time scale, and the mixer's output rate and channel count as
 *       the preferred output. Out: the rate (1…768000 Hz) and channel count (1…8) that Decode
 *       will produce; anything else is converted by the mixer. Answer 0 to accept, or an error
 *       (e.g. -206 badFormat) to refuse the description; the mixer then tries the next
 *       registered decompressor of that subtype, and plays silence when none accepts.
 *
 *   0x0302 Decode  ZefSoundDecompressorDecode*
 *       In: one sample's data and size, its media time and duration (media time scale), and
 *       discontinuity = 1 when this sample does not follow the previously decoded sample of
 *       this instance (decoders with history reset it). Out: up to frameCapacity frames of
 *       16-bit signed, native byte order, interleaved sound at the Begin output format, written
 *       to buffer, and their number in framesWritten. The frames play from the sample's start;
 *       the mixer sizes frameCapacity to the frames the sample's duration covers (rounded up)
 *       and plays silence for frames not written. Answer 0, or an error: the sample is then
 *       silent.
 *
 * Sizes are checked by the mixer: framesWritten is cut to frameCapacity.
 */
#ifndef ZEF_PLATFORM_MOVIES_SOUND_DECOMPRESSOR_H
#define ZEF_PLATFORM_MOVIES_SOUND_DECOMPRESSOR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZEF_SOUND_DECOMPRESSOR_TYPE 0x73646563u /* 'sdec' */
#define ZEF_SOUND_DECOMPRESSOR_BEGIN 0x0301
#define ZEF_SOUND_DECOMPRESSOR_DECODE 0x0302

typedef struct ZefSoundDecompressorBegin {
    uint32_t size; /* sizeof(ZefSoundDecompressorBegin) */
    const uint8_t* description;
    uint32_t descriptionSize;
    int32_t mediaTimeScale;
    int32_t outputRate;     /* in: preferred; out: produced */
    int32_t outputChannels; /* in: preferred; out: produced */
} ZefSoundDecompressorBegin;

typedef struct ZefSoundDecompressorDecode {
    uint32_t size; /* sizeof(ZefSoundDecompressorDecode) */
    const uint8_t* data;
    uint32_t dataSize;
    int32_t discontinuity;
    int64_t sampleTime;     /* media time of the sample's start */
    int64_t sampleDuration; /* media time units */
    int32_t mediaTimeScale;
    uint32_t frameCapacity;
    int16_t* buffer; /* frameCapacity × outputChannels values */
    uint32_t framesWritten;
} ZefSoundDecompressorDecode;

#ifdef __cplusplus
}

#include "platform/movies/fourcc.h"

namespace zef::movies {
constexpr OSType kSoundDecompressorType = fourcc("sdec");
constexpr int16_t kSoundDecompressorBeginSelect = ZEF_SOUND_DECOMPRESSOR_BEGIN;
constexpr int16_t kSoundDecompressorDecodeSelect = ZEF_SOUND_DECOMPRESSOR_DECODE;
using SoundDecompressorBegin = ZefSoundDecompressorBegin;
using SoundDecompressorDecode = ZefSoundDecompressorDecode;
} // namespace zef::movies
#endif

#endif
