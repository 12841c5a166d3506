// Speed of undoing and redoing ten steps at once in a project of 500 clips opened from real
// media files (five 2-second 320×240 H.264 movies with AAC sound, made once with the ffmpeg
// program into <build>/bench-media/undo/). The ten edits cover Layers A, B, C and the gallery
// with track and whole-project snapshots, so that several snapshots of one track are
// superseded: moves, removals, trims of clip ends, volume, scale factor, crop and a keyframe
// (none changes a clip's first frame, whose thumbnail a restore would have to draw again).
// Prints the time of each multi-step undo and redo and how many times a media file was opened
// meanwhile (inotify open events in the media folder).
//
// Usage: bench_undo [ROUNDS]
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/storage/stream.h"
#include "tests/support/file_open_watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace zef;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClips = 500;
constexpr int kFiles = 5;
constexpr int kSteps = 10;

double millisecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool makeMovies(const fs::path& dir, std::vector<std::string>& paths)
{
    fs::create_directories(dir);
    for (int i = 0; i < kFiles; ++i) {
        const fs::path out = dir / ("clip" + std::to_string(i) + ".mp4");
        paths.push_back(out.string());
        if (fs::exists(out)) continue;
        const fs::path tmp = dir / "making.tmp.mp4";
        const std::string cmd =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=320x240:r=30:"
            "d=2 -f lavfi -i sine=f=" +
            std::to_string(300 + 100 * i) +
            ":r=48000:d=2 -c:v libx264 -preset veryfast -g 30 -pix_fmt yuv420p -c:a aac '" +
            tmp.string() + "'";
        if (std::system(cmd.c_str()) != 0 || !fs::exists(tmp)) return false;
        fs::rename(tmp, out);
    }
    return true;
}

std::vector<uint8_t> projectBytes(const FProject& project)
{
    storage::MemoryStream s;
    project.writeProject(s);
    return s.takeBytes();
}

ZEFSourceItem* clipAt(FProject& project, int32_t track, size_t i)
{
    return dynamic_cast<ZEFSourceItem*>(project.device(track).at(i));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path self = fs::absolute(argv[0]);
    const fs::path dir = self.parent_path().parent_path() / "bench-media" / "undo";
    std::vector<std::string> movies;
    if (!makeMovies(dir, movies)) {
        std::fprintf(stderr, "bench_undo: could not make the test movies with ffmpeg\n");
        return 1;
    }

    FProject project;
    EditRateContext::Scope scope(project.rateContext());
    // 200 clips on Layer A, 100 on each of Layers B and C and in the gallery.
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < kClips; ++i) {
        const int32_t track = i < 200 ? kLayerA : i < 300 ? kLayerB : i < 400 ? kLayerC : kGallery;
        auto clip = std::make_unique<ZEFSourceItem>(&project, track);
        clip->setPath(movies[size_t(i % kFiles)]);
        try {
            clip->open(true, false, false, false);
        } catch (const ZEFException& e) {
            std::fprintf(stderr, "bench_undo: %s\n", e.message());
            return 1;
        }
        project.addItem(std::move(clip), false, true);
    }
    const double setup = millisecondsSince(t0);

    const std::vector<std::pair<int32_t, std::function<void()>>> edits = {
        {kLayerA, [&] { clipAt(project, kLayerA, 10)->setVolume(100); }},
        {kLayerB, [&] { clipAt(project, kLayerB, 5)->setSourceOut(EditTime(900)); }},
        {kLayerA, [&] { clipAt(project, kLayerA, 20)->setScaleFactor(0.5f); }},
        {-1, [&] { project.moveItem(kLayerA, 30, kLayerC, -1, false); }},
        {kLayerB,
         [&] {
             project.insertKeyframe(kLayerB, EditTime(1800),
                                    movies::MatrixRecord::scaling(0x8000, 0x8000), false);
         }},
        {kLayerA, [&] { project.removeItemAt(kLayerA, 40, true); }},
        {kLayerC,
         [&] {
             clipAt(project, kLayerC, 3)->setCropRect({0x1000, 0, 0xF000, 0x10000});
         }},
        {-1, [&] { project.moveItem(kLayerB, 7, kLayerA, 50, false); }},
        {kGallery, [&] { clipAt(project, kGallery, 2)->setVolume(64); }},
        {kLayerA, [&] { clipAt(project, kLayerA, 60)->setSourceOut(EditTime(600)); }},
    };
    const std::vector<uint8_t> before = projectBytes(project);
    for (const auto& [track, edit] : edits) {
        project.undoHistory().recordUndo(track, "Edit");
        edit();
    }
    const std::vector<uint8_t> after = projectBytes(project);

    zef::testing::FileOpenWatch watch(dir.string());
    if (!watch.valid()) {
        std::fprintf(stderr, "bench_undo: cannot watch %s\n", dir.c_str());
        return 1;
    }
    std::vector<double> undoTimes, redoTimes;
    int64_t undoOpens = 0, redoOpens = 0;
    for (int r = 0; r < rounds; ++r) {
        t0 = Clock::now();
        project.undoHistory().undo(kSteps);
        undoTimes.push_back(millisecondsSince(t0));
        undoOpens += watch.takeOpens();
        if (projectBytes(project) != before) {
            std::fprintf(stderr, "bench_undo: the undone project differs from the original\n");
            return 1;
        }
        t0 = Clock::now();
        project.undoHistory().redo(kSteps);
        redoTimes.push_back(millisecondsSince(t0));
        redoOpens += watch.takeOpens();
        if (projectBytes(project) != after) {
            std::fprintf(stderr, "bench_undo: the redone project differs from the edited one\n");
            return 1;
        }
    }

    std::printf("%d clips of %d media files opened with thumbnails in %.0f ms\n", kClips, kFiles,
                setup);
    std::printf("undo of %d steps at once  median %7.2f ms  max %7.2f ms  media file opens %lld "
                "(%d rounds)\n",
                kSteps, median(undoTimes), *std::max_element(undoTimes.begin(), undoTimes.end()),
                static_cast<long long>(undoOpens), rounds);
    std::printf("redo of %d steps at once  median %7.2f ms  max %7.2f ms  media file opens %lld "
                "(%d rounds)\n",
                kSteps, median(redoTimes), *std::max_element(redoTimes.begin(), redoTimes.end()),
                static_cast<long long>(redoOpens), rounds);
    return 0;
}
