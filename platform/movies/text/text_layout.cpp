#include "platform/movies/text/text_layout.h"

#include "platform/movies/text/font_face.h"

#include <hb.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace zef::movies {

std::u32string decodeUtf8(std::string_view s)
{
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t c = uint8_t(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0, min = 0;
        if ((c & 0xE0) == 0xC0)
            extra = 1, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, cp = c & 0x07, min = 0x10000;
        else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= size_t(extra) && i + k < s.size() && (uint8_t(s[i + k]) & 0xC0) == 0x80; ++k)
            cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
        if (k != size_t(extra) + 1 || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += k; // skip the lead byte and the continuation bytes that belonged to it
            continue;
        }
        out.push_back(cp);
        i += k;
    }
    return out;
}

namespace {

bool isSpace(char32_t c) { return c == ' ' || c == '\t' || c == 0x3000 || c == 0x200B; }

bool isDigit(char32_t c) { return (c >= '0' && c <= '9') || (c >= 0x660 && c <= 0x669); }

// Characters of scripts written without spaces, where a line may break between any two.
bool breaksAnywhere(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

struct Run {
    int level = 0;
    std::vector<LayoutGlyph> glyphs; // x64 from the run's start
    int32_t width64 = 0;
};

struct Word {
    std::vector<Run> runs;
    int64_t width64 = 0;
    int64_t trailing64 = 0;             // advance of the white space at the word's end
    std::vector<int64_t> charAdvance64; // per character of the word: its cluster's advance
    std::vector<bool> clusterStart;     // per character: a cluster begins here
};

class ParagraphShaper {
public:
    ParagraphShaper(FontLibrary& fonts, TextLayout& layout, const LayoutRequest& req)
        : m_fonts(fonts), m_layout(layout), m_req(req)
    {
    }
    ~ParagraphShaper()
    {
        for (auto& [face, font] : m_hbFonts)
            hb_font_destroy(font);
    }

    void layoutParagraph(const std::u32string& text);

private:
    uint16_t faceFor(char32_t c, uint16_t previous);
    hb_font_t* hbFont(uint16_t face);
    Word shapeWord(size_t start, size_t end);
    void flushLine(std::vector<Run>& runs, int64_t width64, int64_t trailing64);

    FontLibrary& m_fonts;
    TextLayout& m_layout;
    const LayoutRequest& m_req;
    std::map<uint16_t, hb_font_t*> m_hbFonts;
    std::map<char32_t, uint16_t> m_fallbackFaces;

    // Per paragraph:
    const std::u32string* m_text = nullptr;
    std::vector<hb_script_t> m_script;
    std::vector<uint16_t> m_face;
    std::vector<int> m_level;
    int m_baseLevel = 0;
};

uint16_t ParagraphShaper::faceFor(char32_t c, uint16_t previous)
{
    auto& faces = m_layout.faces;
    if (c < 0x20 || c == 0xFFFD || faces[0].face->hasGlyphFor(c)) return 0;
    if (faces[previous].face->hasGlyphFor(c)) return previous;
    auto it = m_fallbackFaces.find(c);
    if (it != m_fallbackFaces.end()) return it->second;
    uint16_t chosen = 0;
    if (auto resolved = m_fonts.fallbackFor(c, m_req.bold, m_req.italic)) {
        if (auto face = m_fonts.load(*resolved)) {
            auto same = std::find_if(faces.begin(), faces.end(),
                                     [&](const LayoutFace& f) { return f.face == face; });
            if (same != faces.end()) {
                chosen = uint16_t(same - faces.begin());
            } else if (faces.size() < 64) {
                faces.push_back({face, resolved->syntheticBold, resolved->syntheticItalic});
                chosen = uint16_t(faces.size() - 1);
            }
        }
    }
    m_fallbackFaces.emplace(c, chosen);
    return chosen;
}

hb_font_t* ParagraphShaper::hbFont(uint16_t face)
{
    auto it = m_hbFonts.find(face);
    if (it != m_hbFonts.end()) return it->second;
    hb_font_t* font = hb_font_create(m_layout.faces[face].face->hbFace());
    const int scale = m_req.pixelSize * 64;
    hb_font_set_scale(font, scale, scale);
    m_hbFonts.emplace(face, font);
    return font;
}

Word ParagraphShaper::shapeWord(size_t start, size_t end)
{
    const std::u32string& text = *m_text;
    Word word;
    size_t trailingStart = end;
    while (trailingStart > start && isSpace(text[trailingStart - 1]))
        --trailingStart;

    word.charAdvance64.assign(end - start, 0);
    word.clusterStart.assign(end - start, false);
    hb_buffer_t* buffer = hb_buffer_create();
    size_t runStart = start;
    while (runStart < end) {
        size_t runEnd = runStart + 1;
        while (runEnd < end && m_script[runEnd] == m_script[runStart] &&
               m_face[runEnd] == m_face[runStart] && m_level[runEnd] == m_level[runStart])
            ++runEnd;
        const uint16_t face = m_face[runStart];
        const bool rtl = (m_level[runStart] & 1) != 0;
        hb_buffer_clear_contents(buffer);
        hb_buffer_add_utf32(buffer, reinterpret_cast<const uint32_t*>(text.data()),
                            int(text.size()), unsigned(runStart), int(runEnd - runStart));
        hb_buffer_set_direction(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer, m_script[runStart]);
        hb_buffer_set_language(buffer, hb_language_get_default());
        hb_shape(hbFont(face), buffer, nullptr, 0);

        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        const int32_t bold64 =
            m_layout.faces[face].syntheticBold ? FontFace::emboldenStrength64(m_req.pixelSize) : 0;
        Run run;
        run.level = m_level[runStart];
        int32_t pen = 0;
        for (unsigned i = 0; i < count; ++i) {
            const int32_t advance = pos[i].x_advance + (pos[i].x_advance > 0 ? bold64 : 0);
            run.glyphs.push_back({face, info[i].codepoint, pen + pos[i].x_offset, pos[i].y_offset});
            if (info[i].cluster >= trailingStart) word.trailing64 += advance;
            if (info[i].cluster >= start && info[i].cluster < end) {
                word.charAdvance64[info[i].cluster - start] += advance;
                word.clusterStart[info[i].cluster - start] = true;
            }
            pen += advance;
        }
        run.width64 = pen;
        word.width64 += pen;
        word.runs.push_back(std::move(run));
        runStart = runEnd;
    }
    hb_buffer_destroy(buffer);
    return word;
}

void ParagraphShaper::flushLine(std::vector<Run>& runs, int64_t width64, int64_t trailing64)
{
    // Display order: reverse every maximal sequence of runs at or above each odd level,
    // from the highest level down to 1.
    int maxLevel = 0;
    for (const Run& r : runs)
        maxLevel = std::max(maxLevel, r.level);
    for (int level = maxLevel; level >= 1; --level) {
        size_t i = 0;
        while (i < runs.size()) {
            if (runs[i].level < level) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < runs.size() && runs[j].level >= level)
                ++j;
            std::reverse(runs.begin() + long(i), runs.begin() + long(j));
            i = j;
        }
    }
    LayoutLine line;
    // In a right-to-left paragraph the white space that ends the line lies at its left.
    int64_t pen = m_baseLevel == 1 ? -trailing64 : 0;
    for (const Run& r : runs) {
        for (LayoutGlyph g : r.glyphs) {
            g.x64 = int32_t(g.x64 + pen);
            line.glyphs.push_back(g);
        }
        pen += r.width64;
    }
    line.width = int32_t((std::max<int64_t>(0, width64 - trailing64) + 32) / 64);
    m_layout.lines.push_back(std::move(line));
    runs.clear();
}

void ParagraphShaper::layoutParagraph(const std::u32string& text)
{
    m_text = &text;
    const size_t n = text.size();
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();

    // Scripts: characters of no script of their own take their neighbour's.
    m_script.assign(n, HB_SCRIPT_COMMON);
    std::vector<bool> strong(n, false);
    for (size_t i = 0; i < n; ++i) {
        hb_script_t s = hb_unicode_script(unicode, text[i]);
        strong[i] = s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED && s != HB_SCRIPT_UNKNOWN;
        m_script[i] = s;
    }
    hb_script_t last = HB_SCRIPT_INVALID;
    for (size_t i = 0; i < n; ++i) {
        if (strong[i])
            last = m_script[i];
        else if (last != HB_SCRIPT_INVALID)
            m_script[i] = last;
    }
    size_t firstStrong = std::find(strong.begin(), strong.end(), true) - strong.begin();
    for (size_t i = 0; i < std::min(firstStrong, n); ++i)
        m_script[i] = firstStrong < n ? m_script[firstStrong] : HB_SCRIPT_COMMON;

    auto isRtl = [](hb_script_t s) {
        return hb_script_get_horizontal_direction(s) == HB_DIRECTION_RTL;
    };
    m_baseLevel = firstStrong < n && isRtl(m_script[firstStrong]) ? 1 : 0;
    // Embedding levels: right-to-left characters 1, left-to-right ones the next even level,
    // digits always left to right. White space and punctuation between two characters of one
    // direction take that direction, elsewhere the paragraph's.
    const int ltrLevel = m_baseLevel == 1 ? 2 : 0;
    std::vector<int8_t> dir(n, -1); // 0 left to right, 1 right to left, −1 neutral
    for (size_t i = 0; i < n; ++i)
        if (strong[i]) dir[i] = isRtl(m_script[i]) ? 1 : 0;
    std::vector<int8_t> nextDir(n + 1, -1);
    for (size_t i = n; i-- > 0;)
        nextDir[i] = dir[i] >= 0 ? dir[i] : nextDir[i + 1];
    m_level.assign(n, 0);
    int8_t previousDir = -1;
    for (size_t i = 0; i < n; ++i) {
        if (isDigit(text[i])) {
            m_level[i] = (previousDir == 1 || m_baseLevel == 1) ? 2 : 0;
            continue;
        }
        int8_t d = dir[i];
        if (d < 0)
            d = (previousDir >= 0 && previousDir == nextDir[i]) ? previousDir : int8_t(m_baseLevel);
        else
            previousDir = d;
        m_level[i] = d == 1 ? 1 : ltrLevel;
    }

    m_face.assign(n, 0);
    uint16_t previous = 0;
    for (size_t i = 0; i < n; ++i)
        previous = m_face[i] = faceFor(text[i], previous);

    const int64_t maxWidth64 = m_req.wrap && m_req.boxWidth > 0
                                   ? int64_t(m_req.boxWidth) * 64
                                   : std::numeric_limits<int64_t>::max() / 4;
    std::vector<Run> lineRuns;
    int64_t lineWidth64 = 0, lineTrailing64 = 0;
    bool lineEmpty = true;

    auto place = [&](Word&& word) {
        if (!lineEmpty && lineWidth64 + word.width64 - word.trailing64 > maxWidth64) {
            flushLine(lineRuns, lineWidth64, lineTrailing64);
            lineWidth64 = 0;
            lineEmpty = true;
        }
        for (Run& r : word.runs)
            lineRuns.push_back(std::move(r));
        lineWidth64 += word.width64;
        lineTrailing64 = word.trailing64;
        lineEmpty = false;
    };

    size_t start = 0;
    while (start < n) {
        size_t end = start + 1;
        while (end < n) {
            const bool breakHere = (isSpace(text[end - 1]) && !isSpace(text[end])) ||
                                   breaksAnywhere(text[end - 1]) ||
                                   (breaksAnywhere(text[end]) && !isSpace(text[end - 1]));
            if (breakHere) break;
            ++end;
        }
        Word word = shapeWord(start, end);
        if (word.width64 - word.trailing64 <= maxWidth64 || end - start == 1) {
            place(std::move(word));
        } else {
            // A word wider than a whole line is split between clusters. The cuts come from one
            // measurement, so that a long word costs linear time.
            size_t pieceStart = start;
            int64_t acc = 0;
            for (size_t k = start; k < end; ++k) {
                const size_t c = k - start;
                if (word.clusterStart[c] && k > pieceStart &&
                    acc + word.charAdvance64[c] > maxWidth64) {
                    place(shapeWord(pieceStart, k));
                    pieceStart = k;
                    acc = 0;
                }
                acc += word.charAdvance64[c];
            }
            place(shapeWord(pieceStart, end));
        }
        start = end;
    }
    flushLine(lineRuns, lineWidth64, lineEmpty ? 0 : lineTrailing64);
}

} // namespace

TextLayout layoutText(FontLibrary& fonts, std::string_view utf8, const LayoutRequest& req)
{
    TextLayout layout;
    if (req.pixelSize <= 0) return layout;
    layout.pixelSize = req.pixelSize;
    std::shared_ptr<FontFace> primary;
    std::optional<ResolvedFont> resolved = fonts.resolve(req.fontNumber, req.bold, req.italic);
    if (resolved) primary = fonts.load(*resolved);
    if (!primary && req.fontNumber != 0) {
        resolved = fonts.resolve(0, req.bold, req.italic);
        if (resolved) primary = fonts.load(*resolved);
    }
    if (!primary) return layout;
    layout.faces.push_back({primary, resolved->syntheticBold, resolved->syntheticItalic});

    const FontMetrics fm = primary->metrics(req.pixelSize);
    layout.ascent = int32_t(std::ceil(fm.ascent));
    const int32_t descent = int32_t(std::ceil(fm.descent));
    layout.lineHeight =
        std::max<int32_t>(1, layout.ascent + descent + int32_t(std::lround(fm.lineGap)));
    layout.underlineOffset = fm.underlineOffset;
    layout.underlineThickness = fm.underlineThickness;

    const std::u32string text = decodeUtf8(utf8);
    ParagraphShaper shaper(fonts, layout, req);
    size_t i = 0;
    while (true) {
        size_t end = i;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != 0x2028 &&
               text[end] != 0x2029)
            ++end;
        shaper.layoutParagraph(text.substr(i, end - i));
        if (end >= text.size()) break;
        i = end + 1;
        if (text[end] == '\r' && i < text.size() && text[i] == '\n') ++i;
    }

    for (size_t k = 0; k < layout.lines.size(); ++k) {
        LayoutLine& line = layout.lines[k];
        line.baseline = int32_t(k) * layout.lineHeight + layout.ascent;
        switch (req.justification) {
        case 1:
            line.left = (req.boxWidth - line.width) / 2;
            break;
        case -1:
            line.left = req.boxWidth - line.width;
            break;
        default:
            line.left = 0;
            break;
        }
    }
    layout.height = int32_t(layout.lines.size()) * layout.lineHeight;
    return layout;
}

} // namespace zef::movies
