// A loaded font face, shared by the text layout (shaping with HarfBuzz) and the text renderer
// (glyph pictures with FreeType). Obtained from FontLibrary::load.
//
// Thread safety: every member function may be called from any thread. Shaping uses the
// HarfBuzz face, which is immutable; glyph rendering takes the face's own lock, and rendered
// glyphs are cached per face (bounded in bytes) so that a glyph is rendered once per style.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

struct hb_face_t;
struct hb_font_t;
struct FT_FaceRec_;

namespace zef::movies {

struct FtLibrary; // the FreeType library shared by the faces of one FontLibrary

// How a glyph is drawn. The size is in pixels.
struct GlyphStyle {
    int pixelSize = 12;
    bool embolden = false; // synthetic bold
    bool oblique = false;  // synthetic italic: a shear of about 12 degrees
    bool outline = false;  // hollow: the glyph's stroked outline only
    bool mono = false;     // one-bit coverage instead of anti-aliasing
};

// Coverage 0..255, width × height, rows contiguous; left and top place the picture relative
// to the pen position on the baseline (top is upward, in pixels).
struct GlyphBitmap {
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    std::vector<uint8_t> coverage;
};

// Vertical metrics at a size, in pixels. descent and underlineOffset are positive downward.
struct FontMetrics {
    double ascent = 0;
    double descent = 0;
    double lineGap = 0;
    double underlineOffset = 0;
    double underlineThickness = 1;
};

class FontFace {
public:
    FontFace(std::shared_ptr<FtLibrary> library, std::vector<uint8_t> bytes, int faceIndex);
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    bool isValid() const { return m_ftFace != nullptr && m_hbFace != nullptr; }
    hb_face_t* hbFace() const { return m_hbFace; }
    bool hasGlyphFor(char32_t ch) const;
    FontMetrics metrics(int pixelSize) const;
    // The extra advance, in 1/64 pixel, that synthetic bold adds to each glyph.
    static int32_t emboldenStrength64(int pixelSize) { return pixelSize * 64 / 24; }

    // The glyph's picture; nullptr when the glyph cannot be loaded or rendered.
    std::shared_ptr<const GlyphBitmap> glyph(uint32_t glyphIndex, const GlyphStyle& style);

private:
    std::shared_ptr<const GlyphBitmap> renderLocked(uint32_t glyphIndex, const GlyphStyle& style);

    std::shared_ptr<FtLibrary> m_library;
    std::vector<uint8_t> m_bytes; // the font file; FreeType and HarfBuzz read from it
    FT_FaceRec_* m_ftFace = nullptr;
    hb_face_t* m_hbFace = nullptr;
    hb_font_t* m_hbUnitFont = nullptr; // at units-per-em scale, for coverage and metrics

    std::mutex m_lock; // guards m_ftFace and the cache
    std::unordered_map<uint64_t, std::shared_ptr<const GlyphBitmap>> m_cache;
    size_t m_cacheBytes = 0;
};

} // namespace zef::movies
