// Speed of opening clips: 100 clips of a 10-second 1080p H.264 movie (made once with the ffmpeg
// program into <build>/bench-media/), each opened as a clip of its own with its thumbnail, as
// adding them to the gallery does. Prints clips per second for the whole open, for the media
// reading alone and for the thumbnail alone.
//
// Usage: bench_clips [COUNT]
#include "model/item.h"
#include "model/media_clip_opener.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace zef;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string benchMovie(const fs::path& dir)
{
    fs::create_directories(dir);
    const fs::path out = dir / "h264-1080p-10s.mp4";
    if (fs::exists(out)) return out.string();
    const fs::path tmp = dir / "h264-1080p-10s.tmp.mp4";
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                            "testsrc2=s=1920x1080:r=30:d=10 -f lavfi -i sine=f=440:r=48000:d=10 "
                            "-c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p -c:a aac '" +
                            tmp.string() + "'";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(tmp)) return "";
    fs::rename(tmp, out);
    return out.string();
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const fs::path self = fs::absolute(argv[0]);
    const std::string movie = benchMovie(self.parent_path().parent_path() / "bench-media");
    if (movie.empty()) {
        std::fprintf(stderr, "bench_clips: could not make the test movie with ffmpeg\n");
        return 1;
    }

    FProject project;
    EditRateContext::Scope scope(project.rateContext());
    MediaClipOpener opener;

    // Media reading alone.
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        MediaInfo info;
        bool notAMovie = false;
        if (!opener.open(movie, 0, 0, info, notAMovie)) {
            std::fprintf(stderr, "bench_clips: cannot open %s\n", movie.c_str());
            return 1;
        }
    }
    const double reading = secondsSince(t0);

    // Whole clips, as the gallery gets them: media, defaults and thumbnail.
    t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto clip = std::make_unique<ZEFSourceItem>(&project, kGallery);
        clip->setPath(movie);
        try {
            clip->open(true, false, false, false);
        } catch (const ZEFException& e) {
            std::fprintf(stderr, "bench_clips: %s\n", e.message());
            return 1;
        }
        project.addItem(std::move(clip), false, true);
    }
    const double whole = secondsSince(t0);

    // Thumbnails alone, of the clips now open, at their in-points.
    t0 = Clock::now();
    for (size_t i = 0; i < project.device(kGallery).size(); ++i)
        project.device(kGallery).at(i)->refreshThumbnail();
    const double thumbs = secondsSince(t0);

    std::printf("clips of a 10 s 1080p H.264 movie with AAC sound, %d each\n", count);
    std::printf("open with thumbnail  %8.1f clips/s  (%.2f ms per clip)\n", count / whole,
                1000 * whole / count);
    std::printf("media reading alone  %8.1f clips/s  (%.2f ms per clip)\n", count / reading,
                1000 * reading / count);
    std::printf("thumbnail alone      %8.1f clips/s  (%.2f ms per clip)\n", count / thumbs,
                1000 * thumbs / count);
    return 0;
}
