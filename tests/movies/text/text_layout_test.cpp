#include "platform/movies/text/font_face.h"
#include "platform/movies/text/text_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zef::movies;

namespace {

FontLibrary& fonts()
{
    static FontLibrary lib;
    return lib;
}

LayoutRequest request(int32_t boxWidth = 600)
{
    LayoutRequest r;
    r.pixelSize = 48;
    r.boxWidth = boxWidth;
    return r;
}

uint32_t glyphOf(const char* ch)
{
    TextLayout l = layoutText(fonts(), ch, request());
    return l.lines.at(0).glyphs.at(0).glyph;
}

} // namespace

TEST(TextLayoutTest, Utf8DecodingReplacesBadBytes)
{
    EXPECT_EQ(decodeUtf8("aβ日😀"), (std::u32string{U'a', U'β', U'日', U'😀'}));
    EXPECT_EQ(decodeUtf8("a\xFF"
                         "b"),
              (std::u32string{U'a', 0xFFFD, U'b'}));
    EXPECT_EQ(decodeUtf8("\xC0\x80"), (std::u32string{0xFFFD})) << "overlong";
    EXPECT_EQ(decodeUtf8("\xED\xA0\x80"), (std::u32string{0xFFFD})) << "surrogate";
    EXPECT_EQ(decodeUtf8("\xE6\x97"), (std::u32string{0xFFFD})) << "truncated";
}

TEST(TextLayoutTest, RightToLeftWordsReadFromTheRight)
{
    // "shalom olam": the first letter of the first word is drawn rightmost, and the first word
    // stands right of the second.
    const uint32_t shin = glyphOf("ש");
    const uint32_t ayin = glyphOf("ע");
    TextLayout l = layoutText(fonts(), "שלום עולם", request());
    ASSERT_EQ(l.lines.size(), 1u);
    const auto& glyphs = l.lines[0].glyphs;
    auto xOf = [&](uint32_t g) {
        auto it =
            std::find_if(glyphs.begin(), glyphs.end(), [&](auto& lg) { return lg.glyph == g; });
        return it == glyphs.end() ? -1 : it->x64;
    };
    int32_t maxX = 0;
    for (const auto& g : glyphs)
        maxX = std::max(maxX, g.x64);
    EXPECT_EQ(xOf(shin), maxX);
    EXPECT_GT(xOf(shin), xOf(ayin));

    // Digits inside right-to-left text keep their own order.
    TextLayout n = layoutText(fonts(), "שלום 123", request());
    const auto& ng = n.lines.at(0).glyphs;
    auto xOfN = [&](uint32_t g) {
        auto it = std::find_if(ng.begin(), ng.end(), [&](auto& lg) { return lg.glyph == g; });
        return it == ng.end() ? -1 : it->x64;
    };
    EXPECT_LT(xOfN(glyphOf("1")), xOfN(glyphOf("3")));
    EXPECT_LT(xOfN(glyphOf("3")), xOfN(shin));
}

TEST(TextLayoutTest, LinesWrapAndBreak)
{
    TextLayout l = layoutText(fonts(), "alpha beta gamma delta", request(200));
    ASSERT_GE(l.lines.size(), 2u);
    for (const auto& line : l.lines)
        EXPECT_LE(line.width, 200);
    for (size_t i = 1; i < l.lines.size(); ++i)
        EXPECT_EQ(l.lines[i].baseline - l.lines[i - 1].baseline, l.lineHeight);

    TextLayout unwrapped = layoutText(fonts(), "alpha beta gamma delta", [] {
        auto r = request(200);
        r.wrap = false;
        return r;
    }());
    EXPECT_EQ(unwrapped.lines.size(), 1u);
    EXPECT_GT(unwrapped.lines[0].width, 200);

    TextLayout empties = layoutText(fonts(), "\r\rx\r", request());
    EXPECT_EQ(empties.lines.size(), 4u) << "empty lines keep their place";
    EXPECT_EQ(empties.height, 4 * empties.lineHeight);

    // A long unbroken run is cut into lines in linear time, each within the width.
    TextLayout longWord = layoutText(fonts(), std::string(20000, 'm'), request(100));
    EXPECT_GT(longWord.lines.size(), 1000u);
    for (const auto& line : longWord.lines)
        EXPECT_LE(line.width, 100);
}

TEST(TextLayoutTest, CharactersMissingFromTheFontComeFromAFallbackFace)
{
    const int math = fonts().fontNumber("DejaVu Math TeX Gyre");
    if (math < 0) GTEST_SKIP() << "DejaVu Math TeX Gyre is not installed";
    auto r = request();
    r.fontNumber = math;
    TextLayout l = layoutText(fonts(), "x مرحبا x", r);
    ASSERT_FALSE(l.empty());
    if (l.faces[0].face->hasGlyphFor(U'م')) GTEST_SKIP() << "the font covers Arabic itself";
    ASSERT_GE(l.faces.size(), 2u);
    int fromFallback = 0;
    for (const auto& g : l.lines[0].glyphs) {
        fromFallback += g.face != 0;
        EXPECT_NE(g.glyph, 0u) << "no missing-glyph boxes";
    }
    EXPECT_GE(fromFallback, 4);
}
