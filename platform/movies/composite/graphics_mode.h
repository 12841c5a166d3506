// Graphics modes: how one track's picture is drawn onto the picture beneath it.
//
// The mode numbers are the toolbox's transfer modes as stored on items and media handlers.
// The op colour is a packed 0xRRGGBB value (8 bits a channel; a blend weight of 0xFF is the
// 16-bit weight 0xFFFF). Pictures use straight alpha.
//
// Alpha of the result: copy modes copy the source pixel including its alpha; the alpha modes
// give the "over" coverage sa + da·(1 − sa); the remaining arithmetic and boolean modes leave
// the destination's alpha unless the source is more opaque (max of both).
//
// All functions are reentrant: they touch only the pictures they are given.
#pragma once

#include "platform/movies/composite/region.h"
#include "platform/movies/geometry.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <span>

namespace zef::movies {

namespace GraphicsMode {
constexpr int32_t kNone = -1; // no mode set: drawn as copy
constexpr int32_t kSrcCopy = 0;
constexpr int32_t kSrcOr = 1;
constexpr int32_t kSrcXor = 2;
constexpr int32_t kSrcBic = 3;
constexpr int32_t kNotSrcCopy = 4; // "Invert Colors"
constexpr int32_t kNotSrcOr = 5;
constexpr int32_t kNotSrcXor = 6;
constexpr int32_t kNotSrcBic = 7;
constexpr int32_t kBlend = 32;
constexpr int32_t kAddPin = 33;
constexpr int32_t kAddOver = 34;
constexpr int32_t kSubPin = 35;
constexpr int32_t kTransparent = 36;
constexpr int32_t kAddMax = 37;
constexpr int32_t kSubOver = 38;
constexpr int32_t kAddMin = 39;
constexpr int32_t kDitherCopy = 64; // drawn as copy (no dithering at 32 bits)
constexpr int32_t kStraightAlpha = 256;
constexpr int32_t kPremulWhiteAlpha = 257;
constexpr int32_t kPremulBlackAlpha = 258;
constexpr int32_t kStraightAlphaBlend = 260;
constexpr int32_t kPremulColorAlpha = 261;
} // namespace GraphicsMode

enum class PixelStatus {
    Ok = 0,
    UnsupportedMode, // the graphics mode number is not one this compositor knows
    BadArgument,     // e.g. a source picture of the wrong size
    MissingSource,   // an effect needs more source pictures than it was given
    UnknownEffect,   // no effect of that code is registered
    OutOfMemory,
};

const char* pixelStatusText(PixelStatus s);

// Whether the compositor knows the mode.
bool isSupportedGraphicsMode(int32_t mode);

// Combines n source pixels into n destination pixels by the mode. src and dst must not overlap
// unless they are the same pointer (mode copy then does nothing).
PixelStatus compositeRow(const uint32_t* src, uint32_t* dst, int32_t n, int32_t mode,
                         uint32_t opColour);

// Draws src onto dst with its top-left pixel at `at`, clipped to dst and to clip (no clip =
// the whole of dst). Overlapping clip rectangles draw each pixel once.
PixelStatus composite(const Pixmap& src, Pixmap& dst, Point at, int32_t mode,
                      uint32_t opColour = 0x808080, const ClipRegion* clip = nullptr);

// Draws the part srcRect of src so that srcRect's corner lands at `at`.
PixelStatus composite(const Pixmap& src, const Rect& srcRect, Pixmap& dst, Point at, int32_t mode,
                      uint32_t opColour = 0x808080, const ClipRegion* clip = nullptr);

} // namespace zef::movies
