// Draws text samples: the picture of a title at a moment of its sample.
//
// The text is laid out in the sample's text box (the whole picture when the box is empty) from
// its top edge down, one line per line height, each line justified within the box width and
// wrapped at word boundaries to it (horizontally scrolling text is not wrapped). Without
// keyedText the box is first filled with the background colour; with it only the glyphs are
// drawn. With dropShadow the glyphs are drawn in black at the shadow offset first, their alpha
// scaled by the shadow transparency (0 = none, 255 = solid). Bold, italic (synthesised when the
// family has no such face), underline (a bar below the baseline of each line) and outline
// (hollow stroked glyphs) follow the face bits; antiAlias gives 8-bit coverage, otherwise glyphs
// are one-bit. clipToTextBox keeps everything inside the box, as does any scrolling.
//
// Scrolling. progress runs from 0 (the sample's start) to 1 (its end). The scroll delay, as a
// fraction of sampleDuration (ignored when sampleDuration is 0), holds the text still:
//   scrollIn and scrollOut: in over the first half of the rest, hold, out over the last half;
//   scrollIn only: in over the duration less the delay, then hold;
//   scrollOut only: hold for the delay, then out over the rest.
// Scrolling in starts with the text just outside the box: below it (vertical), right of it
// (horizScroll), or above it / left of it with reverseScroll; it ends at its resting place.
// Scrolling out leaves towards the top (or the left); with reverseScroll towards the bottom (or
// the right).
//
// Output pictures are 0xAARRGGBB with straight alpha. A TextRenderer caches layouts and the
// layers it rasterised, keyed by the sample's content, the picture size and the scroll offset,
// so a still title is rasterised once however many frames show it; faces and glyphs are cached
// by the FontLibrary. All member functions are thread-safe.
#pragma once

#include "platform/movies/geometry.h"
#include "platform/movies/pixmap.h"
#include "platform/movies/text/font_library.h"
#include "platform/movies/text/text_sample.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace zef::movies {

struct TextLayout;

// A rasterised text sample: pixels placed at origin in the destination picture. Empty pixels
// when nothing would be drawn.
struct TextLayer {
    Pixmap pixels;
    Point origin;
};

class TextRenderer {
public:
    // fonts must not be null. At most cachedLayers layers (and 64 MiB of them) are kept.
    explicit TextRenderer(std::shared_ptr<FontLibrary> fonts, size_t cachedLayers = 8);
    ~TextRenderer();

    FontLibrary& fonts() { return *m_fonts; }

    // Draws the sample over dst's content (source over, straight alpha).
    void renderTextSample(const TextSample& sample, double progress, Pixmap& dst,
                          int64_t sampleDuration = 0);

    // The sample as a layer for a picture of width × height; cached.
    std::shared_ptr<const TextLayer> renderLayer(const TextSample& sample, double progress,
                                                 int32_t width, int32_t height,
                                                 int64_t sampleDuration = 0);

    // Where the text block is moved from its resting place at this moment (pixels).
    Point scrollOffset(const TextSample& sample, double progress, int32_t width, int32_t height,
                       int64_t sampleDuration = 0);

    // How many layers were rasterised (not taken from the cache) so far.
    uint64_t rasterisedCount() const;

private:
    struct LayoutEntry;
    std::shared_ptr<const LayoutEntry> layoutFor(const TextSample& sample, int32_t width,
                                                 int32_t height);
    std::shared_ptr<TextLayer> rasterise(const TextSample& sample, const LayoutEntry& layout,
                                         Point offset, int32_t width, int32_t height);

    std::shared_ptr<FontLibrary> m_fonts;
    size_t m_capacity;
    mutable std::mutex m_lock; // guards the caches and the counter
    std::list<std::pair<std::string, std::shared_ptr<const LayoutEntry>>> m_layouts;
    std::list<std::pair<std::string, std::shared_ptr<const TextLayer>>> m_layers;
    uint64_t m_rasterised = 0;
};

// Composites a layer over dst (source over, straight alpha), clipped to dst. dst may stand for a
// part of the layer's picture: its top left pixel is the picture's point at.
void compositeLayer(const TextLayer& layer, Pixmap& dst, Point at = Point{0, 0});

} // namespace zef::movies
