// The pause an autosave causes on the project's (GUI) thread: the snapshot of a 2,000-item
// project into memory, handed to the worker; and, for comparison, the whole autosave until
// the recovery file is in place.
#include "app/recovery/autosaver.h"
#include "app/recovery/recovery_store.h"
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>

using namespace zef;

namespace {

struct InstantMedia : ClipMedia {
    bool viaMovieToolbox() const override { return true; }
};

// Opens every clip at once: ten minutes of 30 fps video, no file is touched.
struct InstantOpener : ClipOpener {
    std::unique_ptr<ClipMedia> open(const std::string&, int32_t, int32_t, MediaInfo& info,
                                    bool& notAMovie) override
    {
        notAMovie = false;
        info.rateNum = 30;
        info.rateDen = 1;
        info.frameCount = 30 * 600;
        info.videoTrackCount = 1;
        return std::make_unique<InstantMedia>();
    }
};

// 2,000 items: clips with a filter on the four clip tracks and titles, as an edited project
// holds them; saved once, so that it has a file of its own.
struct Setup {
    Setup()
    {
        std::filesystem::create_directories(dir);
        project.setClipOpener(&opener);
        for (int32_t track = 0; track < 5; ++track)
            for (int i = 0; i < 400; ++i)
                add(track, i);
        project.filePath = dir + "/show";
        project.saveProject(false, false, false);
        project.modified = true;
        store.beginSession();
    }
    ~Setup()
    {
        store.endSession();
        std::filesystem::remove_all(dir);
    }

    void add(int32_t track, int i)
    {
        const int64_t start = int64_t(i) * 600;
        if (track == kTitleTrack) {
            auto t = std::make_unique<ZEFTitlerEffect>(&project);
            t->setText("Title number " + std::to_string(i));
            t->assignStart(EditTime::raw(start));
            t->assignEnd(EditTime::raw(start + 600));
            project.addItem(std::move(t), false, false);
            return;
        }
        auto c = std::make_unique<ZEFSourceItem>(&project, track);
        c->setPath("/media/clips/clip" + std::to_string(track) + "_" + std::to_string(i) + ".mov");
        c->setName("clip " + std::to_string(i));
        c->assignSourceRange(EditTime::raw(0, 30, 1), EditTime::raw(600, 30, 1));
        c->assignStart(EditTime::raw(start));
        c->assignEnd(EditTime::raw(start + 600));
        c->addFilter(std::make_unique<ZEFEffectItem>(&project, track, c.get()));
        project.addItem(std::move(c), false, false);
    }

    std::string dir = (std::filesystem::temp_directory_path() /
                       ("zef-bench-autosave-" + std::to_string(::getpid())))
                          .string();
    InstantOpener opener;
    FProject project;
    EditRateContext::Scope scope{project.rateContext()};
    recovery::RecoveryStore store{dir + "/state"};
};

// What the user can feel: the autosave's work on the GUI thread. The worker's write of the
// previous snapshot is waited for outside the measured time.
void BM_AutosavePauseOnGuiThread2000(benchmark::State& state)
{
    Setup s;
    recovery::Autosaver autosaver(s.project, s.store);
    for (auto _ : state) {
        autosaver.snapshotNow();
        state.PauseTiming();
        autosaver.flush();
        state.ResumeTiming();
    }
    state.counters["bytes"] = double(std::filesystem::file_size(s.store.recoveryPath()));
}
BENCHMARK(BM_AutosavePauseOnGuiThread2000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole autosave, snapshot to recovery file on disk (on the worker, not felt).
void BM_AutosaveToDisk2000(benchmark::State& state)
{
    Setup s;
    recovery::Autosaver autosaver(s.project, s.store);
    for (auto _ : state) {
        autosaver.snapshotNow();
        autosaver.flush();
    }
}
BENCHMARK(BM_AutosaveToDisk2000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
