#include "platform/movies/composite/warp.h"

#include "platform/movies/composite/pixel_ops.h"

#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <vector>

namespace zef::movies {

using namespace pixel;

namespace {

constexpr int kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;

// For one axis: which source samples, with which weights, make each destination pixel.
struct AxisTaps {
    int32_t d0 = 0, d1 = 0;      // destination pixels drawn: [d0, d1)
    int32_t stride = 2;          // weights per destination pixel
    std::vector<int32_t> first;  // first source index per destination pixel
    std::vector<int32_t> weight; // stride weights per destination pixel, summing to kWeightOne
    int32_t srcMin = 0, srcMax = -1;
};

// Destination coordinate X = scale·u + offset, source span [lo, hi), destination pixels
// [c0, c1) allowed. Returns false when no destination pixel is covered.
bool makeTaps(double scale, double offset, int32_t lo, int32_t hi, int32_t c0, int32_t c1,
              AxisTaps& t)
{
    if (!(std::fabs(scale) > 1e-9) || hi <= lo || c1 <= c0) return false;
    // Covered destination pixels: centres mapping into [lo, hi).
    double e0 = scale * lo + offset, e1 = scale * hi + offset;
    if (e0 > e1) std::swap(e0, e1);
    // centre x + 0.5 in [e0, e1) (for a flip the open end swaps; a centre exactly on the
    // edge is rare and harmless either way).
    double first = std::ceil(e0 - 0.5), last = std::ceil(e1 - 0.5); // [first, last)
    first = std::max(first, double(c0));
    last = std::min(last, double(c1));
    if (!(first < last)) return false;
    t.d0 = int32_t(first);
    t.d1 = int32_t(last);
    const double inv = 1.0 / std::fabs(scale);
    const bool area = inv > 2.0;
    t.stride = area ? int32_t(std::ceil(inv)) + 2 : 2;
    const size_t n = size_t(t.d1 - t.d0);
    t.first.assign(n, 0);
    t.weight.assign(n * size_t(t.stride), 0);
    t.srcMin = hi;
    t.srcMax = lo - 1;
    std::vector<double> w(size_t(t.stride));
    for (size_t i = 0; i < n; ++i) {
        double u = (double(t.d0) + double(i) + 0.5 - offset) / scale;
        int32_t i0;
        int32_t count;
        if (!area) {
            double f = u - 0.5;
            double fl = std::floor(f);
            double fr = f - fl;
            i0 = int32_t(fl);
            w[0] = 1.0 - fr;
            w[1] = fr;
            count = 2;
            // Edge pixels extend outwards.
            if (i0 < lo) {
                i0 = lo;
                w[0] = 1;
                w[1] = 0;
            }
            if (i0 >= hi - 1) {
                i0 = hi - 1;
                w[0] = 1;
                w[1] = 0;
            }
        } else {
            double a = std::max(u - inv / 2, double(lo)), b = std::min(u + inv / 2, double(hi));
            i0 = int32_t(std::floor(a));
            int32_t i1 = std::min(int32_t(std::ceil(b)), hi); // exclusive
            count = std::max(1, std::min(i1 - i0, t.stride));
            double total = 0;
            for (int32_t k = 0; k < count; ++k) {
                double cl = std::max(a, double(i0 + k)), cr = std::min(b, double(i0 + k + 1));
                w[size_t(k)] = std::max(0.0, cr - cl);
                total += w[size_t(k)];
            }
            if (total <= 0) {
                w[0] = 1;
                total = 1;
                count = 1;
            }
            for (int32_t k = 0; k < count; ++k)
                w[size_t(k)] /= total;
        }
        // Integer weights summing exactly to one, so that flat areas stay exact.
        int32_t* wi = &t.weight[i * size_t(t.stride)];
        int32_t sum = 0, best = 0;
        for (int32_t k = 0; k < count; ++k) {
            wi[k] = int32_t(std::lround(w[size_t(k)] * kWeightOne));
            sum += wi[k];
            if (wi[k] > wi[best]) best = k;
        }
        wi[best] += kWeightOne - sum;
        // A zero-weight second tap may sit past the span's end; pull it back.
        if (count == 2 && i0 + 1 >= hi) wi[0] += wi[1], wi[1] = 0;
        t.first[i] = i0;
        t.srcMin = std::min(t.srcMin, i0);
        int32_t lastUsed = i0;
        for (int32_t k = 0; k < count; ++k)
            if (wi[k]) lastUsed = i0 + k;
        t.srcMax = std::max(t.srcMax, lastUsed);
    }
    return true;
}

bool regionOpaque(const Pixmap& p, const Rect& r)
{
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint32_t* row = p.row(y);
        uint32_t acc = 0xFFFFFFFFu;
        for (int32_t x = r.left; x < r.right; ++x)
            acc &= row[x];
        if ((acc >> 24) != 255) return false;
    }
    return true;
}

// Weighted sum of taps, per channel; weights sum to kWeightOne.
inline uint32_t applyTaps(const uint32_t* const* px, const int32_t* w, int32_t count)
{
    uint32_t a = kWeightOne / 2, r = kWeightOne / 2, g = kWeightOne / 2, b = kWeightOne / 2;
    for (int32_t k = 0; k < count; ++k) {
        uint32_t p = *px[k];
        uint32_t wk = uint32_t(w[k]);
        a += (p >> 24) * wk;
        r += ((p >> 16) & 255) * wk;
        g += ((p >> 8) & 255) * wk;
        b += (p & 255) * wk;
    }
    return pack(a >> kWeightBits, r >> kWeightBits, g >> kWeightBits, b >> kWeightBits);
}

// A 14-bit second-tap weight as a 0..256 blend weight.
inline uint32_t to256(int32_t w1) { return uint32_t((w1 * 256 + kWeightOne / 2) >> kWeightBits); }

ZEF_VECTOR_LOOP void blendRows(const uint32_t* r0, const uint32_t* r1, uint32_t* out, int32_t n,
                               uint32_t w)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = mix256(r0[i], r1[i], w);
}

ZEF_VECTOR_LOOP void horizontal2(const uint32_t* row, const int32_t* first, const uint32_t* w,
                                 uint32_t* out, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const int32_t f = first[i];
        // A zero second weight may name a pixel past the row's end: read the first again.
        const int32_t g = w[i] ? f + 1 : f;
        out[i] = mix256(row[f], row[g], w[i]);
    }
}

// Sends one finished destination row span [x0, x1) at row y through the clip and the mode.
void emitRow(const uint32_t* buf, int32_t bufX0, Pixmap& dst, int32_t y, int32_t x0, int32_t x1,
             const ClipRegion& clip, int32_t mode, uint32_t op)
{
    clip.forEachRun(y, x0, x1, [&](int32_t l, int32_t r) {
        compositeRow(buf + (l - bufX0), dst.row(y) + l, r - l, mode, op);
    });
}

PixelStatus resampleAxisAligned(const Pixmap& src, const Rect& srcRect, Pixmap& dst, double sx,
                                double tx, double sy, double ty, int32_t mode, uint32_t op,
                                const ClipRegion& clip)
{
    Rect sr = intersect(srcRect, src.bounds());
    if (sr.isEmpty() || clip.isEmpty()) return PixelStatus::Ok;
    Rect cb = clip.bounds();
    AxisTaps h, v;
    if (!makeTaps(sx, tx, sr.left, sr.right, cb.left, cb.right, h)) return PixelStatus::Ok;
    if (!makeTaps(sy, ty, sr.top, sr.bottom, cb.top, cb.bottom, v)) return PixelStatus::Ok;

    // Source pictures with transparency are filtered pre-multiplied.
    const Pixmap* from = &src;
    Pixmap premul;
    const bool opaque = regionOpaque(src, sr);
    if (!opaque) {
        premul = src;
        for (int32_t y = sr.top; y < sr.bottom; ++y) {
            uint32_t* row = premul.row(y);
            for (int32_t x = sr.left; x < sr.right; ++x)
                row[x] = premultiply(row[x]);
        }
        from = &premul;
    }

    const int32_t outW = h.d1 - h.d0;
    const int32_t rows = v.srcMax - v.srcMin + 1;
    const int32_t outH = v.d1 - v.d0;
    if (h.stride == 2 && v.stride == 2 && outH < rows) {
        // Bilinear and fewer output rows than source rows: blend the two source rows of each
        // output row first (a plain vector loop), then pick columns from that one row.
        const int32_t c0 = h.srcMin, span = h.srcMax - h.srcMin + 1;
        std::vector<uint32_t> blended(static_cast<size_t>(span)), line(static_cast<size_t>(outW));
        std::vector<int32_t> first(h.first);
        std::vector<uint32_t> w8(static_cast<size_t>(outW));
        for (size_t i = 0; i < w8.size(); ++i) {
            first[i] -= c0;
            w8[i] = to256(h.weight[i * 2 + 1]);
        }
        for (int32_t y = v.d0; y < v.d1; ++y) {
            const size_t iy = size_t(y - v.d0);
            const int32_t f = v.first[iy];
            const uint32_t wy = to256(v.weight[iy * 2 + 1]);
            const uint32_t* r0 = from->row(f) + c0;
            if (wy == 0)
                std::copy(r0, r0 + span, blended.begin());
            else
                blendRows(r0, from->row(f + 1) + c0, blended.data(), span, wy);
            horizontal2(blended.data(), first.data(), w8.data(), line.data(), outW);
            if (!opaque)
                for (auto& p : line)
                    p = unpremultiply(p);
            emitRow(line.data(), h.d0, dst, y, h.d0, h.d1, clip, mode, op);
        }
        return PixelStatus::Ok;
    }
    // Horizontal pass over the source rows the vertical taps need.
    std::vector<uint32_t> mid(size_t(outW) * size_t(rows));
    std::vector<const uint32_t*> ptrs(size_t(h.stride));
    // Two-tap (bilinear) weights as 0..256 for the packed-channel blends.
    std::vector<uint32_t> w8(h.stride == 2 ? size_t(outW) : 0);
    for (size_t i = 0; i < w8.size(); ++i)
        w8[i] = to256(h.weight[i * 2 + 1]);
    for (int32_t sy0 = 0; sy0 < rows; ++sy0) {
        const uint32_t* srow = from->row(v.srcMin + sy0);
        uint32_t* out = &mid[size_t(sy0) * size_t(outW)];
        if (h.stride == 2) {
            horizontal2(srow, h.first.data(), w8.data(), out, outW);
        } else {
            for (int32_t i = 0; i < outW; ++i) {
                const int32_t* w = &h.weight[size_t(i) * size_t(h.stride)];
                int32_t f = h.first[size_t(i)];
                int32_t count = 0;
                for (int32_t k = 0; k < h.stride && f + k < sr.right; ++k)
                    ptrs[size_t(count++)] = srow + f + k;
                out[i] = applyTaps(ptrs.data(), w, count);
            }
        }
    }
    // Vertical pass, one destination row at a time.
    std::vector<uint32_t> line(static_cast<size_t>(outW));
    std::vector<const uint32_t*> rowPtrs(size_t(v.stride));
    for (int32_t y = v.d0; y < v.d1; ++y) {
        size_t iy = size_t(y - v.d0);
        const int32_t* w = &v.weight[iy * size_t(v.stride)];
        int32_t f = v.first[iy] - v.srcMin;
        if (v.stride == 2) {
            const uint32_t* r0 = &mid[size_t(f) * size_t(outW)];
            if (w[1] == 0) {
                std::copy(r0, r0 + outW, line.begin());
            } else {
                blendRows(r0, r0 + outW, line.data(), outW, to256(w[1]));
            }
        } else {
            int32_t count = 0;
            for (int32_t k = 0; k < v.stride && f + k < rows; ++k)
                rowPtrs[size_t(count++)] = &mid[size_t(f + k) * size_t(outW)];
            std::vector<const uint32_t*> px(static_cast<size_t>(count));
            for (int32_t i = 0; i < outW; ++i) {
                for (int32_t k = 0; k < count; ++k)
                    px[size_t(k)] = rowPtrs[size_t(k)] + i;
                line[size_t(i)] = applyTaps(px.data(), w, count);
            }
        }
        if (!opaque)
            for (auto& p : line)
                p = unpremultiply(p);
        emitRow(line.data(), h.d0, dst, y, h.d0, h.d1, clip, mode, op);
    }
    return PixelStatus::Ok;
}

using Mat3 = std::array<std::array<double, 3>, 3>;

Mat3 toDouble(const MatrixRecord& r)
{
    Mat3 d{};
    for (int i = 0; i < 3; ++i) {
        d[size_t(i)][0] = r.m[size_t(i)][0] / 65536.0;
        d[size_t(i)][1] = r.m[size_t(i)][1] / 65536.0;
        d[size_t(i)][2] = r.m[size_t(i)][2] / 1073741824.0;
    }
    return d;
}

bool invert(const Mat3& a, Mat3& out)
{
    double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                 a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                 a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (!(std::fabs(det) > 1e-12)) return false;
    double id = 1.0 / det;
    out[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) * id;
    out[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * id;
    out[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * id;
    out[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) * id;
    out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * id;
    out[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * id;
    out[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) * id;
    out[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * id;
    out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * id;
    return true;
}

// Bilinear sample between pixel (x0, y0) and its right and lower neighbours with weights
// 0..256, edges extended.
inline uint32_t bilinearCore(const Pixmap& src, int32_t x0, int32_t y0, uint32_t wx, uint32_t wy)
{
    const int32_t w = src.width(), h = src.height();
    int32_t x1 = x0 + 1, y1 = y0 + 1;
    if (x0 < 0) x0 = x1 = 0, wx = 0;
    if (x1 >= w) x1 = w - 1, x0 = std::min(x0, w - 1);
    if (y0 < 0) y0 = y1 = 0, wy = 0;
    if (y1 >= h) y1 = h - 1, y0 = std::min(y0, h - 1);
    const uint32_t* r0 = src.row(y0);
    const uint32_t* r1 = src.row(y1);
    uint32_t p00 = r0[x0], p01 = r0[x1], p10 = r1[x0], p11 = r1[x1];
    if (((p00 & p01 & p10 & p11) >> 24) == 255)
        return mix256(mix256(p00, p01, wx), mix256(p10, p11, wx), wy);
    uint32_t top = mix256(premultiply(p00), premultiply(p01), wx);
    uint32_t bot = mix256(premultiply(p10), premultiply(p11), wx);
    return unpremultiply(mix256(top, bot, wy));
}

// Bilinear blend of the opaque pixels r0[0], r0[1] (upper) and r1[0], r1[1] (lower).
inline uint32_t blendQuad(const uint32_t* r0, const uint32_t* r1, uint32_t wx, uint32_t wy)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i top =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0)), zero);
    const __m128i bot =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r1)), zero);
    const __m128i half = _mm_set1_epi16(128);
    // Vertical blend of both columns at once, then the two columns against each other.
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(top, _mm_set1_epi16(short(256 - wy))),
                              _mm_mullo_epi16(bot, _mm_set1_epi16(short(wy))));
    v = _mm_srli_epi16(_mm_add_epi16(v, half), 8);
    v = _mm_mullo_epi16(v,
                        _mm_set_epi16(short(wx), short(wx), short(wx), short(wx), short(256 - wx),
                                      short(256 - wx), short(256 - wx), short(256 - wx)));
    v = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v, _mm_srli_si128(v, 8)), half), 8);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
#else
    return mix256(mix256(r0[0], r1[0], wy), mix256(r0[1], r1[1], wy), wx);
#endif
}

inline uint32_t bilinearAt(const Pixmap& src, double fx, double fy)
{
    // fx, fy: position in pixel-centre units (pixel i's centre at i).
    double flx = std::floor(fx), fly = std::floor(fy);
    return bilinearCore(src, int32_t(flx), int32_t(fly), uint32_t((fx - flx) * 256.0 + 0.5),
                        uint32_t((fy - fly) * 256.0 + 0.5));
}

// floor(a / b) and ceil(a / b) for b > 0.
inline int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

// Narrows [k0, k1) to the steps k where 0 <= u0 + k·du < limit.
inline void coveredSteps(int64_t u0, int64_t du, int64_t limit, int64_t& k0, int64_t& k1)
{
    if (du == 0) {
        if (u0 < 0 || u0 >= limit) k1 = k0;
        return;
    }
    if (du > 0) {
        k0 = std::max(k0, ceilDiv(-u0, du));
        k1 = std::min(k1, ceilDiv(limit - u0, du));
    } else {
        k0 = std::max(k0, floorDiv(u0 - limit, -du) + 1);
        k1 = std::min(k1, floorDiv(u0, -du) + 1);
    }
}

// Sends the covered runs of one destination row: inside(x) says whether pixel x is covered
// and, when it is, has stored its colour in line.
template <typename Inside>
void emitCovered(std::vector<uint32_t>& line, const Rect& area, int32_t y, Pixmap& dst,
                 const ClipRegion& clip, int32_t mode, uint32_t op, Inside inside)
{
    int32_t runStart = -1;
    for (int32_t x = area.left; x <= area.right; ++x) {
        const bool in = x < area.right && inside(x);
        if (in && runStart < 0) runStart = x;
        if (!in && runStart >= 0) {
            emitRow(line.data(), area.left, dst, y, runStart, x, clip, mode, op);
            runStart = -1;
        }
    }
}

PixelStatus drawGeneral(const Pixmap& src, Pixmap& dst, const MatrixRecord& m, int32_t mode,
                        uint32_t op, const ClipRegion& clip)
{
    Mat3 fwd = toDouble(m), inv;
    if (!invert(fwd, inv)) return PixelStatus::Ok;
    Rect area = intersect(m.transformRect(src.bounds()), clip.bounds());
    if (area.isEmpty()) return PixelStatus::Ok;
    const double sw = src.width(), sh = src.height();
    std::vector<uint32_t> line(size_t(area.width()));
    const bool affine = m.m[0][2] == 0 && m.m[1][2] == 0 && m.m[2][2] == kFract1;
    constexpr double kOne = 4294967296.0; // 32.32 fixed point
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const double py = y + 0.5;
        auto mapped = [&](double px, double& u, double& v) {
            double U = px * inv[0][0] + py * inv[1][0] + inv[2][0];
            double V = px * inv[0][1] + py * inv[1][1] + inv[2][1];
            double W = px * inv[0][2] + py * inv[1][2] + inv[2][2];
            if (!(W > 1e-12)) return false;
            u = U / W;
            v = V / W;
            return true;
        };
        double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
        const double x0c = area.left + 0.5, x1c = area.right - 0.5;
        if (affine && mapped(x0c, u0, v0) && mapped(x1c, u1, v1) &&
            std::max({std::fabs(u0), std::fabs(v0), std::fabs(u1), std::fabs(v1)}) < 5e8) {
            // Affine rows step through the source in 32.32 fixed point: no division per pixel.
            int64_t U = std::llround(u0 * kOne), V = std::llround(v0 * kOne);
            const int64_t dU = std::llround(inv[0][0] * kOne), dV = std::llround(inv[0][1] * kOne);
            const int64_t maxU = int64_t(src.width()) << 32, maxV = int64_t(src.height()) << 32;
            // The covered pixels of an affine row form one run; find it without testing pixels.
            const int64_t n = area.width();
            int64_t k0 = 0, k1 = n;
            coveredSteps(U, dU, maxU, k0, k1);
            coveredSteps(V, dV, maxV, k0, k1);
            if (k0 >= k1) continue;
            U += k0 * dU;
            V += k0 * dV;
            const uint32_t sw1 = uint32_t(src.width() - 1), sh1 = uint32_t(src.height() - 1);
            for (int64_t k = k0; k < k1; ++k, U += dU, V += dV) {
                const int64_t fx = U - (int64_t(1) << 31), fy = V - (int64_t(1) << 31);
                const uint32_t wx = uint32_t(((fx & 0xFFFFFFFFll) + (1ll << 23)) >> 24);
                const uint32_t wy = uint32_t(((fy & 0xFFFFFFFFll) + (1ll << 23)) >> 24);
                const int32_t ix = int32_t(fx >> 32), iy = int32_t(fy >> 32);
                if (uint32_t(ix) < sw1 && uint32_t(iy) < sh1) {
                    // All four neighbours inside: no clamping.
                    const uint32_t* r0 = src.row(iy) + ix;
                    const uint32_t* r1 = src.row(iy + 1) + ix;
                    if (((r0[0] & r0[1] & r1[0] & r1[1]) >> 24) == 255) {
                        line[size_t(k)] = blendQuad(r0, r1, wx, wy);
                        continue;
                    }
                }
                line[size_t(k)] = bilinearCore(src, ix, iy, wx, wy);
            }
            emitRow(line.data(), area.left, dst, y, area.left + int32_t(k0),
                    area.left + int32_t(k1), clip, mode, op);
            continue;
        }
        emitCovered(line, area, y, dst, clip, mode, op, [&](int32_t x) {
            double u, v;
            if (!mapped(x + 0.5, u, v) || !(u >= 0 && u < sw && v >= 0 && v < sh)) return false;
            line[size_t(x - area.left)] = bilinearAt(src, u - 0.5, v - 0.5);
            return true;
        });
    }
    return PixelStatus::Ok;
}

ClipRegion effectiveClip(const Pixmap& dst, const ClipRegion* clip)
{
    return clip ? clip->intersected(dst.bounds()) : ClipRegion(dst.bounds());
}

} // namespace

uint32_t sampleBilinear(const Pixmap& src, double x, double y)
{
    if (src.isEmpty()) return 0;
    return bilinearAt(src, x - 0.5, y - 0.5);
}

PixelStatus drawWarped(const Pixmap& src, Pixmap& dst, const MatrixRecord& m, int32_t mode,
                       uint32_t opColour, const ClipRegion* clip)
{
    if (!isSupportedGraphicsMode(mode)) return PixelStatus::UnsupportedMode;
    if (src.isEmpty() || dst.isEmpty()) return PixelStatus::Ok;
    if (&src == &dst) {
        Pixmap copy = src;
        return drawWarped(copy, dst, m, mode, opColour, clip);
    }
    ClipRegion c = effectiveClip(dst, clip);
    try {
        if (m.isScaleTranslate()) {
            const int32_t sx = m.m[0][0], sy = m.m[1][1], tx = m.m[2][0], ty = m.m[2][1];
            if (sx == kFixed1 && sy == kFixed1 && (tx & 0xFFFF) == 0 && (ty & 0xFFFF) == 0)
                return composite(src, dst, Point{tx >> 16, ty >> 16}, mode, opColour, &c);
            if (sx == 0 || sy == 0) return PixelStatus::Ok;
            return resampleAxisAligned(src, src.bounds(), dst, sx / 65536.0, tx / 65536.0,
                                       sy / 65536.0, ty / 65536.0, mode, opColour, c);
        }
        return drawGeneral(src, dst, m, mode, opColour, c);
    } catch (const std::bad_alloc&) {
        return PixelStatus::OutOfMemory;
    }
}

PixelStatus scaleInto(const Pixmap& src, const Rect& srcRect, Pixmap& dst, const Rect& dstRect,
                      int32_t mode, uint32_t opColour, const ClipRegion* clip)
{
    if (!isSupportedGraphicsMode(mode)) return PixelStatus::UnsupportedMode;
    if (srcRect.isEmpty() || dstRect.isEmpty() || src.isEmpty() || dst.isEmpty())
        return PixelStatus::Ok;
    if (&src == &dst) {
        Pixmap copy = src;
        return scaleInto(copy, srcRect, dst, dstRect, mode, opColour, clip);
    }
    ClipRegion c = effectiveClip(dst, clip);
    double sx = double(dstRect.width()) / srcRect.width();
    double sy = double(dstRect.height()) / srcRect.height();
    double tx = dstRect.left - srcRect.left * sx, ty = dstRect.top - srcRect.top * sy;
    try {
        if (sx == 1.0 && sy == 1.0)
            return composite(src, srcRect, dst, Point{dstRect.left, dstRect.top}, mode, opColour,
                             &c);
        return resampleAxisAligned(src, srcRect, dst, sx, tx, sy, ty, mode, opColour, c);
    } catch (const std::bad_alloc&) {
        return PixelStatus::OutOfMemory;
    }
}

PixelStatus drawPicture(const Pixmap& src, Pixmap& dst, const Rect& dstRect,
                        std::span<const Rect> clipRects, int32_t mode, uint32_t opColour)
{
    if (clipRects.empty()) return scaleInto(src, src.bounds(), dst, dstRect, mode, opColour);
    ClipRegion clip(clipRects);
    return scaleInto(src, src.bounds(), dst, dstRect, mode, opColour, &clip);
}

Pixmap resized(const Pixmap& src, int32_t width, int32_t height)
{
    Pixmap out(width, height, 0);
    scaleInto(src, src.bounds(), out, out.bounds());
    return out;
}

MatrixRecord interpolateMatrix(const MatrixRecord& a, const MatrixRecord& b, double t)
{
    MatrixRecord r;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            r.m[i][j] = int32_t(std::llround(a.m[i][j] + (double(b.m[i][j]) - a.m[i][j]) * t));
    return r;
}

} // namespace zef::movies
