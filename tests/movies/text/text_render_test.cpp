#include "platform/movies/text/text_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace zef::movies;
using Flags = TextDisplayFlags;

namespace {

std::shared_ptr<FontLibrary> sharedFonts()
{
    static auto fonts = std::make_shared<FontLibrary>();
    return fonts;
}

const TextColor kWhite{0xFFFF, 0xFFFF, 0xFFFF};

TextSample title(const char* text, uint32_t extraFlags = 0)
{
    TextSample s;
    s.text = text;
    s.size = 48;
    s.textColor = kWhite;
    s.backColor = {0, 0, 0x8000};
    s.justification = TextJustify::center;
    s.textBox = Rect{40, 60, 600, 420};
    s.displayFlags = Flags::antiAlias | Flags::keyedText | extraFlags;
    return s;
}

struct Ink {
    Rect bounds;
    int count = 0;
    double centreX = 0;
};

// The pixels that differ from the background.
Ink inkOf(const Pixmap& p, uint32_t background = 0)
{
    Ink ink;
    double sumX = 0;
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = 0; x < p.width(); ++x)
            if (p.pixel(x, y) != background) {
                ink.bounds = unite(ink.bounds, Rect{x, y, x + 1, y + 1});
                ++ink.count;
                sumX += x;
            }
    if (ink.count) ink.centreX = sumX / ink.count;
    return ink;
}

class TextRenderTest : public ::testing::Test {
protected:
    TextRenderer renderer{sharedFonts()};

    Pixmap draw(const TextSample& s, double progress = 0.5, int64_t duration = 0)
    {
        Pixmap p(640, 480, 0);
        renderer.renderTextSample(s, progress, p, duration);
        return p;
    }
};

bool contains(const Rect& outer, const Rect& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

} // namespace

TEST_F(TextRenderTest, CentredKeyedTitleStaysInItsBoxInItsColour)
{
    const TextSample s = title("Hello World");
    Pixmap p = draw(s);
    Ink ink = inkOf(p);
    ASSERT_GT(ink.count, 500);
    EXPECT_TRUE(contains(s.textBox, ink.bounds));
    EXPECT_NEAR((ink.bounds.left + ink.bounds.right) / 2.0, 320, 4);
    EXPECT_NEAR(ink.centreX, 320, 12);
    EXPECT_GT(ink.bounds.width(), 200) << "48-point text is wide";
    EXPECT_LT(ink.bounds.top, s.textBox.top + 48) << "text starts at the top of its box";
    int solid = 0;
    for (int32_t y = ink.bounds.top; y < ink.bounds.bottom; ++y)
        for (int32_t x = ink.bounds.left; x < ink.bounds.right; ++x) {
            const uint32_t px = p.pixel(x, y);
            if (alphaOf(px)) {
                EXPECT_EQ(px & 0xFFFFFF, 0xFFFFFFu) << x << "," << y;
            }
            solid += alphaOf(px) == 255;
        }
    EXPECT_GT(solid, ink.count / 3) << "glyph interiors are opaque";
}

TEST_F(TextRenderTest, NonKeyedTextFillsItsBoxWithTheBackground)
{
    TextSample s = title("Hello World");
    s.displayFlags &= ~Flags::keyedText;
    Pixmap p = draw(s);
    const uint32_t back = argb(255, 0, 0, 128);
    EXPECT_EQ(p.pixel(s.textBox.left, s.textBox.top), back);
    EXPECT_EQ(p.pixel(s.textBox.right - 1, s.textBox.bottom - 1), back);
    int white = 0, outside = 0;
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = 0; x < p.width(); ++x) {
            const uint32_t px = p.pixel(x, y);
            if (!s.textBox.contains(x, y))
                outside += px != 0;
            else
                EXPECT_EQ(alphaOf(px), 255);
            white += px == 0xFFFFFFFFu;
        }
    EXPECT_EQ(outside, 0) << "outside the box is untouched";
    EXPECT_GT(white, 300);

    // Drawn over an existing picture, keyed text leaves the picture where there is no glyph.
    Pixmap red(640, 480, argb(255, 255, 0, 0));
    renderer.renderTextSample(title("Hello World"), 0, red);
    EXPECT_EQ(red.pixel(s.textBox.left, s.textBox.top), argb(255, 255, 0, 0));
    EXPECT_GT(inkOf(red, argb(255, 255, 0, 0)).count, 500);
}

TEST_F(TextRenderTest, DropShadowIsBlackAtItsOffsetWithItsTransparency)
{
    const TextSample plain = title("Hello World");
    TextSample shadowed = plain;
    shadowed.displayFlags |= Flags::dropShadow;
    shadowed.dropShadowOffsetX = 5;
    shadowed.dropShadowOffsetY = 4;
    shadowed.dropShadowTransparency = 128;
    const Pixmap a = draw(plain);
    const Pixmap b = draw(shadowed);
    int checked = 0;
    for (int32_t y = 0; y + 4 < a.height(); ++y)
        for (int32_t x = 0; x + 5 < a.width(); ++x) {
            if (alphaOf(a.pixel(x, y)) != 255 || a.pixel(x + 5, y + 4) != 0) continue;
            const uint32_t px = b.pixel(x + 5, y + 4);
            EXPECT_EQ(px & 0xFFFFFF, 0u);
            EXPECT_NEAR(alphaOf(px), 128, 1);
            ++checked;
        }
    EXPECT_GT(checked, 50);
    // The text itself is drawn over its shadow.
    for (int32_t y = 0; y < a.height(); ++y)
        for (int32_t x = 0; x < a.width(); ++x)
            if (alphaOf(a.pixel(x, y)) == 255) {
                ASSERT_EQ(b.pixel(x, y), 0xFFFFFFFFu);
            }
    // A transparency of 0 leaves no shadow.
    shadowed.dropShadowTransparency = 0;
    EXPECT_EQ(draw(shadowed), a);
}

TEST_F(TextRenderTest, ClipToBoxKeepsEveryPixelInside)
{
    TextSample s = title("Hello World");
    s.textBox = Rect{250, 200, 390, 230};
    Ink loose = inkOf(draw(s));
    EXPECT_FALSE(contains(s.textBox, loose.bounds)) << "a small box is overflowed without clipping";
    s.displayFlags |= Flags::clipToTextBox;
    Ink clipped = inkOf(draw(s));
    EXPECT_GT(clipped.count, 0);
    EXPECT_TRUE(contains(s.textBox, clipped.bounds));
}

TEST_F(TextRenderTest, JustificationMovesTheInk)
{
    TextSample s = title("Hello");
    s.justification = TextJustify::flushLeft;
    const Ink left = inkOf(draw(s));
    s.justification = TextJustify::center;
    const Ink centre = inkOf(draw(s));
    s.justification = TextJustify::flushRight;
    const Ink right = inkOf(draw(s));
    s.justification = TextJustify::flushDefault;
    const Ink byDefault = inkOf(draw(s));

    EXPECT_LT(left.bounds.left - s.textBox.left, 8);
    EXPECT_LT(s.textBox.right - right.bounds.right, 8);
    EXPECT_NEAR((centre.bounds.left + centre.bounds.right) / 2.0, 320, 4);
    EXPECT_LT(left.bounds.left, centre.bounds.left);
    EXPECT_LT(centre.bounds.left, right.bounds.left);
    EXPECT_EQ(left.bounds.width(), right.bounds.width());
    EXPECT_EQ(byDefault.bounds, left.bounds) << "default justification is left";
}

TEST_F(TextRenderTest, FaceBitsChangeTheGlyphs)
{
    TextSample s = title("Hello World");
    const Ink regular = inkOf(draw(s));
    s.face = TextFace::bold;
    const Ink bold = inkOf(draw(s));
    EXPECT_GT(bold.bounds.width(), regular.bounds.width());
    EXPECT_GT(bold.count, regular.count);

    // Underline: a solid bar under the baseline across the line.
    s.face = TextFace::underline;
    const Pixmap under = draw(s);
    const Ink underlined = inkOf(under);
    EXPECT_GT(underlined.bounds.bottom, regular.bounds.bottom);
    int solidRow = 0;
    for (int32_t y = regular.bounds.bottom; y < underlined.bounds.bottom; ++y) {
        int lit = 0;
        for (int32_t x = 0; x < under.width(); ++x)
            lit += alphaOf(under.pixel(x, y)) == 255;
        solidRow = std::max(solidRow, lit);
    }
    EXPECT_GT(solidRow, regular.bounds.width() * 9 / 10);

    // Italic leans: the top of an 'l' lies right of its foot.
    TextSample l = title("l");
    l.size = 200;
    l.face = TextFace::italic;
    const Pixmap italic = draw(l);
    const Ink ink = inkOf(italic);
    auto rowCentre = [&](int32_t y) {
        double sum = 0;
        int n = 0;
        for (int32_t x = 0; x < italic.width(); ++x)
            if (alphaOf(italic.pixel(x, y)) > 128) sum += x, ++n;
        return n ? sum / n : 0.0;
    };
    EXPECT_GT(rowCentre(ink.bounds.top + 5) - rowCentre(ink.bounds.bottom - 5), 15);
}

TEST_F(TextRenderTest, OutlinedGlyphsAreHollow)
{
    TextSample s = title("l");
    s.size = 200;
    const Pixmap filled = draw(s);
    s.face = TextFace::outline;
    const Pixmap hollow = draw(s);
    const Ink ink = inkOf(filled);
    const int32_t y = (ink.bounds.top + ink.bounds.bottom) / 2;
    const int32_t x = (ink.bounds.left + ink.bounds.right) / 2; // the middle of the stem
    EXPECT_EQ(alphaOf(filled.pixel(x, y)), 255);
    EXPECT_EQ(alphaOf(hollow.pixel(x, y)), 0);
    EXPECT_GT(inkOf(hollow).bounds.width(), ink.bounds.width()) << "the stroke lies on the edge";
}

TEST_F(TextRenderTest, WithoutAntiAliasingCoverageIsOneBit)
{
    TextSample s = title("Hello World");
    s.displayFlags &= ~Flags::antiAlias;
    const Pixmap p = draw(s);
    EXPECT_GT(inkOf(p).count, 500);
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = 0; x < p.width(); ++x) {
            const uint8_t a = alphaOf(p.pixel(x, y));
            ASSERT_TRUE(a == 0 || a == 255) << x << "," << y;
        }
}

TEST_F(TextRenderTest, LinesStackDownwardAndWrapAtTheBoxWidth)
{
    const Ink one = inkOf(draw(title("One")));
    const Pixmap three = draw(title("One\rTwo\nThree"));
    const Ink ink = inkOf(three);
    EXPECT_EQ(ink.bounds.top, one.bounds.top);
    EXPECT_GT(ink.bounds.height(), 2 * 48);
    // Three bands of rows with ink, separated by empty rows.
    int bands = 0;
    bool inBand = false;
    for (int32_t y = 0; y < three.height(); ++y) {
        bool lit = false;
        for (int32_t x = 0; x < three.width() && !lit; ++x)
            lit = three.pixel(x, y) != 0;
        if (lit && !inBand) ++bands;
        inBand = lit;
    }
    EXPECT_EQ(bands, 3);
    EXPECT_EQ(draw(title("One\r\nTwo\nThree")), three) << "CR LF is one break";

    TextSample s = title("the quick brown fox jumps over the lazy dog");
    s.textBox = Rect{170, 60, 470, 420};
    const Ink wrapped = inkOf(draw(s));
    EXPECT_TRUE(contains(s.textBox, wrapped.bounds));
    EXPECT_GT(wrapped.bounds.height(), 3 * 48);

    // A word longer than the box is broken between letters rather than overflowing.
    s.text = "Antidisestablishmentarianism";
    const Ink broken = inkOf(draw(s));
    EXPECT_TRUE(contains(s.textBox, broken.bounds));
    EXPECT_GT(broken.bounds.height(), 48);
}

TEST_F(TextRenderTest, NonLatinScriptsRenderInk)
{
    for (const char* text : {"Καλημέρα κόσμε", "שלום עולם", "مرحبا بالعالم", "Привет"}) {
        Ink ink = inkOf(draw(title(text)));
        EXPECT_GT(ink.count, 300) << text;
    }
}

TEST_F(TextRenderTest, HanCharactersUseAFallbackFace)
{
    if (!sharedFonts()->fallbackFor(U'日', false, false))
        GTEST_SKIP() << "no installed font covers Han characters";
    EXPECT_GT(inkOf(draw(title("日本語"))).count, 300);
}

TEST_F(TextRenderTest, ScrollInStartsOutsideAndArrivesAtRest)
{
    const int64_t duration = 600;
    TextSample s = title("Hello World", Flags::scrollIn);
    s.scrollDelay = 300; // holds still for the second half
    TextSample still = title("Hello World", Flags::clipToTextBox);

    EXPECT_EQ(inkOf(draw(s, 0, duration)).count, 0) << "starts below the box";
    EXPECT_EQ(renderer.scrollOffset(s, 0, 640, 480, duration).y, s.textBox.bottom - s.textBox.top);
    const Ink rest = inkOf(draw(still));
    const Ink midway = inkOf(draw(s, 0.25, duration));
    EXPECT_GT(midway.count, 0);
    EXPECT_GT(midway.bounds.top, rest.bounds.top);
    EXPECT_EQ(draw(s, 0.5, duration), draw(still)) << "arrived when the delay begins";
    EXPECT_EQ(draw(s, 0.9, duration), draw(still));

    // Reverse: comes down from above.
    s.displayFlags |= Flags::reverseScroll;
    EXPECT_LT(renderer.scrollOffset(s, 0.1, 640, 480, duration).y, 0);

    // Horizontal scroll out leaves to the left and is gone at the end.
    TextSample out = title("Hello World", Flags::scrollOut | Flags::horizScroll);
    EXPECT_EQ(renderer.scrollOffset(out, 0, 640, 480, duration), (Point{0, 0}));
    EXPECT_LT(renderer.scrollOffset(out, 0.5, 640, 480, duration).x, 0);
    EXPECT_EQ(renderer.scrollOffset(out, 0.5, 640, 480, duration).y, 0);
    EXPECT_EQ(inkOf(draw(out, 1.0, duration)).count, 0);

    // In and out with a delay: still in the middle.
    TextSample both = title("Hello World", Flags::scrollIn | Flags::scrollOut);
    both.scrollDelay = 200;
    EXPECT_NE(renderer.scrollOffset(both, 0.1, 640, 480, duration), (Point{0, 0}));
    EXPECT_EQ(renderer.scrollOffset(both, 0.4, 640, 480, duration), (Point{0, 0}));
    EXPECT_EQ(renderer.scrollOffset(both, 0.6, 640, 480, duration), (Point{0, 0}));
    EXPECT_LT(renderer.scrollOffset(both, 0.9, 640, 480, duration).y, 0);
}

TEST_F(TextRenderTest, StillTitlesAreRasterisedOnce)
{
    const TextSample s = title("Hello World", Flags::dropShadow);
    for (int i = 0; i < 10; ++i)
        draw(s, i / 10.0);
    EXPECT_EQ(renderer.rasterisedCount(), 1u);
    auto first = renderer.renderLayer(s, 0.3, 640, 480);
    EXPECT_EQ(renderer.renderLayer(s, 0.7, 640, 480), first) << "the same layer is shared";

    TextSample scrolling = title("Hello World", Flags::scrollIn);
    draw(scrolling, 0.2);
    draw(scrolling, 0.2);
    draw(scrolling, 0.6);
    EXPECT_EQ(renderer.rasterisedCount(), 3u);

    TextSample hidden = s;
    hidden.displayFlags |= Flags::dontDisplay;
    EXPECT_EQ(inkOf(draw(hidden)).count, 0);
}

TEST_F(TextRenderTest, RenderersOnSeveralThreadsShareTheFonts)
{
    const char* texts[] = {"Hello World", "Καλημέρα", "שלום עולם", "مرحبا"};
    std::vector<Pixmap> expected;
    for (const char* t : texts)
        expected.push_back(draw(title(t)));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&, k] {
            TextRenderer own(sharedFonts());
            for (int round = 0; round < 3; ++round)
                for (int i = 0; i < 4; ++i) {
                    Pixmap p(640, 480, 0);
                    TextSample s = title(texts[(i + k) % 4]);
                    s.scrollDelay = uint32_t(round); // defeats the layer cache
                    own.renderTextSample(s, 0, p);
                    mismatches[size_t(k)] += !(p == expected[size_t((i + k) % 4)]);
                }
        });
    for (auto& t : threads)
        t.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

TEST_F(TextRenderTest, OddSamplesDrawWithoutHarm)
{
    TextSample s = title("Hello");
    s.textBox = Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    s.displayFlags |= Flags::scrollIn | Flags::dropShadow;
    s.dropShadowOffsetX = INT16_MIN;
    s.scrollDelay = UINT32_MAX;
    draw(s, std::nan(""), 600);
    draw(s, -5, 600);
    draw(s, 5, 0);

    TextSample defaults = title("Hello");
    defaults.fontNumber = 900; // no such font: drawn with font 0
    defaults.size = 0;         // the default size
    const Ink ink = inkOf(draw(defaults));
    EXPECT_GT(ink.count, 50);
    EXPECT_LT(ink.bounds.height(), 20) << "size 0 draws at 12 pixels";

    Pixmap empty;
    renderer.renderTextSample(defaults, 0, empty);
    EXPECT_TRUE(renderer.renderLayer(defaults, 0, 0, 480)->pixels.isEmpty());
}
