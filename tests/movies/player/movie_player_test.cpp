#include "platform/movies/player/movie_player.h"

#include "platform/movies/movie_from_file.h"
#include "platform/movies/sound_mixer.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace zef::movies {
namespace {

using namespace std::chrono_literals;

constexpr TimeValue kFrame = 20; // 30 fps at 600 ticks a second
constexpr int kSoundRate = 8000;

uint32_t colourOf(int index) { return argb(255, uint8_t(index), uint8_t(index >> 8), 0x40); }
int indexOf(uint32_t pixel) { return int(redOf(pixel)) | (int(greenOf(pixel)) << 8); }

Handle rawDescription()
{
    ImageDescription d;
    d.cType = fourcc("raw ");
    d.width = 1;
    d.height = 1;
    d.depth = 32;
    d.dataSize = 4;
    return d.toHandle();
}

// A movie of `frames` pictures of 1/30 s, each one colour that names its index; with sound, a
// mono 'sowt' ramp at 8 kHz over the whole movie.
std::unique_ptr<Movie> numberedMovie(int frames, bool withSound = false)
{
    auto movie = std::make_unique<Movie>(600);
    Track* t = movie->newTrack(8 << 16, 8 << 16, 0);
    movie->newTrackMedia(t, VideoMediaType, 600);
    for (int k = 0; k < frames; ++k) {
        const uint32_t c = colourOf(k);
        const uint8_t bytes[4] = {alphaOf(c), redOf(c), greenOf(c), blueOf(c)};
        t->media()->addSample(bytes, kFrame, 1, rawDescription());
    }
    t->insertMedia(0, 0, kFrame * frames);
    if (withSound) {
        const int n = int(kFrame * frames * kSoundRate / 600);
        std::vector<uint8_t> pcm;
        for (int i = 0; i < n; ++i) {
            const int16_t v = int16_t((i * 7) % 20000 - 10000);
            pcm.push_back(uint8_t(uint16_t(v)));
            pcm.push_back(uint8_t(uint16_t(v) >> 8));
        }
        Track* s = movie->newTrack(0, 0, 256);
        movie->newTrackMedia(s, SoundMediaType, kSoundRate);
        SoundDescription d;
        d.dataFormat = fourcc("sowt");
        d.numChannels = 1;
        d.sampleSize = 16;
        d.sampleRate = uint32_t(kSoundRate) << 16;
        s->media()->addSample(pcm, n, 1, d.toHandle());
        s->insertMedia(0, 0, n);
    }
    return movie;
}

// Records every picture with the index it shows and, when given, the audio clock at that moment.
class RecordingSink : public FrameSink {
public:
    struct Entry {
        TimeValue time;
        int index;
        int64_t played;
    };
    explicit RecordingSink(const AudioSink* audio = nullptr, std::chrono::microseconds delay = 0us)
        : m_audio(audio), m_delay(delay)
    {
    }
    void showFrame(const Pixmap& p, TimeValue t) override
    {
        if (m_delay.count() > 0) std::this_thread::sleep_for(m_delay);
        std::lock_guard lock(m_mutex);
        m_entries.push_back(
            {t, p.isEmpty() ? -1 : indexOf(p.pixel(0, 0)), m_audio ? m_audio->playedFrames() : 0});
    }
    std::vector<Entry> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    size_t count() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries.size();
    }

private:
    const AudioSink* m_audio;
    std::chrono::microseconds m_delay;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

template <typename F> bool waitFor(F&& done, std::chrono::milliseconds limit = 3000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(MoviePlayer, SeekAndStepShowTheExactFrame)
{
    auto movie = numberedMovie(30);
    RecordingSink sink;
    MoviePlayer player(*movie, &sink, nullptr);
    EXPECT_EQ(player.frameDuration(), kFrame); // from the video track
    EXPECT_EQ(player.duration(), 600);

    player.seek(7 * kFrame + 5);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 1; }));
    EXPECT_EQ(sink.entries().back().time, 145);
    EXPECT_EQ(sink.entries().back().index, 7);
    EXPECT_EQ(player.currentTime(), 145);

    // Steps go from the start of the frame shown.
    player.step(1);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 2; }));
    EXPECT_EQ(sink.entries().back().time, 160);
    EXPECT_EQ(sink.entries().back().index, 8);
    player.step(-1);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 3; }));
    EXPECT_EQ(sink.entries().back().index, 7);
    EXPECT_EQ(player.currentTime(), 140);

    // Held inside the movie: the first and the last frame.
    player.step(-100);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 4; }));
    EXPECT_EQ(sink.entries().back().index, 0);
    EXPECT_EQ(player.currentTime(), 0);
    player.step(int64_t(1) << 62);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 5; }));
    EXPECT_EQ(sink.entries().back().index, 29);
    EXPECT_EQ(player.currentTime(), 580);

    // The end shows the last picture; times outside the movie are held inside it.
    player.goToEnd();
    ASSERT_TRUE(waitFor([&] { return sink.count() == 6; }));
    EXPECT_EQ(sink.entries().back().index, 29);
    EXPECT_EQ(player.currentTime(), 600);
    player.seek(-50);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 7; }));
    EXPECT_EQ(sink.entries().back().index, 0);
    EXPECT_EQ(player.currentTime(), 0);
    EXPECT_FALSE(player.isPlaying());
}

TEST(MoviePlayer, PlayReachesTheEndOnceInOrderWithoutDrops)
{
    auto movie = numberedMovie(15); // 0.5 s
    NullFrameSink sink;
    MoviePlayer player(*movie, &sink, nullptr);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    player.play();
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitFor([&] { return ends.load() > 0; }));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(ends.load(), 1);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentTime(), 300);

    const auto shown = sink.shown();
    ASSERT_EQ(shown.size(), 15u);
    for (size_t k = 0; k < shown.size(); ++k) {
        EXPECT_EQ(shown[k].time, TimeValue(k) * kFrame);
        EXPECT_EQ(indexOf(shown[k].centrePixel), int(k));
        if (k > 0) {
            EXPECT_GT(shown[k].at, shown[k - 1].at);
        }
    }
    // Shown at the pace of the movie: 14 frame intervals of 33 ms.
    const double span = std::chrono::duration<double>(shown.back().at - shown.front().at).count();
    EXPECT_NEAR(span, 14.0 / 30.0, 0.06);
    const PlayerStats st = player.stats();
    EXPECT_EQ(st.shown, 15);
    EXPECT_EQ(st.dropped, 0);

    // Play at the end starts again from the start.
    sink.clear();
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 2; }));
    EXPECT_EQ(sink.shown().front().time, 0);
}

TEST(MoviePlayer, LoopingWrapsAndDoesNotEnd)
{
    auto movie = numberedMovie(6); // 0.2 s
    RecordingSink sink;
    MoviePlayer player(*movie, &sink, nullptr);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    player.setLooping(true);
    player.play();
    // Two wraps: frame 5 followed by frame 0 twice.
    auto wraps = [&] {
        const auto e = sink.entries();
        int n = 0;
        for (size_t k = 1; k < e.size(); ++k)
            n += e[k - 1].index == 5 && e[k].index == 0;
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return wraps() >= 2; }));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(ends.load(), 0);
    player.stop();
    EXPECT_EQ(player.currentTime(), 0);
}

TEST(MoviePlayer, ReverseAndFastRatesPlayBackwardToTheStart)
{
    auto movie = numberedMovie(30);
    RecordingSink sink;
    MoviePlayer player(*movie, &sink, nullptr);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    EXPECT_EQ(player.setRate(std::nan("")), paramErr);
    EXPECT_EQ(player.setRate(1000), paramErr);
    ASSERT_EQ(player.setRate(-4), noErr);
    player.seek(12 * kFrame + 10); // paused: shows frame 12
    ASSERT_TRUE(waitFor([&] { return sink.count() == 1; }));
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }));
    EXPECT_EQ(player.currentTime(), 0);
    const auto e = sink.entries();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[1].time, 250); // the exact start time first, then the grid
    EXPECT_EQ(e.back().index, 0);
    for (size_t k = 2; k < e.size(); ++k)
        EXPECT_LT(e[k].time, e[k - 1].time);
    EXPECT_EQ(player.stats().dropped, 0);

    // Reverse play at the start begins at the end; looping in reverse wraps to the end.
    player.setLooping(true);
    player.play();
    ASSERT_TRUE(waitFor([&] {
        const auto all = sink.entries();
        for (size_t k = e.size() + 1; k < all.size(); ++k)
            if (all[k - 1].index == 0 && all[k].index == 29) return true;
        return false;
    }));
    player.pause();
    EXPECT_EQ(ends.load(), 1);
}

TEST(MoviePlayer, PauseHoldsTheTimeAndStopReturnsToTheStart)
{
    auto movie = numberedMovie(60);
    RecordingSink sink;
    MoviePlayer player(*movie, &sink, nullptr);
    player.play();
    ASSERT_TRUE(waitFor([&] { return sink.count() >= 4; }));
    player.pause();
    const TimeValue held = player.currentTime();
    const size_t count = sink.count();
    EXPECT_GT(held, 0);
    EXPECT_FALSE(player.isPlaying());
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(player.currentTime(), held);
    EXPECT_EQ(sink.count(), count); // nothing shown after pause() returned

    // Play resumes from the held time.
    player.play();
    ASSERT_TRUE(waitFor([&] { return sink.count() > count; }));
    EXPECT_EQ(sink.entries()[count].time, held);
    player.stop();
    const size_t afterStop = sink.count();
    EXPECT_EQ(player.currentTime(), 0);
    EXPECT_FALSE(player.isPlaying());
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(sink.count(), afterStop);

    // A play range limits play; rate 2 ends it in half the time.
    player.setPlayRange(200, 300);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    ASSERT_EQ(player.setRate(2), noErr);
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }));
    EXPECT_EQ(player.currentTime(), 300);
    const auto e = sink.entries();
    ASSERT_EQ(e.size(), afterStop + 5);
    EXPECT_EQ(e[afterStop].time, 200);
    EXPECT_EQ(e.back().time, 280);
}

TEST(MoviePlayer, SoundIsTheClockAndArrivesComplete)
{
    auto movie = numberedMovie(24, true); // 0.8 s
    NullAudioSink audio(kSoundRate, 1, 400, true);
    RecordingSink sink(&audio);
    MoviePlayer player(*movie, &sink, &audio);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }));

    const auto e = sink.entries();
    ASSERT_EQ(e.size(), 24u);
    for (size_t k = 0; k < e.size(); ++k) {
        EXPECT_EQ(e[k].index, int(k));
        // The picture's time against the sound heard when it appeared: within one frame.
        const double heard = double(e[k].played) * 600.0 / kSoundRate;
        EXPECT_LE(std::abs(heard - double(e[k].time)), double(kFrame)) << "frame " << k;
    }
    EXPECT_EQ(player.stats().dropped, 0);

    // Every sample of the movie's sound, once and in order.
    std::vector<int16_t> expected;
    ASSERT_EQ(mixMovieSound(*movie, 0, movie->duration(), 600, kSoundRate, 1, expected), noErr);
    EXPECT_EQ(audio.samples(), expected);

    // Other rates are silent: nothing more reaches the sound sink.
    audio.clearSamples();
    ASSERT_EQ(player.setRate(2), noErr);
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 2; }));
    EXPECT_EQ(sink.entries().size(), 48u); // every frame, at twice the pace
    EXPECT_TRUE(audio.samples().empty());
}

TEST(MoviePlayer, ASlowDisplayDropsLatePicturesButNeverTwoInARowWhenNearlyInTime)
{
    auto movie = numberedMovie(24);
    RecordingSink slow(nullptr, 45ms); // 1.35 frame durations per picture
    MoviePlayer player(*movie, &slow, nullptr);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }));
    const PlayerStats st = player.stats();
    const auto e = slow.entries();
    EXPECT_GT(st.dropped, 0);
    EXPECT_EQ(st.shown + st.dropped, 24);
    EXPECT_EQ(int64_t(e.size()), st.shown);
    // A stall of 1.35 frames never costs two pictures in a row.
    for (size_t k = 1; k < e.size(); ++k) {
        EXPECT_GT(e[k].index, e[k - 1].index);
        EXPECT_LE(e[k].index - e[k - 1].index, 2);
    }
    // No picture shown is late by two frame durations or more.
    EXPECT_GT(st.lateMsMax, 5.0);
    EXPECT_LT(st.lateMsMax, 2000.0 / 30.0);
}

TEST(MoviePlayer, DestroyingAPlayingPlayerIsClean)
{
    auto movie = numberedMovie(90, true);
    NullAudioSink audio(kSoundRate, 1, 800);
    RecordingSink slow(&audio, 3ms);
    std::atomic<int> ends{0};
    for (int round = 0; round < 3; ++round) {
        {
            MoviePlayer player(*movie, &slow, &audio);
            player.setEndCallback([&] { ++ends; });
            player.play();
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + 30 * round));
            if (round == 1) player.seek(400); // a flush in flight
        }
        const size_t count = slow.count();
        std::this_thread::sleep_for(40ms);
        EXPECT_EQ(slow.count(), count); // no callback after destruction
    }
    EXPECT_EQ(ends.load(), 0);
    EXPECT_GT(slow.count(), 0u);
}

// Reads the frame number a numbered test video shows, with the audio clock at that moment.
class NumberSink : public FrameSink {
public:
    explicit NumberSink(const AudioSink& audio) : m_audio(audio) {}
    void showFrame(const Pixmap& p, TimeValue t) override
    {
        std::lock_guard lock(m_mutex);
        entries.push_back({t, testing::frameNumberOf(p), m_audio.playedFrames()});
    }
    std::vector<RecordingSink::Entry> get()
    {
        std::lock_guard lock(m_mutex);
        return entries;
    }

private:
    const AudioSink& m_audio;
    std::mutex m_mutex;
    std::vector<RecordingSink::Entry> entries;
};

TEST(MoviePlayer, PlaysAMediaFileFrameExactWithItsSound)
{
    // 29.97 fps, 150 frames, AAC; a movie time scale of 30000 puts every frame on the grid.
    MovieFromFileResult r = openMovieFromFile(testing::media::h264Movie(), 30000);
    ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
    NullAudioSink audio(48000, 1, 2400);
    NumberSink sink(audio);
    MoviePlayer player(*r.movie, &sink, &audio);
    ASSERT_EQ(player.frameDuration(), 1001);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });

    player.seek(42 * 1001 + 500);
    ASSERT_TRUE(waitFor([&] { return sink.get().size() == 1; }));
    EXPECT_EQ(sink.get()[0].index, 42);

    // The last second, with sound as the clock, while a seek flushes what was drawn ahead.
    player.seek(119 * 1001);
    player.play();
    ASSERT_TRUE(waitFor([&] { return sink.get().size() >= 5; }));
    player.seek(135 * 1001);
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }, 5000ms));
    const auto e = sink.get();
    size_t resumed = 0;
    for (size_t k = 1; k < e.size(); ++k)
        if (e[k].time == 135 * 1001) resumed = k;
    ASSERT_GE(resumed, 5u);
    EXPECT_EQ(e[1].time, 119 * 1001);
    for (size_t k = 1; k < e.size(); ++k) {
        EXPECT_EQ(e[k].index, int(e[k].time / 1001)) << "picture " << k;
        if (k >= 2 && k != resumed) {
            EXPECT_EQ(e[k].time, e[k - 1].time + 1001) << "picture " << k;
        }
    }
    EXPECT_EQ(e.back().index, 149);
    // Sound heard since the seek against the pictures after it: within one frame.
    for (size_t k = resumed + 1; k < e.size(); ++k) {
        const double heard = 135 * 1001 + double(e[k].played) * 30000.0 / 48000.0;
        EXPECT_LE(std::abs(heard - double(e[k].time)), 1001.0) << "picture " << k;
    }
    EXPECT_EQ(player.stats().dropped, 0);
}

TEST(MoviePlayer, AnEmptyMovieEndsAtOnce)
{
    Movie empty(600);
    RecordingSink sink;
    NullAudioSink audio(kSoundRate, 1, 400);
    MoviePlayer player(empty, &sink, &audio);
    std::atomic<int> ends{0};
    player.setEndCallback([&] { ++ends; });
    player.play();
    ASSERT_TRUE(waitFor([&] { return ends.load() == 1; }));
    EXPECT_EQ(player.currentTime(), 0);
    ASSERT_EQ(sink.count(), 1u);
    EXPECT_EQ(sink.entries()[0].index, -1); // an empty picture
    player.step(3);
    player.seek(1000);
    EXPECT_EQ(player.currentTime(), 0);
    EXPECT_FALSE(player.isPlaying());
}

TEST(NullSinks, AudioDrainsInRealTimeAndFramesFollowTheRefresh)
{
    NullAudioSink audio(8000, 2, 800);
    std::vector<int16_t> block(2 * 1600, 1);
    const auto t0 = std::chrono::steady_clock::now();
    int64_t written = 0;
    while (written < 1600)
        written += audio.write(block.data() + written * 2, 1600 - written);
    // 800 frames had to drain first: 0.1 s.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 90ms);
    EXPECT_LE(audio.playedFrames(), audio.writtenFrames());
    audio.flush();
    EXPECT_EQ(audio.playedFrames(), 0);

    NullFrameSink display(100.0);
    Pixmap p(2, 2, 0xFF000000);
    display.showFrame(p, 0);
    display.showFrame(p, 20);
    const auto shown = display.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_GE(shown[1].at - shown[0].at, 9ms);
}

} // namespace
} // namespace zef::movies

namespace zef::movies {
namespace {

// Records the frame number of every picture and whether it was the quick one of a scrub.
class ScrubSink : public FrameSink {
public:
    struct Entry {
        TimeValue time;
        int number;
        bool quick;
    };
    void showFrame(const Pixmap& p, TimeValue t) override { add(p, t, false); }
    void showApproximateFrame(const Pixmap& p, TimeValue t) override { add(p, t, true); }
    std::vector<Entry> get()
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    void add(const Pixmap& p, TimeValue t, bool quick)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back({t, testing::frameNumberOf(p), quick});
    }
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

TEST(MoviePlayer, ScrubShowsANearbyPictureFirstAndTheExactOneWhenItRests)
{
    // One key frame for 150 frames: the exact picture far away costs a long roll forward.
    MovieFromFileResult r = openMovieFromFile(testing::media::h264Movie(), 30000);
    ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
    ScrubSink sink;
    MoviePlayer player(*r.movie, &sink, nullptr);
    player.seek(2 * 1001);
    ASSERT_TRUE(waitFor([&] { return sink.get().size() == 1; }));

    player.scrub(120 * 1001);
    ASSERT_TRUE(waitFor([&] { return sink.get().size() == 3; }));
    auto e = sink.get();
    EXPECT_TRUE(e[1].quick);
    EXPECT_LE(e[1].number, 120);
    EXPECT_EQ(e[1].time, 120 * 1001);
    EXPECT_FALSE(e[2].quick);
    EXPECT_EQ(e[2].number, 120);

    // A drag backwards and forwards: pictures come in the order asked, each exact one is the
    // frame asked for, and the drag's last position ends exact.
    std::vector<int> asked;
    for (int k = 0; k < 40; ++k) {
        const int frame = (k * 37) % 150;
        asked.push_back(frame);
        player.scrub(frame * 1001);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(waitFor([&] {
        const auto all = sink.get();
        return !all.back().quick && all.back().number == asked.back();
    }));
    e = sink.get();
    size_t at = 0; // index into asked of the request the pictures belong to
    for (size_t k = 3; k < e.size(); ++k) {
        while (at < asked.size() && e[k].time != asked[at] * 1001)
            ++at;
        ASSERT_LT(at, asked.size()) << "picture " << k << " belongs to no later request";
        if (!e[k].quick) {
            EXPECT_EQ(e[k].number, asked[at]) << "picture " << k;
        }
    }
}

TEST(MovieSnapshot, EditsOfEitherMovieLeaveTheOtherAlone)
{
    auto movie = numberedMovie(10);
    Track* video = movie->indTrack(1);
    const uint64_t before = movie->changeCount();
    auto snap = movie->snapshot();
    video->setEnabled(true);
    EXPECT_EQ(movie->changeCount(), before)
        << "a snapshot, or a setting as it was, changes nothing";

    video->deleteSegment(0, 5 * kFrame);
    video->setEnabled(false);
    EXPECT_GT(movie->changeCount(), before);
    Track* extra = movie->newTrack(8 << 16, 8 << 16, 0);
    movie->disposeTrack(extra);

    // The snapshot still plays all ten pictures, drawn from the media it shares.
    RecordingSink sink;
    MoviePlayer player(*snap, &sink, nullptr);
    ASSERT_EQ(snap->trackCount(), 1u);
    EXPECT_EQ(snap->duration(), 10 * kFrame);
    player.seek(7 * kFrame);
    ASSERT_TRUE(waitFor([&] { return sink.count() == 1; }));
    EXPECT_EQ(sink.entries()[0].index, 7);
    EXPECT_EQ(movie->duration(), 5 * kFrame);
}

} // namespace
} // namespace zef::movies
