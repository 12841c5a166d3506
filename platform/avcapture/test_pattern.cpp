#include "platform/avcapture/test_pattern.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zef::avcapture {

namespace {

// Digits 0-9 as 5 × 7 dots, one row a byte (bit 4 the leftmost dot).
constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

constexpr uint8_t kBars[7][3] = {{192, 192, 192}, {0, 192, 192}, {192, 192, 0}, {0, 192, 0},
                                 {192, 0, 192},   {0, 0, 192},   {192, 0, 0}}; // BGR

void fill(uint8_t* bgra, int width, int height, int x0, int y0, int w, int h, uint8_t b, uint8_t g,
          uint8_t r)
{
    const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        uint8_t* p = bgra + (size_t(y) * width + std::max(0, x0)) * 4;
        for (int x = std::max(0, x0); x < x1; ++x, p += 4) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = 255;
        }
    }
}

// The counter blocks: kCounterBits blocks in a row across the top after a white start block,
// each 1/(bits + 4) of the picture's width wide and 1/18 of its height high. Both are
// fractions of the picture, so a picture scaled to another size (a DV frame) reads the same.
constexpr int kColumns = kCounterBits + 4;
constexpr int kRows = 18;

int blockLeft(int width, int column) { return int(std::lround(double(column) * width / kColumns)); }
int blockHeight(int height) { return int(std::lround(double(height) / kRows)); }

} // namespace

void drawPattern(uint8_t* bgra, int width, int height, int64_t n)
{
    const int bar = std::max(1, width / 7);
    const int shift = int((n * 4) % width);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = bgra + size_t(y) * width * 4;
        for (int x = 0; x < width; ++x, p += 4) {
            const uint8_t* c = kBars[((x + shift) % width) / bar % 7];
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
            p[3] = 255;
        }
    }
    // The counter row on black.
    const int h = blockHeight(height);
    fill(bgra, width, height, 0, 0, width, 2 * h, 0, 0, 0);
    auto block = [&](int column, uint8_t v) {
        const int x = blockLeft(width, column);
        fill(bgra, width, height, x, h / 2, blockLeft(width, column + 1) - x, h, v, v, v);
    };
    block(1, 255); // start block
    for (int i = 0; i < kCounterBits; ++i)
        block(i + 3, ((n >> (kCounterBits - 1 - i)) & 1) ? 255 : 0);
    // The number in digits, centred on a black plate.
    char text[24];
    int digits = 0;
    int64_t v = n < 0 ? 0 : n;
    do {
        text[digits++] = char('0' + v % 10);
        v /= 10;
    } while (v && digits < 20);
    const int dot = std::max(2, height / 40);
    const int tw = digits * 6 * dot, th = 9 * dot;
    const int tx = (width - tw) / 2, ty = (height - th) / 2;
    fill(bgra, width, height, tx - dot, ty, tw + dot, th, 0, 0, 0);
    for (int d = 0; d < digits; ++d) {
        const uint8_t* glyph = kDigits[text[digits - 1 - d] - '0'];
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyph[row] & (0x10 >> col))
                    fill(bgra, width, height, tx + (d * 6 + col) * dot, ty + (row + 1) * dot, dot,
                         dot, 255, 255, 255);
    }
}

int64_t readPatternCounter(const uint8_t* luma, int width, int height, int stride)
{
    const int h = blockHeight(height), w = width / kColumns;
    if (w < 2 || h < 2) return -1;
    // Each block is read at its centre, over its inner half.
    auto level = [&](int block) {
        const int cx = int(std::lround((block + 0.5) * width / kColumns)), cy = h;
        int sum = 0, count = 0;
        for (int y = cy - h / 4; y <= cy + h / 4; ++y)
            for (int x = cx - w / 4; x <= cx + w / 4; ++x, ++count)
                sum += luma[size_t(y) * stride + x];
        return sum / std::max(1, count);
    };
    if (level(1) < 160 || level(0) > 96) return -1; // no start block on black
    int64_t n = 0;
    for (int i = 0; i < kCounterBits; ++i) {
        const int l = level(i + 3);
        if (l > 96 && l < 160) return -1; // neither black nor white
        n = (n << 1) | (l >= 128 ? 1 : 0);
    }
    return n;
}

void fillTone(int16_t* out, int64_t first, int count)
{
    const int64_t beep = int64_t(kBeepSeconds * kToneRate);
    for (int i = 0; i < count; ++i) {
        const int64_t s = first + i;
        const int64_t inSecond = ((s % kToneRate) + kToneRate) % kToneRate;
        int16_t v = 0;
        if (inSecond < beep)
            v = int16_t(std::lround(
                16000.0 * std::sin(2 * std::numbers::pi * kBeepHz * double(inSecond) / kToneRate)));
        for (int c = 0; c < kToneChannels; ++c)
            out[size_t(i) * kToneChannels + c] = v;
    }
}

} // namespace zef::avcapture
