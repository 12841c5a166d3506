#include "platform/movies/export/yuv420.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZEF_YUV420_AVX2 1
#endif

namespace zef::movies::exportav {

namespace {

// Weights in 15-bit fixed point (they fit the 16-bit lanes of the vector code). Each row of
// weights sums exactly to its scale (luma) or to 0 (chroma), so white stays at the top of the
// range and greys carry no chroma. Chroma is computed from the sums of 2 × 2 pixels, hence the
// two more bits of its shift.
constexpr int kShift = 15;
constexpr int kChromaShift = kShift + 2;

struct Weights {
    int yr, yg, yb, yOffset;
    int ur, ug, ub;
    int vr, vg, vb;
    int cOffset;
};

Weights weightsFor(YuvMatrix m)
{
    const double kr = m.bt709 ? 0.2126 : 0.299;
    const double kb = m.bt709 ? 0.0722 : 0.114;
    const double ys = m.fullRange ? 1.0 : 219.0 / 255.0;
    const double cs = m.fullRange ? 1.0 : 224.0 / 255.0;
    auto fx = [](double v) { return int(std::lround(v * (1 << kShift))); };
    Weights w{};
    w.yr = fx(kr * ys);
    w.yb = fx(kb * ys);
    w.yg = fx(ys) - w.yr - w.yb;
    w.yOffset = ((m.fullRange ? 0 : 16) << kShift) + (1 << (kShift - 1));
    w.ur = fx(-kr / (2.0 * (1.0 - kb)) * cs);
    w.ub = fx(0.5 * cs);
    w.ug = -w.ur - w.ub;
    w.vr = fx(0.5 * cs);
    w.vb = fx(-kb / (2.0 * (1.0 - kr)) * cs);
    w.vg = -w.vr - w.vb;
    w.cOffset = (128 << kChromaShift) + (1 << (kChromaShift - 1));
    return w;
}

// Scalar forms: the vector code's tails, and the whole row without SSE2. Same arithmetic, so
// both give the same bytes.
inline uint8_t lumaOf(uint32_t p, const Weights& w)
{
    const int r = int((p >> 16) & 0xFF), g = int((p >> 8) & 0xFF), b = int(p & 0xFF);
    return uint8_t((w.yr * r + w.yg * g + w.yb * b + w.yOffset) >> kShift);
}

inline void chromaOf(uint32_t a, uint32_t b, uint32_t c, uint32_t d, const Weights& w, uint8_t* cb,
                     uint8_t* cr)
{
    // Red and blue summed side by side in one word, green and alpha in another (at most
    // 4 × 255 each, so the halves never carry into each other).
    const uint32_t rb = (a & 0xFF00FF) + (b & 0xFF00FF) + (c & 0xFF00FF) + (d & 0xFF00FF);
    const uint32_t ga = ((a >> 8) & 0xFF00FF) + ((b >> 8) & 0xFF00FF) + ((c >> 8) & 0xFF00FF) +
                        ((d >> 8) & 0xFF00FF);
    const int r = int(rb >> 16), g = int(ga & 0xFFFF), bl = int(rb & 0xFFFF);
    *cb = uint8_t(std::min((w.ur * r + w.ug * g + w.ub * bl + w.cOffset) >> kChromaShift, 255));
    *cr = uint8_t(std::min((w.vr * r + w.vg * g + w.vb * bl + w.cOffset) >> kChromaShift, 255));
}

#if defined(__SSE2__)

// Weights for the lanes B, G, R, A of one pixel, twice (two pixels per register).
inline __m128i laneWeights(int b, int g, int r)
{
    return _mm_setr_epi16(int16_t(b), int16_t(g), int16_t(r), 0, int16_t(b), int16_t(g), int16_t(r),
                          0);
}

// pmaddwd leaves (B·wb + G·wg, R·wr) per pixel; adds each pair, four pixels from two registers.
inline __m128i pairSums(__m128i p01, __m128i p23)
{
    const __m128 a = _mm_castsi128_ps(p01), b = _mm_castsi128_ps(p23);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

// Four luma values (32-bit lanes) of four pixels.
inline __m128i luma4(__m128i px, __m128i weights, __m128i offset)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), weights);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), weights);
    return _mm_srai_epi32(_mm_add_epi32(pairSums(lo, hi), offset), kShift);
}

int lumaRowVector(const uint32_t* src, uint8_t* dst, int width, const Weights& w)
{
    const __m128i weights = laneWeights(w.yb, w.yg, w.yr);
    const __m128i offset = _mm_set1_epi32(w.yOffset);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i* s = reinterpret_cast<const __m128i*>(src + x);
        const __m128i y0 = luma4(_mm_loadu_si128(s), weights, offset);
        const __m128i y1 = luma4(_mm_loadu_si128(s + 1), weights, offset);
        const __m128i y2 = luma4(_mm_loadu_si128(s + 2), weights, offset);
        const __m128i y3 = luma4(_mm_loadu_si128(s + 3), weights, offset);
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(y0, y1), _mm_packs_epi32(y2, y3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), packed);
    }
    return x;
}

// The 2 × 2 sums of B, G, R, A of two blocks (16-bit lanes) from four pixels of each row.
inline __m128i blockSums(__m128i top, __m128i bottom)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
    const __m128i s01 = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
    const __m128i s23 = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
    return _mm_unpacklo_epi64(s01, s23);
}

// Chroma of eight columns of two rows; returns the number of blocks done.
int chromaRowsVector(const uint32_t* top, const uint32_t* bottom, uint8_t* cb, uint8_t* cr,
                     int halfWidth, const Weights& w)
{
    const __m128i uWeights = laneWeights(w.ub, w.ug, w.ur);
    const __m128i vWeights = laneWeights(w.vb, w.vg, w.vr);
    const __m128i offset = _mm_set1_epi32(w.cOffset);
    const __m128i max = _mm_set1_epi32(255);
    int x = 0;
    for (; x + 8 <= halfWidth; x += 8) {
        __m128i u[2], v[2];
        for (int half = 0; half < 2; ++half) {
            const __m128i* t = reinterpret_cast<const __m128i*>(top + 2 * x + 8 * half);
            const __m128i* b = reinterpret_cast<const __m128i*>(bottom + 2 * x + 8 * half);
            const __m128i s01 = blockSums(_mm_loadu_si128(t), _mm_loadu_si128(b));
            const __m128i s23 = blockSums(_mm_loadu_si128(t + 1), _mm_loadu_si128(b + 1));
            const __m128i uu =
                pairSums(_mm_madd_epi16(s01, uWeights), _mm_madd_epi16(s23, uWeights));
            const __m128i vv =
                pairSums(_mm_madd_epi16(s01, vWeights), _mm_madd_epi16(s23, vWeights));
            u[half] = _mm_srai_epi32(_mm_add_epi32(uu, offset), kChromaShift);
            v[half] = _mm_srai_epi32(_mm_add_epi32(vv, offset), kChromaShift);
            // Full-range chroma can reach 256 for pure blue or red; packs would keep it, so
            // it is limited here (it never falls below 0).
            const __m128i uOver = _mm_cmpgt_epi32(u[half], max);
            u[half] = _mm_or_si128(_mm_and_si128(uOver, max), _mm_andnot_si128(uOver, u[half]));
            const __m128i vOver = _mm_cmpgt_epi32(v[half], max);
            v[half] = _mm_or_si128(_mm_and_si128(vOver, max), _mm_andnot_si128(vOver, v[half]));
        }
        const __m128i u16 = _mm_packs_epi32(u[0], u[1]);
        const __m128i v16 = _mm_packs_epi32(v[0], v[1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x), _mm_packus_epi16(u16, u16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x), _mm_packus_epi16(v16, v16));
    }
    return x;
}

#else

int lumaRowVector(const uint32_t*, uint8_t*, int, const Weights&) { return 0; }
int chromaRowsVector(const uint32_t*, const uint32_t*, uint8_t*, uint8_t*, int, const Weights&)
{
    return 0;
}

#endif

void lumaRow(const uint32_t* src, uint8_t* dst, int width, const Weights& w)
{
    for (int x = lumaRowVector(src, dst, width, w); x < width; ++x)
        dst[x] = lumaOf(src[x], w);
}

void chromaRows(const uint32_t* top, const uint32_t* bottom, uint8_t* cb, uint8_t* cr,
                int halfWidth, const Weights& w)
{
    for (int x = chromaRowsVector(top, bottom, cb, cr, halfWidth, w); x < halfWidth; ++x)
        chromaOf(top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1], w, cb + x, cr + x);
}

#if defined(ZEF_YUV420_AVX2)

#define ZEF_AVX2 __attribute__((target("avx2"))) inline

ZEF_AVX2 __m256i lanes256(int b, int g, int r)
{
    const __m128i half = laneWeights(b, g, r);
    return _mm256_broadcastsi128_si256(half);
}

// Each pair of 32-bit lanes (B·wb + G·wg, R·wr) summed: four values a 128-bit lane.
ZEF_AVX2 __m256i pairSums256(__m256i a, __m256i b)
{
    const __m256 fa = _mm256_castsi256_ps(a), fb = _mm256_castsi256_ps(b);
    const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i odd = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm256_add_epi32(even, odd);
}

// Dword order after packing within 128-bit lanes, back to memory order.
ZEF_AVX2 __m256i inMemoryOrder(__m256i packed)
{
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// Eight luma values (32-bit lanes) from the widened halves of eight pixels.
ZEF_AVX2 __m256i luma8(__m256i lo, __m256i hi, __m256i weights, __m256i offset)
{
    const __m256i sums =
        pairSums256(_mm256_madd_epi16(lo, weights), _mm256_madd_epi16(hi, weights));
    return _mm256_srai_epi32(_mm256_add_epi32(sums, offset), kShift);
}

// The four 2 × 2 sums of B, G, R, A (16-bit lanes) of eight columns of two rows.
ZEF_AVX2 __m256i blocks256(__m256i loT, __m256i hiT, __m256i loB, __m256i hiB)
{
    const __m256i lo = _mm256_add_epi16(loT, loB), hi = _mm256_add_epi16(hiT, hiB);
    const __m256i s01 = _mm256_add_epi16(lo, _mm256_srli_si256(lo, 8));
    const __m256i s23 = _mm256_add_epi16(hi, _mm256_srli_si256(hi, 8));
    return _mm256_unpacklo_epi64(s01, s23);
}

// Eight chroma values of sixteen columns, in memory order.
ZEF_AVX2 __m256i chroma8(__m256i s0, __m256i s1, __m256i weights, const Weights& w)
{
    __m256i c = pairSums256(_mm256_madd_epi16(s0, weights), _mm256_madd_epi16(s1, weights));
    c = _mm256_srai_epi32(_mm256_add_epi32(c, _mm256_set1_epi32(w.cOffset)), kChromaShift);
    c = _mm256_min_epi32(c, _mm256_set1_epi32(255));
    return _mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
}

// Two rows at once with 256-bit registers: the luma of both rows and the chroma of their 2 × 2
// blocks from one load and one widening of every pixel. The arithmetic is the SSE2 code's, lane
// for lane, so the bytes are the same. Returns the number of pixels done (a multiple of 16).
__attribute__((target("avx2"))) int rowPairAvx2(const uint32_t* top, const uint32_t* bottom,
                                                uint8_t* yTop, uint8_t* yBottom, uint8_t* cb,
                                                uint8_t* cr, int width, const Weights& w)
{
    const __m256i yWeights = lanes256(w.yb, w.yg, w.yr);
    const __m256i uWeights = lanes256(w.ub, w.ug, w.ur);
    const __m256i vWeights = lanes256(w.vb, w.vg, w.vr);
    const __m256i yOffset = _mm256_set1_epi32(w.yOffset);
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i* t = reinterpret_cast<const __m256i*>(top + x);
        const __m256i* b = reinterpret_cast<const __m256i*>(bottom + x);
        const __m256i t0 = _mm256_loadu_si256(t), t1 = _mm256_loadu_si256(t + 1);
        const __m256i b0 = _mm256_loadu_si256(b), b1 = _mm256_loadu_si256(b + 1);
        const __m256i tLo0 = _mm256_unpacklo_epi8(t0, zero), tHi0 = _mm256_unpackhi_epi8(t0, zero);
        const __m256i tLo1 = _mm256_unpacklo_epi8(t1, zero), tHi1 = _mm256_unpackhi_epi8(t1, zero);
        const __m256i bLo0 = _mm256_unpacklo_epi8(b0, zero), bHi0 = _mm256_unpackhi_epi8(b0, zero);
        const __m256i bLo1 = _mm256_unpacklo_epi8(b1, zero), bHi1 = _mm256_unpackhi_epi8(b1, zero);

        const __m256i yt = _mm256_packs_epi32(luma8(tLo0, tHi0, yWeights, yOffset),
                                              luma8(tLo1, tHi1, yWeights, yOffset));
        const __m256i yb = _mm256_packs_epi32(luma8(bLo0, bHi0, yWeights, yOffset),
                                              luma8(bLo1, bHi1, yWeights, yOffset));
        // Both rows' luma in one pack: top in each lane's first half, bottom in its second.
        const __m256i yBytes = inMemoryOrder(_mm256_packus_epi16(yt, yb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(yTop + x), _mm256_castsi256_si128(yBytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(yBottom + x),
                         _mm256_extracti128_si256(yBytes, 1));

        const __m256i s0 = blocks256(tLo0, tHi0, bLo0, bHi0);
        const __m256i s1 = blocks256(tLo1, tHi1, bLo1, bHi1);
        const __m256i uv =
            _mm256_packs_epi32(chroma8(s0, s1, uWeights, w), chroma8(s0, s1, vWeights, w));
        const __m128i bytes = _mm256_castsi256_si128(inMemoryOrder(_mm256_packus_epi16(uv, uv)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x / 2), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x / 2), _mm_srli_si128(bytes, 8));
    }
    return x;
}

bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

#else

int rowPairAvx2(const uint32_t*, const uint32_t*, uint8_t*, uint8_t*, uint8_t*, uint8_t*, int,
                const Weights&)
{
    return 0;
}
bool hasAvx2() { return false; }

#endif

} // namespace

void bgraToYuv420(const Pixmap& picture, uint8_t* const planes[3], const int strides[3],
                  YuvMatrix matrix)
{
    const Weights w = weightsFor(matrix);
    const int width = picture.width();
    const bool avx2 = hasAvx2();
    for (int y = 0; y + 1 < picture.height(); y += 2) {
        const uint32_t* top = picture.row(y);
        const uint32_t* bottom = picture.row(y + 1);
        uint8_t* yTop = planes[0] + ptrdiff_t(y) * strides[0];
        uint8_t* yBottom = yTop + strides[0];
        uint8_t* cb = planes[1] + ptrdiff_t(y / 2) * strides[1];
        uint8_t* cr = planes[2] + ptrdiff_t(y / 2) * strides[2];
        // The wide kernel first, then the narrower code for what is left of the rows.
        const int done = avx2 ? rowPairAvx2(top, bottom, yTop, yBottom, cb, cr, width, w) : 0;
        lumaRow(top + done, yTop + done, width - done, w);
        lumaRow(bottom + done, yBottom + done, width - done, w);
        chromaRows(top + done, bottom + done, cb + done / 2, cr + done / 2, (width - done) / 2, w);
    }
}

} // namespace zef::movies::exportav
