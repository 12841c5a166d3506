// Speed of saving and opening project files and of undo snapshots.
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/storage/stream.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

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

// A project with `perTrack` items on each of the tracks 0-3 (clips with a filter) and the same
// number of titles, minus what makes up `total`.
struct Project {
    explicit Project(int total)
    {
        project.setClipOpener(&opener);
        const int perTrack = total / 5;
        for (int32_t track = 0; track < 5; ++track) {
            const int count = track == 4 ? total - 4 * perTrack : perTrack;
            for (int i = 0; i < count; ++i)
                add(track, i);
        }
        project.modified = true;
    }

    void add(int32_t track, int i)
    {
        const int64_t start = int64_t(i) * 600;
        if (track == kTitleTrack) {
            auto t = std::make_unique<ZEFTitlerEffect>(&project);
            t->setName("Title");
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

    InstantOpener opener;
    FProject project;
    EditRateContext::Scope scope{project.rateContext()};
};

std::string benchDir()
{
    auto dir = std::filesystem::temp_directory_path() /
               ("zef-bench-project-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir.string();
}

void BM_WriteProjectStream5000(benchmark::State& state)
{
    Project p(5000);
    size_t bytes = 0;
    for (auto _ : state) {
        storage::MemoryStream s;
        p.project.writeProject(s);
        bytes = s.bytes().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WriteProjectStream5000)->Unit(benchmark::kMillisecond);

void BM_SaveProject5000(benchmark::State& state)
{
    Project p(5000);
    const std::string dir = benchDir();
    p.project.filePath = dir + "/save";
    for (auto _ : state) {
        p.project.modified = true;
        if (p.project.saveProject(false, false, false) != 1) state.SkipWithError("save failed");
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveProject5000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenProject5000(benchmark::State& state)
{
    const std::string dir = benchDir();
    {
        Project p(5000);
        p.project.filePath = dir + "/open";
        if (p.project.saveProject(false, false, false) != 1) state.SkipWithError("save failed");
    }
    InstantOpener opener;
    FProject project;
    EditRateContext::Scope scope(project.rateContext());
    project.setClipOpener(&opener);
    for (auto _ : state) {
        if (project.openProject(dir + "/open") != 1) state.SkipWithError("open failed");
    }
    state.counters["items"] = double(project.device(0).size() * 5);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_OpenProject5000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordTrackSnapshot1000(benchmark::State& state)
{
    Project p(0);
    for (int i = 0; i < 1000; ++i)
        p.add(kLayerB, i);
    for (auto _ : state)
        p.project.undoHistory().recordUndo(kLayerB, "Moved %s", "clip");
}
BENCHMARK(BM_RecordTrackSnapshot1000)->Unit(benchmark::kMicrosecond);

void BM_UndoRedoTrack1000(benchmark::State& state)
{
    Project p(0);
    for (int i = 0; i < 1000; ++i)
        p.add(kLayerB, i);
    p.project.undoHistory().recordUndo(kLayerB, "Removed");
    p.project.removeItemAt(kLayerB, 0, true);
    for (auto _ : state) {
        p.project.undoHistory().undo(1);
        p.project.undoHistory().redo(1);
    }
}
BENCHMARK(BM_UndoRedoTrack1000)->Unit(benchmark::kMillisecond);

// Three snapshots of one track undone at once in a project of 5,000 items: the project restores
// one of them, and a scratch copy of the project follows the others for the redo entries.
void BM_UndoRedoThreeOfOneTrack5000(benchmark::State& state)
{
    Project p(5000);
    for (int i = 0; i < 3; ++i) {
        p.project.undoHistory().recordUndo(kLayerB, "Removed %d", i);
        p.project.removeItemAt(kLayerB, 0, true);
    }
    for (auto _ : state) {
        p.project.undoHistory().undo(3);
        p.project.undoHistory().redo(3);
    }
}
BENCHMARK(BM_UndoRedoThreeOfOneTrack5000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
