#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/composite/region.h"
#include "platform/movies/composite/warp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

using namespace zef::movies;
namespace GM = zef::movies::GraphicsMode;

namespace {

// Draws one source pixel onto one destination pixel by the mode.
uint32_t one(uint32_t src, uint32_t dst, int32_t mode, uint32_t op = 0x808080)
{
    Pixmap s(1, 1, src), d(1, 1, dst);
    EXPECT_EQ(composite(s, d, Point{0, 0}, mode, op), PixelStatus::Ok) << "mode " << mode;
    return d.pixel(0, 0);
}

// Each channel of a and b within tol.
::testing::AssertionResult near(uint32_t a, uint32_t b, int tol = 1)
{
    for (int sh = 0; sh < 32; sh += 8) {
        int d = int((a >> sh) & 255) - int((b >> sh) & 255);
        if (std::abs(d) > tol)
            return ::testing::AssertionFailure()
                   << std::hex << a << " vs " << b << " differ at bit " << std::dec << sh;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(GraphicsModes, CopyAndBooleanModes)
{
    const uint32_t src = 0xFF30C00Fu, dst = 0xFF0F0FF0u;
    EXPECT_EQ(one(src, dst, GM::kSrcCopy), src);
    EXPECT_EQ(one(src, dst, GM::kNone), src);
    EXPECT_EQ(one(src, dst, GM::kDitherCopy), src);
    EXPECT_EQ(one(src, dst, GM::kSrcOr), 0xFF3FCFFFu);
    EXPECT_EQ(one(src, dst, GM::kNotSrcCopy), 0xFFCF3FF0u); // "Invert Colors"
    EXPECT_EQ(one(src, 0xFF30000Fu, GM::kSrcXor), 0xFF00C000u);
    EXPECT_EQ(one(src, dst, GM::kSrcBic), 0xFF0F0FF0u);
    EXPECT_EQ(one(0x80123456u, 0x40000000u, GM::kNotSrcCopy), 0x80EDCBA9u) << "alpha kept";
}

TEST(GraphicsModes, ArithmeticModes)
{
    const uint32_t src = 0xFF2080F0u, dst = 0xFF60A010u;
    EXPECT_EQ(one(src, dst, GM::kAddMax), 0xFF60A0F0u);
    EXPECT_EQ(one(src, dst, GM::kAddMin), 0xFF208010u);
    // Blend: op colour channels are per-channel weights of the source.
    EXPECT_EQ(one(src, dst, GM::kBlend, 0xFF0000), 0xFF20A010u);
    EXPECT_EQ(one(src, dst, GM::kBlend, 0x000000), dst);
    EXPECT_TRUE(near(one(0xFFFF0000u, 0xFF0000FFu, GM::kBlend, 0x404040), 0xFF4000BFu));
    // Add with pin, add and subtract with wrap.
    EXPECT_EQ(one(0xFF808080u, 0xFF909090u, GM::kAddPin, 0xFFA0C0), 0xFFFFA0C0u);
    EXPECT_EQ(one(0xFF808080u, 0xFF909090u, GM::kAddOver), 0xFF101010u);
    EXPECT_EQ(one(0xFF100020u, 0xFF080010u, GM::kSubOver), 0xFFF800F0u);
}

TEST(GraphicsModes, TransparentSkipsTheOpColour)
{
    Pixmap s(3, 1, 0xFF00FF00u), d(3, 1, 0xFF112233u);
    s.setPixel(1, 0, 0xFFABCDEFu);
    ASSERT_EQ(composite(s, d, Point{0, 0}, GM::kTransparent, 0x00FF00), PixelStatus::Ok);
    EXPECT_EQ(d.pixel(0, 0), 0xFF112233u);
    EXPECT_EQ(d.pixel(1, 0), 0xFFABCDEFu);
    EXPECT_EQ(d.pixel(2, 0), 0xFF112233u);
}

TEST(GraphicsModes, AlphaModes)
{
    // Half-transparent red over opaque blue.
    EXPECT_TRUE(near(one(0x80FF0000u, 0xFF0000FFu, GM::kStraightAlpha), 0xFF80007Fu));
    EXPECT_EQ(one(0x00FF0000u, 0xFF0000FFu, GM::kStraightAlpha), 0xFF0000FFu);
    EXPECT_EQ(one(0xFFFF0000u, 0xFF0000FFu, GM::kStraightAlpha), 0xFFFF0000u);
    // Over a transparent destination the source is kept as it is.
    EXPECT_EQ(one(0x80FF0000u, 0x00000000u, GM::kStraightAlpha), 0x80FF0000u);
    // Half-covered over half-covered: coverage 0.75, colour weighted 2:1.
    EXPECT_TRUE(near(one(0x80FF0000u, 0x800000FFu, GM::kStraightAlpha), 0xC0AA0055u));

    // Red at half alpha pre-multiplied against black is stored as 0x80 red.
    EXPECT_TRUE(near(one(0x80800000u, 0xFF0000FFu, GM::kPremulBlackAlpha), 0xFF80007Fu));
    // ... against white as red 0xFF, green and blue 0x7F.
    EXPECT_TRUE(near(one(0x80FF7F7Fu, 0xFF0000FFu, GM::kPremulWhiteAlpha), 0xFF80007Fu));
    // ... against grey 0x404040.
    EXPECT_TRUE(near(one(0x80A02020u, 0xFF0000FFu, GM::kPremulColorAlpha, 0x404040), 0xFF80007Fu));
    // Straight alpha blend: alpha further weighted by the op colour per channel.
    EXPECT_TRUE(
        near(one(0xFFFFFFFFu, 0xFF000000u, GM::kStraightAlphaBlend, 0xFF8000), 0xFFFF8000u));
    EXPECT_TRUE(
        near(one(0x80FFFFFFu, 0xFF000000u, GM::kStraightAlphaBlend, 0xFFFFFF), 0xFF808080u));
}

TEST(GraphicsModes, StraightAlphaRowsMatchPixelByPixel)
{
    // The vector path (opaque destination blocks) and the general path agree.
    Pixmap s(700, 2), d(700, 2), ref;
    for (int32_t x = 0; x < 700; ++x)
        for (int32_t y = 0; y < 2; ++y) {
            s.setPixel(x, y, argb(uint8_t(x * 7), uint8_t(x), uint8_t(x * 3), uint8_t(y * 90)));
            d.setPixel(x, y, argb(y == 1 && x == 650 ? 200 : 255, uint8_t(x * 5), 40, uint8_t(x)));
        }
    ref = d;
    ASSERT_EQ(composite(s, d, Point{0, 0}, GM::kStraightAlpha), PixelStatus::Ok);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 700; ++x) {
            Pixmap one1(1, 1, s.pixel(x, y)), d1(1, 1, ref.pixel(x, y));
            composite(one1, d1, Point{0, 0}, GM::kStraightAlpha);
            ASSERT_EQ(d.pixel(x, y), d1.pixel(0, 0)) << x << "," << y;
        }
}

TEST(GraphicsModes, UnknownModeIsRefused)
{
    Pixmap s(1, 1, 0xFFFFFFFFu), d(1, 1, 0xFF000000u);
    EXPECT_EQ(composite(s, d, Point{0, 0}, 12345), PixelStatus::UnsupportedMode);
    EXPECT_EQ(d.pixel(0, 0), 0xFF000000u);
}

TEST(GraphicsModes, PlacementAndClipping)
{
    Pixmap s(4, 4, 0xFFFFFFFFu), d(6, 6, 0xFF000000u);
    // Partly outside the destination, including negative offsets.
    ASSERT_EQ(composite(s, d, Point{-2, 4}, GM::kSrcCopy), PixelStatus::Ok);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(d.pixel(x, y), (x < 2 && y >= 4) ? 0xFFFFFFFFu : 0xFF000000u)
                << x << "," << y;

    // Clip to two overlapping rectangles: straight alpha must apply once per pixel.
    Pixmap half(6, 6, 0x80FFFFFFu);
    d.fill(0xFF000000u);
    Rect rects[] = {{0, 0, 3, 3}, {2, 2, 5, 5}};
    ClipRegion clip(rects);
    ASSERT_EQ(composite(half, d, Point{0, 0}, GM::kStraightAlpha, 0, &clip), PixelStatus::Ok);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            bool in = (x < 3 && y < 3) || (x >= 2 && x < 5 && y >= 2 && y < 5);
            EXPECT_EQ(d.pixel(x, y), in ? 0xFF808080u : 0xFF000000u) << x << "," << y;
        }

    // Far-away offsets do not overflow.
    EXPECT_EQ(composite(s, d, Point{INT32_MAX - 1, INT32_MIN + 1}, GM::kSrcCopy), PixelStatus::Ok);
}

TEST(ClipRegionTest, DisjointBands)
{
    Rect rects[] = {{0, 0, 10, 10}, {5, 5, 15, 15}, {0, 0, 10, 10}, {20, 0, 20, 5}};
    ClipRegion r(rects);
    int64_t area = 0;
    for (const Rect& a : r.rects()) {
        area += int64_t(a.width()) * a.height();
        for (const Rect& b : r.rects())
            if (&a != &b) {
                EXPECT_TRUE(intersect(a, b).isEmpty());
            }
    }
    EXPECT_EQ(area, 100 + 100 - 25);
    EXPECT_EQ(r.bounds(), (Rect{0, 0, 15, 15}));
    EXPECT_TRUE(r.contains(12, 12));
    EXPECT_FALSE(r.contains(12, 2));
}

TEST(Warp, BilinearOnTwoByTwoGradient)
{
    Pixmap g(2, 2);
    g.setPixel(0, 0, 0xFF000000u);
    g.setPixel(1, 0, 0xFFFF0000u);
    g.setPixel(0, 1, 0xFF0000FFu);
    g.setPixel(1, 1, 0xFFFF00FFu);
    // Centre of the picture: the mean of the four.
    EXPECT_TRUE(near(sampleBilinear(g, 1.0, 1.0), 0xFF800080u));
    // Pixel centres are exact.
    EXPECT_EQ(sampleBilinear(g, 1.5, 0.5), 0xFFFF0000u);
    // A quarter of the way from the first to the second column centre.
    EXPECT_TRUE(near(sampleBilinear(g, 0.75, 0.5), 0xFF400000u));
    // Outside the centres the edge extends.
    EXPECT_EQ(sampleBilinear(g, 0.0, 0.0), 0xFF000000u);

    // Enlarged 2×2 → 4×4 through a matrix: rows and columns interpolate evenly.
    Pixmap big(4, 4, 0);
    ASSERT_EQ(drawWarped(g, big, MatrixRecord::scaling(2 * kFixed1, 2 * kFixed1)), PixelStatus::Ok);
    EXPECT_EQ(big.pixel(0, 0), 0xFF000000u);
    EXPECT_TRUE(near(big.pixel(1, 0), 0xFF400000u));
    EXPECT_TRUE(near(big.pixel(2, 0), 0xFFBF0000u));
    EXPECT_EQ(big.pixel(3, 0), 0xFFFF0000u);
    EXPECT_TRUE(near(big.pixel(1, 1), 0xFF400040u, 2));
}

TEST(Warp, HalfwayBetweenTwoMatricesLandsAtTheMidpoint)
{
    Pixmap dot(2, 2, 0xFFFFFFFFu);
    MatrixRecord from = MatrixRecord::translation(4 * kFixed1, 6 * kFixed1);
    MatrixRecord to = MatrixRecord::translation(24 * kFixed1, 16 * kFixed1);
    to.scale(3 * kFixed1, 3 * kFixed1, 24 * kFixed1, 16 * kFixed1); // also grows about its corner
    MatrixRecord mid = interpolateMatrix(from, to, 0.5);
    Pixmap d(40, 40, 0xFF000000u);
    ASSERT_EQ(drawWarped(dot, d, mid), PixelStatus::Ok);
    // Midpoint: at (14, 11), twice as large (2 + 6) / 2 = 4 pixels.
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            bool in = x >= 14 && x < 18 && y >= 11 && y < 15;
            ASSERT_EQ(d.pixel(x, y), in ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
        }
}

TEST(Warp, TranslationRotationAndClip)
{
    Pixmap s(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            s.setPixel(x, y, argb(255, uint8_t(x * 50), uint8_t(y * 50), 7));
    Pixmap d(8, 8, 0xFF000000u);
    ASSERT_EQ(drawWarped(s, d, MatrixRecord::translation(5 * kFixed1, 1 * kFixed1)),
              PixelStatus::Ok);
    EXPECT_EQ(d.pixel(5, 1), s.pixel(0, 0));
    EXPECT_EQ(d.pixel(7, 2), s.pixel(2, 1));
    EXPECT_EQ(d.pixel(4, 1), 0xFF000000u);

    // 90° clockwise rotation: (x, y) → (−y, x), then moved right by 2 pixels.
    MatrixRecord rot = MatrixRecord::identity();
    rot.m[0][0] = 0;
    rot.m[0][1] = kFixed1;
    rot.m[1][0] = -kFixed1;
    rot.m[1][1] = 0;
    rot.m[2][0] = 2 * kFixed1;
    d.fill(0xFF000000u);
    ASSERT_EQ(drawWarped(s, d, rot), PixelStatus::Ok);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(d.pixel(1 - y, x), s.pixel(x, y)) << x << "," << y;
    EXPECT_EQ(d.pixel(2, 0), 0xFF000000u);

    // Clip rectangle: only its pixels change.
    Pixmap white(8, 8, 0xFFFFFFFFu);
    d.fill(0xFF000000u);
    ClipRegion clip(Rect{2, 3, 5, 4});
    ASSERT_EQ(drawWarped(white, d, MatrixRecord::scaling(kFixed1 / 2 * 3, kFixed1), GM::kSrcCopy, 0,
                         &clip),
              PixelStatus::Ok);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(d.pixel(x, y), clip.contains(x, y) ? 0xFFFFFFFFu : 0xFF000000u);

    // A singular matrix draws nothing.
    EXPECT_EQ(drawWarped(white, d, MatrixRecord::scaling(0, kFixed1)), PixelStatus::Ok);
    EXPECT_EQ(d.pixel(0, 0), 0xFF000000u);
}

TEST(Warp, ScalingAveragesAndKeepsFlatFields)
{
    // 2× reduction of a 1-pixel checkerboard: every output pixel is the mean.
    Pixmap checker(64, 32);
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 64; ++x)
            checker.setPixel(x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
    for (int32_t factor : {2, 4, 8}) {
        Pixmap small = resized(checker, 64 / factor, 32 / factor);
        for (int32_t y = 0; y < small.height(); ++y)
            for (int32_t x = 0; x < small.width(); ++x)
                ASSERT_TRUE(near(small.pixel(x, y), 0xFF808080u, 1))
                    << factor << ": " << x << "," << y;
    }
    // A flat field stays exactly flat at any scale.
    Pixmap flat(37, 23, 0xFF123456u);
    for (auto [w, h] : {std::pair{100, 7}, {5, 3}, {37, 50}, {1, 1}}) {
        Pixmap r = resized(flat, w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                ASSERT_EQ(r.pixel(x, y), 0xFF123456u);
    }
    // Into a rectangle partly outside the destination.
    Pixmap d(10, 10, 0xFF000000u);
    ASSERT_EQ(scaleInto(flat, flat.bounds(), d, Rect{-5, 8, 4, 20}), PixelStatus::Ok);
    EXPECT_EQ(d.pixel(3, 9), 0xFF123456u);
    EXPECT_EQ(d.pixel(4, 9), 0xFF000000u);
    EXPECT_EQ(d.pixel(3, 7), 0xFF000000u);
}

TEST(Warp, TransparentPixelsDoNotDarkenEdges)
{
    // Opaque white next to fully transparent black: filtered colour stays white.
    Pixmap s(2, 1);
    s.setPixel(0, 0, 0xFFFFFFFFu);
    s.setPixel(1, 0, 0x00000000u);
    Pixmap big = resized(s, 8, 1);
    for (int32_t x = 0; x < 8; ++x) {
        uint32_t p = big.pixel(x, 0);
        if (p >> 24) {
            EXPECT_EQ(p & 0xFFFFFFu, 0xFFFFFFu) << x;
        }
    }
    EXPECT_EQ(big.pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(big.pixel(7, 0) >> 24, 0u);
}

TEST(Warp, DrawPictureIntoRectThroughClipList)
{
    Pixmap src(2, 2, 0x80FFFFFFu), dst(8, 8, 0xFF000000u);
    const Rect clips[] = {{0, 0, 4, 8}, {2, 0, 6, 2}}; // overlapping: each pixel drawn once
    ASSERT_EQ(drawPicture(src, dst, Rect{1, 1, 7, 7}, clips, GM::kStraightAlpha), PixelStatus::Ok);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            bool inRect = x >= 1 && x < 7 && y >= 1 && y < 7;
            bool inClip = x < 4 || (x < 6 && y < 2);
            EXPECT_EQ(dst.pixel(x, y), inRect && inClip ? 0xFF808080u : 0xFF000000u)
                << x << "," << y;
        }
    EXPECT_EQ(drawPicture(src, dst, Rect{0, 0, 8, 8}, {}, 999), PixelStatus::UnsupportedMode);
}

TEST(Warp, MirrorMatricesFlipExactly)
{
    Pixmap s(5, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            s.setPixel(x, y, argb(255, uint8_t(x * 40), uint8_t(y * 90), 1));
    MatrixRecord flipH = MatrixRecord::scaling(-kFixed1, kFixed1);
    flipH.translate(5 * kFixed1, 0);
    MatrixRecord flipV = MatrixRecord::scaling(kFixed1, -kFixed1);
    flipV.translate(0, 3 * kFixed1);
    Pixmap h(5, 3, 0), v(5, 3, 0);
    ASSERT_EQ(drawWarped(s, h, flipH), PixelStatus::Ok);
    ASSERT_EQ(drawWarped(s, v, flipV), PixelStatus::Ok);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(h.pixel(x, y), s.pixel(4 - x, y));
            EXPECT_EQ(v.pixel(x, y), s.pixel(x, 2 - y));
        }
}

TEST(Warp, RotationMatchesPointSampling)
{
    // A 30° rotation with scaling and a fractional shift, drawn by the row-stepping path,
    // agrees with sampling each destination pixel's mapped centre.
    Pixmap s(40, 30);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            s.setPixel(x, y, argb(255, uint8_t(x * 6), uint8_t(y * 8), uint8_t((x * y) & 255)));
    const double c = std::cos(std::numbers::pi / 6) * 1.3,
                 sn = std::sin(std::numbers::pi / 6) * 1.3;
    MatrixRecord m = MatrixRecord::identity();
    m.m[0][0] = doubleToFixed(c);
    m.m[0][1] = doubleToFixed(sn);
    m.m[1][0] = doubleToFixed(-sn);
    m.m[1][1] = doubleToFixed(c);
    m.m[2][0] = doubleToFixed(30.25);
    m.m[2][1] = doubleToFixed(3.5);
    Pixmap d(80, 70, 0xFF000000u);
    ASSERT_EQ(drawWarped(s, d, m), PixelStatus::Ok);
    MatrixRecord inv;
    ASSERT_TRUE(m.invert(inv));
    int covered = 0;
    for (int32_t y = 0; y < 70; ++y)
        for (int32_t x = 0; x < 80; ++x) {
            double u = x + 0.5, v = y + 0.5;
            ASSERT_TRUE(inv.transformPoint(u, v));
            // Skip centres within a hair of the picture's edge, where rounding may go either way.
            if (u < 0.01 || v < 0.01 || u > 39.99 || v > 29.99) {
                if (u < -0.01 || v < -0.01 || u > 40.01 || v > 30.01) {
                    EXPECT_EQ(d.pixel(x, y), 0xFF000000u) << x << "," << y;
                }
                continue;
            }
            ++covered;
            ASSERT_TRUE(near(d.pixel(x, y), sampleBilinear(s, u, v), 2)) << x << "," << y;
        }
    EXPECT_GT(covered, 1500);

    // A perspective matrix draws something, and nothing outside the destination.
    MatrixRecord persp = MatrixRecord::identity();
    persp.m[0][2] = doubleToFract(0.01);
    Pixmap pd(60, 60, 0xFF000000u);
    ASSERT_EQ(drawWarped(s, pd, persp), PixelStatus::Ok);
    EXPECT_NE(pd.pixel(5, 5), 0xFF000000u);
}
