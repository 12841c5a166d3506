#include "demo_test_support.h"
#include "platform/movies/movie_from_file.h"
#include "tools/demo/demo_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace zef::demo;
using namespace zef::movies;
namespace fs = std::filesystem;
namespace support = zef::demo::testing;

namespace {

int minChannel(uint32_t p) { return std::min({redOf(p), greenOf(p), blueOf(p)}); }

} // namespace

TEST(DemoPattern, CounterReadsBackAtEverySize)
{
    // Sizes whose twelfths and twenty-fourths do not divide evenly shift the reading points.
    for (auto [w, h] : {std::pair{320, 240}, {640, 480}, {50, 38}, {1918, 1080}, {16, 16}}) {
        DemoPattern p(demoClip('a'), w, h);
        for (int64_t n : {0, 1, 2, 341, 512, 719, 1023}) {
            const Pixmap pic = p.picture(n);
            EXPECT_EQ(readCounter(pic.data(), w, h), int(n)) << w << "x" << h << " frame " << n;
        }
    }
    // Past 1023 the counter wraps.
    DemoPattern p(demoClip('b'), 320, 240);
    EXPECT_EQ(readCounter(p.picture(1024 + 7).data(), 320, 240), 7);
    // A picture that is not a counter strip is unreadable, not a number.
    Pixmap grey(320, 240, argb(255, 128, 128, 128));
    EXPECT_EQ(readCounter(grey.data(), 320, 240), -1);
    EXPECT_EQ(readCounter(nullptr, 320, 240), -1);
}

TEST(DemoPattern, PicturesRepeatEachPeriodAndNeverTurnWhite)
{
    for (const ClipSpec& clip : demoClips()) {
        DemoPattern p(clip, 160, 120);
        const int strip = 120 / 12;
        const Pixmap first = p.picture(13);
        const Pixmap again = p.picture(13 + kPeriodFrames);
        const Pixmap half = p.picture(13 + kPeriodFrames / 2);
        int differing = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x) {
                if (y >= strip) {
                    EXPECT_EQ(first.pixel(x, y), again.pixel(x, y)) << x << "," << y;
                }
                differing += first.pixel(x, y) != half.pixel(x, y) ? 1 : 0;
                // Only a title may be white in a demo frame.
                ASSERT_LT(minChannel(first.pixel(x, y)), 210) << clip.name << " " << x << "," << y;
            }
        EXPECT_GT(differing, 160 * 120 / 2) << "the bars move";
        EXPECT_EQ(first.pixel(0, 0) >> 24, 255u);
    }
}

TEST(DemoPattern, SourceBoundsAndTone)
{
    EXPECT_THROW(DemoPattern(demoClip('a'), 8, 240), std::invalid_argument);
    EXPECT_THROW(DemoPattern(demoClip('a'), 320, 5000), std::invalid_argument);
    EXPECT_THROW(demoClip('x'), std::invalid_argument);

    DemoPattern c(demoClip('c'), 64, 48);
    EXPECT_EQ(c.frameCount(), 6 * 30);
    Pixmap out;
    EXPECT_TRUE(c.renderFrame(179, out));
    EXPECT_FALSE(c.renderFrame(180, out));
    EXPECT_FALSE(c.renderFrame(-1, out));

    // The tone is the clip's own, in both channels, and silence after the clip's end.
    const int64_t end = 6 * kSampleRate;
    std::vector<int16_t> pcm(size_t(kSampleRate) * 2);
    ASSERT_TRUE(c.renderAudio(end - kSampleRate / 2, kSampleRate, pcm.data()));
    std::vector<int16_t> left(kSampleRate / 2), right(kSampleRate / 2);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = pcm[i * 2];
        right[i] = pcm[i * 2 + 1];
    }
    EXPECT_EQ(left, right);
    EXPECT_NEAR(support::toneAmplitude(left, kSampleRate, 880, 0, left.size()), kToneAmplitude,
                kToneAmplitude * 0.02);
    EXPECT_LT(support::toneAmplitude(left, kSampleRate, 440, 0, left.size()), 100);
    for (size_t i = size_t(kSampleRate); i < pcm.size(); ++i)
        ASSERT_EQ(pcm[i], 0) << "after the end";
    EXPECT_FALSE(c.renderAudio(-5, 10, pcm.data()));
}

TEST(DemoClips, MadeOnceReplacedWhenBrokenAndRefusedWhenUnwritable)
{
    const std::string dir = support::freshFolder("clips");
    const ClipSpec& c = demoClip('c');
    const std::string path = ensureDemoClip(dir, c, 64, 48);
    EXPECT_EQ(fs::path(path).filename(), "c_64x48.mov");
    std::string why;
    ASSERT_TRUE(demoClipValid(path, c, 64, 48, &why)) << why;
    // The movie is what the pattern says: the first picture's counter and bars.
    MovieFromFileResult opened = openMovieFromFile(path);
    ASSERT_EQ(opened.status, MediaOpenStatus::ok);
    EXPECT_NE(opened.movie->indTrackWithCharacteristic(1, AudioMediaCharacteristic, true), nullptr);

    // A valid clip is reused as it is.
    const auto stamp = fs::last_write_time(path);
    EXPECT_EQ(ensureDemoClip(dir, c, 64, 48), path);
    EXPECT_EQ(fs::last_write_time(path), stamp);
    // The same clip is not valid for another size or another clip's length.
    EXPECT_FALSE(demoClipValid(path, c, 80, 60, &why));
    EXPECT_EQ(why, "wrong picture size");
    EXPECT_FALSE(demoClipValid(path, demoClip('a'), 64, 48, &why));
    EXPECT_EQ(why, "wrong length");

    // A damaged file in its place is made again.
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << "not a movie at all";
    }
    EXPECT_FALSE(demoClipValid(path, c, 64, 48));
    EXPECT_EQ(ensureDemoClip(dir, c, 64, 48), path);
    EXPECT_TRUE(demoClipValid(path, c, 64, 48));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().string().find(".part"), std::string::npos)
            << "left behind: " << e.path();

    // A folder that cannot be made (a file is in the way) is an error, not a crash.
    const std::string blocked = dir + "/file";
    std::ofstream(blocked) << "x";
    EXPECT_THROW(ensureDemoClip(blocked + "/sub", c, 64, 48), std::runtime_error);
    EXPECT_FALSE(demoClipValid(dir + "/missing.mov", c, 64, 48, &why));
    EXPECT_EQ(why, "missing");
}
