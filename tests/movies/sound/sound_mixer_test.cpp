#include "platform/movies/sound_mixer.h"

#include "../test_media.h"
#include "platform/movies/movie_file.h"
#include "sound_test_util.h"

#include <gtest/gtest.h>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

constexpr int kRate = 48000;

std::vector<int16_t> mixAll(const Movie& movie, TimeValue start, TimeValue duration,
                            int channels = 1, int rate = kRate)
{
    std::vector<int16_t> out;
    SoundMixer mixer(rate, channels);
    EXPECT_EQ(mixer.mix(movie, start, duration, 600, out), noErr);
    return out;
}

// Frames [from, to) of channel c all within tolerance of expected(n).
template <typename F>
void expectFrames(const std::vector<int16_t>& v, int channels, int64_t from, int64_t to, F expected,
                  double tolerance, const char* what)
{
    int bad = 0;
    for (int64_t n = from; n < to && bad < 5; ++n)
        for (int c = 0; c < channels; ++c) {
            const double want = expected(n, c);
            const double got = v[size_t(n * channels + c)];
            if (std::abs(got - want) > tolerance) {
                ADD_FAILURE() << what << ": frame " << n << " channel " << c << " is " << got
                              << ", expected " << want;
                ++bad;
            }
        }
}

} // namespace

TEST(SoundMixer, FadeRampsLinearlyAndHalfwayIsHalfAmplitude)
{
    for (FadeByteOrder order : {FadeByteOrder::bigEndian, FadeByteOrder::littleEndian}) {
        Movie movie(600);
        Track* sound = addPcmTrack(movie, constant(10000, 2 * kRate), 1, kRate, 0);
        // 0 → 1 over the first second, then 1 → 0 over the second.
        addFade(movie, *sound, {{0, kFixed1, 600}, {kFixed1, 0, 600}}, 0, order);
        std::vector<int16_t> out = mixAll(movie, 0, 1200);
        ASSERT_EQ(out.size(), size_t(2 * kRate));
        EXPECT_NEAR(out[kRate / 2], 5000, 1) << "halfway up";
        EXPECT_NEAR(out[kRate + kRate / 2], 5000, 1) << "halfway down";
        EXPECT_NEAR(out[kRate / 4], 2500, 1);
        expectFrames(
            out, 1, 0, 2 * kRate,
            [](int64_t n, int) {
                const double t = double(n) / kRate;
                return 10000 * (t < 1 ? t : 2 - t);
            },
            1.0, "fade ramp");
    }
}

TEST(SoundMixer, FadeAppliesOnlyWhereItHasSamplesAndWhileEnabled)
{
    Movie movie(600);
    Track* sound = addPcmTrack(movie, constant(10000, 3 * kRate), 1, kRate, 0);
    // A fade at half level during the second second only; two modifiers multiply.
    Track* fade = addFade(movie, *sound, {{kFixed1 / 2, kFixed1 / 2, 600}}, 600);
    std::vector<int16_t> out = mixAll(movie, 0, 1800);
    EXPECT_EQ(out[kRate / 2], 10000) << "before the fade track";
    EXPECT_EQ(out[kRate + kRate / 2], 5000);
    EXPECT_EQ(out[2 * kRate + kRate / 2], 10000) << "after it";

    addFade(movie, *sound, {{kFixed1 / 2, kFixed1 / 2, 1800}}, 0);
    out = mixAll(movie, 0, 1800);
    EXPECT_EQ(out[kRate / 2], 5000);
    EXPECT_EQ(out[kRate + kRate / 2], 2500) << "two volume modifiers multiply";

    fade->setEnabled(false);
    out = mixAll(movie, 0, 1800);
    EXPECT_EQ(out[kRate + kRate / 2], 5000) << "a disabled fade track does nothing";
}

TEST(SoundMixer, ClipFadesLaidOutAsTheCompositionBuildsThem)
{
    // A clip from 1 s to 4 s at volume 0x80 overlapping its neighbours by 0.5 s on each side:
    // its sound track has volume 256 × (v / 256)² = 64; its fade track starts 50 ticks before
    // the clip with 0 → 1 over fade-in + 50 ticks, 1 → 1, and 1 → 0 over the fade-out.
    Movie movie(600);
    Track* sound = addPcmTrack(movie, constant(16000, 3 * kRate), 1, kRate, 600);
    sound->setVolume(64);
    const TimeValue fadeIn = 300, fadeOut = 300, length = 1800;
    addFade(movie, *sound,
            {{0, kFixed1, fadeIn + 50},
             {kFixed1, kFixed1, length - fadeIn - fadeOut},
             {kFixed1, 0, fadeOut}},
            600 - 50, FadeByteOrder::littleEndian);
    std::vector<int16_t> out = mixAll(movie, 0, 3000);
    auto at = [&](TimeValue ticks) { return double(out[size_t(ticks * kRate / 600)]); };
    EXPECT_EQ(at(599), 0) << "before the clip";
    EXPECT_NEAR(at(600), 4000 * 50.0 / 350, 1) << "the clip starts 50 ticks into its fade-in";
    EXPECT_NEAR(at(775), 4000 * 225.0 / 350, 1);
    EXPECT_NEAR(at(1500), 4000, 1) << "a quarter of the level in the middle";
    EXPECT_NEAR(at(2250), 2000, 1) << "halfway through the fade-out";
    EXPECT_NEAR(at(2399), 4000 / 300.0, 1);
    EXPECT_EQ(at(2400), 0) << "after the clip";
}

TEST(SoundMixer, CrossFadeKeepsTotalLevel)
{
    Movie movie(600);
    // Clip A plays 0…2 s and fades out over 1…2 s; clip B plays 1…3 s and fades in over it.
    Track* a = addPcmTrack(movie, constant(8000, 2 * kRate), 1, kRate, 0);
    Track* b = addPcmTrack(movie, constant(8000, 2 * kRate), 1, kRate, 600);
    addFade(movie, *a, {{kFixed1, kFixed1, 600}, {kFixed1, 0, 600}}, 0);
    addFade(movie, *b, {{0, kFixed1, 600}, {kFixed1, kFixed1, 600}}, 600);
    std::vector<int16_t> out = mixAll(movie, 0, 1800);
    expectFrames(
        out, 1, 0, 3 * kRate, [](int64_t, int) { return 8000.0; }, 1.0, "cross fade");
}

TEST(SoundMixer, TrackAndMovieVolume)
{
    Movie movie(600);
    Track* t = addPcmTrack(movie, constant(10000, kRate / 10, 2), 2, kRate, 0);
    t->setVolume(0x80);
    std::vector<int16_t> out = mixAll(movie, 0, 60, 2);
    expectFrames(
        out, 2, 0, kRate / 10, [](int64_t, int) { return 5000.0; }, 0.5, "half volume");

    movie.setVolume(0x80);
    out = mixAll(movie, 0, 60, 2);
    expectFrames(
        out, 2, 0, kRate / 10, [](int64_t, int) { return 2500.0; }, 0.5, "both halved");

    movie.setVolume(0x100);
    t->setVolume(0x200);
    out = mixAll(movie, 0, 60, 2);
    expectFrames(
        out, 2, 0, kRate / 10, [](int64_t, int) { return 20000.0; }, 0.5, "doubled");

    for (int16_t muted : {int16_t(0), int16_t(-256)}) {
        t->setVolume(muted);
        out = mixAll(movie, 0, 60, 2);
        expectFrames(
            out, 2, 0, kRate / 10, [](int64_t, int) { return 0.0; }, 0, "muted");
    }
}

TEST(SoundMixer, SegmentAtAnOffsetAndEmptySegmentsAreSilent)
{
    Movie movie(600);
    const std::vector<int16_t> sig = sine(440, kRate, kRate, 12000);
    Track* t = addPcmTrack(movie, sig, 1, kRate, 600); // from 1 s
    std::vector<int16_t> out = mixAll(movie, 0, 1800);
    ASSERT_EQ(out.size(), size_t(3 * kRate));
    expectFrames(
        out, 1, 0, kRate, [](int64_t, int) { return 0.0; }, 0, "before the segment");
    expectFrames(
        out, 1, kRate, 2 * kRate, [&](int64_t n, int) { return sig[size_t(n - kRate)]; }, 0,
        "the segment");
    expectFrames(
        out, 1, 2 * kRate, 3 * kRate, [](int64_t, int) { return 0.0; }, 0, "after it");

    // An empty segment of 0.5 s inserted at 1.25 s pushes the rest later.
    ASSERT_EQ(t->insertEmptySegment(750, 300), noErr);
    out = mixAll(movie, 0, 1800);
    const int64_t cut = kRate + kRate / 4, gap = kRate / 2;
    expectFrames(
        out, 1, cut, cut + gap, [](int64_t, int) { return 0.0; }, 0, "empty segment");
    expectFrames(
        out, 1, cut + gap, 2 * kRate + gap,
        [&](int64_t n, int) { return sig[size_t(n - kRate - gap)]; }, 0, "after the gap");

    // A start that is not on a frame boundary at 44.1 kHz: the first frame is floor(t × rate).
    Movie odd(600);
    addPcmTrack(odd, constant(1000, 44100), 1, 44100, 7);
    std::vector<int16_t> o = mixAll(odd, 0, 60, 1, 44100);
    const int64_t firstFrame = 7 * 44100 / 600; // 514.5 → 514
    EXPECT_EQ(o[size_t(firstFrame - 1)], 0);
    EXPECT_EQ(o[size_t(firstFrame)], 1000);
}

TEST(SoundMixer, DisabledAndNonSoundTracksAreSilent)
{
    Movie movie(600);
    Track* t = addPcmTrack(movie, constant(9000, kRate), 1, kRate, 0);
    t->setEnabled(false);
    Track* video = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(video, VideoMediaType, 600);
    std::vector<int16_t> out = mixAll(movie, 0, 600);
    expectFrames(
        out, 1, 0, kRate, [](int64_t, int) { return 0.0; }, 0, "disabled");
    t->setEnabled(true);
    out = mixAll(movie, 0, 600);
    EXPECT_EQ(out[100], 9000);
}

TEST(SoundMixer, ChannelsAreDuplicatedOrAveragedAndTheSumSaturates)
{
    Movie movie(600);
    std::vector<int16_t> stereo;
    for (int n = 0; n < kRate / 10; ++n) {
        stereo.push_back(int16_t(n % 1000));
        stereo.push_back(int16_t(-3 * (n % 500)));
    }
    addPcmTrack(movie, stereo, 2, kRate, 0);
    std::vector<int16_t> mono = mixAll(movie, 0, 60, 1);
    expectFrames(
        mono, 1, 0, kRate / 10,
        [&](int64_t n, int) { return (stereo[size_t(2 * n)] + stereo[size_t(2 * n + 1)]) / 2.0; },
        0.5, "stereo to mono");

    Movie m2(600);
    const std::vector<int16_t> sig = sine(300, kRate, kRate / 10, 9000);
    addPcmTrack(m2, sig, 1, kRate, 0);
    std::vector<int16_t> st = mixAll(m2, 0, 60, 2);
    expectFrames(
        st, 2, 0, kRate / 10, [&](int64_t n, int) { return sig[size_t(n)]; }, 0, "mono to stereo");

    // Two loud tracks clip at the 16-bit limits instead of wrapping.
    Movie loud(600);
    addPcmTrack(loud, constant(30000, 4800), 1, kRate, 0);
    addPcmTrack(loud, constant(30000, 4800), 1, kRate, 0);
    addPcmTrack(loud, constant(-30000, 4800), 1, kRate, 60);
    addPcmTrack(loud, constant(-30000, 4800), 1, kRate, 60);
    std::vector<int16_t> l = mixAll(loud, 0, 120);
    EXPECT_EQ(l[100], 32767);
    EXPECT_EQ(l[4800 + 100], -32768);
}

TEST(SoundMixer, PcmFormatsAndOtherRates)
{
    // 'twos' 16-bit big-endian, 'sowt' 8-bit signed and 'raw ' 8-bit unsigned, each 0.1 s.
    Movie movie(600);
    auto add = [&](FourCC format, int bits, std::vector<uint8_t> bytes, int frames, TimeValue at) {
        Track* t = movie.newTrack(0, 0, 256);
        movie.newTrackMedia(t, SoundMediaType, kRate);
        t->media()->addSample(bytes, frames, 1, pcmDescription(format, 1, bits, kRate));
        t->insertMedia(at, 0, frames);
    };
    const int frames = kRate / 10;
    std::vector<uint8_t> twos, s8, u8;
    for (int n = 0; n < frames; ++n) {
        twos.push_back(0x12); // 0x1234
        twos.push_back(0x34);
        s8.push_back(uint8_t(int8_t(-20)));
        u8.push_back(uint8_t(128 + 10));
    }
    add(fourcc("twos"), 16, twos, frames, 0);
    add(fourcc("sowt"), 8, s8, frames, 60);
    add(fourcc("raw "), 8, u8, frames, 120);
    std::vector<int16_t> out = mixAll(movie, 0, 180);
    EXPECT_EQ(out[100], 0x1234);
    EXPECT_EQ(out[size_t(frames + 100)], -20 * 256);
    EXPECT_EQ(out[size_t(2 * frames + 100)], 10 * 256);

    // A ramp at 24 kHz, one sample per frame, played at 48 kHz: every other frame is the
    // average of its neighbours (which lie in separate samples).
    Movie slow(600);
    std::vector<int16_t> ramp(24000);
    for (size_t n = 0; n < ramp.size(); ++n)
        ramp[n] = int16_t(n % 4000 * 3);
    addPcmTrack(slow, ramp, 1, 24000, 0, /*perFrame=*/true);
    std::vector<int16_t> o = mixAll(slow, 0, 600);
    expectFrames(
        o, 1, 0, kRate - 2,
        [&](int64_t n, int) {
            const int64_t k = n / 2;
            return n % 2 ? (ramp[size_t(k)] + ramp[size_t(k + 1)]) / 2.0 : double(ramp[size_t(k)]);
        },
        0.51, "24 kHz ramp at 48 kHz");
}

TEST(SoundMixer, PcmStoredInAMovieFile)
{
    // One frame per sample, as sound recorded into a movie file is stored, at 24 kHz so that
    // the interpolation reaches into the following sample; then reopened from the file.
    const std::string path = mediaDir() + "/pcm-per-frame.zmov";
    std::unique_ptr<Movie> movie;
    ASSERT_EQ(createMovieFile(path, 600, movie), noErr);
    const std::vector<int16_t> sig = sine(700, 24000, 2 * 24000, 9000, 2);
    addPcmTrack(*movie, sig, 2, 24000, 300, /*perFrame=*/true);
    Movie memory(600);
    addPcmTrack(memory, sig, 2, 24000, 300, /*perFrame=*/true);

    std::vector<int16_t> fromFile, fromMemory;
    SoundMixer a(kRate, 2), b(kRate, 2);
    for (TimeValue t = 0; t < 1800; t += 12) {
        std::vector<int16_t> span;
        ASSERT_EQ(a.mix(*movie, t, 12, 600, span), noErr);
        fromFile.insert(fromFile.end(), span.begin(), span.end());
    }
    ASSERT_EQ(b.mix(memory, 0, 1800, 600, fromMemory), noErr);
    EXPECT_TRUE(fromFile == fromMemory);
    EXPECT_GT(rms(fromFile, 2, kRate, 2 * kRate), 5000);
}

TEST(SoundMixer, ScaledSegmentsPlayFasterOrSlower)
{
    // A slow ramp: media frame k holds k / 4.
    std::vector<int16_t> ramp(2 * kRate);
    for (size_t k = 0; k < ramp.size(); ++k)
        ramp[k] = int16_t(k / 4);
    {
        Movie movie(600);
        Track* t = addPcmTrack(movie, ramp, 1, kRate, 0);
        ASSERT_EQ(t->scaleSegment(0, 1200, 600), noErr); // twice as fast
        std::vector<int16_t> out = mixAll(movie, 0, 600);
        expectFrames(
            out, 1, 0, kRate - 1, [](int64_t n, int) { return 2.0 * n / 4; }, 1.0, "double speed");
    }
    {
        Movie movie(600);
        Track* t = addPcmTrack(movie, ramp, 1, kRate, 300);
        ASSERT_EQ(t->scaleSegment(300, 1200, 2400), noErr); // half speed, from 0.5 s
        std::vector<int16_t> out = mixAll(movie, 0, 2700);
        expectFrames(
            out, 1, 0, kRate / 2, [](int64_t, int) { return 0.0; }, 0, "before");
        expectFrames(
            out, 1, kRate / 2, 4 * kRate, [](int64_t n, int) { return (n - kRate / 2) / 2.0 / 4; },
            1.0, "half speed");
    }
}

TEST(SoundMixer, ConsecutiveSpansJoinExactly)
{
    // Everything at once: per-frame 22.05 kHz media, a scaled segment, two fades (one stored
    // little-endian), an offset and two tracks, read in spans of two time scales.
    Movie movie(600);
    Track* a = addPcmTrack(movie, sine(330, 22050, 3 * 22050, 9000), 1, 22050, 0, true);
    Track* b = addPcmTrack(movie, sine(523, kRate, 3 * kRate, 7000, 2), 2, kRate, 450);
    ASSERT_EQ(b->scaleSegment(450, 1800, 1500), noErr);
    addFade(movie, *a, {{0, kFixed1, 400}, {kFixed1, 0x8000, 1000}}, 0,
            FadeByteOrder::littleEndian);
    addFade(movie, *b, {{kFixed1, 0, 1500}}, 450);

    for (int channels : {1, 2}) {
        std::vector<int16_t> whole;
        SoundMixer one(44100, channels);
        ASSERT_EQ(one.mix(movie, 0, 2100, 600, whole), noErr);

        SoundMixer pieces(44100, channels);
        std::vector<int16_t> joined, span;
        const TimeValue lengths[] = {33, 1, 997, 20, 7, 1000, 333};
        TimeValue start = 0; // milliseconds
        for (int k = 0; start < 3500; ++k) {
            const TimeValue len = std::min<TimeValue>(lengths[k % 7], 3500 - start);
            ASSERT_EQ(pieces.mix(movie, start, len, 1000, span), noErr);
            EXPECT_EQ(int64_t(span.size()),
                      (pieces.frameIndex(start + len, 1000) - pieces.frameIndex(start, 1000)) *
                          channels);
            joined.insert(joined.end(), span.begin(), span.end());
            start += len;
        }
        ASSERT_EQ(joined.size(), whole.size());
        EXPECT_TRUE(joined == whole)
            << "spans differ from one mix with " << channels << " channel(s)";
        EXPECT_GT(rms(whole, channels, 0, int64_t(whole.size()) / channels), 1000);
    }
}

TEST(SoundMixer, BadRequestsAreRefused)
{
    Movie movie(600);
    addPcmTrack(movie, constant(1000, 100), 1, kRate, 0);
    std::vector<int16_t> out{1, 2, 3};
    SoundMixer mixer(kRate, 2);
    EXPECT_EQ(mixer.mix(movie, 0, -1, 600, out), paramErr);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(mixer.mix(movie, 0, 600, -600, out), paramErr);
    EXPECT_EQ(mixer.mix(movie, 0, INT64_MAX / 2, 600, out), paramErr) << "far too long a span";
    EXPECT_EQ(mixer.mix(movie, 0, 0, 600, out), noErr);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(mixer.mix(movie, -600, 600, 600, out), noErr) << "before the movie: silence";
    EXPECT_EQ(out.size(), size_t(2 * kRate));
    EXPECT_FALSE(SoundMixer(0, 2).isValid());
    EXPECT_FALSE(SoundMixer(kRate, 9).isValid());
    SoundMixer bad(kRate, 0);
    EXPECT_EQ(bad.mix(movie, 0, 600, 600, out), paramErr);

    // Sample data that cannot be played: silent, and the problem is reported.
    Movie broken(600);
    Track* t = broken.newTrack(0, 0, 256);
    broken.newTrackMedia(t, SoundMediaType, kRate);
    std::vector<uint8_t> bytes(200, 0x40);
    t->media()->addSample(bytes, 100, 1, pcmDescription(fourcc("sowt"), 1, 24, kRate));
    t->insertMedia(0, 0, 100);
    EXPECT_EQ(mixer.mix(broken, 0, 600, 600, out), invalidSampleDescription);
    EXPECT_EQ(out.size(), size_t(2 * kRate));
    EXPECT_EQ(out[10], 0);
}
