// Tween samples: the sample data of tween media ('twen'), which modifier tracks apply to the
// tracks whose input maps name them. Each sample is an atom container with one 'twen' atom
// (ID 1) holding
//   'twnt': the tween type, 4 bytes big-endian;
//   'data': the values (layout by type, below);
//   'qdrg': for region tweens, the packed rectangular region (region.h).
// Types and values:
//   kTweenTypeFixed (3):  audio fades, read and written by audio_fade.h;
//   kTweenTypeRegion (6): two rectangles, top, left, bottom, right as big-endian 16-bit values
//                         (16 bytes), the area the region is given in;
//   kTweenTypeMatrix (7): start then end matrix, nine big-endian 32-bit values each (72 bytes);
//                         translations in pixels.
// Tween samples are added with a 16-byte sample description whose size field is 16.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/geometry.h"
#include "platform/movies/handle.h"
#include "platform/movies/matrix.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zef::movies {

constexpr uint32_t kTweenTypeFixed = 3;
constexpr uint32_t kTweenTypeRegion = 6;
constexpr uint32_t kTweenTypeMatrix = 7;

AtomContainer makeMatrixTween(const MatrixRecord& start, const MatrixRecord& end);
// frame is the area of the region (the output frame), crop the visible rectangle in pixels.
AtomContainer makeRegionTween(const Rect& frame, const Rect& crop);

// The 16-byte sample description of tween samples (the one audio_fade.h makes).
Handle tweenSampleDescription();

// A tween sample read back.
struct TweenValue {
    uint32_t type = 0;
    MatrixRecord matrixStart, matrixEnd; // matrix tweens (a 36-byte value gives both ends)
    std::optional<Rect> crop;            // region tweens
};
// A matrix or region tween read back; nullopt for any other type or values of the wrong size.
std::optional<TweenValue> readTweenSample(std::span<const uint8_t> data);

} // namespace zef::movies
