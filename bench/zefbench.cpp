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
#include "platform/movies/audio_fade.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/input_map.h"
#include "platform/movies/movie.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/png_writer.h"
#include "platform/movies/sound_mixer.h"
#include "platform/movies/text/font_library.h"
#include "platform/movies/text/text_renderer.h"
#include "platform/movies/text/text_sample.h"
#include "platform/movies/tween_sample.h"

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
namespace fs = std::filesystem;

namespace {

constexpr TimeValue kSecond = 600;
constexpr TimeValue kTenHours = 21600000;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "zefbench: %s\n", what.c_str());
    std::exit(1);
}

void check(OSErr err, const char* what)
{
    if (err != noErr) fail(std::string(what) + " failed with " + std::to_string(err));
}

fs::path mediaDir()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    fs::path dir =
        ec ? fs::current_path() / "bench-media" : exe.parent_path().parent_path() / "bench-media";
    fs::create_directories(dir);
    return dir;
}

// Makes a source clip once: a moving pattern and a tone.
std::string source(const std::string& name, const std::string& pattern, int width, int height,
                   double seconds, int toneHz)
{
    const fs::path out = mediaDir() / (name + "_" + std::to_string(height) + ".mp4");
    if (fs::exists(out)) return out.string();
    const fs::path tmp = out.string() + ".part.mp4";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + pattern + "=size=" + size +
        ":rate=30:duration=" + std::to_string(seconds) +
        (pattern == "smptebars" ? ",scroll=h=0.003" : "") +
        (pattern == "testsrc2" && name == "c" ? ",hue=H=2*PI*t" : "") +
        "\" -f lavfi -i \"sine=frequency=" + std::to_string(toneHz) +
        ":sample_rate=48000:duration=" + std::to_string(seconds) +
        "\" -ac 2 -c:v libx264 -preset fast -g 250 -pix_fmt yuv420p -c:a aac -b:a 128k "
        "-shortest \"" +
        tmp.string() + "\"";
    std::fprintf(stderr, "zefbench: making %s\n", out.c_str());
    if (std::system(cmd.c_str()) != 0) fail("ffmpeg could not make " + out.string());
    fs::rename(tmp, out);
    return out.string();
}

struct Source {
    std::unique_ptr<Movie> movie;
    Track* video = nullptr;
    Track* sound = nullptr;
};

Source openSource(const std::string& path)
{
    MovieFromFileResult r = openMovieFromFile(path);
    if (r.status != MediaOpenStatus::ok) fail("cannot open " + path + ": " + r.detail);
    Source s;
    s.movie = std::move(r.movie);
    s.video = s.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    s.sound = s.movie->indTrackWithCharacteristic(1, AudioMediaCharacteristic, true);
    if (!s.video || !s.sound) fail(path + " lacks a video or sound track");
    return s;
}

class Builder {
public:
    Builder(Movie& movie, int width, int height) : m(movie), w(width), h(height) {}

    Track* videoTrack(OSType mediaType, int16_t layer)
    {
        Track* t = m.newTrack(Fixed(w) << 16, Fixed(h) << 16, 0);
        check(m.newTrackMedia(t, mediaType, 600), "new track media");
        if (mediaType == VideoMediaType) t->media()->setGraphicsMode(ditherCopy, RGBColor{});
        t->setLayer(layer);
        return t;
    }

    Track* soundTrack()
    {
        Track* t = m.newTrack(0, 0, 256);
        check(m.newTrackMedia(t, SoundMediaType, 600), "new sound media");
        return t;
    }

    // The black background: one 1×1 32-bit 'raw ' pixel for ten hours.
    void background()
    {
        Track* t = videoTrack(VideoMediaType, 998);
        ImageDescription d;
        d.cType = fourcc("raw ");
        d.width = 1;
        d.height = 1;
        d.depth = 32;
        d.temporalQuality = d.spatialQuality = 512;
        d.dataSize = 4;
        const uint8_t black[4] = {255, 0, 0, 0};
        check(t->media()->addSample(black, kTenHours, 1, d.toHandle()), "add background");
        check(t->insertMedia(0, 0, kTenHours), "insert background");
    }

    Track* text(const TextSample& s, TimeValue start, TimeValue duration, int16_t layer)
    {
        Track* t = videoTrack(TextMediaType, layer);
        std::vector<uint8_t> desc(16, 0);
        putBE32(desc.data(), 16);
        putBE32(desc.data() + 4, fourcc("text"));
        check(t->media()->addSample(encodeTextSample(s), duration, 1,
                                    Handle(desc.data(), desc.size())),
              "add text");
        check(t->insertMedia(start, 0, duration), "insert text");
        return t;
    }

    // A tween track holding one matrix sample per pair of keyframes, inserted from time 0.
    Track* motion(const std::vector<std::pair<TimeValue, MatrixRecord>>& keys)
    {
        Track* t = videoTrack(TweenMediaType, 0);
        for (size_t k = 0; k + 1 < keys.size(); ++k) {
            const TimeValue d = keys[k + 1].first - keys[k].first;
            if (d <= 0) continue;
            const Handle bytes = makeMatrixTween(keys[k].second, keys[k + 1].second).flatten();
            check(t->media()->addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), d, 1,
                                        tweenSampleDescription()),
                  "add matrix tween");
        }
        if (t->media()->duration() > 0)
            check(t->insertMedia(0, 0, t->media()->duration()), "insert motion");
        return t;
    }

    Track* clip(const Source& src, TimeValue start, TimeValue sourceIn, TimeValue duration,
                int16_t layer)
    {
        Track* t = videoTrack(VideoMediaType, layer);
        check(t->insertSegmentFrom(*src.video, sourceIn, duration, start), "insert clip");
        return t;
    }

    // The clip's sound with its fade tween (fade-in and fade-out lengths in ticks).
    Track* clipSound(const Source& src, TimeValue start, TimeValue sourceIn, TimeValue duration,
                     TimeValue fadeIn, TimeValue fadeOut)
    {
        Track* sound = soundTrack();
        check(sound->insertSegmentFrom(*src.sound, sourceIn, duration, start), "insert sound");
        Track* fade = videoTrack(TweenMediaType, 0);
        fade->setDimensions(0, 0);
        Media& fm = *fade->media();
        const std::pair<Fixed, Fixed> values[3] = {{0, kFixed1}, {kFixed1, kFixed1}, {kFixed1, 0}};
        const TimeValue lengths[3] = {fadeIn + 50, duration - fadeIn - fadeOut, fadeOut};
        for (int k = 0; k < 3; ++k) {
            if (lengths[k] <= 0) continue;
            const Handle bytes = makeFadeTweenSample(values[k].first, values[k].second);
            check(fm.addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), lengths[k], 1,
                               fadeTweenDescription()),
                  "add fade");
        }
        check(fade->insertMedia(0, 0, fm.duration()), "insert fade");
        check(fade->setOffset(start >= 50 ? start - 50 : 0), "offset fade");
        check(addTrackInput(*sound, *fade, kTrackModifierTypeVolume), "attach fade");
        return sound;
    }

    void appendEffect(Track* t, OSType type, const AtomContainer& description, TimeValue start,
                      TimeValue duration)
    {
        const Handle bytes = description.flatten();
        const Handle desc = makeImageDescriptionForEffect(type, int16_t(w), int16_t(h)).toHandle();
        TimeValue mediaTime = 0;
        check(t->media()->addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), duration,
                                    1, desc, true, &mediaTime),
              "add effect");
        check(t->insertMedia(start, mediaTime, duration), "insert effect");
    }

    Movie& m;
    int w, h;
};

struct Composition {
    std::unique_ptr<Movie> movie;
    std::vector<Source> sources; // kept open: the movie refers to their media
};

Composition buildReference(int width, int height)
{
    Composition c;
    c.sources.push_back(openSource(source("a", "testsrc2", width, height, 12, 440)));
    c.sources.push_back(openSource(source("b", "smptebars", width, height, 12, 660)));
    c.sources.push_back(openSource(source("c", "testsrc2", width, height, 6, 880)));
    const Source& a = c.sources[0];
    const Source& b = c.sources[1];
    const Source& cc = c.sources[2];

    c.movie = std::make_unique<Movie>(600);
    Movie& movie = *c.movie;
    Builder bld(movie, width, height);

    // Base tracks.
    bld.background();
    TextSample placeholder;
    placeholder.text = " ";
    placeholder.size = 30;
    placeholder.textColor = {0, 0, 0};
    placeholder.backColor = {0, 0, 0};
    placeholder.displayFlags = TextDisplayFlags::keyedText;
    bld.text(placeholder, 0, kTenHours, 1000);
    Track* motionA = bld.motion({});
    const MatrixRecord halfTopLeft = MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2);
    MatrixRecord halfBottomRight = halfTopLeft;
    halfBottomRight.translate(Fixed(width / 2) << 16, Fixed(height / 2) << 16);
    Track* motionB =
        bld.motion({{0, halfTopLeft}, {2 * kSecond, halfTopLeft}, {8 * kSecond, halfBottomRight}});
    bld.motion({}); // layer C has no keyframes

    // Layer A: a 0–12 s, b 10–22 s, cross fade 10–12 s.
    Track* ta = bld.clip(a, 0, 0, 12 * kSecond, 0);
    Track* tb = bld.clip(b, 10 * kSecond, 0, 12 * kSecond, 0);
    check(addTrackInput(*ta, *motionA, kTrackModifierTypeMatrix), "attach motion");
    check(addTrackInput(*tb, *motionA, kTrackModifierTypeMatrix), "attach motion");
    Track* sa = bld.clipSound(a, 0, 0, 12 * kSecond, 0, 2 * kSecond);
    Track* sb = bld.clipSound(b, 10 * kSecond, 0, 12 * kSecond, 2 * kSecond, 0);
    (void)sa;
    (void)sb;

    Track* fx = bld.videoTrack(VideoMediaType, 0);
    check(addTrackInput(*fx, *ta, kTrackModifierTypeImage, kSourceA), "input srcA");
    check(addTrackInput(*fx, *tb, kTrackModifierTypeImage, kSourceB), "input srcB");
    // Head: a one-tick pass-through sample, then the outgoing clip's segment copied in.
    bld.appendEffect(fx, fourcc("gain"), makeEffectDescription(fourcc("gain"), 1), 0, 1);
    check(fx->insertSegmentFrom(*ta, 0, 10 * kSecond, 0), "copy head");
    // Overlap: the cross fade.
    bld.appendEffect(fx, fourcc("dslv"), makeEffectDescription(fourcc("dslv"), 2), 10 * kSecond,
                     2 * kSecond);
    // Tail: the incoming clip's segment copied in.
    check(fx->insertSegmentFrom(*tb, 12 * kSecond, 10 * kSecond, 12 * kSecond), "copy tail");
    check(addTrackInput(*fx, *motionA, kTrackModifierTypeMatrix), "attach motion");

    // Layer B: c from 2 s to 8 s, half size, moving.
    Track* tc = bld.clip(cc, 2 * kSecond, 0, 6 * kSecond, -3);
    check(addTrackInput(*tc, *motionB, kTrackModifierTypeMatrix), "attach motion");

    // Title 1–5 s.
    TextSample title;
    title.text = "Hello World";
    title.size = 48;
    title.textColor = {0xFFFF, 0xFFFF, 0xFFFF};
    title.justification = TextJustify::center;
    title.textBox = Rect{0, height / 2 - 30, width, height / 2 + 30};
    title.displayFlags =
        TextDisplayFlags::antiAlias | TextDisplayFlags::keyedText | TextDisplayFlags::dropShadow;
    Track* tt = bld.text(title, 1 * kSecond, 4 * kSecond, -20);
    const uint8_t shadowOffset[4] = {0, 2, 0, 2};
    const uint8_t shadowOpacity[2] = {0, 160};
    tt->media()->setTextProperty(kTextDropShadowOffsetAtom, shadowOffset);
    tt->media()->setTextProperty(kTextDropShadowTransparencyAtom, shadowOpacity);
    return c;
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

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "reference";
    int height = 480, frames = 0;
    int threads = 1;
    int decoderThreads = -1; // FFmpeg threads per decoder: one per core with one thread, else 1
    std::string dumpDir;
    bool withSound = true;
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
        else if (opt == "--dump")
            dumpDir = argv[i + 1]; // every 15th picture as PNG
        else
            fail("unknown option " + opt);
    }
    if (mode != "reference") fail("usage: zefbench reference [--size 480|1080] [--threads N]");
    return run(height, threads, decoderThreads, frames, dumpDir, withSound);
}
