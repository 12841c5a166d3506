#include "platform/movies/text/font_face.h"
#include "platform/movies/text/font_library.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zef::movies;

namespace {

FontLibrary& library()
{
    static FontLibrary lib;
    return lib;
}

bool hasFamily(const char* name) { return library().fontNumber(name) >= 0; }

} // namespace

TEST(FontLibraryTest, NumberingIsStableSortedAndRoundTrips)
{
    FontLibrary& lib = library();
    ASSERT_GT(lib.fontCount(), 0) << "the test machine has fonts-dejavu-core";
    ASSERT_LE(lib.fontCount(), FontLibrary::kMaxFontNumber + 1);
    if (hasFamily("DejaVu Sans")) {
        EXPECT_EQ(lib.fontName(0), "DejaVu Sans");
    }

    for (int i = 0; i < lib.fontCount(); ++i) {
        const std::string name = lib.fontName(i);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(lib.fontNumber(name), i) << name;
        if (i >= 2) {
            EXPECT_LT(lib.fontName(i - 1), name) << "numbers after 0 follow the names";
        }
    }
    EXPECT_EQ(lib.fontName(-1), "");
    EXPECT_EQ(lib.fontName(lib.fontCount()), "");
    EXPECT_EQ(lib.fontNumber("No Such Family Anywhere"), -1);

    std::string upper = lib.fontName(0);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(lib.fontNumber(upper), 0) << "family names compare without case";

    FontLibrary again;
    ASSERT_EQ(again.fontCount(), lib.fontCount());
    for (int i = 0; i < lib.fontCount(); ++i)
        EXPECT_EQ(again.fontName(i), lib.fontName(i));
}

TEST(FontLibraryTest, ResolvesRealAndSyntheticStyles)
{
    if (!hasFamily("DejaVu Sans")) GTEST_SKIP() << "DejaVu Sans is not installed";
    FontLibrary& lib = library();
    auto regular = lib.resolve("DejaVu Sans", false, false);
    auto bold = lib.resolve("DejaVu Sans", true, false);
    auto boldItalic = lib.resolve(lib.fontNumber("DejaVu Sans"), true, true);
    ASSERT_TRUE(regular && bold && boldItalic);
    EXPECT_EQ(regular->family, "DejaVu Sans");
    EXPECT_NE(regular->file, bold->file);
    EXPECT_NE(bold->file.find("Bold"), std::string::npos) << bold->file;
    EXPECT_FALSE(bold->syntheticBold);
    EXPECT_FALSE(boldItalic->syntheticBold || boldItalic->syntheticItalic) << boldItalic->file;

    // A number without a family resolves as number 0.
    EXPECT_EQ(lib.resolve(9999, false, false), lib.resolve(0, false, false));

    if (hasFamily("DejaVu Math TeX Gyre")) {
        // That family has a regular face only: bold and italic must be synthesised.
        auto math = lib.resolve("DejaVu Math TeX Gyre", true, true);
        ASSERT_TRUE(math);
        EXPECT_TRUE(math->syntheticBold);
        EXPECT_TRUE(math->syntheticItalic);
    }
}

TEST(FontLibraryTest, FacesLoadOnceAndCoverTheirCharacters)
{
    FontLibrary lib;
    auto resolved = lib.resolve(0, false, false);
    ASSERT_TRUE(resolved);
    auto a = lib.load(*resolved);
    auto b = lib.load(*resolved);
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(lib.loadedFaceCount(), 1u);
    EXPECT_TRUE(a->hasGlyphFor(U'A'));
    EXPECT_FALSE(a->hasGlyphFor(0x10FFFD)) << "a private-use plane character";

    ResolvedFont missing = *resolved;
    missing.file = "/nonexistent/font.ttf";
    EXPECT_EQ(lib.load(missing), nullptr);

    // A glyph is rendered once per style and then shared.
    GlyphStyle style;
    style.pixelSize = 40;
    auto g1 = a->glyph(36, style);
    auto g2 = a->glyph(36, style);
    ASSERT_TRUE(g1);
    EXPECT_EQ(g1, g2);
    EXPECT_GT(g1->width, 0);
    style.pixelSize = 0;
    EXPECT_EQ(a->glyph(36, style), nullptr);

    // The face outlives its library.
    {
        FontLibrary shortLived;
        a = shortLived.load(*resolved);
    }
    style.pixelSize = 20;
    EXPECT_TRUE(a->glyph(37, style));
}

TEST(FontLibraryTest, FallbackFindsAFaceThatCoversTheCharacter)
{
    FontLibrary& lib = library();
    auto greek = lib.fallbackFor(U'λ', false, false);
    ASSERT_TRUE(greek) << "DejaVu covers Greek";
    auto face = lib.load(*greek);
    ASSERT_TRUE(face);
    EXPECT_TRUE(face->hasGlyphFor(U'λ'));
    EXPECT_FALSE(lib.fallbackFor(0x10FFFD, false, false)) << "no font has private-use glyphs";
}
