#include "platform/movies/media_file.h"
#include "platform/movies/sound_mixer.h"

#include "../test_media.h"
#include "sound_test_util.h"

#include <gtest/gtest.h>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

struct SoundFile {
    std::shared_ptr<MediaFile> file;
    const TrackInfo* track = nullptr;
};

SoundFile openSound(const std::string& path)
{
    MediaOpenResult r = MediaFile::open(path);
    EXPECT_EQ(r.status, MediaOpenStatus::ok) << path << ": " << r.detail;
    SoundFile s{r.file, nullptr};
    if (r.file && r.file->findTrack(kSoundMediaType) >= 0)
        s.track = &r.file->tracks()[size_t(r.file->findTrack(kSoundMediaType))];
    return s;
}

// A sound track referring to the file's sound: [in, in + length) of it (media time = the
// file track's time scale) at movie time `at`. With chunk > 0 the media holds one file sample
// per chunk of media time, as a file opened as a movie has.
Track* addFileTrack(Movie& movie, const SoundFile& s, TimeValue at, TimeValue in, TimeValue length,
                    TimeValue chunk = 0)
{
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, s.track->timeScale);
    const Handle desc = s.track->soundDescription.toHandle();
    const TimeValue total = s.track->duration;
    if (chunk <= 0) chunk = total;
    for (TimeValue from = 0; from < total; from += chunk)
        EXPECT_EQ(t->media()->addFileSample(s.file, s.file->path(), s.track->streamIndex, from,
                                            std::min(chunk, total - from), desc),
                  noErr);
    EXPECT_EQ(t->insertMedia(at, in, length), noErr);
    return t;
}

int16_t ramp(int64_t n) { return int16_t(n % 2000 - 1000); }

std::string aacSine()
{
    return generate("sine1k-48k-stereo.m4a",
                    "-f lavfi -i sine=f=1000:r=48000:d=2 -ac 2 -c:a aac -b:a 128k");
}

} // namespace

TEST(SoundMixerFiles, WavTrackPlaysSampleExactlyAtItsTime)
{
    SoundFile s = openSound(media::rampWav());
    ASSERT_TRUE(s.track);
    ASSERT_EQ(s.track->sampleRate, 48000);
    for (TimeValue chunk : {TimeValue(0), TimeValue(1024)}) {
        Movie movie(600);
        // From 1 s on, the file from its 0.5 s point for 1 s.
        addFileTrack(movie, s, 600, 24000, 48000, chunk);
        for (int channels : {1, 2}) {
            std::vector<int16_t> out;
            SoundMixer mixer(48000, channels);
            ASSERT_EQ(mixer.mix(movie, 0, 1500, 600, out), noErr);
            ASSERT_EQ(out.size(), size_t(120000 * channels));
            for (int64_t n = 0; n < 120000; ++n)
                for (int c = 0; c < channels; ++c) {
                    const int16_t want = n < 48000 || n >= 96000 ? 0 : ramp(n - 48000 + 24000);
                    ASSERT_EQ(out[size_t(n * channels + c)], want)
                        << "frame " << n << " channel " << c << " chunk " << chunk;
                }
            EXPECT_EQ(mixer.decoderCount(), 1u);
        }
    }
}

TEST(SoundMixerFiles, AacTrackMixesAtTheRightTimeAndInOrderWithoutSeeking)
{
    SoundFile s = openSound(aacSine());
    ASSERT_TRUE(s.track);
    Movie movie(600);
    addFileTrack(movie, s, 300, 0, 48000); // 1 s of the file from 0.5 s
    SoundMixer mixer(48000, 2);
    std::vector<int16_t> all, span;
    for (TimeValue t = 0; t < 1200; t += 12) { // 20 ms spans
        ASSERT_EQ(mixer.mix(movie, t, 12, 600, span), noErr);
        all.insert(all.end(), span.begin(), span.end());
    }
    ASSERT_EQ(all.size(), size_t(2 * 96000));
    EXPECT_EQ(rms(all, 2, 0, 24000), 0.0) << "before the segment";
    EXPECT_GT(rms(all, 2, 24000, 24480), 1000) << "sound from the first 10 ms";
    // The generated sine peaks at 4096; spreading it to stereo took 3 dB off each channel.
    EXPECT_NEAR(rms(all, 2, 30000, 66000, 0), 2048, 100);
    EXPECT_NEAR(rms(all, 2, 30000, 66000, 1), 2048, 100);
    EXPECT_EQ(rms(all, 2, 72000, 96000), 0.0) << "after the segment";
    EXPECT_EQ(mixer.decoderSeeks(), 0);
    EXPECT_EQ(mixer.decoderCount(), 1u);
}

TEST(SoundMixerFiles, CrossFadeOfOneFileJoinsExactlyWithoutSeeking)
{
    SoundFile s = openSound(aacSine());
    ASSERT_TRUE(s.track);
    // Two clips of the same file overlapping by 0.5 s, cross-faded; the second is a 1.5×
    // speed-up of its media.
    Movie movie(600);
    Track* a = addFileTrack(movie, s, 0, 0, 48000);
    Track* b = addFileTrack(movie, s, 300, 12000, 72000);
    ASSERT_EQ(b->scaleSegment(300, 900, 600), noErr);
    addFade(movie, *a, {{kFixed1, kFixed1, 300}, {kFixed1, 0, 300}}, 0);
    addFade(movie, *b, {{0, kFixed1, 300}, {kFixed1, kFixed1, 300}}, 300,
            FadeByteOrder::littleEndian);

    std::vector<int16_t> whole;
    SoundMixer one(44100, 2);
    ASSERT_EQ(one.mix(movie, 0, 960, 600, whole), noErr);

    SoundMixer pieces(44100, 2);
    std::vector<int16_t> joined, span;
    const TimeValue lengths[] = {12, 1, 35, 12, 100, 7};
    for (TimeValue t = 0, k = 0; t < 960; ++k) {
        const TimeValue len = std::min<TimeValue>(lengths[k % 6], 960 - t);
        ASSERT_EQ(pieces.mix(movie, t, len, 600, span), noErr);
        joined.insert(joined.end(), span.begin(), span.end());
        t += len;
    }
    ASSERT_EQ(joined.size(), whole.size());
    size_t diff = 0;
    while (diff < whole.size() && joined[diff] == whole[diff])
        ++diff;
    EXPECT_EQ(diff, whole.size()) << "consecutive spans differ from one mix at value " << diff;
    EXPECT_EQ(pieces.decoderSeeks(), 0);
    EXPECT_EQ(pieces.decoderCount(), 2u) << "one decoder per place in the file";
    // The cross fade keeps a level of sound throughout its middle.
    EXPECT_GT(rms(whole, 2, 22050, 26460), 1000);
}

TEST(SoundMixerFiles, SegmentCopiedFromASourceMovieAndRetimed)
{
    // As a clip is built into a composition: the source movie's sound track is copied into a
    // sound track of the composition at the item's start, then stretched to the item's length.
    SoundFile s = openSound(media::rampWav());
    ASSERT_TRUE(s.track);
    Movie sourceMovie(600);
    Track* src = addFileTrack(sourceMovie, s, 0, 0, 96000);

    Movie movie(600);
    Track* t = movie.newTrack(0, 0, 256);
    ASSERT_EQ(movie.newTrackMedia(t, SoundMediaType, s.track->timeScale), noErr);
    // Source 0.25 s … 0.75 s at 1 s; then the same half second stretched to 1 s at 2 s.
    ASSERT_EQ(t->insertSegmentFrom(*src, 150, 300, 600), noErr);
    ASSERT_EQ(t->insertSegmentFrom(*src, 150, 300, 1200), noErr);
    ASSERT_EQ(t->scaleSegment(1200, 300, 600), noErr);
    std::vector<int16_t> out;
    SoundMixer mixer(48000, 1);
    ASSERT_EQ(mixer.mix(movie, 0, 1800, 600, out), noErr);
    ASSERT_EQ(out.size(), size_t(144000));
    EXPECT_EQ(rms(out, 1, 0, 48000), 0.0);
    for (int64_t n = 0; n < 24000; ++n)
        ASSERT_EQ(out[size_t(48000 + n)], ramp(12000 + n)) << n;
    EXPECT_EQ(rms(out, 1, 72000, 96000), 0.0);
    // Half speed: frame n of the stretched part plays source frame 12000 + n / 2.
    for (int64_t n = 0; n < 47998; n += 2)
        ASSERT_EQ(out[size_t(96000 + n)], ramp(12000 + n / 2)) << n;
}

TEST(SoundMixerFiles, MissingFileIsSilentAndReported)
{
    Movie movie(600);
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, 48000);
    SoundDescription d;
    d.dataFormat = fourcc("sowt");
    d.sampleRate = 48000u << 16;
    ASSERT_EQ(t->media()->addFileSample(nullptr, mediaDir() + "/no-such-file.wav", 0, 0, 48000,
                                        d.toHandle()),
              noErr);
    ASSERT_EQ(t->insertMedia(0, 0, 48000), noErr);
    std::vector<int16_t> out;
    SoundMixer mixer(48000, 2);
    EXPECT_EQ(mixer.mix(movie, 0, 600, 600, out), badDataRefIndex);
    EXPECT_EQ(out.size(), size_t(96000));
    EXPECT_EQ(rms(out, 2, 0, 48000), 0.0);

    // A file sample without an opened file is opened from its path.
    SoundFile s = openSound(media::rampWav());
    ASSERT_TRUE(s.track);
    Movie byPath(600);
    Track* p = byPath.newTrack(0, 0, 256);
    byPath.newTrackMedia(p, SoundMediaType, 48000);
    ASSERT_EQ(p->media()->addFileSample(nullptr, s.file->path(), s.track->streamIndex, 0, 96000,
                                        s.track->soundDescription.toHandle()),
              noErr);
    ASSERT_EQ(p->insertMedia(0, 0, 96000), noErr);
    SoundMixer mono(48000, 1);
    ASSERT_EQ(mono.mix(byPath, 0, 600, 600, out), noErr);
    EXPECT_EQ(out[1234], ramp(1234));
}
