// The preview picture of the effect parameter dialog: one render of every installed effect at
// the dialog's preview size, as each change of a control draws it on the GUI thread. "max"
// sets every number to the top of its range (the slowest blur, the most pieces).
// Run: build/bench/bench_param_preview   (time per render; goal well under 16 ms)
#include "model/item.h"
#include "platform/movies/effects/effect_registry.h"
#include "ui/decks/effect_parameter_dialog.h"
#include "ui/decks/effect_preview.h"

#include <benchmark/benchmark.h>

using namespace zef;
using namespace zef::movies;

namespace {

constexpr int32_t kWidth = ui::CEffectParameterDialog::kPreviewWidth;
constexpr int32_t kHeight = kWidth * 3 / 4;

void renderPreview(benchmark::State& state, const EffectDescriptor* d, bool max)
{
    ZEFEffectItem item(nullptr, kLayerB);
    const ui::EffectPreview preview(builtInEffects(), item, kWidth, kHeight);
    ParameterSet params = ParameterSet::defaults(*d);
    if (max)
        for (const ParamDescriptor& p : d->params)
            if (p.type == ParamType::Integer || p.type == ParamType::Fixed)
                params.set(*d, p.code, {p.max, 0});
    Pixmap out;
    for (auto _ : state) {
        preview.render(*d, params, 0.5, out);
        benchmark::DoNotOptimize(out.data());
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (int sources = 0; sources <= 2; ++sources)
        for (const EffectDescriptor* d : builtInEffects().list(sources))
            for (bool max : {false, true})
                benchmark::RegisterBenchmark((d->name + (max ? " (max)" : "")).c_str(),
                                             renderPreview, d, max)
                    ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
