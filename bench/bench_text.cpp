// Title text: what a title costs per frame when it is first drawn, when it stands still and
// when it scrolls. Run: build/bench/bench_text
#include "platform/movies/text/text_renderer.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace zef::movies;

namespace {

std::shared_ptr<FontLibrary> fonts()
{
    static auto lib = std::make_shared<FontLibrary>();
    return lib;
}

TextSample title(uint32_t flags)
{
    TextSample s;
    s.text = "Opening Night\rA film by the Rondavo team\rΚαλημέρα · שלום · مرحبا";
    s.size = 64;
    s.textColor = {0xFFFF, 0xFFFF, 0xFFFF};
    s.justification = TextJustify::center;
    s.textBox = Rect{0, 0, 1920, 1080};
    s.displayFlags = TextDisplayFlags::antiAlias | TextDisplayFlags::keyedText |
                     TextDisplayFlags::dropShadow | flags;
    s.dropShadowOffsetX = 4;
    s.dropShadowOffsetY = 4;
    s.dropShadowTransparency = 160;
    return s;
}

// Layout and rasterising of a title never seen before (glyphs are cached by the faces).
void BM_TitleFirstFrame(benchmark::State& state)
{
    TextRenderer renderer(fonts());
    Pixmap frame(1920, 1080, argb(255, 20, 40, 60));
    TextSample s = title(0);
    uint32_t n = 0;
    for (auto _ : state) {
        s.scrollDelay = ++n; // a new sample each time: nothing comes from the layer cache
        renderer.renderTextSample(s, 0.5, frame);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_TitleFirstFrame)->Unit(benchmark::kMillisecond);

// A still title on every frame: the cached layer is composited.
void BM_TitleStillFrame(benchmark::State& state)
{
    TextRenderer renderer(fonts());
    Pixmap frame(1920, 1080, argb(255, 20, 40, 60));
    const TextSample s = title(0);
    double progress = 0;
    for (auto _ : state) {
        renderer.renderTextSample(s, progress, frame);
        progress += 0.001;
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["rasterised"] = double(renderer.rasterisedCount());
}
BENCHMARK(BM_TitleStillFrame)->Unit(benchmark::kMillisecond);

// A scrolling title: a new offset on every frame, the layout comes from the cache.
void BM_TitleScrollingFrame(benchmark::State& state)
{
    TextRenderer renderer(fonts());
    Pixmap frame(1920, 1080, argb(255, 20, 40, 60));
    const TextSample s = title(TextDisplayFlags::scrollIn | TextDisplayFlags::scrollOut);
    int64_t frameIndex = 0;
    for (auto _ : state) {
        renderer.renderTextSample(s, double(frameIndex % 250) / 250.0, frame, 6000);
        ++frameIndex;
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_TitleScrollingFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
