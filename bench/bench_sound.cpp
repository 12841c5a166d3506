// Mixing speed of the sound mixer: 22 s of two 48 kHz stereo AAC sources cross-faded over
// 2 s in the middle (each clip with its fade tween track, as the composition builds them),
// mixed to 48 kHz stereo in one call and in 20 ms spans as playback asks for it; next to it
// the plain decoding of both files (the floor) and the mix of the same sound held in memory
// as PCM (the mixer's own cost).
//
// Usage: bench_sound   (sources generated once into bench-media/ beside the bench folder, or
// into $ZEF_BENCH_MEDIA)
#include "platform/movies/audio_fade.h"
#include "platform/movies/input_map.h"
#include "platform/movies/media_file.h"
#include "platform/movies/sound_decoder.h"
#include "platform/movies/sound_mixer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000;
constexpr TimeValue kLength = 22 * 600; // ticks

double secondsSince(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string source(const char* argv0, const char* name, int hz)
{
    const char* env = std::getenv("ZEF_BENCH_MEDIA");
    fs::path dir =
        env && *env ? fs::path(env) : fs::absolute(argv0).parent_path() / ".." / "bench-media";
    fs::create_directories(dir);
    fs::path file = dir / name;
    if (!fs::exists(file)) {
        std::printf("generating %s ...\n", file.string().c_str());
        fs::path tmp = dir / ("generating-" + std::string(name));
        std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                          "\"sine=f=" +
                          std::to_string(hz) +
                          ":r=48000:d=22\" -ac 2 -c:a aac "
                          "-b:a 160k '" +
                          tmp.string() + "'";
        if (std::system(cmd.c_str()) != 0) return {};
        fs::rename(tmp, file);
    }
    return file.string();
}

void addFade(Movie& movie, Track& sound, std::initializer_list<std::array<TimeValue, 3>> steps)
{
    Track* t = movie.newTrack(0, 0, 0);
    movie.newTrackMedia(t, TweenMediaType, 600);
    TimeValue total = 0;
    for (const auto& s : steps) {
        Handle h = makeFadeTweenSample(Fixed(s[0]), Fixed(s[1]), FadeByteOrder::littleEndian);
        t->media()->addSample(h.bytes(), s[2], 1, fadeTweenDescription());
        total += s[2];
    }
    t->insertMedia(0, 0, total);
    addTrackInput(sound, *t, kTrackModifierTypeVolume);
}

// Clip A fades out over 10…12 s, clip B fades in over it; both play for the whole 22 s.
void addCrossFade(Movie& movie, Track& a, Track& b)
{
    addFade(movie, a, {{kFixed1, kFixed1, 6000}, {kFixed1, 0, 1200}, {0, 0, 6000}});
    addFade(movie, b, {{0, 0, 6000}, {0, kFixed1, 1200}, {kFixed1, kFixed1, 6000}});
}

Track* fileTrack(Movie& movie, const std::shared_ptr<MediaFile>& file)
{
    const TrackInfo& info = file->tracks()[size_t(file->findTrack(kSoundMediaType))];
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, info.timeScale);
    t->media()->addFileSample(file, file->path(), info.streamIndex, 0, info.duration,
                              info.soundDescription.toHandle());
    t->insertMedia(0, 0, std::min<TimeValue>(info.duration, TimeValue(22) * info.timeScale));
    return t;
}

Track* pcmTrack(Movie& movie, const std::vector<int16_t>& pcm)
{
    SoundDescription d;
    d.dataFormat = fourcc("sowt");
    d.numChannels = 2;
    d.sampleSize = 16;
    d.sampleRate = uint32_t(kRate) << 16;
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, kRate);
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2);
    t->media()->addSample(bytes, TimeValue(pcm.size() / 2), 1, d.toHandle());
    t->insertMedia(0, 0, TimeValue(pcm.size() / 2));
    return t;
}

// Best of three runs of f, in seconds.
template <typename F> double best(F&& f)
{
    double b = 1e300;
    for (int k = 0; k < 3; ++k) {
        auto start = Clock::now();
        f();
        b = std::min(b, secondsSince(start));
    }
    return b;
}

} // namespace

int main(int, char** argv)
{
    const std::string pathA = source(argv[0], "sine440-48k-stereo-22s.m4a", 440);
    const std::string pathB = source(argv[0], "sine660-48k-stereo-22s.m4a", 660);
    MediaOpenResult ra = MediaFile::open(pathA), rb = MediaFile::open(pathB);
    if (ra.status != MediaOpenStatus::ok || rb.status != MediaOpenStatus::ok) {
        std::fprintf(stderr, "cannot open the sources\n");
        return 1;
    }

    Movie movie(600);
    Track* a = fileTrack(movie, ra.file);
    Track* b = fileTrack(movie, rb.file);
    addCrossFade(movie, *a, *b);

    std::vector<int16_t> out;
    int64_t checksum = 0;
    const double whole = best([&] {
        SoundMixer mixer(kRate, 2);
        mixer.mix(movie, 0, kLength, 600, out);
        for (size_t i = 0; i < out.size(); i += 997)
            checksum += out[i];
    });
    int64_t seeks = 0;
    const double spans = best([&] {
        SoundMixer mixer(kRate, 2);
        for (TimeValue t = 0; t < kLength; t += 12)
            mixer.mix(movie, t, 12, 600, out);
        seeks = mixer.decoderSeeks();
    });

    // The floor: decoding both sources to 48 kHz stereo, nothing else.
    std::vector<int16_t> pcmA, pcmB;
    const double decode = best([&] {
        SoundDecoder da(ra.file, size_t(ra.file->findTrack(kSoundMediaType)), kRate, 2);
        SoundDecoder db(rb.file, size_t(rb.file->findTrack(kSoundMediaType)), kRate, 2);
        da.readSpan(0, kLength, 600, pcmA);
        db.readSpan(0, kLength, 600, pcmB);
    });

    // The mixer's own cost: the same cross fade over the sound held in memory.
    Movie memory(600);
    Track* ma = pcmTrack(memory, pcmA);
    Track* mb = pcmTrack(memory, pcmB);
    addCrossFade(memory, *ma, *mb);
    const double inMemory = best([&] {
        SoundMixer mixer(kRate, 2);
        for (TimeValue t = 0; t < kLength; t += 12)
            mixer.mix(memory, t, 12, 600, out);
    });

    std::printf("sound mix, 22 s of two 48 kHz stereo AAC sources with a 2 s cross fade, "
                "to 48 kHz stereo (best of 3):\n");
    std::printf("  one call               %7.1f ms  (%.0f× real time)\n", whole * 1e3,
                22.0 / whole);
    std::printf("  20 ms spans (1100)     %7.1f ms  (%.0f× real time, %lld seeks)\n", spans * 1e3,
                22.0 / spans, (long long)seeks);
    std::printf("  decoding only          %7.1f ms\n", decode * 1e3);
    std::printf("  same mix from memory   %7.1f ms  (20 ms spans: the mixer's own cost)\n",
                inMemory * 1e3);
    std::printf("  checksum %lld\n", (long long)checksum);
    return 0;
}
