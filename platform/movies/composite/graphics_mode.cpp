#include "platform/movies/composite/graphics_mode.h"

#include "platform/movies/composite/pixel_ops.h"

#include <cstring>

namespace zef::movies {

using namespace pixel;

namespace {

template <typename F> inline void perPixel(const uint32_t* s, uint32_t* d, int32_t n, F f)
{
    for (int32_t i = 0; i < n; ++i)
        d[i] = f(s[i], d[i]);
}

// Colour channels by f(src, dst, channelIndex 0..2 = r, g, b), alpha = max of both.
template <typename F> inline uint32_t channels(uint32_t s, uint32_t d, F f)
{
    uint32_t r = f((s >> 16) & 255, (d >> 16) & 255, 0);
    uint32_t g = f((s >> 8) & 255, (d >> 8) & 255, 1);
    uint32_t b = f(s & 255, d & 255, 2);
    return pack(std::max(s >> 24, d >> 24), r, g, b);
}

constexpr uint32_t kAlpha = 0xFF000000u;

inline uint32_t maxAlpha(uint32_t s, uint32_t d) { return std::max(s >> 24, d >> 24) << 24; }

// Straight "over" for any destination alpha; colour src already straight, sa its alpha.
inline uint32_t over(uint32_t s, uint32_t d)
{
    uint32_t sa = s >> 24;
    if (sa == 255) return s;
    if (sa == 0) return d;
    uint32_t da = d >> 24;
    if (da == 255) return mix255(d, s, sa) | kAlpha;
    uint32_t dw = div255(da * (255 - sa)); // destination's share of the coverage
    uint32_t oa = sa + dw;
    if (oa == 0) return 0;
    auto ch = [&](int shift) {
        uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        return (sc * sa + dc * dw + oa / 2) / oa;
    };
    return pack(oa, ch(16), ch(8), ch(0));
}

ZEF_VECTOR_LOOP void copyRow(const uint32_t* s, uint32_t* d, int32_t n)
{
    if (s != d) std::memmove(d, s, size_t(n) * 4);
}

ZEF_VECTOR_LOOP bool rowOpaque(const uint32_t* d, int32_t n)
{
    uint32_t acc = 0xFFFFFFFFu;
    for (int32_t i = 0; i < n; ++i)
        acc &= d[i];
    return (acc >> 24) == 255;
}

ZEF_VECTOR_LOOP void overOpaqueRow(const uint32_t* s, uint32_t* d, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        d[i] = mix255(d[i], s[i], s[i] >> 24) | kAlpha;
}

void straightAlphaRow(const uint32_t* s, uint32_t* d, int32_t n)
{
    // Work in blocks so that an opaque destination block runs the branch-free loop.
    constexpr int32_t kBlock = 256;
    for (int32_t i = 0; i < n; i += kBlock) {
        int32_t m = std::min(kBlock, n - i);
        if (rowOpaque(d + i, m)) {
            overOpaqueRow(s + i, d + i, m);
        } else {
            for (int32_t k = 0; k < m; ++k)
                d[i + k] = over(s[i + k], d[i + k]);
        }
    }
}

// Recovers the straight colour of a pixel whose colour was pre-multiplied against the colour
// k: stored = c·a + k·(1 − a).
inline uint32_t unpremultiplyAgainst(uint32_t p, uint32_t k)
{
    uint32_t a = p >> 24;
    if (a == 255 || a == 0) return p;
    auto ch = [&](int shift) {
        int kc = int((k >> shift) & 255);
        int stored = int((p >> shift) & 255);
        int c = ((stored - kc) * 255 + kc * int(a) + int(a) / 2) / int(a);
        return uint32_t(clamp8(c));
    };
    return pack(a, ch(16), ch(8), ch(0));
}

ZEF_VECTOR_LOOP void blendRow(const uint32_t* s, uint32_t* d, int32_t n, uint32_t op)
{
    uint32_t wr = (op >> 16) & 255, wg = (op >> 8) & 255, wb = op & 255;
    for (int32_t i = 0; i < n; ++i) {
        uint32_t sp = s[i], dp = d[i];
        uint32_t r = div255(((sp >> 16) & 255) * wr + ((dp >> 16) & 255) * (255 - wr));
        uint32_t g = div255(((sp >> 8) & 255) * wg + ((dp >> 8) & 255) * (255 - wg));
        uint32_t b = div255((sp & 255) * wb + (dp & 255) * (255 - wb));
        d[i] = maxAlpha(sp, dp) | (r << 16) | (g << 8) | b;
    }
}

ZEF_VECTOR_LOOP void addMaxRow(const uint32_t* s, uint32_t* d, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        uint32_t sp = s[i], dp = d[i];
        uint32_t r = std::max(sp & 0xFF0000u, dp & 0xFF0000u);
        uint32_t g = std::max(sp & 0xFF00u, dp & 0xFF00u);
        uint32_t b = std::max(sp & 0xFFu, dp & 0xFFu);
        uint32_t a = std::max(sp & kAlpha, dp & kAlpha);
        d[i] = a | r | g | b;
    }
}

ZEF_VECTOR_LOOP void addMinRow(const uint32_t* s, uint32_t* d, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        uint32_t sp = s[i], dp = d[i];
        uint32_t r = std::min(sp & 0xFF0000u, dp & 0xFF0000u);
        uint32_t g = std::min(sp & 0xFF00u, dp & 0xFF00u);
        uint32_t b = std::min(sp & 0xFFu, dp & 0xFFu);
        uint32_t a = std::max(sp & kAlpha, dp & kAlpha);
        d[i] = a | r | g | b;
    }
}

} // namespace

const char* pixelStatusText(PixelStatus s)
{
    switch (s) {
    case PixelStatus::Ok:
        return "no error";
    case PixelStatus::UnsupportedMode:
        return "unsupported graphics mode";
    case PixelStatus::BadArgument:
        return "bad argument";
    case PixelStatus::MissingSource:
        return "missing source picture";
    case PixelStatus::UnknownEffect:
        return "unknown effect";
    case PixelStatus::OutOfMemory:
        return "out of memory";
    }
    return "unknown error";
}

bool isSupportedGraphicsMode(int32_t mode)
{
    using namespace GraphicsMode;
    switch (mode) {
    case kNone:
    case kSrcCopy:
    case kSrcOr:
    case kSrcXor:
    case kSrcBic:
    case kNotSrcCopy:
    case kNotSrcOr:
    case kNotSrcXor:
    case kNotSrcBic:
    case kBlend:
    case kAddPin:
    case kAddOver:
    case kSubPin:
    case kTransparent:
    case kAddMax:
    case kSubOver:
    case kAddMin:
    case kDitherCopy:
    case kStraightAlpha:
    case kPremulWhiteAlpha:
    case kPremulBlackAlpha:
    case kStraightAlphaBlend:
    case kPremulColorAlpha:
        return true;
    default:
        return false;
    }
}

PixelStatus compositeRow(const uint32_t* s, uint32_t* d, int32_t n, int32_t mode, uint32_t op)
{
    using namespace GraphicsMode;
    if (n <= 0)
        return isSupportedGraphicsMode(mode) ? PixelStatus::Ok : PixelStatus::UnsupportedMode;
    op &= 0xFFFFFFu;
    const uint32_t opR = op >> 16, opG = (op >> 8) & 255, opB = op & 255;
    const uint32_t opc[3] = {opR, opG, opB};
    switch (mode) {
    case kNone:
    case kSrcCopy:
    case kDitherCopy:
        copyRow(s, d, n);
        break;
    case kSrcOr:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | ((a | b) & 0xFFFFFF); });
        break;
    case kSrcXor:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | ((a ^ b) & 0xFFFFFF); });
        break;
    case kSrcBic:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | (b & ~a & 0xFFFFFF); });
        break;
    case kNotSrcCopy:
        perPixel(s, d, n, [](uint32_t a, uint32_t) { return a ^ 0xFFFFFFu; });
        break;
    case kNotSrcOr:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | ((~a | b) & 0xFFFFFF); });
        break;
    case kNotSrcXor:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | ((~a ^ b) & 0xFFFFFF); });
        break;
    case kNotSrcBic:
        perPixel(s, d, n,
                 [](uint32_t a, uint32_t b) { return maxAlpha(a, b) | (a & b & 0xFFFFFF); });
        break;
    case kBlend:
        blendRow(s, d, n, op);
        break;
    case kAddPin:
        perPixel(s, d, n, [&](uint32_t a, uint32_t b) {
            return channels(a, b,
                            [&](uint32_t x, uint32_t y, int c) { return std::min(x + y, opc[c]); });
        });
        break;
    case kAddOver:
        perPixel(s, d, n, [](uint32_t a, uint32_t b) {
            return channels(a, b, [](uint32_t x, uint32_t y, int) { return (x + y) & 255; });
        });
        break;
    case kSubPin:
        perPixel(s, d, n, [&](uint32_t a, uint32_t b) {
            return channels(a, b, [&](uint32_t x, uint32_t y, int c) {
                int v = int(y) - int(x);
                return uint32_t(std::max(v, int(opc[c])));
            });
        });
        break;
    case kSubOver:
        perPixel(s, d, n, [](uint32_t a, uint32_t b) {
            return channels(a, b, [](uint32_t x, uint32_t y, int) { return (y - x) & 255; });
        });
        break;
    case kTransparent:
        for (int32_t i = 0; i < n; ++i)
            if ((s[i] & 0xFFFFFFu) != op) d[i] = s[i];
        break;
    case kAddMax:
        addMaxRow(s, d, n);
        break;
    case kAddMin:
        addMinRow(s, d, n);
        break;
    case kStraightAlpha:
        straightAlphaRow(s, d, n);
        break;
    case kPremulWhiteAlpha:
        for (int32_t i = 0; i < n; ++i)
            d[i] = over(unpremultiplyAgainst(s[i], 0xFFFFFF), d[i]);
        break;
    case kPremulBlackAlpha:
        for (int32_t i = 0; i < n; ++i)
            d[i] = over(unpremultiplyAgainst(s[i], 0), d[i]);
        break;
    case kPremulColorAlpha:
        for (int32_t i = 0; i < n; ++i)
            d[i] = over(unpremultiplyAgainst(s[i], op), d[i]);
        break;
    case kStraightAlphaBlend: {
        const uint32_t opMax = std::max({opR, opG, opB});
        for (int32_t i = 0; i < n; ++i) {
            uint32_t sp = s[i], dp = d[i];
            uint32_t sa = sp >> 24;
            if (sa == 0) continue;
            uint32_t da = dp >> 24;
            auto ch = [&](int shift, uint32_t w8) {
                uint32_t w = div255(sa * w8);
                return div255(((sp >> shift) & 255) * w + ((dp >> shift) & 255) * (255 - w));
            };
            uint32_t ea = div255(sa * opMax);
            uint32_t oa = ea + div255(da * (255 - ea));
            d[i] = pack(oa, ch(16, opR), ch(8, opG), ch(0, opB));
        }
        break;
    }
    default:
        return PixelStatus::UnsupportedMode;
    }
    return PixelStatus::Ok;
}

PixelStatus composite(const Pixmap& src, Pixmap& dst, Point at, int32_t mode, uint32_t opColour,
                      const ClipRegion* clip)
{
    return composite(src, src.bounds(), dst, at, mode, opColour, clip);
}

PixelStatus composite(const Pixmap& src, const Rect& srcRect, Pixmap& dst, Point at, int32_t mode,
                      uint32_t opColour, const ClipRegion* clip)
{
    if (!isSupportedGraphicsMode(mode)) return PixelStatus::UnsupportedMode;
    Rect s = intersect(srcRect, src.bounds());
    if (s.isEmpty() || dst.isEmpty()) return PixelStatus::Ok;
    if (&src == &dst) {
        // Drawing a picture onto itself: work from a copy so rows are not read after writing.
        Pixmap copy(s.width(), s.height());
        composite(src, s, copy, Point{0, 0}, GraphicsMode::kSrcCopy);
        return composite(copy, copy.bounds(), dst,
                         Point{at.x + (s.left - srcRect.left), at.y + (s.top - srcRect.top)}, mode,
                         opColour, clip);
    }
    // Where the visible source part lands in dst, in 64-bit to avoid overflow on far offsets.
    int64_t dx = int64_t(at.x) - srcRect.left, dy = int64_t(at.y) - srcRect.top;
    int64_t l = std::max<int64_t>(s.left + dx, 0), t = std::max<int64_t>(s.top + dy, 0);
    int64_t r = std::min<int64_t>(s.right + dx, dst.width());
    int64_t b = std::min<int64_t>(s.bottom + dy, dst.height());
    if (l >= r || t >= b) return PixelStatus::Ok;
    Rect target{int32_t(l), int32_t(t), int32_t(r), int32_t(b)};
    auto draw = [&](const Rect& area) {
        for (int32_t y = area.top; y < area.bottom; ++y) {
            const uint32_t* sp = src.row(int32_t(y - dy)) + (area.left - dx);
            compositeRow(sp, dst.row(y) + area.left, area.width(), mode, opColour);
        }
    };
    if (!clip) {
        draw(target);
    } else {
        for (const Rect& cr : clip->rects()) {
            Rect a = intersect(cr, target);
            if (!a.isEmpty()) draw(a);
        }
    }
    return PixelStatus::Ok;
}

} // namespace zef::movies
