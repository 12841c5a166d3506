// Every built-in exporter writes a second of the reference composition (320×240, 30 fps): the
// outside tools read the codec, size, rate, length and colour tags back, and the decoded
// pictures are the compositor's own pictures of the same movie at the same times.
#include "../test_media.h"
#include "export_test_support.h"

#include "platform/movies/compositor/compositor.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_export_source.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/sound_mixer.h"
#include "tests/support/reference_composition.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zef::movies {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBlock = 4;
// 10.5 s: inside the Cross Fade, with both clips decoding and their sounds fading.
constexpr TimeValue kFade = 10 * 600 + 300;
// 2.5 s: the title over clip a, and clip c moving at half size.
constexpr TimeValue kTitle = 2 * 600 + 300;

// One second of the reference composition from start, cut as a render limits its movie.
struct Excerpt {
    explicit Excerpt(TimeValue start)
        : composition(
              reference::build(kWidth, kHeight, testing::mediaDir() + "/reference-composition"))
    {
        reference::cut(*composition.movie, start, 600);
    }
    Movie& movie() { return *composition.movie; }

    reference::Composition composition;
};

MovieExportSource::Options sourceOptions()
{
    MovieExportSource::Options o;
    o.rate = {30, 1};
    o.sampleRate = 48000;
    o.channels = 2;
    return o;
}

// The compositor's picture of the movie for every export frame at rate.
std::vector<Pixmap> referencePictures(Movie& movie, MovieExportSource& source, FrameRate rate,
                                      int64_t frames)
{
    EvaluationContext ctx;
    std::vector<Pixmap> out(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i) {
        const TimeValue t = source.frameTime(sourceFrameFor(source, rate, i));
        EXPECT_EQ(evaluate(ctx, movie, t, out[size_t(i)]), noErr);
    }
    EXPECT_EQ(ctx.stats().failedTracks, 0);
    return out;
}

struct Case {
    const char* label;
    OSType subType;
    OSType videoCodec; // 0: the exporter's default
    OSType soundCodec;
    const char* extension;
    const char* codecName;      // ffprobe's codec_name
    int width, height;          // expected picture size
    FrameRate rate;             // expected frame rate
    int frames;                 // expected pictures
    const char* soundCodecName; // nullptr: no sound expected
    double minPsnr; // over 4×4 means (see psnrOfBlocks); 0: not compared (rescaled); 100: exact
    const char* colourSpace; // expected color_space tag, or nullptr
    const char* colourRange;
    TimeValue start; // where the second begins in the composition
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class ReferenceExports : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceExports, FilesHoldTheCompositorsPictures)
{
    const Case& c = GetParam();
    Excerpt excerpt(c.start);
    MovieExportSource source(excerpt.movie(), sourceOptions());
    ASSERT_EQ(source.frameCount(), 30);

    auto exporter = makeStandardExporter(c.subType);
    ASSERT_TRUE(exporter);
    AtomContainer settings = exporter->settings();
    if (c.videoCodec) writeAtomUInt32(settings, kVideoSettingsAtom, fourcc("codc"), c.videoCodec);
    if (c.soundCodec) writeAtomUInt32(settings, kSoundSettingsAtom, fourcc("codc"), c.soundCodec);
    if (c.subType != kMovieExportDV && !(c.rate == FrameRate{30, 1}))
        writeTemporalSettings(settings, {kCodecNormalQuality, Fixed(c.rate.value() * 65536), 0});
    ASSERT_EQ(exporter->setSettings(settings), noErr);

    const std::string path =
        testing::testFolder(std::string("reference_") + c.label) + "/out." + c.extension;
    ASSERT_EQ(convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0),
              noErr);
    EXPECT_EQ(source.lastError(), noErr);

    testing::expectProbed(path, {c.codecName, c.width, c.height,
                                 std::to_string(c.rate.num) + "/" + std::to_string(c.rate.den),
                                 c.frames, c.colourSpace, c.colourRange, c.soundCodecName});
    if (HasFatalFailure()) return;

    const auto pixels = testing::decodeVideo(path, c.width, c.height);
    const size_t frameBytes = size_t(c.width) * size_t(c.height) * 4;
    ASSERT_EQ(pixels.size(), frameBytes * size_t(c.frames));
    if (c.minPsnr <= 0) return;
    const auto expected = referencePictures(excerpt.movie(), source, c.rate, c.frames);
    double worst = 1000, lumaSum = 0;
    int worstFrame = -1;
    for (int i = 0; i < c.frames; ++i) {
        const uint8_t* frame = pixels.data() + frameBytes * size_t(i);
        // Sharp colour edges lose their colour resolution to the 4:2:x formats; the lossy
        // pictures are compared after averaging 2×2 blocks, which that loss does not touch.
        const double p = c.minPsnr >= 100
                             ? testing::psnr(frame, expected[size_t(i)])
                             : testing::psnrOfBlocks(frame, expected[size_t(i)], kBlock);
        if (p < worst) {
            worst = p;
            worstFrame = i;
        }
        lumaSum += testing::psnrOfLuma(frame, expected[size_t(i)]);
    }
    // At full resolution the luma PSNR over the excerpt (the usual figure of a codec's loss)
    // stays above 35 dB for every codec; the GIF's palette is held to its block floor only.
    if (c.subType != kMovieExportGIF) {
        EXPECT_GT(lumaSum / c.frames, 35.0);
    }
    // And every picture is nearer its own time than the picture before is: a frame late or
    // early fails here whatever the codec loses.
    double nearestNeighbour = 0;
    for (int i = 1; i < c.frames; ++i) {
        const uint8_t* frame = pixels.data() + frameBytes * size_t(i);
        nearestNeighbour = std::max(nearestNeighbour,
                                    testing::psnrOfBlocks(frame, expected[size_t(i - 1)], kBlock));
    }
    EXPECT_GT(worst, nearestNeighbour + 3.0) << "pictures out of step";
    if (c.minPsnr >= 100) {
        EXPECT_EQ(worst, 100.0) << "lossless output differs at frame " << worstFrame;
    } else {
        EXPECT_GT(worst, c.minPsnr) << "at frame " << worstFrame;
    }
}

// The floors lie 2–3 dB under what each codec gives at its default settings on these
// pictures (sharp saturated edges, moving text and the picture-in-picture at 320×240 are hard
// for them: H.264 at CRF 23 reaches about 32.5 dB over the title).
constexpr OSType k = 0;
// clang-format off
const Case kCases[] = {
    {"mov_h264", kMovieExportMovie, k, k, "mov", "h264", 320, 240, {30, 1}, 30, "aac", 30, "smpte170m", "tv", kTitle},
    {"mov_mpeg4_pcm", kMovieExportMovie, fourcc("mp4v"), fourcc("sowt"), "mov", "mpeg4", 320, 240, {30, 1}, 30, "pcm_s16le", 36, "smpte170m", nullptr, kFade},
    {"mov_prores", kMovieExportMovie, fourcc("apcn"), k, "mov", "prores", 320, 240, {30, 1}, 30, "aac", 34, "smpte170m", "tv", kTitle},
    {"mov_dnxhr", kMovieExportMovie, fourcc("AVdh"), k, "mov", "dnxhd", 320, 240, {30, 1}, 30, "aac", 38, "bt709", "tv", kFade},
    {"mov_png", kMovieExportMovie, fourcc("png "), fourcc("twos"), "mov", "png", 320, 240, {30, 1}, 30, "pcm_s16be", 100, nullptr, nullptr, kTitle},
    {"mp4", kMovieExportMPEG4, k, k, "mp4", "h264", 320, 240, {30, 1}, 30, "aac", 33, "smpte170m", "tv", kFade},
    {"mpeg1", kMovieExportMPEG, k, k, "mpg", "mpeg1video", 320, 240, {30, 1}, 30, "mp2", 32, nullptr, nullptr, kTitle},
    {"mpeg2", kMovieExportMPEG, fourcc("mpg2"), k, "mpg", "mpeg2video", 320, 240, {30, 1}, 30, "mp2", 36, "smpte170m", "tv", kFade},
    {"avi_mjpeg", kMovieExportAVI, k, k, "avi", "mjpeg", 320, 240, {30, 1}, 30, "pcm_s16le", 36, nullptr, nullptr, kFade},
    {"dv_pal", kMovieExportDV, k, k, "dv", "dvvideo", 720, 576, {25, 1}, 25, "pcm_s16le", 0, nullptr, nullptr, kTitle},
    {"webm", kMovieExportWebM, k, k, "webm", "vp9", 320, 240, {30, 1}, 30, "opus", 34, "smpte170m", "tv", kFade},
    {"gif", kMovieExportGIF, k, k, "gif", "gif", 320, 240, {25, 1}, 25, nullptr, 32, nullptr, nullptr, kTitle},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Exporters, ReferenceExports, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ReferenceExportsExtra, ImageSequenceIsExact)
{
    Excerpt excerpt(kFade);
    MovieExportSource source(excerpt.movie(), sourceOptions());
    auto exporter = makeStandardExporter(kMovieExportImageSequence);
    AtomContainer s = exporter->settings();
    writeTemporalSettings(s, {kCodecNormalQuality, 10 * kFixed1, 0});
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const std::string dir = testing::testFolder("reference_sequence");
    ASSERT_EQ(convertToFile(source, *exporter, dir + "/shot.png", 0, nullptr, 0), noErr);

    const auto expected = referencePictures(excerpt.movie(), source, {10, 1}, 10);
    for (int i = 0; i < 10; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/shot_%05d.png", i + 1);
        const auto pixels = testing::decodeVideo(dir + name, kWidth, kHeight);
        ASSERT_EQ(pixels.size(), size_t(kWidth * kHeight * 4)) << name;
        EXPECT_EQ(testing::psnr(pixels.data(), expected[size_t(i)]), 100.0) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/shot_00011.png"));
}

// The sound files hold exactly what the sound mixer makes of the excerpt.
TEST(ReferenceExportsExtra, SoundFilesHoldTheMixersSamples)
{
    Excerpt excerpt(kFade);
    std::vector<int16_t> mixed(48000 * 2);
    SoundMixer mixer(48000, 2);
    ASSERT_EQ(mixer.mixFrames(excerpt.movie(), 0, 48000, mixed.data()), noErr);
    int64_t loud = 0;
    for (int16_t v : mixed)
        loud += std::abs(v) > 1000;
    ASSERT_GT(loud, 10000) << "the cross-fading tones are missing";

    for (OSType subType : {kMovieExportWAVE, kMovieExportAIFF}) {
        MovieExportSource source(excerpt.movie(), sourceOptions());
        auto exporter = makeStandardExporter(subType);
        const std::string path = testing::testFolder("reference_sound") + "/out." +
                                 (subType == kMovieExportWAVE ? "wav" : "aif");
        ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);
        const auto sound = testing::decodeAudio(path, 48000, 2);
        ASSERT_EQ(sound.size(), mixed.size()) << path;
        size_t differ = 0;
        for (size_t i = 0; i < sound.size(); ++i)
            differ += sound[i] != mixed[i];
        EXPECT_EQ(differ, 0u) << path;
    }
}

// A cut of the composition shows and sounds as the whole composition does at the same times:
// the picture-in-picture's motion, the title, the cross fade and the sound fades all move with
// the cut.
TEST(ReferenceExportsExtra, AnExcerptShowsWhatTheWholeShows)
{
    reference::Composition whole =
        reference::build(kWidth, kHeight, testing::mediaDir() + "/reference-composition");
    EvaluationContext wholeCtx, partCtx;
    SoundMixer wholeMixer(48000, 2), partMixer(48000, 2);
    for (TimeValue start : {kTitle, kFade}) {
        Excerpt excerpt(start);
        for (TimeValue t : {0, 20, 300, 580}) {
            Pixmap a, b;
            ASSERT_EQ(evaluate(wholeCtx, *whole.movie, start + t, a), noErr);
            ASSERT_EQ(evaluate(partCtx, excerpt.movie(), t, b), noErr);
            EXPECT_EQ(testing::psnrOf(a, b), 100.0) << "at " << start + t;
        }
        std::vector<int16_t> a(4800 * 2), b(4800 * 2);
        const int64_t first = start * 48000 / 600;
        ASSERT_EQ(wholeMixer.mixFrames(*whole.movie, first + 24000, 4800, a.data()), noErr);
        ASSERT_EQ(partMixer.mixFrames(excerpt.movie(), 24000, 4800, b.data()), noErr);
        EXPECT_EQ(a, b) << "sound at " << start;
    }
    EXPECT_THROW(reference::cut(*whole.movie, -1, 600), reference::BuildError);
    EXPECT_THROW(reference::cut(*whole.movie, 0, 0), reference::BuildError);
}

} // namespace
} // namespace zef::movies
