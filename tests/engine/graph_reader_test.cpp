// Clips read through the media graph: the readers of a clip fetching pictures and sound from
// generated files, the clip opener's second try, and the frame delivery behind the exports.
#include "engine/clip_samples.h"
#include "engine/frame_delivery.h"
#include "engine/graph_clip_media.h"
#include "model/project.h"
#include "platform/graph/class_registry.h"
#include "project_items.h"
#include "renderfilter/render_filter.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;
using zef::movies::testing::frameNumberOf;

namespace {

constexpr int64_t kMs = 10'000; // media time units

struct GraphReaders : ::testing::Test {
    std::unique_ptr<graph::FilterClassRegistry> registry = [] {
        auto r = graph::FilterClassRegistry::withBuiltIns();
        DllRegisterServer(r.get());
        return r;
    }();

    // The number of the picture the reader shows at t.
    static int pictureAt(FDirectShowSource& reader, int64_t t)
    {
        Pixmap p(160, 120);
        if (!reader.fetchFrame(t, reinterpret_cast<uint8_t*>(p.data()), 160, 120, 0, true))
            return -2;
        return frameNumberOf(p);
    }
};

} // namespace

TEST_F(GraphReaders, PicturesAreTheOnesTheFileShowsAtEachTimeInAnyOrder)
{
    FDirectShowSource reader(*registry);
    std::string why;
    ASSERT_TRUE(reader.open(media::matroskaAv(), false, {}, &why)) << why;
    EXPECT_NEAR(reader.frameRate(), 30.0, 1e-3);
    EXPECT_EQ(reader.frameCount(), 90);
    // The file stamps picture n at n / 30 s rounded to the millisecond.
    auto startOf = [](int n) { return int64_t(std::lround(n * 100.0 / 3.0)) * kMs; };
    // Forward frame by frame, on both sides of each picture's start, across a key frame.
    for (int n = 25; n < 36; ++n) {
        EXPECT_EQ(pictureAt(reader, startOf(n)), n) << n;
        EXPECT_EQ(pictureAt(reader, startOf(n + 1) - 1), n) << n;
    }
    // Back, far ahead, back again; past the end the last picture stays.
    for (int n : {3, 80, 0, 59, 58, 89})
        EXPECT_EQ(pictureAt(reader, startOf(n) + 1), n) << n;
    EXPECT_EQ(pictureAt(reader, 5 * 10'000'000), 89);
}

TEST_F(GraphReaders, VariableFrameRatePicturesChangeWhereTheFileSays)
{
    FDirectShowSource reader(*registry);
    ASSERT_TRUE(reader.open(media::vfrWebm(), false));
    // Picture n starts at 40 n ms, 17 ms later when n mod 4 = 2.
    auto startOf = [](int n) { return int64_t(40 * n + (n % 4 == 2 ? 17 : 0)) * kMs; };
    for (int64_t t = 0; t < 1960 * kMs; t += 7 * kMs) {
        int want = 0;
        while (want + 1 < 50 && startOf(want + 1) <= t)
            ++want;
        ASSERT_EQ(pictureAt(reader, t), want) << "at " << t / kMs << " ms";
    }
    // The pictures' starts as the clip's samples use them.
    GraphClipReaders readers(*registry, false);
    GraphMediaInfo info;
    std::unique_ptr<ClipMedia> clip = readers.open(media::vfrWebm(), info);
    ASSERT_TRUE(clip);
    std::vector<int64_t> starts;
    ASSERT_TRUE(clip->frameStarts(100 * kMs, 250 * kMs, starts));
    EXPECT_EQ(starts, (std::vector<int64_t>{startOf(2), startOf(3), startOf(4), startOf(5)}));
}

TEST_F(GraphReaders, TransportStreamPicturesInAnyOrder)
{
    // MPEG-2 video in a transport stream: seeks there land near, not on, a key frame.
    FDirectShowSource reader(*registry);
    ASSERT_TRUE(reader.open(media::transportStream(), false));
    for (int n : {20, 3, 24, 0, 12, 11, 13, 1})
        EXPECT_EQ(pictureAt(reader, n * 400'000 + 200'000), n) << n;
}

TEST_F(GraphReaders, DisplayReaderShowsThePictureAtItsPosition)
{
    FDirectShowSource reader(*registry);
    std::atomic<bool> notified = false;
    FDirectShowSource::Display display;
    display.previewWindow = 77;
    display.videoRect = {10, 20, 170, 140};
    display.notify = [&] { notified = true; };
    ASSERT_TRUE(reader.open(media::matroskaAv(), true, display));
    graph::VideoWindow* window = reader.videoWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->owner(), 77);
    EXPECT_FALSE(window->visible());
    reader.show(true);
    EXPECT_TRUE(window->visible());
    EXPECT_EQ(window->position(), (graph::Rect32{10, 20, 170, 140}));

    // Paused at a position, the window holds the picture shown there.
    auto shownNumber = [&] {
        Pixmap shown(160, 120);
        const graph::VideoWindow::Picture p = window->picture();
        if (p.pixels.size() != size_t(160 * 120 * 4)) return -3;
        std::memcpy(shown.data(), p.pixels.data(), p.pixels.size());
        return frameNumberOf(shown);
    };
    reader.seek(2 * 10'000'000 + 1);
    for (int i = 0; i < 100 && shownNumber() != 60; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(shownNumber(), 60);
    EXPECT_NEAR(double(reader.position().ticks()), 1200.0, 1.0);

    // Played to the end, the graph posts "complete" and tells the editor.
    reader.seek(29 * 1'000'000);
    reader.play(false);
    int32_t code = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!reader.takeEvent(code) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(code, graph::kEventComplete);
    for (int i = 0; i < 100 && !notified; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(notified);
}

TEST_F(GraphReaders, SoundIsFetchedFromTheSampleAskedFor)
{
    FDirectShowSource reader(*registry);
    ASSERT_TRUE(reader.open(media::matroskaAv(), false));
    ASSERT_TRUE(reader.hasAudio());
    // 0.2 s from 0.9 s: the tone sets in at 1 s, 4410 frames in at 44.1 kHz.
    for (int pass = 0; pass < 2; ++pass) { // the second time from what the reader holds
        std::vector<int16_t> pcm(2 * 8820, 1);
        ASSERT_TRUE(reader.fetchAudio(900 * 10'000, pcm.data(), 9600, 8820));
        size_t onset = 0;
        while (onset < 8820 && std::abs(pcm[2 * onset]) < 300)
            ++onset;
        EXPECT_NEAR(double(onset), 4410.0, 3.0);
        EXPECT_EQ(pcm[2 * 100], 0);
        EXPECT_EQ(pcm[2 * 5000], pcm[2 * 5000 + 1]); // both channels
    }
    // Sound beyond the end is silence, and it does not keep the fetch waiting.
    std::vector<int16_t> tail(2 * 4410, 1);
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader.fetchAudio(2950 * 10'000, tail.data(), 4800, 4410));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(1000));
    EXPECT_EQ(tail[2 * 4000], 0);
}

TEST_F(GraphReaders, BrokenAndSoundOnlyFilesAnswerWithoutHanging)
{
    FDirectShowSource tone(*registry);
    ASSERT_TRUE(tone.open(media::audioOnlyTs(), false));
    EXPECT_FALSE(tone.hasVideo());
    Pixmap p(16, 16);
    EXPECT_FALSE(tone.fetchFrame(0, reinterpret_cast<uint8_t*>(p.data()), 16, 16, 0, true));

    // Half a file: the pictures that are there come, the rest ends within the bounded wait.
    const std::string whole = media::matroskaAv();
    const std::string half =
        movies::testing::truncatedCopy(whole, "half.mkv", movies::testing::fileSize(whole) / 2);
    FDirectShowSource reader(*registry);
    ASSERT_TRUE(reader.open(half, false));
    EXPECT_EQ(pictureAt(reader, 10 * 333'334), 10);
    const auto begun = std::chrono::steady_clock::now();
    pictureAt(reader, 80 * 333'334);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(2500));
}

TEST_F(GraphReaders, ClipsTheToolboxRefusesOpenThroughTheReaders)
{
    GraphClipReaders readers(*registry, false);
    MediaClipOpener opener(&readers);
    FProject project;
    project.setClipOpener(&opener);
    ZEFSourceItem* mkv = test::addClip(project, media::matroskaAv(), 0, 0, 1800);
    ASSERT_FALSE(mkv->invalid());
    EXPECT_FALSE(mkv->viaMovieToolbox());
    EXPECT_EQ(mkv->mediaRateNum(), 30);
    EXPECT_EQ(mkv->mediaRateDen(), 1);
    EXPECT_EQ(mkv->frameCount(), 90);
    EXPECT_EQ(mkv->audioRate(), 48000);
    EXPECT_EQ(mkv->thumbWidth(), 80);
    EXPECT_EQ(mkv->thumbHeight(), 60);
    EXPECT_EQ(mkv->sourceOut().ticks(), 1800);
    ZEFSourceItem* mp4 = test::addClip(project, media::h264Movie(), 1, 0, 600);
    EXPECT_TRUE(mp4->viaMovieToolbox());

    // The exports reach only the project's clips; a picture of the clip at a timeline time.
    FrameDelivery delivery(project);
    int stranger = 0;
    Pixmap p(160, 120);
    EXPECT_FALSE(delivery.renderFrame(&stranger, 0, reinterpret_cast<uint8_t*>(p.data()), 160, 120,
                                      0, true));
    mkv->assignStart(EditTime(600));
    ASSERT_TRUE(delivery.renderFrame(mkv, 600 + 20 * 7, reinterpret_cast<uint8_t*>(p.data()), 160,
                                     120, 0, true));
    EXPECT_EQ(frameNumberOf(p), 7);
    EXPECT_EQ(FrameDelivery::sourceTime(*mkv, 0), 0); // before the in-point: clamped
    // A clip played at half speed asks for half as many source frames per packet.
    EXPECT_EQ(FrameDelivery::sourceFrames(*mkv, 44100, 48000), 48000);
    mkv->setScaleType(1);
    mkv->setScaleFactor(2.0f);
    EXPECT_EQ(FrameDelivery::sourceFrames(*mkv, 44100, 48000), 24000);
}
