// Movie toolbox: building long edit lists and looking up the sample at a movie time, the two
// things the composition engine and the compositor do per segment and per frame.
#include "platform/movies/movie.h"

#include <benchmark/benchmark.h>

using namespace zef::movies;

namespace {

// A track whose media has `samples` frames of 20 ticks, inserted as `samples` segments.
Track* buildTrack(Movie& movie, int samples)
{
    Track* t = movie.newTrack(320 << 16, 240 << 16, 0);
    movie.newTrackMedia(t, VideoMediaType, 600);
    ImageDescription d;
    d.cType = fourcc("raw ");
    const Handle desc = d.toHandle();
    const uint8_t byte = 0;
    for (int k = 0; k < samples; ++k)
        t->media()->addSample({&byte, 1}, 20, 1, desc);
    for (int k = 0; k < samples; ++k)
        t->insertMedia(TimeValue(k) * 20, TimeValue(k) * 20, 20);
    return t;
}

// The still-image layout: one 20-tick segment appended and scaled to a frame, per frame.
void BM_BuildStillSegments(benchmark::State& state)
{
    const int frames = int(state.range(0));
    for (auto _ : state) {
        Movie movie(600);
        Track* t = movie.newTrack(320 << 16, 240 << 16, 0);
        movie.newTrackMedia(t, VideoMediaType, 600);
        const uint8_t byte = 0;
        ImageDescription d;
        t->media()->addSample({&byte, 1}, 20, 1, d.toHandle());
        for (int k = 0; k < frames; ++k) {
            t->insertMedia(TimeValue(k) * 20, 0, 20);
            t->scaleSegment(TimeValue(k) * 20, 20, 20);
        }
        benchmark::DoNotOptimize(t->duration());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_BuildStillSegments)->Arg(1000)->Arg(18000);

void BM_TrackLookup(benchmark::State& state)
{
    Movie movie(600);
    const int n = int(state.range(0));
    Track* t = buildTrack(movie, n);
    const TimeValue end = t->duration();
    TimeValue time = 0;
    TrackPosition p;
    for (auto _ : state) {
        time = (time + 7919) % end;
        benchmark::DoNotOptimize(t->lookup(time, p));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TrackLookup)->Arg(100)->Arg(100000);

} // namespace

BENCHMARK_MAIN();
