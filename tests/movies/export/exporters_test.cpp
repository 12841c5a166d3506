// Every built-in exporter writes a short file that the outside tools read back as expected.
#include "export_test_support.h"

#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/media_file.h"
#include "platform/movies/video_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace zef::movies {
namespace {

using testing::PatternSource;

struct Case {
    const char* label;
    OSType subType;
    OSType videoCodec; // 0: the exporter's default
    OSType soundCodec;
    const char* extension;
    const char* codecName;      // ffprobe's codec_name
    int width, height;          // expected picture size
    const char* frameRate;      // ffprobe r_frame_rate
    int frames;                 // expected pictures
    const char* soundCodecName; // nullptr: no sound expected
    double minPsnr;             // 0: not compared (pictures rescaled); 100: exact
    const char* colourSpace;    // expected color_space tag, or nullptr
    const char* colourRange;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class ExporterFiles : public ::testing::TestWithParam<Case> {};

TEST_P(ExporterFiles, WritesAFileTheToolsRead)
{
    const Case& c = GetParam();
    PatternSource source(320, 240, {25, 1}, 25);
    auto exporter = makeStandardExporter(c.subType);
    ASSERT_TRUE(exporter);
    AtomContainer settings = exporter->settings();
    if (c.videoCodec) writeAtomUInt32(settings, kVideoSettingsAtom, fourcc("codc"), c.videoCodec);
    if (c.soundCodec) writeAtomUInt32(settings, kSoundSettingsAtom, fourcc("codc"), c.soundCodec);
    if (c.subType == kMovieExportDV && c.height == 480)
        writeAtomUInt16(settings, kVideoSettingsAtom, fourcc("dvst"), 1);
    ASSERT_EQ(exporter->setSettings(settings), noErr);

    const std::string dir = testing::testFolder(std::string("files_") + c.label);
    const std::string path = dir + "/out." + c.extension;
    ASSERT_EQ(convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0),
              noErr);

    testing::expectProbed(path, {c.codecName, c.width, c.height, c.frameRate, c.frames,
                                 c.colourSpace, c.colourRange, c.soundCodecName});
    if (HasFatalFailure()) return;

    // Every picture carries its own frame number, and the pictures match the source.
    const auto pixels = testing::decodeVideo(path, c.width, c.height);
    const size_t frameBytes = size_t(c.width) * c.height * 4;
    ASSERT_EQ(pixels.size(), frameBytes * c.frames);
    double worst = 1000;
    for (int i = 0; i < c.frames; ++i) {
        const uint8_t* frame = pixels.data() + frameBytes * i;
        const int number = testing::readFrameNumber(frame, c.width, c.height);
        const std::string r = c.frameRate;
        const FrameRate rate{std::stoi(r.substr(0, r.find('/'))),
                             std::stoi(r.substr(r.find('/') + 1))};
        const int64_t sourceFrame = sourceFrameFor(source, rate, i);
        EXPECT_EQ(number, sourceFrame) << "frame " << i;
        if (c.minPsnr > 0) worst = std::min(worst, testing::psnr(frame, source.picture(i)));
    }
    if (c.minPsnr >= 100) {
        EXPECT_EQ(worst, 100.0) << "lossless output differs";
    } else if (c.minPsnr > 0) {
        EXPECT_GT(worst, c.minPsnr);
    }
}

// clang-format off
const Case kCases[] = {
    {"mov_h264", kMovieExportMovie, 0, 0, "mov", "h264", 320, 240, "25/1", 25, "aac", 35, "smpte170m", "tv"},
    {"mov_mpeg4_pcm", kMovieExportMovie, fourcc("mp4v"), fourcc("sowt"), "mov", "mpeg4", 320, 240, "25/1", 25, "pcm_s16le", 35, "smpte170m", nullptr},
    {"mov_mjpeg", kMovieExportMovie, fourcc("jpeg"), 0, "mov", "mjpeg", 320, 240, "25/1", 25, "aac", 35, nullptr, nullptr},
    {"mov_prores", kMovieExportMovie, fourcc("apcn"), 0, "mov", "prores", 320, 240, "25/1", 25, "aac", 40, "smpte170m", "tv"},
    {"mov_dnxhr", kMovieExportMovie, fourcc("AVdh"), 0, "mov", "dnxhd", 320, 240, "25/1", 25, "aac", 35, "bt709", "tv"},
    {"mov_png", kMovieExportMovie, fourcc("png "), fourcc("twos"), "mov", "png", 320, 240, "25/1", 25, "pcm_s16be", 100, nullptr, nullptr},
    {"mp4", kMovieExportMPEG4, 0, 0, "mp4", "h264", 320, 240, "25/1", 25, "aac", 35, "smpte170m", "tv"},
    {"mpeg1", kMovieExportMPEG, 0, 0, "mpg", "mpeg1video", 320, 240, "25/1", 25, "mp2", 33, nullptr, nullptr},
    {"mpeg2", kMovieExportMPEG, fourcc("mpg2"), 0, "mpg", "mpeg2video", 320, 240, "25/1", 25, "mp2", 33, "smpte170m", "tv"},
    {"avi_mjpeg", kMovieExportAVI, 0, 0, "avi", "mjpeg", 320, 240, "25/1", 25, "pcm_s16le", 35, nullptr, nullptr},
    {"avi_mpeg4", kMovieExportAVI, fourcc("mp4v"), 0, "avi", "mpeg4", 320, 240, "25/1", 25, "pcm_s16le", 35, nullptr, nullptr},
    {"dv_pal", kMovieExportDV, 0, 0, "dv", "dvvideo", 720, 576, "25/1", 25, "pcm_s16le", 0, nullptr, nullptr},
    {"dv_ntsc", kMovieExportDV, 0, 0, "dv", "dvvideo", 720, 480, "30000/1001", 30, "pcm_s16le", 0, nullptr, nullptr},
    {"webm", kMovieExportWebM, 0, 0, "webm", "vp9", 320, 240, "25/1", 25, "opus", 33, "smpte170m", "tv"},
    {"gif", kMovieExportGIF, 0, 0, "gif", "gif", 320, 240, "25/1", 25, nullptr, 24, nullptr, nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Exporters, ExporterFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ExporterFilesExtra, MPEG4FileHasItsIndexAtTheFront)
{
    PatternSource source(320, 240, {25, 1}, 10);
    auto exporter = makeStandardExporter(kMovieExportMPEG4);
    const std::string path = testing::testFolder("faststart") + "/out.mp4";
    ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t moov = bytes.find("moov"), mdat = bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat);
}

TEST(ExporterFilesExtra, ImageSequenceWritesNumberedExactPictures)
{
    PatternSource source(160, 120, {10, 1}, 5);
    auto exporter = makeStandardExporter(kMovieExportImageSequence);
    const std::string dir = testing::testFolder("sequence");
    ASSERT_EQ(convertToFile(source, *exporter, dir + "/shot.png", 0, nullptr, 0), noErr);
    for (int i = 0; i < 5; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/shot_%05d.png", i + 1);
        const auto pixels = testing::decodeVideo(dir + name, 160, 120);
        ASSERT_EQ(pixels.size(), size_t(160 * 120 * 4)) << name;
        EXPECT_EQ(testing::psnr(pixels.data(), source.picture(i)), 100.0) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/shot_00006.png"));
}

TEST(ExporterFilesExtra, SoundFilesHoldTheToneOnly)
{
    PatternSource source(320, 240, {25, 1}, 25, 44100, 2);
    for (OSType subType : {kMovieExportWAVE, kMovieExportAIFF}) {
        auto exporter = makeStandardExporter(subType);
        const std::string path =
            testing::testFolder("sound") + "/out." + (subType == kMovieExportWAVE ? "wav" : "aif");
        ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);
        const auto info = testing::probe(path);
        EXPECT_EQ(info.at("streams.stream.0.codec_name"),
                  subType == kMovieExportWAVE ? "pcm_s16le" : "pcm_s16be");
        EXPECT_EQ(info.at("streams.stream.0.sample_rate"), "44100");
        EXPECT_EQ(info.at("streams.stream.0.channels"), "2");
        EXPECT_FALSE(info.count("streams.stream.1.codec_name"));
        // PCM is exact: the samples are the source's.
        const auto sound = testing::decodeAudio(path, 44100);
        ASSERT_EQ(sound.size(), 44100u);
        std::vector<int16_t> expected(44100 * 2);
        source.renderAudio(0, 44100, expected.data());
        for (size_t i = 0; i < sound.size(); i += 997)
            ASSERT_EQ(sound[i], expected[i * 2]) << i;
    }
    // Without sound there is nothing to export.
    PatternSource silent(320, 240, {25, 1}, 25, 0, 0);
    auto wave = makeStandardExporter(kMovieExportWAVE);
    EXPECT_EQ(
        convertToFile(silent, *wave, testing::testFolder("nosound") + "/x.wav", 0, nullptr, 0),
        paramErr);
}

TEST(ExporterFilesExtra, ExportFrameRateResamplesTheSource)
{
    // 30 fps source exported at 15 fps: every other source frame, same duration.
    PatternSource source(320, 240, {30, 1}, 30);
    auto exporter = makeStandardExporter(kMovieExportAVI);
    AtomContainer s = exporter->settings();
    writeTemporalSettings(s, {kCodecHighQuality, 15 * kFixed1, 0});
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const std::string path = testing::testFolder("rate") + "/out.avi";
    ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);
    const auto info = testing::probe(path);
    EXPECT_EQ(info.at("streams.stream.0.r_frame_rate"), "15/1");
    EXPECT_EQ(info.at("streams.stream.0.nb_read_frames"), "15");
    const auto pixels = testing::decodeVideo(path, 320, 240);
    ASSERT_EQ(pixels.size(), size_t(320 * 240 * 4 * 15));
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(testing::readFrameNumber(pixels.data() + size_t(320 * 240 * 4) * i, 320, 240),
                  2 * i);
}

TEST(ExporterFilesExtra, HighDefinitionIsTaggedBT709)
{
    PatternSource source(1280, 720, {25, 1}, 3, 0, 0);
    auto exporter = makeStandardExporter(kMovieExportMovie);
    AtomContainer s = exporter->settings();
    writeAtomText(s, kVideoSettingsAtom, fourcc("prst"), "ultrafast");
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const std::string path = testing::testFolder("hd") + "/out.mov";
    ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);
    const auto info = testing::probe(path);
    EXPECT_EQ(info.at("streams.stream.0.color_space"), "bt709");
    EXPECT_EQ(info.at("streams.stream.0.color_primaries"), "bt709");
    EXPECT_EQ(info.at("streams.stream.0.color_transfer"), "bt709");
    EXPECT_EQ(info.at("streams.stream.0.color_range"), "tv");
    // The BT.709 coefficients were used for the conversion: colours come back right.
    const auto pixels = testing::decodeVideo(path, 1280, 720);
    ASSERT_EQ(pixels.size(), size_t(1280 * 720 * 4 * 3));
    EXPECT_GT(testing::psnr(pixels.data(), source.picture(0)), 35.0);
}

} // namespace
} // namespace zef::movies

namespace zef::movies {
namespace {

// The render puts its output into the gallery through the toolbox, so the toolbox must take the
// files of the exporters whose formats it opens: every picture comes back in order.
TEST(ExporterFilesExtra, TheToolboxReopensItsOwnRenders)
{
    PatternSource source(320, 240, {25, 1}, 25);
    const std::string dir = testing::testFolder("reopen");
    struct Output {
        OSType subType;
        const char* name;
    };
    for (const Output& o : {Output{kMovieExportMovie, "a.mov"}, Output{kMovieExportMPEG4, "b.mp4"},
                            Output{kMovieExportAVI, "c.avi"}, Output{kMovieExportMPEG, "d.mpg"},
                            Output{kMovieExportDV, "e.dv"}, Output{kMovieExportWAVE, "f.wav"}}) {
        auto exporter = makeStandardExporter(o.subType);
        const std::string path = dir + "/" + o.name;
        ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr) << o.name;
        const MediaOpenResult opened = MediaFile::open(path);
        ASSERT_EQ(opened.status, MediaOpenStatus::ok) << o.name << ": " << opened.detail;
        EXPECT_NEAR(opened.file->durationSeconds(), 1.0, 0.1) << o.name;
        EXPECT_EQ(opened.file->trackCount(kSoundMediaType), 1) << o.name;
        const int32_t video = opened.file->findTrack(kVideoMediaType);
        if (o.subType == kMovieExportWAVE) {
            EXPECT_EQ(video, -1);
            continue;
        }
        ASSERT_GE(video, 0) << o.name;
        VideoDecoder decoder(opened.file, size_t(video));
        ASSERT_TRUE(decoder.isValid()) << o.name;
        EXPECT_EQ(decoder.track().sampleCount, 25) << o.name;
        Pixmap picture(320, 240);
        for (int64_t i : {0, 7, 24, 3}) {
            ASSERT_TRUE(decoder.drawSample(i, picture)) << o.name << " frame " << i;
            EXPECT_EQ(testing::readFrameNumber(reinterpret_cast<const uint8_t*>(picture.data()),
                                               320, 240),
                      i)
                << o.name;
        }
    }
}

} // namespace
} // namespace zef::movies
