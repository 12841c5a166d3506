// Drawing a picture through a transformation matrix, and resizing pictures.
//
// Coordinates are continuous: source pixel (i, j) covers [i, i+1) × [j, j+1). A destination
// pixel is drawn when its centre maps inside the source picture; its colour is sampled
// bilinearly around the mapped point (edge pixels extend outwards), or area-averaged over the
// pixel's footprint when the picture is shrunk by more than 2×. Pictures with transparent
// pixels are filtered on pre-multiplied colour so that transparent pixels do not darken edges.
//
// All functions are reentrant; scratch memory is allocated per call.
#pragma once

#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/composite/region.h"
#include "platform/movies/matrix.h"
#include "platform/movies/pixmap.h"

#include <span>

namespace zef::movies {

// Draws src onto dst through m (source coordinates → destination pixels, translation in
// pixels), clipped to dst and clip, combining by the graphics mode. A singular matrix draws
// nothing. Whole-pixel translations are plain composites; scale-and-translate matrices use
// precomputed per-row and per-column sample positions.
PixelStatus drawWarped(const Pixmap& src, Pixmap& dst, const MatrixRecord& m,
                       int32_t mode = GraphicsMode::kSrcCopy, uint32_t opColour = 0x808080,
                       const ClipRegion* clip = nullptr);

// Resizes the srcRect part of src into dstRect of dst (which may stick out of dst; the
// outside is not drawn), combining by the graphics mode.
PixelStatus scaleInto(const Pixmap& src, const Rect& srcRect, Pixmap& dst, const Rect& dstRect,
                      int32_t mode = GraphicsMode::kSrcCopy, uint32_t opColour = 0x808080,
                      const ClipRegion* clip = nullptr);

// Draws the whole of src into dstRect of dst (resized when the sizes differ), clipped to the
// union of clipRects (an empty list clips to dst only), combining by the graphics mode.
PixelStatus drawPicture(const Pixmap& src, Pixmap& dst, const Rect& dstRect,
                        std::span<const Rect> clipRects, int32_t mode = GraphicsMode::kSrcCopy,
                        uint32_t opColour = 0x808080);

// A new picture of width × height holding src resized.
Pixmap resized(const Pixmap& src, int32_t width, int32_t height);

// The matrix t of the way from a to b, entry by entry (what a matrix tween shows at t).
MatrixRecord interpolateMatrix(const MatrixRecord& a, const MatrixRecord& b, double t);

// Bilinear sample of src at continuous position (x, y) (pixel centres at +0.5), edges
// extended; exposed for effects that sample freely.
uint32_t sampleBilinear(const Pixmap& src, double x, double y);

} // namespace zef::movies
