// Speed of the edit operations on long tracks and of keyframe evaluation.
#include "model/item.h"
#include "model/project.h"

#include <benchmark/benchmark.h>

using namespace zef;

namespace {

// Counts notifications the way a view would, without doing work per call.
struct CountingViews : ProjectObserver {
    long calls = 0;
    void itemChanged(ZEFItem*) override { ++calls; }
    void repaintTrackRow(int32_t) override { ++calls; }
};

struct Track {
    explicit Track(int count, int64_t length = 600, int64_t gap = 0)
    {
        project.addObserver(&views);
        for (int i = 0; i < count; ++i) {
            auto item = std::make_unique<ZEFEffectItem>(&project, kLayerB);
            item->assignStart(EditTime::raw(i * (length + gap)));
            item->assignEnd(EditTime::raw(i * (length + gap) + length));
            project.addItem(std::move(item), false, false);
        }
    }
    FProject project;
    EditRateContext::Scope scope{project.rateContext()};
    CountingViews views;
};

void BM_RippleShift10k(benchmark::State& state)
{
    Track t(10000);
    ZEFItem* first = t.project.device(kLayerB).at(0);
    int32_t delta = 20;
    for (auto _ : state) {
        benchmark::DoNotOptimize(first->rippleShift(delta));
        delta = -delta;
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RippleShift10k)->Unit(benchmark::kMillisecond);

void BM_PushShift10k(benchmark::State& state)
{
    Track t(10000);
    ZEFItem* first = t.project.device(kLayerB).at(0);
    ZEFItem* last = t.project.device(kLayerB).last();
    bool forward = true;
    for (auto _ : state) {
        // Forward from the first item pushes every later one; back from the last item pulls
        // every earlier one.
        benchmark::DoNotOptimize(forward ? first->pushShift(20) : last->pushShift(-20));
        forward = !forward;
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_PushShift10k)->Unit(benchmark::kMillisecond);

void BM_MoveOneOf10k(benchmark::State& state)
{
    Track t(10000, 600, 120);
    ZEFItem* middle = t.project.device(kLayerB).at(5000);
    const int64_t home = middle->getStart().ticks();
    bool out = true;
    for (auto _ : state) {
        middle->moveTo(EditTime::raw(out ? home + 100 : home), false);
        out = !out;
    }
    if (middle->getStart().ticks() != home && middle->getStart().ticks() != home + 100)
        state.SkipWithError("item did not move as expected");
}
BENCHMARK(BM_MoveOneOf10k)->Unit(benchmark::kMicrosecond);

void BM_MoveItemAcrossTracks10k(benchmark::State& state)
{
    Track t(10000);
    for (auto _ : state) {
        // Layer B index 5000 to the front of Layer C and back: each ripples half a track.
        t.project.moveItem(kLayerB, 5000, kLayerC, 0, false);
        t.project.moveItem(kLayerC, 0, kLayerB, 5000, false);
    }
}
BENCHMARK(BM_MoveItemAcrossTracks10k)->Unit(benchmark::kMillisecond);

void BM_MatrixAt1k(benchmark::State& state)
{
    FProject project;
    EditRateContext::Scope scope(project.rateContext());
    for (int i = 0; i < 1000; ++i) {
        movies::MatrixRecord m = movies::MatrixRecord::identity();
        m.m[2][0] = i * 10;
        project.insertKeyframe(kLayerA, EditTime::raw(int64_t(i + 1) * 600), m, false);
    }
    int64_t t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(project.matrixAt(kLayerA, EditTime::raw(t)));
        t = (t + 6007) % (1001 * 600); // spread over the whole range, mostly between keys
    }
}
BENCHMARK(BM_MatrixAt1k)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
