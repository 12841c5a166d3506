// Lays out the text of a text sample: splits it into paragraphs at '\r' and '\n', picks a face
// for every character (the sample's font, or a fallback face for characters it lacks), shapes
// runs of one script and face with HarfBuzz, wraps lines at word boundaries to a width, orders
// runs of mixed direction for display and aligns each line.
//
// Bidirectional text is handled in a simplified way: a paragraph takes its direction from its
// first character of a strong script; runs of right-to-left scripts are shaped right to left
// (joining, marks and ligatures are therefore correct), runs of digits left to right, and the
// runs of a line are reordered by their embedding level. Explicit direction marks are ignored.
#pragma once

#include "platform/movies/text/font_library.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace zef::movies {

class FontFace;

struct LayoutFace {
    std::shared_ptr<FontFace> face;
    bool syntheticBold = false;
    bool syntheticItalic = false;
};

struct LayoutGlyph {
    uint16_t face = 0;  // index into TextLayout::faces
    uint32_t glyph = 0; // glyph index within the face
    int32_t x64 = 0;    // pen position from the line's left end, 1/64 pixel
    int32_t y64 = 0;    // offset from the baseline, 1/64 pixel, upward
};

struct LayoutLine {
    std::vector<LayoutGlyph> glyphs;
    int32_t width = 0;    // pixels, trailing white space excluded
    int32_t left = 0;     // pixels from the left of the box after justification
    int32_t baseline = 0; // pixels from the top of the text block
};

struct TextLayout {
    std::vector<LayoutFace> faces;
    std::vector<LayoutLine> lines;
    int pixelSize = 0;
    int32_t ascent = 0;     // pixels
    int32_t lineHeight = 0; // pixels from one baseline to the next
    int32_t height = 0;     // pixels: lines × lineHeight
    double underlineOffset = 0;
    double underlineThickness = 1;
    bool empty() const { return lines.empty(); }
};

struct LayoutRequest {
    int fontNumber = 0;
    int pixelSize = 12;
    bool bold = false;
    bool italic = false;
    int16_t justification = 0; // TextJustify values
    int32_t boxWidth = 0;      // the width lines are aligned in
    bool wrap = true;          // break lines longer than boxWidth at word boundaries
};

// The layout of utf8 (invalid bytes show as U+FFFD). Empty when no font can be found.
TextLayout layoutText(FontLibrary& fonts, std::string_view utf8, const LayoutRequest& request);

// UTF-8 to code points; each invalid or truncated sequence becomes U+FFFD.
std::u32string decodeUtf8(std::string_view utf8);

} // namespace zef::movies
