// Frames per second of the compositor and of common effects at SD and HD sizes.
// Run: build/bench/bench_effects   (the "fps" counter is frames per second)
#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/composite/warp.h"
#include "platform/movies/effects/effect_registry.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace zef::movies;

namespace {

Pixmap picture(int32_t w, int32_t h, uint32_t salt, bool varyAlpha)
{
    Pixmap p(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = (uint32_t(x) * 2654435761u) ^ ((uint32_t(y) + salt) * 40503u);
            uint32_t a = varyAlpha ? (uint32_t(x + y) & 255) : 255;
            p.setPixel(x, y, (a << 24) | (v & 0xFFFFFFu));
        }
    return p;
}

void setFps(benchmark::State& state)
{
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void runEffect(benchmark::State& state, const char* name, FourCC param, double value)
{
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1));
    const EffectDescriptor* d = builtInEffects().findByName(name);
    if (!d) {
        state.SkipWithError("effect missing");
        return;
    }
    ParameterSet ps = ParameterSet::defaults(*d);
    if (param) ps.set(*d, param, {value, 0});
    Pixmap a = picture(w, h, 1, false), b = picture(w, h, 2, false), out(w, h);
    EffectFrame f;
    f.progress = 0.5;
    f.srcA = &a;
    f.srcB = &b;
    f.dst = &out;
    for (auto _ : state) {
        renderEffect(*d, ps, f);
        benchmark::DoNotOptimize(out.data());
    }
    setFps(state);
}

void BM_CrossFade(benchmark::State& s) { runEffect(s, "Cross Fade", 0, 0); }
void BM_WipeLeftToRight(benchmark::State& s) { runEffect(s, "Wipe", 0, 0); }
void BM_BlurRadius8(benchmark::State& s) { runEffect(s, "Blur", fourcc("radi"), 8); }

void runComposite(benchmark::State& state, int32_t mode, bool varyAlpha)
{
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1));
    Pixmap src = picture(w, h, 3, varyAlpha), dst = picture(w, h, 4, false);
    for (auto _ : state) {
        composite(src, dst, Point{0, 0}, mode);
        benchmark::DoNotOptimize(dst.data());
    }
    setFps(state);
}

void BM_CompositeCopy(benchmark::State& s) { runComposite(s, GraphicsMode::kSrcCopy, false); }
void BM_CompositeStraightAlpha(benchmark::State& s)
{
    runComposite(s, GraphicsMode::kStraightAlpha, true);
}

void BM_WarpHalfSize(benchmark::State& state)
{
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1));
    Pixmap src = picture(w, h, 5, false), dst = picture(w, h, 6, false);
    // Half size, moved to the lower right quarter.
    MatrixRecord m = MatrixRecord::mapRect(src.bounds(), Rect{w / 2, h / 2, w, h});
    for (auto _ : state) {
        drawWarped(src, dst, m);
        benchmark::DoNotOptimize(dst.data());
    }
    setFps(state);
}

void BM_WarpRotate10(benchmark::State& state)
{
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1));
    Pixmap src = picture(w, h, 7, false), dst = picture(w, h, 8, false);
    // 10° about the centre: the general (affine) path.
    const double a = 10.0 * 3.14159265358979 / 180.0;
    MatrixRecord m = MatrixRecord::translation(-(w / 2) * kFixed1, -(h / 2) * kFixed1);
    MatrixRecord r = MatrixRecord::identity();
    r.m[0][0] = doubleToFixed(std::cos(a));
    r.m[0][1] = doubleToFixed(std::sin(a));
    r.m[1][0] = doubleToFixed(-std::sin(a));
    r.m[1][1] = doubleToFixed(std::cos(a));
    m.concat(r);
    m.translate((w / 2) * kFixed1, (h / 2) * kFixed1);
    for (auto _ : state) {
        drawWarped(src, dst, m);
        benchmark::DoNotOptimize(dst.data());
    }
    setFps(state);
}

#define SIZES ->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_CrossFade) SIZES;
BENCHMARK(BM_WipeLeftToRight) SIZES;
BENCHMARK(BM_CompositeStraightAlpha) SIZES;
BENCHMARK(BM_CompositeCopy) SIZES;
BENCHMARK(BM_WarpHalfSize) SIZES;
BENCHMARK(BM_WarpRotate10) SIZES;
BENCHMARK(BM_BlurRadius8) SIZES;

} // namespace

BENCHMARK_MAIN();
