#include "platform/movies/text/font_library.h"

#include "platform/movies/text/font_face.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <stdexcept>
#include <unordered_map>

namespace zef::movies {

// ---------------------------------------------------------------------------------------------
// FreeType library shared by the faces; opening and closing faces must be serialised.

struct FtLibrary {
    FT_Library library = nullptr;
    std::mutex lock;
    FtLibrary()
    {
        if (FT_Init_FreeType(&library) != 0) throw std::runtime_error("cannot start FreeType");
    }
    ~FtLibrary() { FT_Done_FreeType(library); }
};

namespace {

constexpr size_t kGlyphCacheBytes = 32u << 20;
constexpr int kMaxPixelSize = 4096;

} // namespace

FontFace::FontFace(std::shared_ptr<FtLibrary> library, std::vector<uint8_t> bytes, int faceIndex)
    : m_library(std::move(library)), m_bytes(std::move(bytes))
{
    {
        std::lock_guard<std::mutex> g(m_library->lock);
        FT_Face face = nullptr;
        if (FT_New_Memory_Face(m_library->library, m_bytes.data(), FT_Long(m_bytes.size()),
                               faceIndex, &face) == 0)
            m_ftFace = face;
    }
    if (!m_ftFace) return;
    hb_blob_t* blob =
        hb_blob_create(reinterpret_cast<const char*>(m_bytes.data()), unsigned(m_bytes.size()),
                       HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    m_hbFace = hb_face_create(blob, unsigned(faceIndex));
    hb_blob_destroy(blob);
    hb_face_make_immutable(m_hbFace);
    m_hbUnitFont = hb_font_create(m_hbFace);
    const int upem = int(hb_face_get_upem(m_hbFace));
    hb_font_set_scale(m_hbUnitFont, upem, upem);
    hb_font_make_immutable(m_hbUnitFont);
}

FontFace::~FontFace()
{
    if (m_hbUnitFont) hb_font_destroy(m_hbUnitFont);
    if (m_hbFace) hb_face_destroy(m_hbFace);
    if (m_ftFace) {
        std::lock_guard<std::mutex> g(m_library->lock);
        FT_Done_Face(m_ftFace);
    }
}

bool FontFace::hasGlyphFor(char32_t ch) const
{
    hb_codepoint_t g = 0;
    return m_hbUnitFont && hb_font_get_nominal_glyph(m_hbUnitFont, ch, &g) && g != 0;
}

FontMetrics FontFace::metrics(int pixelSize) const
{
    FontMetrics fm;
    if (!m_hbUnitFont) return fm;
    const double scale = double(pixelSize) / double(hb_face_get_upem(m_hbFace));
    hb_font_extents_t ext{};
    if (hb_font_get_h_extents(m_hbUnitFont, &ext) && ext.ascender > 0) {
        fm.ascent = ext.ascender * scale;
        fm.descent = -ext.descender * scale;
        fm.lineGap = std::max(0, int(ext.line_gap)) * scale;
    } else {
        fm.ascent = 0.8 * pixelSize;
        fm.descent = 0.2 * pixelSize;
    }
    hb_position_t pos = 0, size = 0;
    fm.underlineOffset =
        hb_ot_metrics_get_position(m_hbUnitFont, HB_OT_METRICS_TAG_UNDERLINE_OFFSET, &pos)
            ? -pos * scale
            : pixelSize / 10.0;
    fm.underlineThickness =
        hb_ot_metrics_get_position(m_hbUnitFont, HB_OT_METRICS_TAG_UNDERLINE_SIZE, &size) &&
                size > 0
            ? size * scale
            : pixelSize / 20.0;
    fm.underlineOffset = std::max(1.0, fm.underlineOffset);
    fm.underlineThickness = std::max(1.0, fm.underlineThickness);
    return fm;
}

std::shared_ptr<const GlyphBitmap> FontFace::glyph(uint32_t glyphIndex, const GlyphStyle& style)
{
    if (!m_ftFace || style.pixelSize <= 0 || style.pixelSize > kMaxPixelSize) return nullptr;
    const uint64_t key = (uint64_t(glyphIndex) << 32) | (uint64_t(style.pixelSize) << 4) |
                         (style.embolden ? 1u : 0u) | (style.oblique ? 2u : 0u) |
                         (style.outline ? 4u : 0u) | (style.mono ? 8u : 0u);
    std::lock_guard<std::mutex> g(m_lock);
    auto it = m_cache.find(key);
    if (it != m_cache.end()) return it->second;
    auto bitmap = renderLocked(glyphIndex, style);
    const size_t bytes = bitmap ? bitmap->coverage.size() + 64 : 64;
    if (m_cacheBytes + bytes > kGlyphCacheBytes) {
        m_cache.clear();
        m_cacheBytes = 0;
    }
    m_cache.emplace(key, bitmap);
    m_cacheBytes += bytes;
    return bitmap;
}

std::shared_ptr<const GlyphBitmap> FontFace::renderLocked(uint32_t glyphIndex,
                                                          const GlyphStyle& style)
{
    FT_Face face = m_ftFace;
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(style.pixelSize)) != 0) return nullptr;
    const FT_Int32 loadFlags =
        FT_LOAD_NO_BITMAP | (style.mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT);
    if (FT_Load_Glyph(face, glyphIndex, loadFlags) != 0) return nullptr;
    FT_GlyphSlot slot = face->glyph;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        if (style.oblique) {
            FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
            FT_Outline_Transform(&slot->outline, &shear);
        }
        if (style.embolden)
            FT_Outline_Embolden(&slot->outline, emboldenStrength64(style.pixelSize));
    }
    FT_Glyph g = nullptr;
    if (FT_Get_Glyph(slot, &g) != 0) return nullptr;
    if (style.outline && g->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Stroker stroker = nullptr;
        if (FT_Stroker_New(m_library->library, &stroker) == 0) {
            const FT_Fixed radius = std::max<FT_Fixed>(40, style.pixelSize * 64 / 40);
            FT_Stroker_Set(stroker, radius, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
            FT_Glyph_Stroke(&g, stroker, 1);
            FT_Stroker_Done(stroker);
        }
    }
    if (FT_Glyph_To_Bitmap(&g, style.mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL, nullptr,
                           1) != 0) {
        FT_Done_Glyph(g);
        return nullptr;
    }
    auto out = std::make_shared<GlyphBitmap>();
    auto* bg = reinterpret_cast<FT_BitmapGlyph>(g);
    const FT_Bitmap& bm = bg->bitmap;
    out->width = int(bm.width);
    out->height = int(bm.rows);
    out->left = bg->left;
    out->top = bg->top;
    out->coverage.assign(size_t(out->width) * size_t(out->height), 0);
    for (int y = 0; y < out->height; ++y) {
        const uint8_t* src = bm.pitch >= 0
                                 ? bm.buffer + size_t(y) * size_t(bm.pitch)
                                 : bm.buffer + size_t(out->height - 1 - y) * size_t(-bm.pitch);
        uint8_t* dst = out->coverage.data() + size_t(y) * size_t(out->width);
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (int x = 0; x < out->width; ++x)
                dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
            std::copy(src, src + out->width, dst);
        }
    }
    FT_Done_Glyph(g);
    return out;
}

// ---------------------------------------------------------------------------------------------

namespace {

std::string lowerAscii(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

struct FcPatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using PatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

} // namespace

struct FontLibrary::Impl {
    FcConfig* config = nullptr;
    std::shared_ptr<FtLibrary> ft;
    std::vector<std::string> names;
    std::unordered_map<std::string, int> numbers; // lower-case family → number

    mutable std::mutex lock; // guards fontconfig calls and the caches below
    mutable std::map<std::tuple<std::string, bool, bool>, std::optional<ResolvedFont>> resolved;
    mutable std::unordered_map<uint64_t, std::optional<ResolvedFont>> fallbacks;
    std::map<std::pair<std::string, int>, std::shared_ptr<FontFace>> faces;

    std::optional<ResolvedFont> matchLocked(FcPattern* pattern, bool bold, bool italic) const
    {
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        PatternPtr match(FcFontMatch(config, pattern, &result));
        if (!match) return std::nullopt;
        FcChar8* file = nullptr;
        if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file)
            return std::nullopt;
        ResolvedFont r;
        r.file = reinterpret_cast<const char*>(file);
        int index = 0;
        if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch)
            r.faceIndex = index & 0xFFFF; // the upper bits name a variable-font instance
        // The match is already edited by the configuration's synthetic-style rules: read the
        // face's own weight and slant from the font set.
        int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
        PatternPtr query(FcPatternCreate());
        FcPatternAddString(query.get(), FC_FILE, file);
        FcPatternAddInteger(query.get(), FC_INDEX, index);
        FcObjectSet* objects = FcObjectSetBuild(FC_WEIGHT, FC_SLANT, nullptr);
        FcFontSet* own = FcFontList(config, query.get(), objects);
        FcObjectSetDestroy(objects);
        if (own && own->nfont > 0) {
            FcPatternGetInteger(own->fonts[0], FC_WEIGHT, 0, &weight);
            FcPatternGetInteger(own->fonts[0], FC_SLANT, 0, &slant);
        } else {
            FcPatternGetInteger(match.get(), FC_WEIGHT, 0, &weight);
            FcPatternGetInteger(match.get(), FC_SLANT, 0, &slant);
        }
        if (own) FcFontSetDestroy(own);
        FcChar8* family = nullptr;
        if (FcPatternGetString(match.get(), FC_FAMILY, 0, &family) == FcResultMatch && family)
            r.family = reinterpret_cast<const char*>(family);
        r.syntheticBold = bold && weight < FC_WEIGHT_DEMIBOLD;
        r.syntheticItalic = italic && slant == FC_SLANT_ROMAN;
        return r;
    }
};

FontLibrary::FontLibrary() : m(std::make_unique<Impl>())
{
    m->ft = std::make_shared<FtLibrary>();
    m->config = FcInitLoadConfigAndFonts();
    if (!m->config) throw std::runtime_error("cannot read the font configuration");

    PatternPtr pattern(FcPatternCreate());
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* fonts = FcFontList(m->config, pattern.get(), objects);
    FcObjectSetDestroy(objects);

    std::vector<std::string> families;
    if (fonts) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* family = nullptr;
            for (int k = 0;
                 FcPatternGetString(fonts->fonts[i], FC_FAMILY, k, &family) == FcResultMatch; ++k)
                if (family && *family) families.emplace_back(reinterpret_cast<const char*>(family));
        }
        FcFontSetDestroy(fonts);
    }
    std::sort(families.begin(), families.end());
    std::vector<std::string> unique;
    std::unordered_map<std::string, size_t> seen;
    for (auto& f : families)
        if (seen.emplace(lowerAscii(f), unique.size()).second) unique.push_back(f);
    if (unique.empty()) return;

    // Number 0 is the default family.
    size_t defaultIndex = 0;
    auto pick = [&](std::string_view name) {
        auto it = seen.find(lowerAscii(name));
        if (it == seen.end()) return false;
        defaultIndex = it->second;
        return true;
    };
    if (!pick("DejaVu Sans")) {
        PatternPtr sans(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif")));
        if (auto r = sans ? m->matchLocked(sans.get(), false, false) : std::nullopt)
            pick(r->family);
    }
    m->names.push_back(unique[defaultIndex]);
    for (size_t i = 0; i < unique.size() && int(m->names.size()) <= kMaxFontNumber; ++i)
        if (i != defaultIndex) m->names.push_back(unique[i]);
    for (size_t i = 0; i < m->names.size(); ++i)
        m->numbers.emplace(lowerAscii(m->names[i]), int(i));
}

FontLibrary::~FontLibrary()
{
    m->faces.clear();
    if (m->config) FcConfigDestroy(m->config);
}

int FontLibrary::fontCount() const { return int(m->names.size()); }

std::string FontLibrary::fontName(int number) const
{
    if (number < 0 || number >= int(m->names.size())) return {};
    return m->names[size_t(number)];
}

int FontLibrary::fontNumber(std::string_view family) const
{
    auto it = m->numbers.find(lowerAscii(family));
    return it == m->numbers.end() ? -1 : it->second;
}

std::optional<ResolvedFont> FontLibrary::resolve(int number, bool bold, bool italic) const
{
    if (m->names.empty()) return std::nullopt;
    if (number < 0 || number >= int(m->names.size())) number = 0;
    return resolve(m->names[size_t(number)], bold, italic);
}

std::optional<ResolvedFont> FontLibrary::resolve(std::string_view family, bool bold,
                                                 bool italic) const
{
    std::lock_guard<std::mutex> g(m->lock);
    auto key = std::make_tuple(std::string(family), bold, italic);
    auto it = m->resolved.find(key);
    if (it != m->resolved.end()) return it->second;
    PatternPtr pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(std::get<0>(key).c_str()));
    auto r = m->matchLocked(pattern.get(), bold, italic);
    if (m->resolved.size() > 4096) m->resolved.clear();
    m->resolved.emplace(std::move(key), r);
    return r;
}

std::optional<ResolvedFont> FontLibrary::fallbackFor(char32_t ch, bool bold, bool italic) const
{
    std::lock_guard<std::mutex> g(m->lock);
    const uint64_t key = (uint64_t(ch) << 2) | (bold ? 1u : 0u) | (italic ? 2u : 0u);
    auto it = m->fallbacks.find(key);
    if (it != m->fallbacks.end()) return it->second;

    std::optional<ResolvedFont> r;
    FcCharSet* wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, FcChar32(ch));
    PatternPtr pattern(FcPatternCreate());
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted);
    FcCharSetDestroy(wanted);
    r = m->matchLocked(pattern.get(), bold, italic);
    if (r) {
        // The best match may still lack the character: check the matched font's coverage.
        PatternPtr query(FcPatternCreate());
        FcPatternAddString(query.get(), FC_FILE, reinterpret_cast<const FcChar8*>(r->file.c_str()));
        FcPatternAddInteger(query.get(), FC_INDEX, r->faceIndex);
        FcObjectSet* objects = FcObjectSetBuild(FC_CHARSET, nullptr);
        FcFontSet* found = FcFontList(m->config, query.get(), objects);
        FcObjectSetDestroy(objects);
        bool covers = false;
        if (found) {
            for (int i = 0; i < found->nfont && !covers; ++i) {
                FcCharSet* cs = nullptr;
                if (FcPatternGetCharSet(found->fonts[i], FC_CHARSET, 0, &cs) == FcResultMatch && cs)
                    covers = FcCharSetHasChar(cs, FcChar32(ch));
            }
            FcFontSetDestroy(found);
        }
        if (!covers) r.reset();
    }
    if (m->fallbacks.size() > 4096) m->fallbacks.clear();
    m->fallbacks.emplace(key, r);
    return r;
}

std::shared_ptr<FontFace> FontLibrary::load(const ResolvedFont& font)
{
    auto key = std::make_pair(font.file, font.faceIndex);
    {
        std::lock_guard<std::mutex> g(m->lock);
        auto it = m->faces.find(key);
        if (it != m->faces.end()) return it->second;
    }
    // Read and open outside the lock; a concurrent loader of the same file loses the race.
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(font.file, std::ios::binary);
        if (!in) return nullptr;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size <= 0 || size > (std::streamoff(1) << 30)) return nullptr;
        in.seekg(0);
        bytes.resize(size_t(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return nullptr;
    }
    auto face = std::make_shared<FontFace>(m->ft, std::move(bytes), font.faceIndex);
    if (!face->isValid()) return nullptr;
    std::lock_guard<std::mutex> g(m->lock);
    auto [it, inserted] = m->faces.emplace(key, face);
    return it->second;
}

size_t FontLibrary::loadedFaceCount() const
{
    std::lock_guard<std::mutex> g(m->lock);
    return m->faces.size();
}

} // namespace zef::movies
