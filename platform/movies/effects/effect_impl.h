// Internal to the effects: the render functions of the built-in effects and helpers they share.
#pragma once

#include "platform/movies/composite/pixel_ops.h"
#include "platform/movies/effects/effect.h"

#include <cmath>
#include <cstdint>

namespace zef::movies::fx {

// Two sources.
void crossFade(const EffectContext& c);
void wipe(const EffectContext& c);
void iris(const EffectContext& c);
void radial(const EffectContext& c);
void matrixWipe(const EffectContext& c);
void push(const EffectContext& c);
void slide(const EffectContext& c);
void zoom(const EffectContext& c);
void explode(const EffectContext& c);
void implode(const EffectContext& c);
void gradientWipe(const EffectContext& c);
void chromaKey(const EffectContext& c);
void alphaCompositor(const EffectContext& c);

// One source.
void alphaGain(const EffectContext& c);
void blur(const EffectContext& c);
void sharpen(const EffectContext& c);
void brightnessContrast(const EffectContext& c);
void colourTint(const EffectContext& c);
void colourStyle(const EffectContext& c);
void edgeDetection(const EffectContext& c);
void emboss(const EffectContext& c);
void filmNoise(const EffectContext& c);
void hslBalance(const EffectContext& c);
void rgbBalance(const EffectContext& c);
void convolution(const EffectContext& c);
void lensFlare(const EffectContext& c);

// No source.
void cloud(const EffectContext& c);
void fire(const EffectContext& c);
void ripple(const EffectContext& c);
void solidColour(const EffectContext& c);

// Box-blurs src into dst (same size) three times with the given box radius along x and y,
// approximating a gaussian; O(1) per pixel whatever the radius.
void boxBlur3(const Pixmap& src, Pixmap& dst, int32_t radius);

// Deterministic hashing for noise: the same inputs give the same value on every machine.
constexpr uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
constexpr uint32_t hash3(uint32_t a, uint32_t b, uint32_t c)
{
    return hash32(a ^ hash32(b + 0x9E3779B9U * hash32(c + 0x632BE5ABU)));
}
// Uniform in [0, 1).
inline float unit(uint32_t h) { return float(h >> 8) * (1.0f / 16777216.0f); }

// Smooth value noise at (x, y) on an integer lattice of seed, in [0, 1).
float valueNoise(float x, float y, uint32_t seed);
// Fractal sum of octaves of value noise, in [0, 1).
float fractalNoise(float x, float y, int octaves, uint32_t seed);

} // namespace zef::movies::fx
