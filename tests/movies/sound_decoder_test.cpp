#include "platform/movies/sound_decoder.h"

#include "test_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

struct Opened {
    std::shared_ptr<MediaFile> file;
    size_t track = 0;
};

Opened openSound(const std::string& path)
{
    MediaOpenResult r = MediaFile::open(path);
    EXPECT_EQ(r.status, MediaOpenStatus::ok) << path << ": " << r.detail;
    Opened o{r.file, 0};
    if (r.file) o.track = size_t(std::max(0, r.file->findTrack(kSoundMediaType)));
    return o;
}

int16_t ramp(int64_t n) { return int16_t(n % 2000 - 1000); }

// Reads [0, total) at once and as consecutive spans of uneven lengths in another time scale.
void expectSpansJoin(const std::string& path, int rate, int channels)
{
    Opened o = openSound(path);
    ASSERT_TRUE(o.file);
    SoundDecoder whole(o.file, o.track, rate, channels);
    ASSERT_TRUE(whole.isValid());
    const int64_t total = whole.frameCount();
    std::vector<int16_t> all(size_t(total * channels));
    ASSERT_TRUE(whole.readFrames(0, total, all.data()));

    SoundDecoder pieces(o.file, o.track, rate, channels);
    std::vector<int16_t> joined, span;
    const int64_t spanLengths[] = {7, 600, 13, 101, 599, 1};
    int64_t start = 0; // in 1/600 s
    for (int k = 0; joined.size() < all.size(); ++k) {
        int64_t length = spanLengths[k % 6];
        ASSERT_TRUE(pieces.readSpan(start, length, 600, span));
        EXPECT_EQ(int64_t(span.size()),
                  (pieces.frameIndex(start + length, 600) - pieces.frameIndex(start, 600)) *
                      channels);
        joined.insert(joined.end(), span.begin(), span.end());
        start += length;
    }
    joined.resize(all.size());
    EXPECT_EQ(pieces.seekCount(), 0);
    EXPECT_TRUE(joined == all) << path << ": consecutive spans differ from one read";

    size_t nonSilent = 0;
    for (int16_t v : all)
        nonSilent += v != 0;
    EXPECT_GT(nonSilent, all.size() * 9 / 10) << "sound all along, not padding";
}

} // namespace

TEST(SoundDecoderSpans, PcmAtItsOwnRateIsExactAnywhere)
{
    Opened o = openSound(media::rampWav());
    ASSERT_TRUE(o.file);
    SoundDecoder d(o.file, o.track, 48000, 1);
    ASSERT_TRUE(d.isValid());
    EXPECT_EQ(d.frameCount(), 96000);
    std::vector<int16_t> out;
    ASSERT_TRUE(d.readSpan(0, 48000, 0, out));
    ASSERT_EQ(out.size(), 48000u);
    for (int64_t n = 0; n < 48000; ++n)
        ASSERT_EQ(out[size_t(n)], ramp(n)) << n;

    std::mt19937 rng(7);
    std::uniform_int_distribution<int64_t> pick(0, 95000);
    for (int k = 0; k < 30; ++k) { // random positions, forwards and backwards
        int64_t first = pick(rng);
        ASSERT_TRUE(d.readSpan(first, 500, 48000, out));
        for (int64_t n = 0; n < 500; ++n)
            ASSERT_EQ(out[size_t(n)], ramp(first + n)) << "from " << first;
    }
    EXPECT_GT(d.seekCount(), 0);
}

TEST(SoundDecoderSpans, ChannelsAreSpreadAndMixed)
{
    Opened o = openSound(media::rampWav());
    ASSERT_TRUE(o.file);
    SoundDecoder stereo(o.file, o.track, 48000, 2);
    std::vector<int16_t> out;
    ASSERT_TRUE(stereo.readSpan(1000, 4, 48000, out));
    ASSERT_EQ(out.size(), 8u);
    for (int n = 0; n < 4; ++n) {
        EXPECT_NEAR(out[size_t(2 * n)], ramp(1000 + n), 1);
        EXPECT_EQ(out[size_t(2 * n)], out[size_t(2 * n + 1)]);
    }
}

TEST(SoundDecoderSpans, ConsecutiveSpansJoinWithoutGapsOrRepeats)
{
    expectSpansJoin(media::rampWav(), 44100, 2);   // resampled
    expectSpansJoin(media::h264Movie(), 44100, 2); // AAC, resampled
    expectSpansJoin(media::sineMp3(), 44100, 1);   // MP3 at its own rate
    expectSpansJoin(media::sineAiff(), 48000, 2);  // big-endian PCM, resampled
}

TEST(SoundDecoderSpans, CompressedSoundAtRandomPositionsMatchesPlayingThrough)
{
    for (const std::string& path : {media::sineMp3(), media::h264Movie()}) {
        Opened o = openSound(path);
        ASSERT_TRUE(o.file);
        const int rate = o.file->tracks()[o.track].sampleRate;
        SoundDecoder through(o.file, o.track, rate, 1);
        std::vector<int16_t> all(size_t(through.frameCount()));
        ASSERT_TRUE(through.readFrames(0, int64_t(all.size()), all.data()));

        SoundDecoder jumping(o.file, o.track, rate, 1);
        std::mt19937 rng(3);
        std::uniform_int_distribution<int64_t> pick(0, int64_t(all.size()) - 2000);
        std::vector<int16_t> span(1000);
        for (int k = 0; k < 12; ++k) {
            int64_t first = pick(rng);
            ASSERT_TRUE(jumping.readFrames(first, 1000, span.data()));
            int worst = 0;
            for (size_t n = 0; n < span.size(); ++n)
                worst = std::max(worst, std::abs(span[n] - all[size_t(first) + n]));
            EXPECT_LE(worst, 64) << path << " from frame " << first;
        }
    }
}

TEST(SoundDecoderSpans, SilenceOutsideTheTrack)
{
    Opened o = openSound(media::rampWav());
    ASSERT_TRUE(o.file);
    SoundDecoder d(o.file, o.track, 48000, 1);
    std::vector<int16_t> out;
    ASSERT_TRUE(d.readSpan(-10, 20, 48000, out));
    ASSERT_EQ(out.size(), 20u);
    for (int n = 0; n < 10; ++n)
        EXPECT_EQ(out[size_t(n)], 0);
    for (int n = 0; n < 10; ++n)
        EXPECT_EQ(out[size_t(10 + n)], ramp(n));

    ASSERT_TRUE(d.readSpan(95990, 20, 48000, out));
    EXPECT_EQ(out[9], ramp(95999));
    for (int n = 10; n < 20; ++n)
        EXPECT_EQ(out[size_t(n)], 0) << "past the end";
    ASSERT_TRUE(d.readSpan(500000, 10, 48000, out));
    EXPECT_EQ(out, std::vector<int16_t>(10, 0));
}

TEST(SoundDecoderSpans, UnusableRequestsFailCleanly)
{
    Opened o = openSound(media::mjpegAvi());
    ASSERT_TRUE(o.file);
    EXPECT_FALSE(SoundDecoder(o.file, 0, 44100, 2).isValid()) << "track 0 is the video";
    EXPECT_FALSE(SoundDecoder(o.file, o.track, 0, 2).isValid());
    EXPECT_FALSE(SoundDecoder(o.file, o.track, 44100, 0).isValid());
    SoundDecoder bad(nullptr, 0, 44100, 2);
    std::vector<int16_t> out;
    EXPECT_FALSE(bad.readSpan(0, 100, 600, out));
}

// The encoders' start delay is not part of the sound: decoded sample n lines up with sample n
// of the sine that was encoded.
TEST(SoundDecoderSpans, CompressedSoundStartsWithItsFirstEncodedSample)
{
    struct Case {
        std::string path;
        double hertz;
    };
    for (const Case& c : {Case{media::sineMp3(), 1000}, Case{media::h264Movie(), 440}}) {
        Opened o = openSound(c.path);
        ASSERT_TRUE(o.file);
        const int rate = o.file->tracks()[o.track].sampleRate;
        SoundDecoder d(o.file, o.track, rate, 1);
        std::vector<int16_t> out(size_t(rate / 2));
        ASSERT_TRUE(d.readFrames(0, int64_t(out.size()), out.data()));
        int bestLag = 999;
        double best = -1e300;
        for (int lag = -40; lag <= 40; ++lag) {
            double sum = 0;
            for (size_t n = 2000; n < out.size() - 100; ++n)
                sum += out[n] * std::sin(2 * M_PI * c.hertz * double(int64_t(n) + lag) / rate);
            if (sum > best) {
                best = sum;
                bestLag = lag;
            }
        }
        EXPECT_EQ(bestLag, 0) << c.path;
    }
}

TEST(SoundDecoderSpans, FileRemovedWhileInUse)
{
    std::string copy = truncatedCopy(media::rampWav(), "soon-gone.wav", fileSize(media::rampWav()));
    Opened o = openSound(copy);
    ASSERT_TRUE(o.file);
    SoundDecoder d(o.file, o.track, 48000, 1);
    std::vector<int16_t> out;
    ASSERT_TRUE(d.readSpan(40000, 100, 48000, out));
    EXPECT_EQ(out[0], ramp(40000));
    std::filesystem::remove(copy);
    EXPECT_FALSE(d.readSpan(0, 100, 48000, out)) << "going back needs the file again";
    EXPECT_EQ(out, std::vector<int16_t>(100, 0));
    EXPECT_FALSE(d.readSpan(60000, 100, 48000, out));
}
