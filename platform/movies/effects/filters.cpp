// One-source effects (filters). Colour filters keep the source's alpha.
#include "platform/movies/effects/effect_impl.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zef::movies::fx {

using namespace pixel;

namespace {

using Lut = std::array<uint8_t, 256>;

void copyAll(const Pixmap& s, Pixmap& d)
{
    for (int32_t y = 0; y < d.height(); ++y)
        std::memcpy(d.row(y), s.row(y), size_t(d.width()) * 4);
}

// Applies one table per colour channel, keeping alpha.
void applyLuts(const Pixmap& s, Pixmap& d, const Lut& r, const Lut& g, const Lut& b)
{
    for (int32_t y = 0; y < d.height(); ++y) {
        const uint32_t* in = s.row(y);
        uint32_t* out = d.row(y);
        for (int32_t x = 0; x < d.width(); ++x) {
            uint32_t p = in[x];
            out[x] = (p & 0xFF000000u) | (uint32_t(r[(p >> 16) & 255]) << 16) |
                     (uint32_t(g[(p >> 8) & 255]) << 8) | b[p & 255];
        }
    }
}

// Pixel (x, y) with coordinates clamped to the picture.
inline uint32_t at(const Pixmap& p, int32_t x, int32_t y)
{
    x = std::clamp(x, 0, p.width() - 1);
    y = std::clamp(y, 0, p.height() - 1);
    return p.row(y)[x];
}

// One value per pixel with a one-pixel border repeating the edges, so that 3 × 3
// neighbourhoods need no clamping: (w + 2) × (h + 2) values.
struct Plane {
    std::vector<uint8_t> v;
    int32_t stride = 0;
    const uint8_t* at(int32_t x, int32_t y) const
    {
        return &v[size_t(y + 1) * size_t(stride) + size_t(x + 1)];
    }
};

template <typename Value> Plane paddedPlane(const Pixmap& s, Value value)
{
    const int32_t w = s.width(), h = s.height();
    Plane p;
    p.stride = w + 2;
    p.v.resize(size_t(p.stride) * size_t(h + 2));
    for (int32_t y = -1; y <= h; ++y) {
        const uint32_t* in = s.row(std::clamp(y, 0, h - 1));
        uint8_t* o = &p.v[size_t(y + 1) * size_t(p.stride)];
        for (int32_t x = 0; x < w; ++x)
            o[x + 1] = value(in[x]);
        o[0] = o[1];
        o[w + 1] = o[w];
    }
    return p;
}

// The picture with a one-pixel border repeating its edges: (w + 2) × (h + 2) pixels.
Pixmap paddedPixels(const Pixmap& s)
{
    const int32_t w = s.width(), h = s.height();
    Pixmap p(w + 2, h + 2);
    for (int32_t y = -1; y <= h; ++y) {
        const uint32_t* in = s.row(std::clamp(y, 0, h - 1));
        uint32_t* o = p.row(y + 1);
        std::memcpy(o + 1, in, size_t(w) * 4);
        o[0] = in[0];
        o[w + 1] = in[w - 1];
    }
    return p;
}

// Sobel gradients of a padded plane at (x, y).
inline void sobel(const Plane& p, int32_t x, int32_t y, int& gx, int& gy)
{
    const uint8_t* c = p.at(x, y);
    const uint8_t* u = c - p.stride;
    const uint8_t* d = c + p.stride;
    gx = (u[1] + 2 * c[1] + d[1]) - (u[-1] + 2 * c[-1] + d[-1]);
    gy = (d[-1] + 2 * d[0] + d[1]) - (u[-1] + 2 * u[0] + u[1]);
}

// Vertical box pass: each output pixel is the mean of the 2r+1 pixels above and below it
// (edges extended). Rows are handled as byte arrays with one running sum per byte, which
// keeps every loop a plain element-wise one that vectorises.
ZEF_VECTOR_LOOP void addRow(uint32_t* sums, const uint8_t* row, int32_t n, uint32_t k)
{
    for (int32_t i = 0; i < n; ++i)
        sums[i] += k * row[i];
}

ZEF_VECTOR_LOOP void slideRow(uint32_t* sums, const uint8_t* in, const uint8_t* outgoing, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        sums[i] += uint32_t(in[i]) - uint32_t(outgoing[i]);
}

ZEF_VECTOR_LOOP void emitSums(const uint32_t* sums, uint8_t* out, int32_t n, uint32_t inv)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = uint8_t((sums[i] * inv + (1u << 23)) >> 24);
}

// Columns [inX, inX + cols) of in, blurred vertically into columns [outX, outX + cols) of out.
void boxVertical(const Pixmap& in, int32_t inX, Pixmap& out, int32_t outX, int32_t cols, int32_t r,
                 uint32_t inv, std::vector<uint32_t>& sums)
{
    const int32_t h = in.height(), n = cols * 4;
    auto bytes = [inX, &in](int32_t y) {
        return reinterpret_cast<const uint8_t*>(in.row(y) + inX);
    };
    sums.assign(size_t(n), 0);
    addRow(sums.data(), bytes(0), n, uint32_t(r + 1));
    for (int32_t i = 1; i <= r; ++i)
        addRow(sums.data(), bytes(std::min(i, h - 1)), n, 1);
    for (int32_t y = 0; y < h; ++y) {
        emitSums(sums.data(), reinterpret_cast<uint8_t*>(out.row(y) + outX), n, inv);
        slideRow(sums.data(), bytes(std::min(y + r + 1, h - 1)), bytes(std::max(y - r, 0)), n);
    }
}

// Horizontal box pass over one row, in place: a running sum of the 2r + 1 pixels around each
// pixel, edges extended. The four channels of a pixel are summed side by side in one vector
// register where the processor allows it.
void boxHorizontalScalar(uint32_t* row, int32_t w, int32_t r, uint32_t inv,
                         std::vector<uint32_t>& tmp)
{
    tmp.assign(row, row + w);
    uint32_t sum[4] = {0, 0, 0, 0};
    auto add = [&](uint32_t p, uint32_t k) {
        for (int c = 0; c < 4; ++c)
            sum[c] += k * ((p >> (8 * c)) & 255);
    };
    add(tmp[0], uint32_t(r + 1));
    for (int32_t i = 1; i <= r; ++i)
        add(tmp[size_t(std::min(i, w - 1))], 1);
    for (int32_t x = 0; x < w; ++x) {
        uint32_t o = 0;
        for (int c = 0; c < 4; ++c)
            o |= ((sum[c] * inv + (1u << 23)) >> 24) << (8 * c);
        row[x] = o;
        uint32_t pin = tmp[size_t(std::min(x + r + 1, w - 1))],
                 pout = tmp[size_t(std::max(x - r, 0))];
        for (int c = 0; c < 4; ++c)
            sum[c] += ((pin >> (8 * c)) & 255) - ((pout >> (8 * c)) & 255);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("sse4.1"))) inline __m128i widen(uint32_t p)
{
    return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(p)));
}

__attribute__((target("sse4.1"))) inline __m128i boxStep(uint32_t* out, __m128i sum, __m128i inv,
                                                         uint32_t pin, uint32_t pout)
{
    __m128i v =
        _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi32(sum, inv), _mm_set1_epi32(1 << 23)), 24);
    v = _mm_packus_epi32(v, v);
    *out = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    return _mm_add_epi32(sum, _mm_sub_epi32(widen(pin), widen(pout)));
}

__attribute__((target("sse4.1"))) void boxHorizontalSse41(uint32_t* row, int32_t w, int32_t r,
                                                          uint32_t inv, std::vector<uint32_t>& tmp)
{
    tmp.assign(row, row + w);
    const uint32_t* t = tmp.data();
    __m128i sum = _mm_mullo_epi32(widen(t[0]), _mm_set1_epi32(r + 1));
    for (int32_t i = 1; i <= r; ++i)
        sum = _mm_add_epi32(sum, widen(t[std::min(i, w - 1)]));
    const __m128i vinv = _mm_set1_epi32(int(inv));
    // Interior pixels need no clamping of the window.
    const int32_t lo = std::min(w, r), hi = std::max(lo, w - r - 1);
    int32_t x = 0;
    for (; x < lo; ++x)
        sum = boxStep(row + x, sum, vinv, t[std::min(x + r + 1, w - 1)], t[std::max(x - r, 0)]);
    for (; x < hi; ++x)
        sum = boxStep(row + x, sum, vinv, t[x + r + 1], t[x - r]);
    for (; x < w; ++x)
        sum = boxStep(row + x, sum, vinv, t[std::min(x + r + 1, w - 1)], t[std::max(x - r, 0)]);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// Two rows at once in 16-bit lanes (four channels of each row's pixel side by side). Exact for
// windows up to kPairMaxWindow pixels: sum / n is taken as (sum + n/2)·⌈65536/n⌉ >> 16, which
// rounds to nearest and returns v exactly for a flat run of v.
constexpr int32_t kPairMaxWindow = 127;

__attribute__((target("sse4.1"))) inline __m128i widen2(uint32_t p, uint32_t q)
{
    return _mm_cvtepu8_epi16(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(p)), _mm_cvtsi32_si128(int(q))));
}

__attribute__((target("sse4.1"))) void boxHorizontalPairSse41(uint32_t* row0, uint32_t* row1,
                                                              int32_t w, int32_t r,
                                                              std::vector<uint32_t>& tmp)
{
    tmp.resize(size_t(w) * 2);
    uint32_t* t0 = tmp.data();
    uint32_t* t1 = t0 + w;
    std::memcpy(t0, row0, size_t(w) * 4);
    std::memcpy(t1, row1, size_t(w) * 4);
    const int32_t n = 2 * r + 1;
    __m128i sum = _mm_mullo_epi16(widen2(t0[0], t1[0]), _mm_set1_epi16(short(r + 1)));
    for (int32_t i = 1; i <= r; ++i) {
        const int32_t k = std::min(i, w - 1);
        sum = _mm_add_epi16(sum, widen2(t0[k], t1[k]));
    }
    const __m128i bias = _mm_set1_epi16(short(n / 2));
    const __m128i inv = _mm_set1_epi16(short(uint16_t((65536 + n - 1) / n)));
    for (int32_t x = 0; x < w; ++x) {
        __m128i v = _mm_mulhi_epu16(_mm_add_epi16(sum, bias), inv);
        v = _mm_packus_epi16(v, v);
        row0[x] = uint32_t(_mm_cvtsi128_si32(v));
        row1[x] = uint32_t(_mm_extract_epi32(v, 1));
        const int32_t in = std::min(x + r + 1, w - 1), out = std::max(x - r, 0);
        sum = _mm_add_epi16(sum, _mm_sub_epi16(widen2(t0[in], t1[in]), widen2(t0[out], t1[out])));
    }
}
#endif

// Three horizontal box passes over every row of p.
void boxHorizontalAll(Pixmap& p, int32_t r, uint32_t inv)
{
    const int32_t w = p.width(), h = p.height();
    std::vector<uint32_t> tmp;
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool sse41 = __builtin_cpu_supports("sse4.1");
    if (sse41 && 2 * r + 1 <= kPairMaxWindow) {
        std::vector<uint32_t> spare;
        for (int32_t y = 0; y < h; y += 2) {
            uint32_t* r0 = p.row(y);
            uint32_t* r1 = r0;
            if (y + 1 < h) {
                r1 = p.row(y + 1);
            } else {
                spare.assign(r0, r0 + w); // an odd last row is paired with a copy of itself
                r1 = spare.data();
            }
            for (int pass = 0; pass < 3; ++pass)
                boxHorizontalPairSse41(r0, r1, w, r, tmp);
        }
        return;
    }
    if (sse41) {
        for (int32_t y = 0; y < h; ++y)
            for (int pass = 0; pass < 3; ++pass)
                boxHorizontalSse41(p.row(y), w, r, inv, tmp);
        return;
    }
#endif
    for (int32_t y = 0; y < h; ++y)
        for (int pass = 0; pass < 3; ++pass)
            boxHorizontalScalar(p.row(y), w, r, inv, tmp);
}

} // namespace

void boxBlur3(const Pixmap& src, Pixmap& dst, int32_t radius)
{
    const int32_t w = src.width(), h = src.height();
    if (radius <= 0 || src.isEmpty()) {
        copyAll(src, dst);
        return;
    }
    const uint32_t n = uint32_t(2 * radius + 1);
    const uint32_t inv = uint32_t(((1ull << 24) + n / 2) / n);
    bool opaque = true;
    for (int32_t y = 0; y < h && opaque; ++y) {
        uint32_t acc = 0xFFFFFFFFu;
        const uint32_t* r = src.row(y);
        for (int32_t x = 0; x < w; ++x)
            acc &= r[x];
        opaque = (acc >> 24) == 255;
    }
    // Work in dst: a copy of src (pre-multiplied when it has transparency).
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* in = src.row(y);
        uint32_t* out = dst.row(y);
        if (opaque) {
            if (in != out) std::memcpy(out, in, size_t(w) * 4);
        } else {
            for (int32_t x = 0; x < w; ++x)
                out[x] = premultiply(in[x]);
        }
    }
    // Three horizontal passes row by row (the row stays in cache), then three vertical ones.
    boxHorizontalAll(dst, radius, inv);
    // Vertical passes in strips of columns narrow enough for all three to run in cache:
    // dst → s1 → s2 → dst.
    constexpr int32_t kStrip = 64;
    const int32_t stripW = std::min(w, kStrip);
    Pixmap s1(stripW, h), s2(stripW, h);
    std::vector<uint32_t> sums;
    for (int32_t x0 = 0; x0 < w; x0 += kStrip) {
        const int32_t cols = std::min(w - x0, kStrip);
        boxVertical(dst, x0, s1, 0, cols, radius, inv, sums);
        boxVertical(s1, 0, s2, 0, cols, radius, inv, sums);
        boxVertical(s2, 0, dst, x0, cols, radius, inv, sums);
    }
    if (!opaque)
        for (int32_t y = 0; y < h; ++y) {
            uint32_t* row = dst.row(y);
            for (int32_t x = 0; x < w; ++x)
                row[x] = unpremultiply(row[x]);
        }
}

void alphaGain(const EffectContext& c)
{
    const double gain = c.num(fourcc("gain"));
    const int32_t offset = c.integer(fourcc("offs"));
    if (gain == 1.0 && offset == 0) {
        copyAll(*c.a, c.dst);
        return;
    }
    Lut lut;
    for (int i = 0; i < 256; ++i)
        lut[size_t(i)] = clamp8(int(std::lround(i * gain)) + offset);
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        const uint32_t* in = c.a->row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < c.dst.width(); ++x)
            out[x] = (in[x] & 0xFFFFFFu) | (uint32_t(lut[in[x] >> 24]) << 24);
    }
}

void blur(const EffectContext& c)
{
    const double r = c.num(fourcc("radi"));
    if (!(r >= 0.5)) {
        copyAll(*c.a, c.dst);
        return;
    }
    // Three box passes of equal width approximate a gaussian of sigma = radius / 2.
    const double sigma = r / 2.0;
    const double ideal = std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0);
    const int32_t box = std::max(1, int32_t(std::lround((ideal - 1.0) / 2.0)));
    boxBlur3(*c.a, c.dst, box);
}

void sharpen(const EffectContext& c)
{
    const int32_t k = int32_t(std::lround(c.num(fourcc("amnt")) * 256));
    if (k == 0) {
        copyAll(*c.a, c.dst);
        return;
    }
    const Pixmap& s = *c.a;
    const int32_t w = s.width(), h = s.height();
    const Pixmap pad = paddedPixels(s);
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* up = pad.row(y) + 1;
        const uint32_t* row = pad.row(y + 1) + 1;
        const uint32_t* dn = pad.row(y + 2) + 1;
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = row[x], l = row[x - 1], r = row[x + 1], u = up[x], d = dn[x];
            auto ch = [&](int sh) {
                int v = int((p >> sh) & 255);
                int nsum = int((l >> sh) & 255) + int((r >> sh) & 255) + int((u >> sh) & 255) +
                           int((d >> sh) & 255);
                // v + k·(4v − neighbours)/1024, rounded.
                return uint32_t(clamp8(v + ((k * (4 * v - nsum) + 512) >> 10)));
            };
            out[x] = (p & 0xFF000000u) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
        }
    }
}

void brightnessContrast(const EffectContext& c)
{
    const double bright = c.num(fourcc("brit")) * 2.55;
    const double cont = c.num(fourcc("cont")) / 100.0;
    const double factor = cont >= 0 ? 1.0 + 3.0 * cont : 1.0 + cont;
    Lut lut;
    for (int i = 0; i < 256; ++i)
        lut[size_t(i)] = clamp8d((i - 127.5) * factor + 127.5 + bright);
    applyLuts(*c.a, c.dst, lut, lut, lut);
}

void colourTint(const EffectContext& c)
{
    const uint32_t tint = c.colour(fourcc("tcol"));
    const uint32_t amount = weight256(float(c.num(fourcc("amnt"))));
    // Luma maps black → tint colour at mid-grey → white.
    std::array<uint32_t, 256> tone;
    for (int yv = 0; yv < 256; ++yv) {
        auto ch = [&](int sh) {
            int t = int((tint >> sh) & 255);
            int v = yv <= 128 ? (t * yv + 64) / 128 : t + ((255 - t) * (yv - 128) + 63) / 127;
            return uint32_t(clamp8(v));
        };
        tone[size_t(yv)] = (ch(16) << 16) | (ch(8) << 8) | ch(0);
    }
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        const uint32_t* in = c.a->row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < c.dst.width(); ++x) {
            uint32_t p = in[x];
            uint32_t t = tone[luma(p)] | (p & 0xFF000000u);
            out[x] = (mix256(p, t, amount) & 0xFFFFFFu) | (p & 0xFF000000u);
        }
    }
}

void colourStyle(const EffectContext& c)
{
    const int style = c.integer(fourcc("styl"));
    const int threshold = c.integer(fourcc("thrs"));
    const int levels = std::clamp(c.integer(fourcc("levl")), 2, 256);
    Lut lut;
    for (int i = 0; i < 256; ++i) {
        int v = i;
        if (style == 0 || style == 2)
            if (v >= threshold) v = 255 - v;
        if (style == 1 || style == 2) {
            int q = (v * (levels - 1) + 127) / 255;
            v = (q * 255 + (levels - 1) / 2) / (levels - 1);
        }
        lut[size_t(i)] = uint8_t(v);
    }
    applyLuts(*c.a, c.dst, lut, lut, lut);
}

void edgeDetection(const EffectContext& c)
{
    const Pixmap& s = *c.a;
    const int32_t w = s.width(), h = s.height();
    const double strength = c.num(fourcc("strn")) / 4.0;
    const bool invert = c.flag(fourcc("invt"));
    const float fstrength = float(strength);
    auto mag = [&](int gx, int gy) {
        uint8_t v = clamp8f(std::sqrt(float(gx * gx + gy * gy)) * fstrength);
        return uint32_t(invert ? 255 - v : v);
    };
    if (!c.flag(fourcc("colr"))) {
        const Plane l = paddedPlane(s, [](uint32_t p) { return uint8_t(luma(p)); });
        for (int32_t y = 0; y < h; ++y) {
            uint32_t* out = c.dst.row(y);
            const uint32_t* in = s.row(y);
            for (int32_t x = 0; x < w; ++x) {
                int gx, gy;
                sobel(l, x, y, gx, gy);
                uint32_t v = mag(gx, gy);
                out[x] = (in[x] & 0xFF000000u) | (v << 16) | (v << 8) | v;
            }
        }
        return;
    }
    for (int sh : {16, 8, 0}) {
        const Plane plane = paddedPlane(s, [sh](uint32_t p) { return uint8_t((p >> sh) & 255); });
        for (int32_t y = 0; y < h; ++y) {
            uint32_t* out = c.dst.row(y);
            for (int32_t x = 0; x < w; ++x) {
                int gx, gy;
                sobel(plane, x, y, gx, gy);
                uint32_t v = mag(gx, gy);
                uint32_t keep = sh == 16 ? (s.row(y)[x] & 0xFF000000u) : out[x] & ~(0xFFu << sh);
                out[x] = keep | (v << sh);
            }
        }
    }
}

void emboss(const EffectContext& c)
{
    const Pixmap& s = *c.a;
    const int32_t w = s.width(), h = s.height();
    const double a = c.num(fourcc("angl")) * std::numbers::pi / 180.0;
    // Light from the given direction (0° = from the right, 90° = from above).
    const double lx = -std::cos(a), ly = std::sin(a);
    const double k = c.num(fourcc("strn")) / 8.0;
    const Plane l = paddedPlane(s, [](uint32_t p) { return uint8_t(luma(p)); });
    const float kx = float(lx * k), ky = float(ly * k);
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* out = c.dst.row(y);
        const uint32_t* in = s.row(y);
        for (int32_t x = 0; x < w; ++x) {
            int gx, gy;
            sobel(l, x, y, gx, gy);
            uint32_t v = clamp8f(128.0f + float(gx) * kx + float(gy) * ky);
            out[x] = (in[x] & 0xFF000000u) | (v << 16) | (v << 8) | v;
        }
    }
}

namespace {

// Darkens (or lightens) a soft disc into the picture.
void stamp(Pixmap& d, float cx, float cy, float radius, uint32_t colour, float opacity)
{
    const int32_t x0 = std::max(0, int32_t(std::floor(cx - radius - 1)));
    const int32_t x1 = std::min(d.width(), int32_t(std::ceil(cx + radius + 1)));
    const int32_t y0 = std::max(0, int32_t(std::floor(cy - radius - 1)));
    const int32_t y1 = std::min(d.height(), int32_t(std::ceil(cy + radius + 1)));
    for (int32_t y = y0; y < y1; ++y) {
        uint32_t* row = d.row(y);
        for (int32_t x = x0; x < x1; ++x) {
            float dx = float(x) + 0.5f - cx, dy = float(y) + 0.5f - cy;
            float cover = std::clamp(radius + 0.5f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
            if (cover <= 0) continue;
            uint32_t w = weight256(cover * opacity);
            row[x] = (mix256(row[x], colour, w) & 0xFFFFFFu) | (row[x] & 0xFF000000u);
        }
    }
}

} // namespace

void filmNoise(const EffectContext& c)
{
    const Pixmap& s = *c.a;
    Pixmap& d = c.dst;
    const int32_t w = s.width(), h = s.height();
    const uint32_t seed = uint32_t(c.integer(fourcc("seed")));
    const int64_t t = c.ticks600();
    const uint32_t frame = hash3(seed, uint32_t(t), uint32_t(uint64_t(t) >> 32));
    const float fade = float(c.num(fourcc("fade"))) / 100.0f;
    const float grain = float(c.num(fourcc("grai"))) / 100.0f * 64.0f;
    const uint32_t fadeW = weight256(fade);
    const int grainScale = int(grain + 0.5f);
    // Faded, warm old-film colours plus per-pixel grain.
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* in = s.row(y);
        uint32_t* out = d.row(y);
        for (int32_t x = 0; x < w; ++x) {
            uint32_t p = in[x];
            if (fadeW) {
                uint32_t yl = luma(p);
                uint32_t sep = pack(p >> 24, std::min<uint32_t>(255, yl * 276 / 256),
                                    yl * 240 / 256, yl * 200 / 256);
                p = (mix256(p, sep, fadeW) & 0xFFFFFFu) | (p & 0xFF000000u);
            }
            if (grainScale > 0) {
                uint32_t hsh =
                    hash32(frame + uint32_t(y) * 0x9E3779B1u + uint32_t(x) * 0x85EBCA77u);
                // Symmetric noise in ±grain/2 from the hash's top 16 bits.
                int n = ((int(hsh >> 16) - 32768) * grainScale + (1 << 15)) >> 16;
                p = pack(p >> 24, clamp8(int((p >> 16) & 255) + n), clamp8(int((p >> 8) & 255) + n),
                         clamp8(int(p & 255) + n));
            }
            out[x] = p;
        }
    }
    const float scale = std::sqrt(float(w) * float(h) / (640.0f * 480.0f));
    // Dust: a few specks per frame, mostly dark.
    const int dust = int(std::lround(c.num(fourcc("dust")) / 100.0 * 24.0 * scale));
    for (int i = 0; i < dust; ++i) {
        uint32_t h1 = hash3(frame, 0x44555354u, uint32_t(i));
        uint32_t h2 = hash32(h1 + 1), h3 = hash32(h1 + 2);
        float cx = unit(h1) * float(w), cy = unit(h2) * float(h);
        float r = (0.6f + 2.4f * unit(h3)) * scale;
        uint32_t col = (h3 & 7) == 0 ? 0xFFF0F0F0u : 0xFF101010u;
        stamp(d, cx, cy, r, col, 0.85f);
    }
    // Hairs: thin curved lines.
    const int hairs = int(std::lround(c.num(fourcc("hair")) / 100.0 * 5.0));
    for (int i = 0; i < hairs; ++i) {
        uint32_t h1 = hash3(frame, 0x48414952u, uint32_t(i));
        if (unit(hash32(h1 + 7)) > 0.6f) continue; // not every hair shows on every frame
        float x0 = unit(h1) * float(w), y0 = unit(hash32(h1 + 1)) * float(h);
        float len = (20.0f + 60.0f * unit(hash32(h1 + 2))) * scale;
        float a0 = unit(hash32(h1 + 3)) * 6.2831853f;
        float bend = (unit(hash32(h1 + 4)) - 0.5f) * 3.0f;
        int steps = std::max(2, int(len * 2));
        for (int k = 0; k <= steps; ++k) {
            float u = float(k) / float(steps);
            float ang = a0 + bend * u;
            float px = x0 + std::cos(ang) * len * u, py = y0 + std::sin(ang) * len * u;
            stamp(d, px, py, 0.5f * scale, 0xFF181818u, 0.6f);
        }
    }
}

namespace {

void rgbToHsl(float r, float g, float b, float& h, float& s, float& l)
{
    float mx = std::max({r, g, b}), mn = std::min({r, g, b});
    l = (mx + mn) * 0.5f;
    float dlt = mx - mn;
    if (dlt <= 0) {
        h = s = 0;
        return;
    }
    s = l > 0.5f ? dlt / (2.0f - mx - mn) : dlt / (mx + mn);
    if (mx == r)
        h = (g - b) / dlt + (g < b ? 6.0f : 0.0f);
    else if (mx == g)
        h = (b - r) / dlt + 2.0f;
    else
        h = (r - g) / dlt + 4.0f;
    h /= 6.0f;
}

float hueChannel(float p, float q, float t)
{
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0f / 6) return p + (q - p) * 6 * t;
    if (t < 0.5f) return q;
    if (t < 2.0f / 3) return p + (q - p) * (2.0f / 3 - t) * 6;
    return p;
}

} // namespace

void hslBalance(const EffectContext& c)
{
    const float dh = float(c.num(fourcc("hue "))) / 360.0f;
    const float ds = float(c.num(fourcc("satu"))) / 100.0f;
    const float dl = float(c.num(fourcc("lite"))) / 100.0f;
    if (dh == 0 && ds == 0 && dl == 0) {
        copyAll(*c.a, c.dst);
        return;
    }
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        const uint32_t* in = c.a->row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < c.dst.width(); ++x) {
            uint32_t p = in[x];
            float h, s, l;
            rgbToHsl(float((p >> 16) & 255) / 255.f, float((p >> 8) & 255) / 255.f,
                     float(p & 255) / 255.f, h, s, l);
            h += dh;
            h -= std::floor(h);
            s = std::clamp(ds >= 0 ? s + (1 - s) * ds : s * (1 + ds), 0.0f, 1.0f);
            l = std::clamp(dl >= 0 ? l + (1 - l) * dl : l * (1 + dl), 0.0f, 1.0f);
            float r, g, b;
            if (s <= 0) {
                r = g = b = l;
            } else {
                float q = l < 0.5f ? l * (1 + s) : l + s - l * s;
                float pp = 2 * l - q;
                r = hueChannel(pp, q, h + 1.0f / 3);
                g = hueChannel(pp, q, h);
                b = hueChannel(pp, q, h - 1.0f / 3);
            }
            out[x] = pack(p >> 24, clamp8f(r * 255), clamp8f(g * 255), clamp8f(b * 255));
        }
    }
}

void rgbBalance(const EffectContext& c)
{
    Lut luts[3];
    const FourCC codes[3] = {fourcc("redg"), fourcc("grng"), fourcc("blug")};
    for (int k = 0; k < 3; ++k) {
        double g = c.num(codes[k]);
        for (int i = 0; i < 256; ++i)
            luts[k][size_t(i)] = clamp8d(i * g);
    }
    applyLuts(*c.a, c.dst, luts[0], luts[1], luts[2]);
}

void convolution(const EffectContext& c)
{
    int k[9];
    int sum = 0;
    for (int i = 0; i < 9; ++i) {
        k[i] = c.integer(fourcc("kn11") + FourCC(((i / 3) << 8) | (i % 3)));
        sum += k[i];
    }
    int div = c.integer(fourcc("divs"));
    if (div == 0) div = sum != 0 ? sum : 1; // 0 asks for the kernel's own sum
    const int bias = c.integer(fourcc("bias"));
    const Pixmap& s = *c.a;
    const int32_t w = s.width(), h = s.height();
    const Pixmap pad = paddedPixels(s);
    // Division rounded to nearest, halves away from zero, by multiplying with the reciprocal.
    const float invDiv = 1.0f / float(std::abs(div));
    const bool negate = div < 0;
    auto fin = [&](int v) {
        int q = int(float(std::abs(v)) * invDiv + 0.5f);
        if ((v < 0) != negate) q = -q;
        return uint32_t(clamp8(q + bias));
    };
    // Only the kernel's non-zero taps are visited.
    struct Tap {
        int row, dx, k;
    } taps[9];
    int tapCount = 0;
    for (int i = 0; i < 9; ++i)
        if (k[i]) taps[tapCount++] = Tap{i / 3, i % 3 - 1, k[i]};
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* rows[3] = {pad.row(y) + 1, pad.row(y + 1) + 1, pad.row(y + 2) + 1};
        const uint32_t* in = s.row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < w; ++x) {
            int acc[3] = {0, 0, 0};
            for (int t = 0; t < tapCount; ++t) {
                const uint32_t p = rows[taps[t].row][x + taps[t].dx];
                acc[0] += taps[t].k * int((p >> 16) & 255);
                acc[1] += taps[t].k * int((p >> 8) & 255);
                acc[2] += taps[t].k * int(p & 255);
            }
            out[x] = (in[x] & 0xFF000000u) | (fin(acc[0]) << 16) | (fin(acc[1]) << 8) | fin(acc[2]);
        }
    }
}

void lensFlare(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const ParamValue pos = c.point(fourcc("posn"));
    const float px = float(pos.x) * w, py = float(pos.y) * h;
    const float bright = float(c.num(fourcc("brit")));
    const uint32_t col = c.colour(fourcc("fcol"));
    const float cr = float((col >> 16) & 255) / 255.f, cg = float((col >> 8) & 255) / 255.f,
                cb = float(col & 255) / 255.f;
    const float diag = std::sqrt(float(w) * w + float(h) * h);
    const float glow = 0.06f * diag, halo = 0.14f * diag, haloW = 0.012f * diag;
    // Ghost discs along the line from the light through the centre.
    struct Ghost {
        float x, y, r, amount, tr, tg, tb;
    };
    const float mx = w * 0.5f, my = h * 0.5f;
    const Ghost ghosts[4] = {
        {px + (mx - px) * 0.6f, py + (my - py) * 0.6f, 0.025f * diag, 0.25f, 0.6f, 0.8f, 1.0f},
        {px + (mx - px) * 1.3f, py + (my - py) * 1.3f, 0.04f * diag, 0.18f, 1.0f, 0.7f, 0.4f},
        {px + (mx - px) * 1.7f, py + (my - py) * 1.7f, 0.015f * diag, 0.35f, 0.5f, 1.0f, 0.6f},
        {px + (mx - px) * 2.1f, py + (my - py) * 2.1f, 0.06f * diag, 0.12f, 0.7f, 0.6f, 1.0f}};
    // The glow and the streak are separable: exp(−(dx² + dy²)/2σ²) = gx(dx)·gy(dy), and the
    // streak is a product of one factor per axis too. Per-column tables and one factor per row
    // leave only the thin halo ring and the ghost discs to work out per pixel.
    std::vector<float> coreX(static_cast<size_t>(w)), streakX(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) {
        const float dx = float(x) + 0.5f - px;
        coreX[size_t(x)] = std::exp(-(dx * dx) / (2 * glow * glow));
        streakX[size_t(x)] = std::exp(-std::fabs(dx) / (0.35f * diag)) * 0.4f;
    }
    const float ringReach = halo + 5 * haloW, ringInner = std::max(0.0f, halo - 5 * haloW);
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* in = c.a->row(y);
        uint32_t* out = c.dst.row(y);
        const float fy = float(y) + 0.5f, dy = fy - py;
        const float coreY = std::exp(-(dy * dy) / (2 * glow * glow));
        const float streakY = std::exp(-std::fabs(dy) / (0.004f * diag + 1));
        const bool ringRow = std::fabs(dy) < ringReach;
        bool ghostRow[4];
        for (int k = 0; k < 4; ++k)
            ghostRow[k] = std::fabs(fy - ghosts[k].y) < ghosts[k].r + 1.5f;
        for (int32_t x = 0; x < w; ++x) {
            const float fx = float(x) + 0.5f, dx = fx - px;
            const float base = coreX[size_t(x)] * coreY + streakX[size_t(x)] * streakY;
            float fr = base * cr, fg = base * cg, fb = base * cb;
            if (ringRow) {
                const float r2 = dx * dx + dy * dy;
                if (r2 < ringReach * ringReach && r2 > ringInner * ringInner) {
                    const float d = std::sqrt(r2) - halo;
                    const float ring = std::exp(-(d * d) / (2 * haloW * haloW)) * 0.25f;
                    fr += ring * 0.9f * cr;
                    fg += ring * 0.6f * cg;
                    fb += ring * cb;
                }
            }
            for (int k = 0; k < 4; ++k) {
                if (!ghostRow[k]) continue;
                const Ghost& g = ghosts[k];
                float gx = fx - g.x, gy = fy - g.y;
                float g2 = gx * gx + gy * gy;
                if (g2 >= (g.r + 1.5f) * (g.r + 1.5f)) continue;
                float e = std::clamp(g.r + 1.0f - std::sqrt(g2), 0.0f, 1.0f) * g.amount;
                fr += e * g.tr;
                fg += e * g.tg;
                fb += e * g.tb;
            }
            uint32_t p = in[x];
            auto screen = [&](int sh, float f) {
                float v = float((p >> sh) & 255);
                float o = 255.0f - (255.0f - v) * (1.0f - std::clamp(f * bright, 0.0f, 1.0f));
                return uint32_t(clamp8f(o));
            };
            out[x] =
                (p & 0xFF000000u) | (screen(16, fr) << 16) | (screen(8, fg) << 8) | screen(0, fb);
        }
    }
}

} // namespace zef::movies::fx
