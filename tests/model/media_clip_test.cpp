// Clips opened from real media files made with the ffmpeg program.
#include "model_fixture.h"
#include "scripted_ui.h"

#include "model/media_clip_opener.h"
#include "model/zef_exception.h"
#include "platform/movies/pixmap.h"
#include "platform/storage/stream.h"
#include "tests/movies/test_media.h"

#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace zef;
using namespace zef::test;
namespace media = zef::movies::testing;
namespace fs = std::filesystem;

namespace {

// Numbered 200×400 pictures (portrait) at 25 fps for 2 seconds, no sound.
std::string portraitVideo()
{
    return media::generate("portrait.mp4", media::numberedVideo(200, 400, "25", 2) +
                                               " -c:v libx264 -preset veryfast");
}

movies::Pixmap thumbnailOf(const ZEFSourceItem& c)
{
    movies::Pixmap p(c.thumbWidth(), c.thumbHeight());
    EXPECT_EQ(c.thumbnail().size(), size_t(c.thumbWidth()) * size_t(c.thumbHeight()) * 4);
    std::memcpy(p.data(), c.thumbnail().data(), c.thumbnail().size());
    return p;
}

class MediaClipTest : public ModelTest {
protected:
    std::unique_ptr<ZEFSourceItem> openClip(const std::string& path, int32_t track = kLayerA)
    {
        auto c = std::make_unique<ZEFSourceItem>(&project, track);
        c->setPath(path);
        c->open(true, false, false, false);
        return c;
    }

    std::string openError(const std::string& path)
    {
        try {
            openClip(path);
        } catch (const ZEFException& e) {
            return e.message();
        }
        return "(opened)";
    }
};

} // namespace

TEST(FrameRates, MediaRatesStayExact)
{
    EXPECT_EQ(exactFrameRate(30000, 1001), (FrameRate{30000, 1001}));
    EXPECT_EQ(exactFrameRate(2997, 100), (FrameRate{2997, 100}));
    EXPECT_EQ(exactFrameRate(90000, 3600), (FrameRate{25, 1}));
    EXPECT_EQ(exactFrameRate(600, 1200), (FrameRate{1, 2})) << "slower than 1 fps is kept";
    EXPECT_EQ(exactFrameRate(0, 10), (FrameRate{0, 1}));
    EXPECT_EQ(exactFrameRate(600, 0), (FrameRate{0, 1}));
    // Too fine for frame arithmetic: the closest ratio within bounds, still 29.97.
    FrameRate r = exactFrameRate(2'000'000'011, 66'733'334);
    EXPECT_LE(r.num, kMaxRateNum);
    EXPECT_LE(r.den, kMaxRateDen);
    EXPECT_NEAR(double(r.num) / r.den, 2'000'000'011.0 / 66'733'334.0, 1e-6);

    EXPECT_EQ(graphFrameRate(29.97), (FrameRate{29970, 1000}));
    EXPECT_EQ(graphFrameRate(25.04), (FrameRate{25, 1}));
    EXPECT_EQ(graphFrameRate(0), (FrameRate{0, 1}));
    EXPECT_EQ(graphFrameRate(std::nan("")), (FrameRate{0, 1}));
}

TEST(FrameRates, AudioRatesAndThumbnailSizes)
{
    EXPECT_EQ(audioRateOf(0x2B7745D1u), 11127);
    EXPECT_EQ(audioRateOf(0x56EE8BA3u), 22254);
    EXPECT_EQ(audioRateOf(0xBB800000u), 48000);
    EXPECT_EQ(audioRateOf(0x1F40'8000u), 8000) << "others: the integer part";
    EXPECT_EQ(thumbnailSize(1920, 1080), (std::pair<int32_t, int32_t>{80, 45}));
    EXPECT_EQ(thumbnailSize(720, 576), (std::pair<int32_t, int32_t>{80, 64}));
    EXPECT_EQ(thumbnailSize(200, 400), (std::pair<int32_t, int32_t>{40, 80}));
    EXPECT_EQ(thumbnailSize(1000, 7), (std::pair<int32_t, int32_t>{80, 1})) << "0.56 rounds to 1";
    EXPECT_EQ(thumbnailSize(4000, 1), (std::pair<int32_t, int32_t>{80, 1})) << "never 0";
    EXPECT_EQ(thumbnailSize(0, 10), (std::pair<int32_t, int32_t>{0, 0}));
}

TEST_F(MediaClipTest, A2997ClipKeepsItsExactRateAndLength)
{
    const std::string file = media::media::h264Movie();
    auto c = openClip(file);
    EXPECT_EQ(c->mediaRateNum(), 30000);
    EXPECT_EQ(c->mediaRateDen(), 1001);
    EXPECT_EQ(c->frameCount(), 150);
    EXPECT_EQ(c->mediaDuration().ticks(), 3003) << "150 frames of 1001/30000 s = 5.005 s";
    EXPECT_EQ(c->sourceOut().ticks(), 3003);
    EXPECT_EQ(c->getEnd().ticks(), 3003);
    EXPECT_EQ(c->audioRate(), 48000);
    EXPECT_EQ(c->videoTrackCount(), 1);
    EXPECT_EQ(c->audioTrackCount(), 1);
    EXPECT_EQ(c->name(), fs::path(file).stem().string()) << "without folder and extension";
    EXPECT_EQ(c->name().find('.'), std::string::npos);
    EXPECT_GE(c->imageDescription().size(), 86u);
    EXPECT_GE(c->soundDescription().size(), 36u);
    EXPECT_EQ(c->scaleType(), 0);
    EXPECT_TRUE(c->fitToAspect());

    // The thumbnail shows the frame at sourceIn, also where ticks fall short of the frame's
    // media time (frame 1 starts at 20.02 ticks and its time is stored as 20).
    EXPECT_EQ(c->thumbWidth(), 80);
    EXPECT_EQ(c->thumbHeight(), 60);
    EXPECT_EQ(media::frameNumberOf(thumbnailOf(*c)), 0);
    for (int frame : {1, 37, 149}) {
        EditTime in(0, 30000, 1001);
        in.fromFrames(frame);
        c->setSourceIn(in);
        EXPECT_EQ(media::frameNumberOf(thumbnailOf(*c)), frame) << "frame " << frame;
    }
}

TEST_F(MediaClipTest, VideoAudioAndStillFilesFillTheirOwnFields)
{
    auto av = openClip(media::media::avClip4s());
    EXPECT_EQ(av->mediaRateNum(), 30);
    EXPECT_EQ(av->mediaRateDen(), 1);
    EXPECT_EQ(av->frameCount(), 120);
    EXPECT_EQ(av->mediaDuration().ticks(), 2400);
    EXPECT_EQ(av->audioRate(), 48000);
    EXPECT_GT(av->audioSampleCount(), 4 * 48000 - 2048);

    auto pal = openClip(media::media::mpeg4Movie());
    EXPECT_EQ(pal->mediaRateNum(), 25);
    EXPECT_EQ(pal->frameCount(), 100);
    EXPECT_EQ(pal->audioRate(), 44100);

    auto portrait = openClip(portraitVideo());
    EXPECT_EQ(portrait->audioTrackCount(), 0);
    EXPECT_EQ(portrait->audioRate(), 0);
    EXPECT_EQ(portrait->thumbWidth(), 40);
    EXPECT_EQ(portrait->thumbHeight(), 80);
    EXPECT_EQ(media::frameNumberOf(thumbnailOf(*portrait)), 0);
    // Narrower than the 4:3 output: both placement matrices narrow the picture.
    EXPECT_EQ(portrait->matrix(0), portrait->matrix(1));
    EXPECT_EQ(portrait->matrix(0),
              movies::MatrixRecord::mapRect({0, 0, 1000, 1000}, {312, 0, 687, 1000}));

    auto wav = openClip(media::media::rampWav());
    EXPECT_EQ(wav->mediaRateNum(), 0);
    EXPECT_EQ(wav->videoTrackCount(), 0);
    EXPECT_EQ(wav->audioRate(), 48000);
    EXPECT_EQ(wav->audioSampleCount(), 96000);
    EXPECT_EQ(wav->mediaDuration().ticks(), 1200);
    EXPECT_TRUE(wav->thumbnail().empty());
    EXPECT_FALSE(wav->refreshThumbnail());

    auto png = openClip(media::media::pngStill());
    EXPECT_TRUE(png->isStill());
    EXPECT_EQ(png->scaleType(), 2);
    EXPECT_FLOAT_EQ(png->scaleFactor(), 60.0f) << "2 × the edit rate of 30";
    EXPECT_EQ(png->thumbWidth(), 80);
    EXPECT_EQ(png->thumbHeight(), 60);
    uint32_t p = thumbnailOf(*png).pixel(40, 30);
    EXPECT_GT(movies::redOf(p), 200);
    EXPECT_LT(movies::greenOf(p), 40);
}

// A phone movie: its clip has the size, thumbnail and placement of the pictures as shown.
TEST_F(MediaClipTest, AClipOfATurnedMovieIsShownUpright)
{
    auto c = openClip(media::media::turnedPortrait());
    auto d = movies::ImageDescription::fromHandle(c->imageDescription());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->width, 200);
    EXPECT_EQ(d->height, 400);
    EXPECT_EQ(c->thumbWidth(), 40);
    EXPECT_EQ(c->thumbHeight(), 80);
    EditTime in(0, 25, 1);
    in.fromFrames(5);
    c->setSourceIn(in);
    EXPECT_EQ(media::frameNumberOf(thumbnailOf(*c)), 5);
    EXPECT_EQ(c->matrix(0), movies::MatrixRecord::mapRect({0, 0, 1000, 1000}, {312, 0, 687, 1000}));
}

TEST_F(MediaClipTest, TheChosenTracksAreTheOnlyOnesEnabled)
{
    auto c = openClip(media::media::avClip4s());
    auto* media = dynamic_cast<MovieClipMedia*>(c->media());
    ASSERT_NE(media, nullptr);
    const auto& tracks = media->file().tracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_TRUE(media->trackEnabled(0));
    EXPECT_TRUE(media->trackEnabled(1));
    c->setAudioTrackIndex(c->audioTrackCount()); // past the last: no sound
    c->selectTracks();
    EXPECT_EQ(media->audioTrack(), -1);
    EXPECT_GE(media->videoTrack(), 0);
    EXPECT_FALSE(media->trackEnabled(size_t(tracks[0].audible ? 0 : 1)));

    c->setVolume(100);
    EXPECT_EQ(media->volume(), 100);
    c->setCropRect({0x4000, 0, 0xC000, 0x8000}); // the middle half, top half
    c->applyCrop();
    EXPECT_EQ(media->displayClip(), (movies::Rect{80, 0, 240, 120}));
    c->applyCrop(true);
    EXPECT_EQ(media->displayClip(), (movies::Rect{0, 0, 320, 240}));

    // Neither of the chosen tracks exists: the file holds nothing for this clip.
    c->setVideoTrackIndex(3);
    c->setAudioTrackIndex(3);
    try {
        c->open(false, false, false, false);
        FAIL();
    } catch (const ZEFException& e) {
        EXPECT_STREQ(e.message(), "Invalid file");
        EXPECT_EQ(e.code(), 1);
    }
}

TEST_F(MediaClipTest, FilesThatCannotBeOpenedSayWhy)
{
    const std::string text = media::writeFile("notes.txt", "these are not pictures\n");
    EXPECT_EQ(openError(text), "Cannot open file " + text);
    const std::string mkv = media::media::matroska();
    EXPECT_EQ(openError(mkv), "Cannot open file " + mkv + "\nUnsupported format.");
    const std::string missing = media::mediaDir() + "/no-such-clip.mov";
    EXPECT_EQ(openError(missing), "Cannot open file " + missing);

    ZEFSourceItem c(&project, kLayerA);
    c.setPath(missing);
    EXPECT_NO_THROW(c.open(false, false, true, false)); // kept without a user to ask
    EXPECT_TRUE(c.invalid());
    EXPECT_FALSE(c.isOpen());
    EXPECT_EQ(c.mediaRateNum(), 0);
}

TEST_F(MediaClipTest, ARelativePathIsTakenFromTheCurrentDirectory)
{
    const fs::path file = media::media::avClip4s();
    const fs::path before = fs::current_path();
    fs::current_path(file.parent_path().parent_path());
    const std::string relative = (file.parent_path().filename() / file.filename()).string();
    auto c = openClip(relative);
    fs::current_path(before);
    EXPECT_FALSE(c->invalid());
    EXPECT_EQ(c->path(), relative) << "the stored path stays as it was given";
    EXPECT_EQ(resolveClipPath("/abs/a.mov"), "/abs/a.mov");
    EXPECT_EQ(resolveClipPath("C:\\old\\a.mov"), "C:\\old\\a.mov");
    EXPECT_EQ(resolveClipPath("\\\\server\\a.mov"), "\\\\server\\a.mov");
}

TEST_F(MediaClipTest, ALocatedWindowsFolderRelinksTheOtherClipsWithoutAsking)
{
    // The clips of a project written on another system now live under <tmp>/new/clips.
    const fs::path root = fs::path(media::mediaDir()) / ("relink-" + std::to_string(::getpid()));
    fs::create_directories(root / "new" / "clips" / "sub");
    for (const char* name : {"clips/a.mp4", "clips/b.mp4", "clips/sub/c.mp4"})
        fs::copy_file(media::media::avClip4s(), root / "new" / name,
                      fs::copy_options::overwrite_existing);
    const std::string newRoot = (root / "new").string();

    for (const char* name :
         {"C:\\old\\clips\\a.mp4", "C:\\old\\clips\\b.mp4", "C:\\old\\clips\\sub\\c.mp4"}) {
        auto c = clip(kLayerA, name, 120, project.trackEnd(kLayerA).ticks());
        project.addItem(std::move(c), false, false);
    }
    storage::MemoryStream saved;
    ASSERT_EQ(project.writeProject(saved), 0);

    FProject target;
    ScriptedUserInterface ui;
    target.setUserInterface(&ui);
    ui.answers = {Answer::Retry};
    ui.filesToOpen = {newRoot + "/clips/a.mp4"};
    saved.seek(0);
    ASSERT_EQ(target.readProject(saved), 0);

    EXPECT_EQ(ui.asked.size(), 1u) << "one question for the whole folder";
    EXPECT_EQ(target.oldPrefixes, std::vector<std::string>{"C:\\old"});
    EXPECT_EQ(target.newPrefixes, std::vector<std::string>{newRoot});
    ASSERT_EQ(target.device(kLayerA).size(), 3u);
    const char* expected[] = {"/clips/a.mp4", "/clips/b.mp4", "/clips/sub/c.mp4"};
    for (size_t i = 0; i < 3; ++i) {
        auto* c = dynamic_cast<ZEFSourceItem*>(target.device(kLayerA).at(i));
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->path(), newRoot + expected[i]);
        EXPECT_FALSE(c->invalid());
        EXPECT_TRUE(c->isOpen());
        EXPECT_EQ(media::frameNumberOf(thumbnailOf(*c)), 0);
    }
    EXPECT_EQ(target.checkConsistency(), "");
    fs::remove_all(root);
}

TEST_F(MediaClipTest, TheEngineDrawsTheThumbnailWhenItCan)
{
    struct Drawing : CompositionEngine {
        int calls = 0;
        bool drawClipFrame(ZEFSourceItem&, const EditTime&, uint8_t* pixels, int32_t w,
                           int32_t h) override
        {
            ++calls;
            std::memset(pixels, 0x7F, size_t(w) * size_t(h) * 4);
            return true;
        }
    } drawing;
    project.setEngine(&drawing);
    auto c = openClip(media::media::avClip4s());
    EXPECT_EQ(drawing.calls, 1);
    EXPECT_EQ(c->thumbnail()[0], 0x7F);
    project.setEngine(&engine);
}

TEST_F(MediaClipTest, FilesTheToolboxRefusesGoToTheMediaGraphReaders)
{
    struct GraphMedia : ClipMedia {
        bool viaMovieToolbox() const override { return false; }
    };
    struct Readers : MediaGraphReaders {
        double fps = 29.97;
        std::vector<std::string> opened;
        std::unique_ptr<ClipMedia> open(const std::string& path, GraphMediaInfo& info) override
        {
            opened.push_back(path);
            if (path.find(".mkv") == std::string::npos) return nullptr;
            info.hasVideo = info.hasAudio = true;
            info.framesPerSecond = fps;
            info.frameCount = 300;
            info.image.width = 720;
            info.image.height = 576;
            info.sound.sampleRate = 0x56220000u;
            info.audioSampleCount = 22050 * 10;
            return std::make_unique<GraphMedia>();
        }
    } readers;
    MediaClipOpener opener(&readers);
    project.setClipOpener(&opener);

    const std::string mkv = media::media::matroska();
    auto c = openClip(mkv);
    EXPECT_FALSE(c->viaMovieToolbox());
    EXPECT_EQ(c->mediaRateNum(), 29970);
    EXPECT_EQ(c->mediaRateDen(), 1000);
    EXPECT_EQ(c->frameCount(), 300);
    EXPECT_EQ(c->videoTrackCount(), 1);
    EXPECT_EQ(c->audioRate(), 22050);
    EXPECT_EQ(c->thumbWidth(), 80);
    EXPECT_EQ(c->thumbHeight(), 64);
    EXPECT_EQ(c->imageDescription().size(), 86u);

    readers.fps = 25.04;
    c->open(false, false, false, false);
    EXPECT_EQ(c->mediaRateNum(), 25);
    EXPECT_EQ(c->mediaRateDen(), 1);
    EXPECT_EQ(readers.opened.size(), 2u);

    // What neither can read keeps the toolbox's reason.
    const std::string text = media::writeFile("graph-notes.txt", "words");
    EXPECT_EQ(openError(text), "Cannot open file " + text);
    project.setClipOpener(nullptr);
}
