// Small per-pixel helpers shared by the compositor and the effects.
//
// Pixels are 0xAARRGGBB with straight alpha. The "pair" helpers work on two 8-bit channels at
// once in 16-bit lanes of a 32-bit value (red+blue and alpha+green), which keeps blends cheap
// and lets the compiler vectorise whole rows.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// Marks a simple whole-row loop for vectorisation: an AVX2 clone is picked at run time where
// the processor has it, and the loop vectoriser runs with its full cost model (the -O2 default
// model refuses loops that need a run-time alias check).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZEF_VECTOR_LOOP                                                                            \
    __attribute__((target_clones("avx2", "default"), optimize("vect-cost-model=dynamic")))
#elif defined(__GNUC__) && !defined(__clang__)
#define ZEF_VECTOR_LOOP __attribute__((optimize("vect-cost-model=dynamic")))
#else
#define ZEF_VECTOR_LOOP
#endif

namespace zef::movies::pixel {

constexpr uint32_t kPairMask = 0x00FF00FFu;

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255 + 255.
constexpr uint32_t div255(uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// The same on both 16-bit lanes of a pair value (each lane <= 65152).
constexpr uint32_t div255Pair(uint32_t x)
{
    x += 0x00800080u;
    return ((x + ((x >> 8) & kPairMask)) >> 8) & kPairMask;
}

// a·(255−w) + b·w over 255 per channel, 0 <= w <= 255 (exactly a at 0, b at 255).
constexpr uint32_t mix255(uint32_t a, uint32_t b, uint32_t w)
{
    uint32_t iw = 255 - w;
    uint32_t rb = div255Pair((a & kPairMask) * iw + (b & kPairMask) * w);
    uint32_t ag = div255Pair(((a >> 8) & kPairMask) * iw + ((b >> 8) & kPairMask) * w);
    return rb | (ag << 8);
}

// a·(256−w) + b·w over 256 per channel, 0 <= w <= 256 (exactly a at 0, b at 256), rounded.
constexpr uint32_t mix256(uint32_t a, uint32_t b, uint32_t w)
{
    uint32_t iw = 256 - w;
    uint32_t rb = (((a & kPairMask) * iw + (b & kPairMask) * w + 0x00800080u) >> 8) & kPairMask;
    uint32_t ag =
        ((((a >> 8) & kPairMask) * iw + ((b >> 8) & kPairMask) * w + 0x00800080u) >> 8) & kPairMask;
    return rb | (ag << 8);
}

// Three-way mix a·wa + b·wb + c·wc over 256 with wa + wb + wc = 256.
constexpr uint32_t mix3(uint32_t a, uint32_t wa, uint32_t b, uint32_t wb, uint32_t c, uint32_t wc)
{
    uint32_t rb =
        (((a & kPairMask) * wa + (b & kPairMask) * wb + (c & kPairMask) * wc + 0x00800080u) >> 8) &
        kPairMask;
    uint32_t ag = ((((a >> 8) & kPairMask) * wa + ((b >> 8) & kPairMask) * wb +
                    ((c >> 8) & kPairMask) * wc + 0x00800080u) >>
                   8) &
                  kPairMask;
    return rb | (ag << 8);
}

constexpr uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }
inline uint8_t clamp8f(float v)
{
    return uint8_t(v <= 0.f ? 0 : (v >= 255.f ? 255 : int(v + 0.5f)));
}
inline uint8_t clamp8d(double v)
{
    return uint8_t(v <= 0.0 ? 0 : (v >= 255.0 ? 255 : int(v + 0.5)));
}

constexpr uint32_t pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// Rec. 601 luma, 0..255.
constexpr uint32_t luma(uint32_t p)
{
    return (((p >> 16) & 255) * 77 + ((p >> 8) & 255) * 150 + (p & 255) * 29 + 128) >> 8;
}

// Premultiplies colour by alpha and back.
constexpr uint32_t premultiply(uint32_t p)
{
    uint32_t a = p >> 24;
    if (a == 255) return p;
    uint32_t rb = div255Pair((p & kPairMask) * a);
    uint32_t g = div255(((p >> 8) & 255) * a);
    return (a << 24) | rb | (g << 8);
}
inline uint32_t unpremultiply(uint32_t p)
{
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto un = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
    return pack(a, un((p >> 16) & 255), un((p >> 8) & 255), un(p & 255));
}

// Clamps a weight in [0, 1] to an integer weight 0..256.
inline uint32_t weight256(float w)
{
    if (!(w > 0.f)) return 0;
    if (w >= 1.f) return 256;
    return uint32_t(w * 256.f + 0.5f);
}

} // namespace zef::movies::pixel
