#include "platform/movies/video_decoder.h"

#include "test_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

struct Opened {
    std::shared_ptr<MediaFile> file;
    size_t track = 0;
    const TrackInfo& info() const { return file->tracks()[track]; }
};

Opened openVideo(const std::string& path)
{
    MediaOpenResult r = MediaFile::open(path);
    EXPECT_EQ(r.status, MediaOpenStatus::ok) << path << ": " << r.detail;
    Opened o{r.file, 0};
    if (r.file) o.track = size_t(std::max(0, r.file->findTrack(kVideoMediaType)));
    return o;
}

int numberAt(VideoDecoder& d, int64_t mediaTime, int w = 320, int h = 240)
{
    Pixmap p(w, h);
    if (!d.drawAt(mediaTime, p)) return -2;
    return frameNumberOf(p);
}

// Every frame in order, then random times (fixed seed), each checked against the frame
// number drawn into the picture.
void checkFrameExact(const std::string& path, int randomDraws)
{
    Opened o = openVideo(path);
    ASSERT_TRUE(o.file);
    const TrackInfo& t = o.info();
    VideoDecoder d(o.file, o.track);
    ASSERT_TRUE(d.isValid());
    for (int64_t i = 0; i < t.sampleCount; ++i)
        ASSERT_EQ(numberAt(d, t.samples[size_t(i)].time), i) << path << " sequential " << i;
    EXPECT_LE(d.seekCount(), 1) << "playing forward must not seek";

    std::mt19937 rng(1234);
    std::uniform_int_distribution<int64_t> pick(0, t.duration - 1);
    for (int k = 0; k < randomDraws; ++k) {
        int64_t time = pick(rng);
        ASSERT_EQ(numberAt(d, time), t.sampleIndexAt(time)) << path << " at media time " << time;
    }
}

} // namespace

TEST(VideoDecoderFrames, H264LongGopWithBFrames) { checkFrameExact(media::h264Movie(), 40); }

TEST(VideoDecoderFrames, Mpeg4PartTwoWithBFrames) { checkFrameExact(media::mpeg4Movie(), 40); }

TEST(VideoDecoderFrames, MotionJpegAvi) { checkFrameExact(media::mjpegAvi(), 40); }

TEST(VideoDecoderFrames, Mpeg4WithBFramesInAvi)
{
    // AVI keeps no display stamps: frames with B-frames are told apart by their order.
    checkFrameExact(generate("mpeg4-bframes.avi",
                             numberedVideo(320, 240, "25", 3) + " -c:v mpeg4 -q:v 3 -bf 2 -g 25"),
                    30);
}

TEST(VideoDecoderFrames, Mpeg1SystemStreamNotStartingAtZero)
{
    checkFrameExact(media::mpeg1System(), 40);
}

TEST(VideoDecoderFrames, Mpeg1ElementaryStream) { checkFrameExact(media::mpeg1Elementary(), 20); }

TEST(VideoDecoderFrames, DvFrames) { checkFrameExact(media::dvFile(), 10); }

TEST(VideoDecoderFrames, SampleBoundariesAndStepsBackwards)
{
    Opened o = openVideo(media::h264Movie());
    ASSERT_TRUE(o.file);
    const TrackInfo& t = o.info();
    VideoDecoder d(o.file, o.track);
    // 29.97: sample n covers [1001 n, 1001 (n + 1)).
    EXPECT_EQ(numberAt(d, 1001 * 100 - 1), 99);
    EXPECT_EQ(numberAt(d, 1001 * 100), 100);
    for (int64_t i = 140; i >= 100; i -= 3) // scrubbing backwards over a 150-frame GOP
        ASSERT_EQ(numberAt(d, t.samples[size_t(i)].time + 500), i);
    EXPECT_EQ(numberAt(d, t.duration - 1), 149);

    // A jump into the middle of the GOP, then playing on from there without seeking again.
    ASSERT_EQ(numberAt(d, t.samples[77].time), 77);
    int64_t seeks = d.seekCount();
    for (int64_t i = 78; i < 100; ++i)
        ASSERT_EQ(numberAt(d, t.samples[size_t(i)].time), i);
    EXPECT_EQ(d.seekCount(), seeks);
}

TEST(VideoDecoderFrames, OutsideTheTrackThereIsNoPicture)
{
    Opened o = openVideo(media::mjpegAvi());
    ASSERT_TRUE(o.file);
    VideoDecoder d(o.file, o.track);
    Pixmap p(8, 8, 0x12345678);
    EXPECT_FALSE(d.drawAt(-1, p));
    EXPECT_FALSE(d.drawAt(o.info().duration, p));
    EXPECT_EQ(p.pixel(3, 3), 0x12345678u) << "left unchanged";
    EXPECT_EQ(d.frameForSample(90), nullptr);

    // A sound track or an index past the tracks gives an unusable decoder, not a crash.
    int32_t sound = o.file->findTrack(kSoundMediaType);
    ASSERT_GE(sound, 0);
    EXPECT_FALSE(VideoDecoder(o.file, size_t(sound)).isValid());
    EXPECT_FALSE(VideoDecoder(o.file, 99).isValid());
    EXPECT_FALSE(VideoDecoder(nullptr, 0).drawAt(0, p));
}

TEST(VideoDecoderFrames, ScalesToAnySizeAndCachesRecentFrames)
{
    Opened o = openVideo(media::mpeg4Movie());
    ASSERT_TRUE(o.file);
    VideoDecoder d(o.file, o.track);
    EXPECT_EQ(numberAt(d, 12800 * 2, 97, 53), 50);
    EXPECT_EQ(numberAt(d, 12800 * 2, 1280, 720), 50);
    int64_t decoded = d.decodedFrameCount();
    EXPECT_EQ(numberAt(d, 12800 * 2 + 100, 640, 480), 50);
    EXPECT_EQ(d.decodedFrameCount(), decoded) << "the same frame again comes from the cache";
}

TEST(VideoDecoderFrames, StillsKeepTheirColoursAndAlpha)
{
    Opened png = openVideo(media::pngStill());
    ASSERT_TRUE(png.file);
    VideoDecoder d(png.file, png.track);
    Pixmap p(64, 48);
    ASSERT_TRUE(d.drawAt(0, p));
    uint32_t px = p.pixel(10, 10);
    EXPECT_EQ(redOf(px), 255);
    EXPECT_EQ(greenOf(px), 0);
    EXPECT_NEAR(alphaOf(px), 128, 1) << "straight alpha, not pre-multiplied";
    ASSERT_TRUE(d.drawAt(599, p));

    Opened jpg = openVideo(media::jpegStill());
    ASSERT_TRUE(jpg.file);
    VideoDecoder j(jpg.file, jpg.track);
    Pixmap q(32, 24);
    ASSERT_TRUE(j.drawAt(0, q));
    px = q.pixel(16, 12);
    EXPECT_EQ(alphaOf(px), 255);
    EXPECT_GT(blueOf(px), 230);
    EXPECT_LT(redOf(px), 25);
    EXPECT_LT(greenOf(px), 25);
}

TEST(VideoDecoderFrames, BmpTiffAndGifStills)
{
    for (const char* extension : {"bmp", "tiff", "gif"}) {
        Opened o = openVideo(media::still(extension));
        ASSERT_TRUE(o.file);
        EXPECT_TRUE(o.info().still) << extension;
        VideoDecoder d(o.file, o.track);
        Pixmap p(40, 30);
        ASSERT_TRUE(d.drawAt(300, p)) << extension;
        uint32_t px = p.pixel(20, 15);
        EXPECT_EQ(alphaOf(px), 255) << extension;
        // The colour "green" is 0x008000; the GIF encoder's fixed palette comes near it.
        EXPECT_NEAR(greenOf(px), 128, std::string(extension) == "gif" ? 24 : 2) << extension;
        EXPECT_LT(redOf(px), 8) << extension;
    }
    Opened gif = openVideo(media::animatedGif());
    ASSERT_TRUE(gif.file);
    EXPECT_FALSE(gif.info().still);
    EXPECT_EQ(gif.info().sampleCount, 10);
    VideoDecoder d(gif.file, gif.track);
    Pixmap first(64, 48), last(64, 48);
    ASSERT_TRUE(d.drawSample(0, first));
    ASSERT_TRUE(d.drawSample(9, last));
    EXPECT_FALSE(first == last) << "the frames of a moving picture differ";
}

TEST(VideoDecoderFrames, SeparateDecodersOnSeparateThreads)
{
    Opened o = openVideo(media::h264Movie());
    ASSERT_TRUE(o.file);
    int64_t errors[2] = {0, 0};
    auto run = [&](int which) {
        VideoDecoder d(o.file, o.track);
        std::mt19937 rng(which);
        std::uniform_int_distribution<int64_t> pick(0, o.info().duration - 1);
        for (int k = 0; k < 15; ++k) {
            int64_t time = pick(rng);
            if (numberAt(d, time) != o.info().sampleIndexAt(time)) ++errors[which];
        }
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(errors[0], 0);
    EXPECT_EQ(errors[1], 0);
}

TEST(VideoDecoderFrames, DamagedAndTruncatedDataNeverCrash)
{
    // A movie with its index first, cut in the middle of its data.
    std::string fast = generate("fast.mp4", numberedVideo(320, 240, "25", 4) +
                                                " -c:v libx264 -g 25 -movflags +faststart");
    std::string cut = truncatedCopy(fast, "fast-cut.mp4", fileSize(fast) * 6 / 10);
    MediaOpenResult r = MediaFile::open(cut);
    if (r.status == MediaOpenStatus::ok) {
        const TrackInfo& t = r.file->tracks()[0];
        EXPECT_LT(t.sampleCount, 100) << "only the frames that are there";
        VideoDecoder d(r.file, 0);
        Pixmap p(80, 60);
        for (int64_t i = t.sampleCount - 1; i >= 0; i -= 7)
            d.drawSample(i, p);
        EXPECT_TRUE(d.drawSample(0, p));
        EXPECT_EQ(frameNumberOf(p), 0);
    } else {
        EXPECT_EQ(r.status, MediaOpenStatus::cannotOpen);
    }

    // Garbage written over the middle of the frames.
    std::ifstream in(fast, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = bytes.size() * 2 / 3; i < bytes.size() * 5 / 6; i += 3)
        bytes[i] = char(i * 7);
    std::string damaged = writeFile("damaged.mp4", bytes);
    MediaOpenResult dr = MediaFile::open(damaged);
    ASSERT_EQ(dr.status, MediaOpenStatus::ok);
    VideoDecoder d(dr.file, 0);
    Pixmap p(80, 60);
    for (int64_t i = 0; i < dr.file->tracks()[0].sampleCount; i += 5)
        d.drawSample(i, p);
    EXPECT_TRUE(d.drawSample(0, p));
    EXPECT_EQ(frameNumberOf(p), 0);
}

TEST(VideoDecoderFrames, FileRemovedWhileInUse)
{
    std::string copy =
        truncatedCopy(media::h264Movie(), "soon-gone.mp4", fileSize(media::h264Movie()));
    Opened o = openVideo(copy);
    ASSERT_TRUE(o.file);
    VideoDecoder d(o.file, o.track);
    ASSERT_EQ(numberAt(d, o.info().samples[100].time), 100);
    std::filesystem::remove(copy);
    // Going back needs the file again: no picture, but no crash either, then or later.
    EXPECT_EQ(numberAt(d, o.info().samples[10].time), -2);
    EXPECT_EQ(numberAt(d, o.info().samples[120].time), -2);
    EXPECT_EQ(numberAt(d, o.info().samples[5].time), -2);
}

// A moving position: frameNear serves what is at hand, and an abandoned roll forward leaves the
// decoder ready to go on.
TEST(VideoDecoderFrames, NearFramesAndAbandonedRequests)
{
    Opened o = openVideo(media::h264Movie()); // one key frame for 150 frames
    const TrackInfo& t = o.info();
    VideoDecoder::Options options;
    options.cacheFrames = 8;
    VideoDecoder d(o.file, o.track, options);
    auto time = [&](int i) { return t.samples[size_t(i)].time; };
    Pixmap p(320, 240);

    // Nothing decoded yet: the key frame is the one decode away.
    ASSERT_TRUE(d.drawNear(time(120), p));
    EXPECT_EQ(frameNumberOf(p), 0);
    // Frames a few ahead of where the decoder stands are decoded exactly.
    ASSERT_TRUE(d.drawNear(time(3), p));
    EXPECT_EQ(frameNumberOf(p), 3);
    // Far away, a cached frame nearer than the key frame wins; no decoding happens.
    ASSERT_EQ(numberAt(d, time(100)), 100);
    const int64_t decoded = d.decodedFrameCount();
    ASSERT_TRUE(d.drawNear(time(60), p));
    EXPECT_GT(frameNumberOf(p), 60); // one of the frames kept on the way to 100
    EXPECT_LE(frameNumberOf(p), 100);
    EXPECT_EQ(d.decodedFrameCount(), decoded);

    // A request given up after a few packets draws nothing and moves the decoder on.
    int asked = 0;
    const std::function<bool()> abort = [&] { return ++asked > 5; };
    d.setAbortCheck(&abort);
    EXPECT_FALSE(d.drawAt(time(140), p));
    EXPECT_GT(asked, 5);
    d.setAbortCheck(nullptr);
    const int64_t seeks = d.seekCount();
    EXPECT_EQ(numberAt(d, time(140)), 140);
    EXPECT_EQ(d.seekCount(), seeks) << "the decoder goes on from where it was stopped";
}

TEST(VideoDecoderFrames, PositionsLeftStandingSaveDecodingOnTheWayBack)
{
    Opened o = openVideo(media::h264Movie()); // one key frame for 150 frames
    const TrackInfo& t = o.info();
    VideoDecoder::Options options;
    options.positions = 2;
    VideoDecoder d(o.file, o.track, options);
    auto time = [&](int i) { return t.samples[size_t(i)].time; };

    ASSERT_EQ(numberAt(d, time(100)), 100);
    ASSERT_EQ(numberAt(d, time(20)), 20); // a second position, from the top
    // Back and forth: each continues with the position standing just before it.
    for (int frame : {110, 30, 125, 40}) {
        const int64_t decoded = d.decodedFrameCount();
        ASSERT_EQ(numberAt(d, time(frame)), frame);
        EXPECT_LE(d.decodedFrameCount() - decoded, 15) << frame;
    }
    // A frame before both goes back to the key frame with the less recently used one (at 125);
    // the other stays where it stood.
    ASSERT_EQ(numberAt(d, time(10)), 10);
    const int64_t decoded = d.decodedFrameCount();
    ASSERT_EQ(numberAt(d, time(50)), 50);
    EXPECT_LE(d.decodedFrameCount() - decoded, 15);
}
