// zefbench: evaluates every picture of a reference composition through the movie toolbox and
// prints the frame rate and the peak memory.
//
//   zefbench reference [--size 480|720|1080] [--threads N] [--frames N] [--dump DIR]
//                      [--sound on|off] [--decoder-threads N]
//
// --threads: evaluating threads (1 by default), each taking one contiguous run of pictures with
// its own decoders. With one thread the decoders use FFmpeg's frame threads on every core, which
// on this composition beats splitting the pictures: a run that starts between key frames must
// first decode back to its key frame.
//
// The sources are made once with the ffmpeg program into bench-media/ next to the bench folder
// of the build tree (H.264, key frame every 250 frames, 30 fps, at the output size, with 48 kHz
// stereo AAC tones). The composition, 22 s at 30 fps, is built with toolbox calls the way the
// composition builder lays out a timeline:
//   layer A: clip a 0–12 s, clip b 10–22 s, a 2-second Cross Fade between them (effect track
//            with srcA/srcB; head and tail segments copied into the effect track);
//   layer B: clip c 2–8 s at half size moving from the top-left to the bottom-right corner
//            (matrix tween track attached as a modifier);
//   title:   "Hello World", white, 48 points, centred, 1–5 s (text track, layer -20);
//   sound:   both clips' sound with fade tweens (volume modifiers) that cross-fade them;
//   base:    the black background (1×1 'raw ' sample, layer 998) and the placeholder text
//            track (layer 1000).
// Each picture's sound span is mixed too (48 kHz stereo) unless --sound off. The last line
// printed is "fps=N rss_mb=M".
//
//   zefbench player [--size 480|720|1080] [--seconds N] [--decoder-threads N]
//
// plays the composition from its start for N seconds (20 by default) in real time through the
// movie player into the null sinks: a 48 kHz stereo sound device drained by the steady clock
// (the master clock) and a display that shows a picture per 60 Hz refresh. The last line printed
// is "dropped=N late_ms_max=M".
//
//   zefbench reference [--size 480|720|1080] --render OUT.mov
//
// converts the composition to a movie file through the movie export component (H.264 with
// x264 preset veryfast, CRF 23, AAC 128 kb/s), rendering and encoding overlapped. The last
// line printed is "fps=N rss_mb=M".
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_export_source.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/media_file.h"
#include "platform/movies/movie.h"
#include "platform/movies/player/movie_player.h"
#include "platform/movies/png_writer.h"
#include "platform/movies/sound_mixer.h"
#include "platform/movies/text/font_library.h"
#include "platform/movies/text/text_renderer.h"
#include "tests/support/reference_composition.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace zef::movies;
using zef::movies::reference::Composition;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "zefbench: %s\n", what.c_str());
    std::exit(1);
}

// The sources are made once into bench-media/ next to the bench folder of the build tree.
Composition buildReference(int width, int height)
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const fs::path dir =
        ec ? fs::current_path() / "bench-media" : exe.parent_path().parent_path() / "bench-media";
    try {
        return reference::build(width, height, dir.string());
    } catch (const reference::BuildError& e) {
        fail(e.what());
    }
}

// Where to cut the pictures into contiguous runs of about equal work. A picture's work is
// estimated from the media-file frames it needs, each weighted by its file's bytes per frame
// (decoding dominates and grows with the bit rate), plus a little for every other sample drawn.
std::vector<int> balancedRuns(const Movie& movie, int frames, int runs)
{
    std::map<const MediaFile*, double> bytesPerFrame;
    for (const auto& t : movie.tracks()) {
        if (!t->media() || t->media()->type() != VideoMediaType) continue;
        for (const Edit& e : t->edits()) {
            const Sample* s = e.media ? e.media->sample(0) : nullptr;
            if (!s || !s->data.file || bytesPerFrame.count(s->data.file.get())) continue;
            std::error_code ec;
            const double bytes = double(fs::file_size(s->data.file->path(), ec));
            bytesPerFrame[s->data.file.get()] =
                ec ? 1.0 : bytes / double(std::max<int64_t>(1, e.media->sampleCount()));
        }
    }
    double mean = 0;
    for (const auto& [file, b] : bytesPerFrame)
        mean += b / double(bytesPerFrame.size());

    // cost: drawing picture f after picture f - 1; prefix: starting a run at f, which decodes
    // every needed source from its key frame at or before f.
    std::vector<double> cost(size_t(frames), 0.0), prefix(size_t(frames), 0.0);
    for (int f = 0; f < frames; ++f) {
        for (const auto& t : movie.tracks()) {
            TrackPosition pos;
            if (!t->lookup(TimeValue(f) * 20, pos) || !pos.media) continue;
            if (pos.media->type() != VideoMediaType && pos.media->type() != TextMediaType) continue;
            const Sample* sample = pos.media->sample(pos.sampleIndex);
            if (!sample) continue;
            if (sample->data.file && mean > 0) {
                const double frameCost = 0.2 + bytesPerFrame[sample->data.file.get()] / mean;
                cost[size_t(f)] += frameCost;
                int64_t key = pos.sampleIndex;
                while (key > 0 && !pos.media->sample(key)->sync)
                    --key;
                prefix[size_t(f)] += 0.7 * frameCost * double(pos.sampleIndex - key);
            } else {
                cost[size_t(f)] += pos.media->type() == TextMediaType ? 0.3 : 0.1;
            }
        }
    }
    // The smallest largest run (binary search on it), cutting greedily.
    auto cutsFor = [&](double limit) {
        std::vector<int> cuts{0};
        double load = 0;
        for (int f = 0; f < frames; ++f) {
            if (load + cost[size_t(f)] > limit && f > cuts.back()) {
                cuts.push_back(f);
                load = prefix[size_t(f)];
            }
            load += cost[size_t(f)];
        }
        cuts.push_back(frames);
        return cuts;
    };
    double lo = 0, hi = 0;
    for (int f = 0; f < frames; ++f)
        hi += cost[size_t(f)];
    for (int k = 0; k < 40; ++k) {
        const double mid = (lo + hi) / 2;
        if (int(cutsFor(mid).size()) - 1 <= runs)
            hi = mid;
        else
            lo = mid;
    }
    std::vector<int> cuts = cutsFor(hi);
    while (int(cuts.size()) - 1 < runs)
        cuts.push_back(frames); // idle threads get nothing
    return cuts;
}

double peakRssMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

int run(int height, int threads, int decoderThreads, int frames, const std::string& dumpDir,
        bool withSound)
{
    const int width = height == 1080 ? 1920 : height == 720 ? 1280 : height == 480 ? 640 : 0;
    if (width == 0) fail("--size must be 480, 720 or 1080");
    Composition comp = buildReference(width, height);
    const Movie& movie = *comp.movie;
    const int total = 22 * 30; // the composition lasts 22 s; pictures at 30 fps
    if (frames <= 0 || frames > total) frames = total;
    std::printf("reference %dx%d, %d frames, %d thread(s)\n", width, height, frames, threads);

    auto fonts = std::make_shared<FontLibrary>();
    auto text = std::make_shared<TextRenderer>(fonts);
    std::atomic<int64_t> checksum{0};
    std::atomic<int> failed{0};
    std::atomic<int64_t> soundFrames{0};
    const auto t0 = std::chrono::steady_clock::now();
    // Each thread evaluates one contiguous run of pictures with its own context (its own
    // decoders), so every decoder plays forward through its run and no frame is decoded twice
    // except the few before a run's first picture back to its key frame.
    auto worker = [&](int first, int last) {
        EvaluationContext::Options o;
        o.text = text;
        o.decoderThreads = decoderThreads >= 0 ? decoderThreads : (threads > 1 ? 1 : 0);
        EvaluationContext ctx(o);
        Pixmap out;
        SoundMixer mixer(48000, 2);
        std::vector<int16_t> sound;
        int64_t sum = 0;
        const bool verbose = std::getenv("ZEF_BENCH_VERBOSE") != nullptr;
        auto secondStart = std::chrono::steady_clock::now();
        for (int f = first; f < last; ++f) {
            if (verbose && f % 30 == 0 && f > first) {
                const auto now = std::chrono::steady_clock::now();
                std::fprintf(stderr, "second %d: %.2f ms a picture\n", f / 30 - 1,
                             std::chrono::duration<double, std::milli>(now - secondStart).count() /
                                 30);
                secondStart = now;
            }
            if (evaluate(ctx, movie, TimeValue(f) * 20, out) != noErr) ++failed;
            failed += ctx.stats().failedTracks;
            sum += out.pixel(out.width() / 2, out.height() / 2);
            if (!dumpDir.empty() && f % 15 == 0)
                writePng(out, dumpDir + "/frame" + std::to_string(f) + ".png");
            // The sound of the same picture's span (20 ticks), mixed to 48 kHz stereo.
            if (withSound && mixer.mix(movie, TimeValue(f) * 20, 20, 0, sound) != noErr) ++failed;
            if (withSound) soundFrames += int64_t(sound.size() / 2);
        }
        checksum += sum;
        if (std::getenv("ZEF_BENCH_VERBOSE"))
            std::fprintf(
                stderr, "pictures %d..%d done after %.3f s\n", first, last - 1,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    };
    const std::vector<int> cuts = balancedRuns(movie, frames, threads);
    std::vector<std::thread> pool;
    for (int k = 1; k < threads; ++k)
        pool.emplace_back(worker, cuts[size_t(k)], cuts[size_t(k) + 1]);
    worker(cuts[0], cuts[1]);
    for (auto& th : pool)
        th.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (failed) std::printf("warning: %d tracks could not be drawn\n", failed.load());
    std::printf("checksum=%lld seconds=%.3f sound_frames=%lld\n", (long long)checksum.load(),
                seconds, (long long)soundFrames.load());
    std::printf("fps=%.1f rss_mb=%.1f\n", frames / seconds, peakRssMb());
    return 0;
}

int playRealTime(int height, double seconds, int decoderThreads)
{
    const int width = height == 1080 ? 1920 : height == 720 ? 1280 : height == 480 ? 640 : 0;
    if (width == 0) fail("--size must be 480, 720 or 1080");
    if (!(seconds > 0) || seconds > 22) fail("--seconds must lie in (0, 22]");
    Composition comp = buildReference(width, height);
    const Movie& movie = *comp.movie;
    std::printf("player %dx%d, %.1f s in real time\n", width, height, seconds);

    NullFrameSink display(60.0);
    NullAudioSink sound(48000, 2, 4096); // about 85 ms of buffer
    MoviePlayer::Options o;
    o.frameDuration = 20; // the sources' 30 fps
    o.decoderThreads = decoderThreads >= 0 ? decoderThreads : 0;
    o.text = std::make_shared<TextRenderer>(std::make_shared<FontLibrary>());
    MoviePlayer player(movie, &display, &sound, o);
    const TimeValue until = TimeValue(seconds * 600);
    const auto t0 = std::chrono::steady_clock::now();
    player.play();
    while (player.isPlaying() && player.currentTime() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int64_t soundFrames = sound.writtenFrames(); // pausing flushes the device
    player.pause();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const PlayerStats st = player.stats();
    std::printf("played_to=%.3f s wall=%.3f s shown=%lld sound_frames=%lld rss_mb=%.1f\n",
                double(player.currentTime()) / 600.0, wall, (long long)st.shown,
                (long long)soundFrames, peakRssMb());
    std::printf("dropped=%lld late_ms_max=%.1f\n", (long long)st.dropped, st.lateMsMax);
    return 0;
}

int renderToFile(int height, const std::string& path, int decoderThreads)
{
    const int width = height == 1080 ? 1920 : height == 720 ? 1280 : height == 480 ? 640 : 0;
    if (width == 0) fail("--size must be 480, 720 or 1080");
    Composition comp = buildReference(width, height);
    // The background tracks last for hours; the render covers the 22 s of the composition,
    // cut out of the movie as a render trims to its range.
    try {
        reference::cut(*comp.movie, 0, reference::kDuration);
    } catch (const reference::BuildError&) {
        fail("cannot trim the composition");
    }
    MovieExportSource::Options options;
    options.rate = {30, 1};
    options.sampleRate = 48000;
    options.channels = 2;
    options.evaluation.decoderThreads = decoderThreads >= 0 ? decoderThreads : 0;
    MovieExportSource source(*comp.movie, options);
    auto exporter = makeStandardExporter(kMovieExportMovie);
    std::printf("render %dx%d, %lld frames to %s\n", width, height, (long long)source.frameCount(),
                path.c_str());
    const auto t0 = std::chrono::steady_clock::now();
    const OSErr err =
        convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (err != noErr) fail("export failed with result " + std::to_string(err));
    if (source.lastError() != noErr)
        std::printf("warning: evaluation reported %d\n", int(source.lastError()));
    std::printf("seconds=%.3f\n", seconds);
    std::printf("fps=%.1f rss_mb=%.1f\n", double(source.frameCount()) / seconds, peakRssMb());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "reference";
    int height = 480, frames = 0;
    int threads = 1;
    int decoderThreads = -1; // FFmpeg threads per decoder: one per core with one thread, else 1
    std::string dumpDir, renderPath;
    bool withSound = true;
    double seconds = 20;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--size")
            height = std::atoi(argv[i + 1]);
        else if (opt == "--threads")
            threads = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--decoder-threads")
            decoderThreads = std::max(0, std::atoi(argv[i + 1]));
        else if (opt == "--frames")
            frames = std::atoi(argv[i + 1]);
        else if (opt == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (opt == "--render")
            renderPath = argv[i + 1];
        else if (opt == "--sound")
            withSound = std::string(argv[i + 1]) != "off";
        else if (opt == "--dump")
            dumpDir = argv[i + 1]; // every 15th picture as PNG
        else
            fail("unknown option " + opt);
    }
    if (mode == "player") return playRealTime(height, seconds, decoderThreads);
    if (mode != "reference")
        fail("usage: zefbench reference|player [--size 480|720|1080] [options]");
    if (!renderPath.empty()) return renderToFile(height, renderPath, decoderThreads);
    return run(height, threads, decoderThreads, frames, dumpDir, withSound);
}
