// No-source effects (generators), and the noise they share with Film Noise. Everything random
// is a hash of the seed, the frame time and the position, so a frame renders the same way on
// every call and on every thread.
#include "platform/movies/effects/effect_impl.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace zef::movies::fx {

using namespace pixel;

float valueNoise(float x, float y, uint32_t seed)
{
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto v = [seed](int32_t a, int32_t b) { return unit(hash3(seed, uint32_t(a), uint32_t(b))); };
    const float top = v(ix, iy) + (v(ix + 1, iy) - v(ix, iy)) * tx;
    const float bot = v(ix, iy + 1) + (v(ix + 1, iy + 1) - v(ix, iy + 1)) * tx;
    return top + (bot - top) * ty;
}

float fractalNoise(float x, float y, int octaves, uint32_t seed)
{
    float sum = 0, amp = 0.5f, total = 0, freq = 1;
    for (int o = 0; o < octaves; ++o) {
        sum += valueNoise(x * freq, y * freq, seed + uint32_t(o) * 0x9E3779B9u) * amp;
        total += amp;
        amp *= 0.5f;
        freq *= 2.0f;
    }
    return total > 0 ? sum / total : 0.0f;
}

namespace {

// Evaluates field(x, y) (pixel centres) on a grid every `step` pixels and interpolates
// bilinearly between grid points, calling shade(x, y, value) for every pixel.
template <typename Field, typename Shade>
void sampledField(Pixmap& d, int32_t step, Field field, Shade shade)
{
    const int32_t w = d.width(), h = d.height();
    step = std::max(1, step);
    const int32_t gw = w / step + 2, gh = h / step + 2;
    std::vector<float> grid(size_t(gw) * size_t(gh));
    for (int32_t j = 0; j < gh; ++j)
        for (int32_t i = 0; i < gw; ++i)
            grid[size_t(j) * size_t(gw) + size_t(i)] =
                field(float(i * step) + 0.5f, float(j * step) + 0.5f);
    const float inv = 1.0f / float(step);
    for (int32_t y = 0; y < h; ++y) {
        const int32_t j = y / step;
        const float ty = float(y - j * step) * inv;
        const float* g0 = &grid[size_t(j) * size_t(gw)];
        const float* g1 = g0 + gw;
        uint32_t* out = d.row(y);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t i = x / step;
            const float tx = float(x - i * step) * inv;
            float a = g0[i] + (g0[i + 1] - g0[i]) * tx;
            float b = g1[i] + (g1[i + 1] - g1[i]) * tx;
            out[x] = shade(x, y, a + (b - a) * ty);
        }
    }
}

inline float smooth(float e0, float e1, float v)
{
    float t = std::clamp((v - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

} // namespace

void cloud(const EffectContext& c)
{
    const uint32_t seed = uint32_t(c.integer(fourcc("seed")));
    const float scale = float(std::max(4, c.integer(fourcc("scal"))));
    const int octaves = std::clamp(c.integer(fourcc("detl")), 1, 8);
    const float thr = 1.0f - float(c.num(fourcc("covr")));
    const uint32_t sky = c.colour(fourcc("skyc")), cl = c.colour(fourcc("cldc"));
    const float drift = float(c.seconds() * c.num(fourcc("sped")));
    const int32_t step = std::clamp(int32_t(scale / 32), 1, 4);
    sampledField(
        c.dst, step,
        [&](float x, float y) {
            return fractalNoise((x + drift) / scale, y / scale, octaves, seed);
        },
        [&](int32_t, int32_t, float n) {
            float dens = smooth(thr - 0.12f, thr + 0.22f, n);
            return mix256(sky, cl, weight256(dens)) | 0xFF000000u;
        });
}

void fire(const EffectContext& c)
{
    const uint32_t seed = uint32_t(c.integer(fourcc("seed")));
    const float height = std::max(0.01f, float(c.num(fourcc("heig"))));
    const float intensity = float(c.num(fourcc("ints")));
    const float rise = float(c.seconds() * c.num(fourcc("sped"))) * 1.5f;
    const float scale = float(std::max(4, c.integer(fourcc("scal"))));
    const float h = float(c.dst.height());
    const int32_t step = std::clamp(int32_t(scale / 16), 1, 4);
    // Palette from cold to hot: black, deep red, orange, yellow, white.
    static constexpr float kStops[5][4] = {{0.0f, 0, 0, 0},
                                           {0.35f, 170, 20, 0},
                                           {0.6f, 255, 110, 0},
                                           {0.82f, 255, 215, 60},
                                           {1.0f, 255, 255, 230}};
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
        float v = float(i) / 255.0f;
        int k = 0;
        while (k < 3 && v > kStops[k + 1][0])
            ++k;
        float t = (v - kStops[k][0]) / (kStops[k + 1][0] - kStops[k][0]);
        palette[i] = pack(255, clamp8f(kStops[k][1] + (kStops[k + 1][1] - kStops[k][1]) * t),
                          clamp8f(kStops[k][2] + (kStops[k + 1][2] - kStops[k][2]) * t),
                          clamp8f(kStops[k][3] + (kStops[k + 1][3] - kStops[k][3]) * t));
    }
    sampledField(
        c.dst, step,
        [&](float x, float y) {
            float fromBottom = (h - y) / h;
            float base = 1.0f - fromBottom / height;
            if (base <= -0.2f) return 0.0f;
            float n = fractalNoise(x / scale, y / scale + rise, 4, seed);
            return std::clamp((base + (n - 0.5f) * 0.9f) * intensity, 0.0f, 1.0f);
        },
        [&](int32_t, int32_t, float heat) {
            return palette[int(std::clamp(heat, 0.0f, 1.0f) * 255.0f + 0.5f)];
        });
}

void ripple(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const bool gradient = c.integer(fourcc("bkgd")) == 1;
    const uint32_t c1 = c.colour(fourcc("col1")), c2 = c.colour(fourcc("col2"));
    const ParamValue cp = c.point(fourcc("cent"));
    const float cx = float(cp.x) * w, cy = float(cp.y) * h;
    const float wave = float(std::max(2, c.integer(fourcc("wave"))));
    const float amp = float(c.num(fourcc("ampl")));
    const float phase0 = float(c.seconds() * c.num(fourcc("sped")));
    constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
    const float lx = -0.7071f, ly = -0.7071f; // light from the upper left
    // The wave depends on the distance from the centre only: tabulate its slope every quarter
    // pixel of radius and interpolate.
    constexpr float kStepsPerPixel = 4.0f;
    const float maxR = std::sqrt(float(w) * w + float(h) * h) + 2.0f;
    std::vector<float> slopeTable(static_cast<size_t>(maxR * kStepsPerPixel) + 2);
    for (size_t i = 0; i < slopeTable.size(); ++i) {
        const float r = float(i) / kStepsPerPixel;
        const float falloff = 1.0f / (1.0f + r / (8.0f * wave));
        slopeTable[i] = amp * std::cos(kTwoPi * (r / wave - phase0)) * falloff;
    }
    std::vector<uint32_t> gradientRow;
    if (gradient) {
        // Background colour by (displaced) height, 1024 steps down the frame.
        gradientRow.resize(1025);
        for (size_t i = 0; i < gradientRow.size(); ++i)
            gradientRow[i] = mix256(c1, c2, weight256(float(i) / 1024.0f));
    }
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* out = c.dst.row(y);
        const float fy = float(y) + 0.5f, dy = fy - cy;
        for (int32_t x = 0; x < w; ++x) {
            const float dx = float(x) + 0.5f - cx;
            const float r = std::sqrt(dx * dx + dy * dy);
            const float fi = r * kStepsPerPixel;
            const size_t i = size_t(fi);
            const float slope =
                slopeTable[i] + (slopeTable[i + 1] - slopeTable[i]) * (fi - float(i));
            const float inv = r > 0 ? 1.0f / r : 0.0f;
            const float ux = dx * inv, uy = dy * inv;
            // Refraction shifts where the background is seen; the slope facing the light is lit.
            uint32_t base = c1;
            if (gradient) {
                const float sy = fy + uy * slope * wave * 0.25f;
                base = gradientRow[size_t(std::clamp(sy / float(h), 0.0f, 1.0f) * 1024.0f)];
            }
            const float light = 1.0f - 0.45f * slope * (ux * lx + uy * ly);
            out[x] =
                pack(255, clamp8f(float((base >> 16) & 255) * light),
                     clamp8f(float((base >> 8) & 255) * light), clamp8f(float(base & 255) * light));
        }
    }
}

void solidColour(const EffectContext& c) { c.dst.fill(c.colour(fourcc("colr")) | 0xFF000000u); }

} // namespace zef::movies::fx
