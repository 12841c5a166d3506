// Decoding speed of the movie toolbox against the ffmpeg program on the same file and thread
// count: sequential decoding of every frame (decode only, and drawn into 1920×1080 pictures)
// and 100 frame-exact pictures at random times.
//
// Usage: bench_decode [FILE]   (default: a 1080p H.264 file of 30 s at 30 fps generated once
// into bench-media/ beside the bench folder, or into $ZEF_BENCH_MEDIA)
#include "platform/movies/media_file.h"
#include "platform/movies/video_decoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include <sys/resource.h>

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time (user + system, all threads) of this process or of its finished children.
double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Measure {
    double wall = 1e300;
    double cpu = 1e300;
    void keepBest(double w, double c)
    {
        wall = std::min(wall, w);
        cpu = std::min(cpu, c);
    }
};

std::string benchFile(const char* argv0)
{
    const char* env = std::getenv("ZEF_BENCH_MEDIA");
    fs::path dir =
        env && *env ? fs::path(env) : fs::absolute(argv0).parent_path() / ".." / "bench-media";
    fs::create_directories(dir);
    fs::path file = dir / "h264-1080p30-30s.mp4";
    if (!fs::exists(file)) {
        std::printf("generating %s ...\n", file.string().c_str());
        fs::path tmp = dir / "generating.mp4";
        std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                          "testsrc2=s=1920x1080:r=30:d=30 -c:v libx264 -preset veryfast -crf 20 "
                          "-g 250 -bf 3 -pix_fmt yuv420p '" +
                          tmp.string() + "'";
        if (std::system(cmd.c_str()) != 0) return {};
        fs::rename(tmp, file);
    }
    return file.string();
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : benchFile(argv[0]);
    auto start = Clock::now();
    MediaOpenResult r = MediaFile::open(path);
    double openTime = secondsSince(start);
    if (r.status != MediaOpenStatus::ok) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), mediaOpenStatusText(r.status));
        return 1;
    }
    int32_t track = r.file->findTrack(kVideoMediaType);
    if (track < 0) return 1;
    const TrackInfo& t = r.file->tracks()[size_t(track)];
    const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
    std::printf("file %s: %lld frames %dx%d, %d threads\n", path.c_str(),
                static_cast<long long>(t.sampleCount), t.width, t.height, threads);
    std::printf("open (packet scan):              %7.3f s\n", openTime);

    // The machine may be shared: the measures run in alternating rounds and the best counts;
    // processor time (all threads) is shown beside wall time as it suffers less from others.
    const int rounds = 3;
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -threads " +
                      std::to_string(threads) + " -i '" + path + "' -f null -";
    Measure reference, decodeOnly, toPixmap;
    int64_t decoded = 0, drawn = 0, seeks = 0;
    for (int round = 0; round < rounds; ++round) {
        double cpu = cpuSeconds(RUSAGE_CHILDREN);
        start = Clock::now();
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "ffmpeg failed: %s\n", cmd.c_str());
        reference.keepBest(secondsSince(start), cpuSeconds(RUSAGE_CHILDREN) - cpu);
        {
            VideoDecoder d(r.file, size_t(track));
            cpu = cpuSeconds(RUSAGE_SELF);
            start = Clock::now();
            decoded = 0;
            for (int64_t i = 0; i < t.sampleCount; ++i)
                decoded += d.frameForSample(i) != nullptr;
            decodeOnly.keepBest(secondsSince(start), cpuSeconds(RUSAGE_SELF) - cpu);
            seeks = d.seekCount();
        }
        {
            VideoDecoder d(r.file, size_t(track));
            Pixmap picture(1920, 1080);
            cpu = cpuSeconds(RUSAGE_SELF);
            start = Clock::now();
            drawn = 0;
            for (int64_t i = 0; i < t.sampleCount; ++i)
                drawn += d.drawSample(i, picture);
            toPixmap.keepBest(secondsSince(start), cpuSeconds(RUSAGE_SELF) - cpu);
        }
    }
    auto line = [&](const char* what, const Measure& m, const std::string& note) {
        std::printf("%-32s wall %7.3f s (%+6.1f%%)  cpu %7.3f s (%+6.1f%%)  %s\n", what, m.wall,
                    100.0 * (m.wall / reference.wall - 1), m.cpu,
                    100.0 * (m.cpu / reference.cpu - 1), note.c_str());
    };
    line(("ffmpeg -threads " + std::to_string(threads) + " -f null").c_str(), reference, cmd);
    line("toolbox sequential decode", decodeOnly,
         std::to_string(decoded) + " frames, " + std::to_string(seeks) + " seeks");
    line("toolbox sequential to Pixmap", toPixmap, std::to_string(drawn) + " drawn at 1920x1080");

    VideoDecoder d(r.file, size_t(track));
    Pixmap picture(1920, 1080);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int64_t> pick(0, t.duration - 1);
    start = Clock::now();
    int64_t ok = 0;
    for (int k = 0; k < 100; ++k)
        ok += d.drawAt(pick(rng), picture);
    double s = secondsSince(start);
    std::printf("100 random frame-exact pictures: %7.3f s  (%.1f ms each, %lld drawn, %lld "
                "frames decoded, key frames every %lld frames)\n",
                s, 10.0 * s, static_cast<long long>(ok),
                static_cast<long long>(d.decodedFrameCount()),
                static_cast<long long>(t.sampleCount / std::max<size_t>(1, t.keyFrames.size())));
    return 0;
}
