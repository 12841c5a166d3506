// The 4:2:0 conversion of pictures for the encoders, against the colour equations worked out in
// floating point.
#include "platform/movies/export/yuv420.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace zef::movies::exportav {
namespace {

TEST(Yuv420, EveryMatrixMatchesTheColourEquationsWithinOneStep)
{
    // 38 columns: two vector blocks of luma and four of chroma, then the scalar tails. The
    // first pixels are the extremes (white, black, pure blue, pure red), the rest random.
    const int width = 38, height = 6;
    Pixmap picture(width, height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.row(y)[x] = uint32_t(random());
    const uint32_t extremes[4] = {0xFFFFFFFF, 0x00000000, 0xFF0000FF, 0x80FF0000};
    for (int i = 0; i < 4; ++i) {
        // Whole 2 × 2 blocks, so that the chroma sees the pure colour.
        const int x = 2 * i;
        picture.row(0)[x] = picture.row(0)[x + 1] = extremes[i];
        picture.row(1)[x] = picture.row(1)[x + 1] = extremes[i];
    }

    for (const YuvMatrix m : {YuvMatrix{false, false}, YuvMatrix{true, false},
                              YuvMatrix{false, true}, YuvMatrix{true, true}}) {
        SCOPED_TRACE(::testing::Message() << "bt709 " << m.bt709 << " full " << m.fullRange);
        const int cw = width / 2, ch = height / 2;
        std::vector<uint8_t> luma(size_t(width * height)), cb(size_t(cw * ch)), cr(cb.size());
        uint8_t* const planes[3] = {luma.data(), cb.data(), cr.data()};
        const int strides[3] = {width, cw, cw};
        bgraToYuv420(picture, planes, strides, m);

        const double kr = m.bt709 ? 0.2126 : 0.299, kb = m.bt709 ? 0.0722 : 0.114;
        const double kg = 1 - kr - kb;
        const double ys = m.fullRange ? 1 : 219.0 / 255, yo = m.fullRange ? 0 : 16;
        const double cs = m.fullRange ? 1 : 224.0 / 255;
        auto lumaOf = [&](double r, double g, double b) {
            return yo + ys * (kr * r + kg * g + kb * b);
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t p = picture.pixel(x, y);
                const double expected = lumaOf(redOf(p), greenOf(p), blueOf(p));
                ASSERT_LE(std::abs(luma[size_t(y * width + x)] - expected), 1.0) << x << "," << y;
            }
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                double r = 0, g = 0, b = 0;
                for (int k = 0; k < 4; ++k) {
                    const uint32_t p = picture.pixel(2 * x + k % 2, 2 * y + k / 2);
                    r += redOf(p) / 4.0;
                    g += greenOf(p) / 4.0;
                    b += blueOf(p) / 4.0;
                }
                const double l = kr * r + kg * g + kb * b;
                const double u = std::min(255.0, 128 + cs * (b - l) / (2 * (1 - kb)));
                const double v = std::min(255.0, 128 + cs * (r - l) / (2 * (1 - kr)));
                ASSERT_LE(std::abs(cb[size_t(y * cw + x)] - u), 1.0) << x << "," << y;
                ASSERT_LE(std::abs(cr[size_t(y * cw + x)] - v), 1.0) << x << "," << y;
            }
        // The ends of the ranges are met exactly: white, black and grey carry no chroma.
        EXPECT_EQ(luma[0], m.fullRange ? 255 : 235);
        EXPECT_EQ(luma[2], m.fullRange ? 0 : 16);
        EXPECT_EQ(cb[0], 128);
        EXPECT_EQ(cr[1], 128);
        EXPECT_EQ(cb[2], m.fullRange ? 255 : 240);
        EXPECT_EQ(cr[3], m.fullRange ? 255 : 240);
    }
}

} // namespace
} // namespace zef::movies::exportav
