// Audio fade tweens: the samples of a tween track that ramps a sound track's volume.
//
// A fade sample is an atom container with one 'twen' atom (ID 1) holding
//   'twnt' (ID 1): the tween type, 4 bytes, 3 = Fixed;
//   'data' (ID 1): 8 bytes, the start value then the end value, each a 16.16 gain
//                  (0x10000 = unity).
// The value ramps linearly from start to end over the sample's duration.
//
// Byte order of the two values. Older composition code wrote them in the processor's own
// (little-endian) byte order, while every other atom value is big-endian; both kinds of
// sample exist. New samples are written big-endian. The reader decides per sample, on both
// values together:
//   1. read big-endian; if both values are plausible gains, use them;
//   2. else read both byte-swapped; if both are plausible, use those;
//   3. else use the big-endian values clamped to 0 … kMaxFadeGain.
// A gain is plausible when it is 0, or above 0x400 (1/64) and at most kMaxFadeGain (4.0).
// Little-endian 1.0 (bytes 00 00 01 00) reads big-endian as 1/256, which is not plausible, so
// it is taken swapped; values written either way at 1/64 … 4.0, and 0, read back exactly.
// The 'twnt' value is accepted in either byte order too.
#pragma once

#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <span>

namespace zef::movies {

constexpr uint32_t kFadeTweenTypeFixed = 3;
constexpr Fixed kMaxFadeGain = 4 * kFixed1;

enum class FadeByteOrder { bigEndian, littleEndian };

struct FadeTween {
    Fixed start = kFixed1;
    Fixed end = kFixed1;
    bool swapped = false; // the values were stored little-endian
};

// The sample data of a fade from start to end.
Handle makeFadeTweenSample(Fixed start, Fixed end, FadeByteOrder order = FadeByteOrder::bigEndian);
// The 16-byte sample description of tween samples (size field 16, format 'twen').
Handle fadeTweenDescription();

// Reads a fade sample. invalidAtomContainerErr for bytes that are not an atom container,
// cannotFindAtomErr when 'twen', 'twnt' or an 8-byte 'data' is missing, featureUnsupported
// for a tween type other than Fixed.
OSErr readFadeTween(std::span<const uint8_t> sample, FadeTween& out);
// The byte-order rule above applied to the 8 stored bytes of 'data'.
FadeTween decodeFadeValues(const uint8_t data[8]);

} // namespace zef::movies
