#include "platform/movies/media_file.h"

#include "test_media.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

MediaOpenResult openOk(const std::string& path)
{
    MediaOpenResult r = MediaFile::open(path);
    EXPECT_EQ(r.status, MediaOpenStatus::ok) << path << ": " << r.detail;
    return r;
}

const TrackInfo& videoOf(const MediaFile& f)
{
    int32_t i = f.findTrack(kVideoMediaType);
    EXPECT_GE(i, 0);
    return f.tracks().at(size_t(std::max(0, i)));
}

const TrackInfo& soundOf(const MediaFile& f)
{
    int32_t i = f.findTrack(kSoundMediaType);
    EXPECT_GE(i, 0);
    return f.tracks().at(size_t(std::max(0, i)));
}

// The frame-rate rule of clip opening: the shortest of the first samples gives the rate.
std::pair<int64_t, int64_t> rateRule(const TrackInfo& t)
{
    int64_t shortest = t.shortestFirstDuration();
    return {(t.timeScale + shortest / 2) / shortest, t.duration / shortest};
}

void expectGapFree(const TrackInfo& t)
{
    ASSERT_FALSE(t.samples.empty());
    EXPECT_EQ(t.samples.front().time, 0);
    for (size_t i = 0; i + 1 < t.samples.size(); ++i)
        ASSERT_EQ(t.samples[i].time + t.samples[i].duration, t.samples[i + 1].time) << i;
    EXPECT_EQ(t.samples.back().time + t.samples.back().duration, t.duration);
    EXPECT_TRUE(t.samples.front().sync);
}

std::string noise(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(rng());
    return bytes;
}

} // namespace

TEST(MediaFileOpen, H264MovieAt2997WithAacSound)
{
    MediaOpenResult r = openOk(media::h264Movie());
    ASSERT_TRUE(r.file);
    ASSERT_EQ(r.file->tracks().size(), 2u);
    EXPECT_EQ(r.file->trackCount(kVideoMediaType), 1);
    EXPECT_EQ(r.file->trackCount(kSoundMediaType), 1);

    const TrackInfo& v = videoOf(*r.file);
    EXPECT_TRUE(v.visual);
    EXPECT_FALSE(v.audible);
    EXPECT_EQ(v.timeScale, 30000);
    EXPECT_EQ(v.shortestFirstDuration(), 1001);
    EXPECT_NEAR(v.frameRate(), 29.97, 0.001);
    EXPECT_EQ(v.sampleCount, 150);
    EXPECT_EQ(v.duration, 150 * 1001);
    EXPECT_EQ(rateRule(v).second, 150);
    expectGapFree(v);
    EXPECT_EQ(v.keyFrames.size(), 1u) << "one key frame in 150 frames";
    EXPECT_EQ(v.imageDescription.cType, fourcc("avc1"));
    EXPECT_EQ(v.imageDescription.width, 320);
    EXPECT_EQ(v.imageDescription.height, 240);
    EXPECT_EQ(v.imageDescription.depth, 24);
    EXPECT_GE(v.imageDescription.toHandle().size(), ImageDescription::kBaseSize);

    const TrackInfo& s = soundOf(*r.file);
    EXPECT_TRUE(s.audible);
    EXPECT_FALSE(s.visual);
    EXPECT_EQ(s.sampleRate, 48000);
    EXPECT_EQ(s.timeScale, 48000);
    EXPECT_EQ(s.channels, 1);
    EXPECT_EQ(s.soundDescription.dataFormat, fourcc("mp4a"));
    EXPECT_EQ(s.soundDescription.sampleRate, 0xBB800000u);
    EXPECT_NEAR(double(s.sampleCount), 5 * 48000.0, 1024) << "within one AAC frame";
    EXPECT_NEAR(r.file->durationSeconds(), 5.005, 0.01);
}

TEST(MediaFileOpen, Mpeg4MovieAt25AndMjpegAviAt30)
{
    MediaOpenResult mov = openOk(media::mpeg4Movie());
    ASSERT_TRUE(mov.file);
    const TrackInfo& v = videoOf(*mov.file);
    EXPECT_EQ(rateRule(v), std::make_pair(int64_t(25), int64_t(100)));
    EXPECT_EQ(v.sampleCount, 100);
    EXPECT_EQ(v.imageDescription.cType, fourcc("mp4v"));
    expectGapFree(v);
    const TrackInfo& s = soundOf(*mov.file);
    EXPECT_EQ(s.soundDescription.dataFormat, fourcc("twos"));
    EXPECT_EQ(s.soundDescription.sampleRate, 0xAC440000u);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.bitsPerSample, 16);
    EXPECT_EQ(s.sampleCount, 4 * 44100);

    MediaOpenResult avi = openOk(media::mjpegAvi());
    ASSERT_TRUE(avi.file);
    const TrackInfo& a = videoOf(*avi.file);
    EXPECT_EQ(rateRule(a), std::make_pair(int64_t(30), int64_t(90)));
    EXPECT_EQ(a.imageDescription.cType, fourcc("jpeg"));
    EXPECT_EQ(a.keyFrames.size(), 90u) << "every JPEG frame is a key frame";
    expectGapFree(a);
    EXPECT_EQ(soundOf(*avi.file).soundDescription.dataFormat, fourcc("sowt"));
    EXPECT_EQ(soundOf(*avi.file).sampleCount, 3 * 44100);
}

TEST(MediaFileOpen, Mpeg1SystemStreamStartsAtItsFirstFrame)
{
    MediaOpenResult r = openOk(media::mpeg1System());
    ASSERT_TRUE(r.file);
    const TrackInfo& v = videoOf(*r.file);
    EXPECT_EQ(v.sampleCount, 75);
    EXPECT_EQ(rateRule(v).first, 25);
    EXPECT_GT(v.startPts, 0) << "program streams do not start at stamp 0";
    EXPECT_EQ(v.offset, 0);
    expectGapFree(v);
}

TEST(MediaFileOpen, Mpeg1ElementaryStream)
{
    MediaOpenResult r = openOk(media::mpeg1Elementary());
    ASSERT_TRUE(r.file);
    const TrackInfo& v = videoOf(*r.file);
    EXPECT_EQ(v.sampleCount, 50);
    EXPECT_EQ(rateRule(v), std::make_pair(int64_t(25), int64_t(50)));
    EXPECT_EQ(v.imageDescription.cType, fourcc("mp1v"));
    expectGapFree(v);
}

TEST(MediaFileOpen, DvFile)
{
    MediaOpenResult r = openOk(media::dvFile());
    ASSERT_TRUE(r.file);
    const TrackInfo& v = videoOf(*r.file);
    EXPECT_EQ(v.imageDescription.cType, fourcc("dvcp"));
    EXPECT_EQ(v.width, 720);
    EXPECT_EQ(v.height, 576);
    EXPECT_EQ(rateRule(v), std::make_pair(int64_t(25), int64_t(25)));
    EXPECT_EQ(soundOf(*r.file).sampleRate, 48000);
    EXPECT_EQ(soundOf(*r.file).channels, 2);
}

TEST(MediaFileOpen, StillImagesAreOneFrameVideoTracks)
{
    MediaOpenResult png = openOk(media::pngStill());
    ASSERT_TRUE(png.file);
    const TrackInfo& p = videoOf(*png.file);
    EXPECT_TRUE(p.still);
    EXPECT_EQ(p.sampleCount, 1);
    EXPECT_EQ(p.timeScale, 600);
    EXPECT_EQ(p.duration, 600);
    EXPECT_EQ(p.imageDescription.cType, fourcc("png "));
    EXPECT_EQ(p.imageDescription.depth, 32) << "the PNG has alpha";
    EXPECT_EQ(p.width, 64);

    MediaOpenResult jpg = openOk(media::jpegStill());
    ASSERT_TRUE(jpg.file);
    const TrackInfo& j = videoOf(*jpg.file);
    EXPECT_TRUE(j.still);
    EXPECT_EQ(j.sampleCount, 1);
    EXPECT_EQ(j.imageDescription.cType, fourcc("jpeg"));
    EXPECT_EQ(j.imageDescription.depth, 24);
    EXPECT_EQ(rateRule(j).second, 1);
}

TEST(MediaFileOpen, SoundFilesCountTheirSamplesExactly)
{
    MediaOpenResult wav = openOk(media::rampWav());
    ASSERT_TRUE(wav.file);
    ASSERT_EQ(wav.file->tracks().size(), 1u);
    EXPECT_EQ(soundOf(*wav.file).sampleCount, 96000);
    EXPECT_EQ(soundOf(*wav.file).soundDescription.dataFormat, fourcc("sowt"));

    // The MP3 encoder's delay and padding are not part of the sound.
    MediaOpenResult mp3 = openOk(media::sineMp3());
    ASSERT_TRUE(mp3.file);
    EXPECT_EQ(soundOf(*mp3.file).sampleCount, 88200);
    EXPECT_EQ(soundOf(*mp3.file).soundDescription.sampleRate, 0xAC440000u);

    MediaOpenResult aiff = openOk(media::sineAiff());
    ASSERT_TRUE(aiff.file);
    EXPECT_EQ(soundOf(*aiff.file).sampleCount, 22050);
    EXPECT_EQ(soundOf(*aiff.file).soundDescription.sampleRate, 0x56220000u);
    EXPECT_EQ(soundOf(*aiff.file).soundDescription.dataFormat, fourcc("twos"));
}

TEST(MediaFileOpen, TracksKeepTheirEnabledFlags)
{
    std::string two = generate("two-sounds.mov", "-f lavfi -i sine=f=300:d=1 -f lavfi -i "
                                                 "sine=f=600:d=1 -map 0 -map 1 -c:a pcm_s16le");
    MediaOpenResult r = openOk(two);
    ASSERT_TRUE(r.file);
    EXPECT_EQ(r.file->trackCount(kSoundMediaType), 2);
    EXPECT_TRUE(r.file->tracks()[0].enabled);
    EXPECT_FALSE(r.file->tracks()[1].enabled) << "the muxer enables one track of each kind";
    EXPECT_EQ(r.file->findTrack(kSoundMediaType, 1), 1);
    EXPECT_EQ(r.file->findTrack(kSoundMediaType, 2), -1);
    EXPECT_EQ(r.file->findTrack(kVideoMediaType), -1);
}

TEST(MediaFileOpen, TrackOffsetsPlaceLateTracks)
{
    std::string late =
        generate("late-sound.mov", "-f lavfi -i color=c=gray:s=160x120:r=25:d=2 "
                                   "-itsoffset 0.5 -f lavfi -i "
                                   "sine=f=440:r=48000:d=1 -c:v mpeg4 -c:a pcm_s16le");
    MediaOpenResult r = openOk(late);
    ASSERT_TRUE(r.file);
    EXPECT_EQ(videoOf(*r.file).offset, 0);
    EXPECT_EQ(soundOf(*r.file).offset, 24000) << "half a second at 48 kHz";
    EXPECT_EQ(soundOf(*r.file).duration, 48000);
    EXPECT_NEAR(r.file->durationSeconds(), 2.0, 1e-9);
}

TEST(MediaFileOpen, FilesOfOtherContainersAreNotMovies)
{
    const std::string ogg = generate("sound.ogg", "-f lavfi -i sine=d=1 -c:a libvorbis");
    const std::string flv = generate("clip.flv", numberedVideo(320, 240, "25", 1));
    const std::string flac = generate("sound.flac", "-f lavfi -i sine=d=1");
    for (const std::string& path :
         {media::matroska(), media::mpeg2Program(), media::transportStream(), ogg, flv, flac}) {
        MediaOpenResult r = MediaFile::open(path);
        EXPECT_EQ(r.status, MediaOpenStatus::notAMovie) << path << ": " << r.detail;
        EXPECT_FALSE(r.file);
    }
    // Decided by what the file holds, not by its name.
    std::string disguised =
        truncatedCopy(media::matroska(), "disguised.mov", fileSize(media::matroska()));
    EXPECT_EQ(MediaFile::open(disguised).status, MediaOpenStatus::notAMovie);
    std::string renamed =
        truncatedCopy(media::mjpegAvi(), "renamed.mkv", fileSize(media::mjpegAvi()));
    EXPECT_EQ(MediaFile::open(renamed).status, MediaOpenStatus::ok);
    EXPECT_STREQ(mediaOpenStatusText(MediaOpenStatus::notAMovie), "not a movie");
}

TEST(MediaFileOpen, MissingEmptyTextAndDamagedFilesCannotBeOpened)
{
    const std::string cases[] = {
        mediaDir() + "/no-such-file.mov",
        mediaDir(), // a folder
        "/dev/zero",
        writeFile("empty.mov", ""),
        writeFile("notes.txt", "Shot list\n1. harbour at dawn\n2. market\n"),
        writeFile("noise.avi", std::string(4096, '\x5a')),
        // A movie cut before its index (which this muxer writes at the end).
        truncatedCopy(media::h264Movie(), "cut.mp4", fileSize(media::h264Movie()) / 2),
        truncatedCopy(media::rampWav(), "header-only.wav", 20),
        writeFile("random.bin", noise(300000, 1)),
        writeFile("random.mov", noise(300000, 2)),
        writeFile("random.dat", noise(300000, 5)),
    };
    for (const std::string& path : cases) {
        MediaOpenResult r = MediaFile::open(path);
        EXPECT_EQ(r.status, MediaOpenStatus::cannotOpen) << path << ": " << r.detail;
        EXPECT_FALSE(r.file);
    }
    EXPECT_STREQ(mediaOpenStatusText(MediaOpenStatus::cannotOpen), "cannot open");
}

TEST(MediaFileTrack, SampleIndexAtUsesSampleIntervals)
{
    MediaOpenResult r = openOk(media::h264Movie());
    ASSERT_TRUE(r.file);
    const TrackInfo& v = videoOf(*r.file);
    EXPECT_EQ(v.sampleIndexAt(0), 0);
    EXPECT_EQ(v.sampleIndexAt(1000), 0);
    EXPECT_EQ(v.sampleIndexAt(1001), 1);
    EXPECT_EQ(v.sampleIndexAt(v.duration - 1), 149);
    EXPECT_EQ(v.sampleIndexAt(v.duration), -1);
    EXPECT_EQ(v.sampleIndexAt(-1), -1);
}

// Movie files are opened without reading their sample data; the tables must be the same as
// when every packet is read.
TEST(MediaFileOpen, SkimmedMovieFilesGiveTheSameTables)
{
    std::string fast = generate("fast.mp4", numberedVideo(320, 240, "25", 4) +
                                                " -c:v libx264 -g 25 -movflags +faststart");
    std::string busy = generate("busy.mp4", "-f lavfi -i testsrc2=s=320x240:r=30:d=10 -f lavfi -i "
                                            "sine=d=10 -c:v libx264 -g 100 -bf 3");
    for (const std::string& path : {media::h264Movie(), media::mpeg4Movie(), fast, busy,
                                    truncatedCopy(fast, "fast-cut2.mp4", fileSize(fast) / 2)}) {
        MediaOpenResult skimmed = MediaFile::open(path);
        setenv("ZEF_MEDIA_FULL_SCAN", "1", 1);
        MediaOpenResult full = MediaFile::open(path);
        unsetenv("ZEF_MEDIA_FULL_SCAN");
        ASSERT_EQ(skimmed.status, full.status) << path;
        if (!full.file) continue;
        ASSERT_EQ(skimmed.file->tracks().size(), full.file->tracks().size());
        for (size_t i = 0; i < full.file->tracks().size(); ++i) {
            const TrackInfo& a = skimmed.file->tracks()[i];
            const TrackInfo& b = full.file->tracks()[i];
            EXPECT_EQ(a.sampleCount, b.sampleCount) << path << " track " << i;
            EXPECT_EQ(a.duration, b.duration) << path;
            EXPECT_EQ(a.offset, b.offset) << path;
            EXPECT_EQ(a.startPts, b.startPts) << path;
            EXPECT_EQ(a.decodeOrderDts, b.decodeOrderDts) << path;
            ASSERT_EQ(a.samples.size(), b.samples.size()) << path;
            for (size_t k = 0; k < a.samples.size(); ++k) {
                EXPECT_EQ(a.samples[k].pts, b.samples[k].pts);
                EXPECT_EQ(a.samples[k].time, b.samples[k].time);
                EXPECT_EQ(a.samples[k].duration, b.samples[k].duration);
                EXPECT_EQ(a.samples[k].sync, b.samples[k].sync);
            }
            ASSERT_EQ(a.keyFrames.size(), b.keyFrames.size()) << path;
            for (size_t k = 0; k < a.keyFrames.size(); ++k)
                EXPECT_EQ(a.keyFrames[k].dts, b.keyFrames[k].dts);
        }
    }
}
