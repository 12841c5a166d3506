#include "engine/effect_catalogue.h"
#include "engine/movie_builder.h"
#include "engine/render.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/atom_container.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/media_file.h"
#include "platform/movies/movie_file.h"
#include "platform/movies/video_decoder.h"
#include "project_items.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;
namespace fs = std::filesystem;

namespace {

std::string testDir(const std::string& name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    fs::path dir = fs::path(base ? base : "/tmp") / "render" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

// Messages shown through the project's user interface.
struct RecordingUi : HeadlessUserInterface {
    std::vector<std::string> messages;
    Answer ask(const std::string& text, const std::string&, Buttons, Icon) override
    {
        messages.push_back(text);
        return Answer::Ok;
    }
};

struct Host : RenderHost {
    int abortAfterUpdates = -1; // -1: never
    int updates = 0;
    bool looping = false;
    std::vector<std::string> texts;
    std::vector<EditTime> positions;
    bool abortRequested() override
    {
        return abortAfterUpdates >= 0 && updates >= abortAfterUpdates;
    }
    void statusChanged(const CFile2000Status& s) override
    {
        texts.push_back(statusText(s));
        if (s.progressShown && s.fraction > 0 && s.fraction < 1) ++updates;
    }
    void showPosition(const EditTime& t) override { positions.push_back(t); }
    bool previewLooping() const override { return looping; }
};

// An export component that records what the render gives it and reads the first picture.
struct SpyLog {
    AtomContainer settings;
    bool gotSettings = false;
    std::string path;
    VideoFormat video;
    int64_t frames = 0;
    Pixmap first;
    OSErr answer = noErr;
};

class SpyExporter : public ComponentImplementation {
public:
    explicit SpyExporter(SpyLog* log) : m_log(log) {}
    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        switch (call.selector) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
        case kMovieExportSetProgressProcSelect:
            return noErr;
        case kMovieExportGetSettingsAsAtomContainerSelect:
            *reinterpret_cast<Handle*>(call.params[0]) = AtomContainer().flatten();
            return noErr;
        case kMovieExportSetSettingsFromAtomContainerSelect:
            m_log->gotSettings = true;
            return AtomContainer::fromHandle(*reinterpret_cast<const Handle*>(call.params[0]),
                                             m_log->settings);
        case kMovieExportToFileSelect: {
            auto* source = reinterpret_cast<ExportSource*>(call.params[0]);
            m_log->path = reinterpret_cast<const char*>(call.params[1]);
            m_log->video = source->video();
            m_log->frames = source->frameCount();
            source->renderFrame(0, m_log->first);
            return m_log->answer;
        }
        default:
            return badComponentSelector;
        }
    }

private:
    SpyLog* m_log;
};

struct RenderFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    ComponentManager components;
    FEffectCatalogue catalogue{registry};
    FProject project;
    FMovieBuilder builder{project, registry, &components};
    RecordingUi ui;
    Host host;
    int64_t now = 0;
    FRender render{project, builder, components, &host, [this] { return now; }};
    SpyLog spy;
    std::string dir;

    void SetUp() override
    {
        registerStandardExporters(components);
        components.registerComponent({kMovieExportType, fourcc("Spy "), fourcc("test"), 0, 0},
                                     "Spy", "", 1,
                                     [this] { return std::make_unique<SpyExporter>(&spy); });
        components.registerComponent({kMovieExportType, fourcc("Real"), fourcc("test"), 0, 0},
                                     "Spy broadcast", "", 1,
                                     [this] { return std::make_unique<SpyExporter>(&spy); });
        components.registerComponent({kMovieExportType, fourcc("Mpeg"), fourcc("test"), 0, 0},
                                     "Spy MPEG", "", 1,
                                     [this] { return std::make_unique<SpyExporter>(&spy); });
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
        project.setUserInterface(&ui);
        dir = testDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        mkdir((dir + "/runtime").c_str(), 0700);
        CProjectTemplate t = project.composition();
        t.width = 320;
        t.height = 240;
        t.frameRate = 30 << 16;
        t.outputFile = dir + "/out/render.mov";
        project.setComposition(t);
    }
    void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }

    void useSpy(const char (&subType)[5])
    {
        CProjectTemplate t = project.composition();
        t.exportSubType = fourcc(subType);
        t.exportManufacturer = fourcc("test");
        project.setComposition(t);
    }
    void setRange(int64_t start, int64_t end)
    {
        project.renderEndFollowsProject = false;
        project.renderStart = EditTime(start);
        project.renderEnd = EditTime(end);
    }
    std::string renderError()
    {
        try {
            render.renderRange();
        } catch (const ZEFException& e) {
            return e.message();
        }
        return {};
    }
};

} // namespace

TEST(RenderStatus, RemainingTimeTexts)
{
    CFile2000Status s;
    s.displayed = "Rendering . Hold ESC to abort.";
    s.progressShown = true;
    s.fraction = 0.4213;
    EXPECT_EQ(statusText(s), "Rendering . Hold ESC to abort. 42.13 % done");
    const std::pair<int, const char*> cases[] = {
        {7200, "2.0 hrs"},  {360, "6 min"},   {59, "59 sec"},     {300, "5.0 min"},
        {0, "0 sec"},       {90, "1.5 min"},  {3599, "59 min"},   {3600, "1.0 hrs"},
        {18000, "5.0 hrs"}, {21600, "6 hrs"}, {18059, "5.0 hrs"},
    };
    for (const auto& [secs, expected] : cases) {
        s.remaining = secs;
        EXPECT_EQ(statusText(s),
                  std::string("Rendering . Hold ESC to abort. ") + expected + " remaining")
            << secs << " s";
    }
    s.progressShown = false;
    s.plainMessageShown = true;
    s.plainMessage = "Preparing render... Please wait";
    EXPECT_EQ(statusText(s), "Preparing render... Please wait");
}

TEST_F(RenderFixture, ProgressModesCaptionsAndEstimate)
{
    setRange(600, 1800);
    now = 5000;
    render.setProgress(0.0, 1, false, "Rendering ");
    EXPECT_EQ(render.status().displayed, "Rendering . Hold ESC to abort.");
    EXPECT_TRUE(render.status().progressShown);
    now = 15000; // ten seconds later, half done: ten more to go
    render.setProgress(0.5, 0, true);
    EXPECT_EQ(statusText(render.status()), "Rendering . Hold ESC to abort. 10 sec remaining");
    ASSERT_EQ(host.positions.size(), 1u);
    EXPECT_EQ(host.positions[0].ticks(), 1200); // the middle of the range
    now = 15999;
    render.setProgress(0.0, 0, false); // nothing done yet: no estimate
    EXPECT_EQ(render.status().remaining, -1);
    render.setProgress(1.0, 2, false);
    EXPECT_EQ(render.status().displayed, "Rendering  finished");

    render.setProgress(0, 10, false);
    render.setProgress(0, 1, false, "Rendering ");
    EXPECT_EQ(render.status().displayed, "Preparing. Hold ESC to abort.");
    render.setProgress(0, 12, false);
    render.setProgress(1, 2, false);
    EXPECT_EQ(render.status().displayed, "Live Broadcasting finished");
    render.setProgress(0, 11, false);
    render.setProgress(0, -1, false);
    EXPECT_EQ(render.status().displayed, "Rendering ");
    EXPECT_FALSE(render.status().progressShown);
}

TEST(RenderPaths, RelativeOutputPathsAreTakenFromTheCurrentFolder)
{
    EXPECT_EQ(resolveOutputPath("movie.mov", "/home/u/work"), "/home/u/work/movie.mov");
    EXPECT_EQ(resolveOutputPath("out/../renders/m.mov", "/home/u"), "/home/u/renders/m.mov");
    EXPECT_EQ(resolveOutputPath("/srv/m.mov", "/home/u"), "/srv/m.mov");
}

TEST(RenderPaths, TemporaryMoviesStayInAPrivateFolder)
{
    const std::string dir = testDir("private");
    const std::string runtime = dir + "/runtime", cache = dir + "/cache", other = dir + "/other";
    fs::create_directories(runtime);
    fs::create_directories(cache);
    fs::create_directories(other);
    // Someone else's folder planted as a link is not used; the cache folder is.
    fs::create_directory_symlink(other, runtime + "/zef-rondavo");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    EXPECT_EQ(temporaryRenderFolder(), cache + "/zef-rondavo");
    struct stat st {};
    ASSERT_EQ(stat((cache + "/zef-rondavo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A folder others may write into is refused too.
    chmod((cache + "/zef-rondavo").c_str(), 0777);
    EXPECT_EQ(temporaryRenderFolder(), "");
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("XDG_CACHE_HOME");

    // Exclusive creation never follows a link planted at the name.
    const std::string victim = other + "/victim";
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, dir + "/planted.zmov");
    std::unique_ptr<Movie> movie;
    EXPECT_EQ(createMovieFile(dir + "/planted.zmov", 600, movie, true), dupFNErr);
    EXPECT_EQ(fs::file_size(victim), 4u);
    EXPECT_EQ(createMovieFile(dir + "/fresh.zmov", 600, movie, true), noErr);
}

TEST_F(RenderFixture, RendersTheRangeToAMovieAndAddsItToTheGallery)
{
    test::addClip(project, media::h264Movie(), 0, 0, 2400);
    setRange(600, 1200); // 1 s from 1 s on
    ASSERT_TRUE(render.renderCommand()) << (ui.messages.empty() ? "" : ui.messages.back());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(project.rendering);
    EXPECT_EQ(render.outputPath(), dir + "/out/render.mov");
    EXPECT_FALSE(fs::exists(render.temporaryMoviePath())); // removed after the render
    EXPECT_EQ(fs::path(render.temporaryMoviePath()).parent_path(),
              fs::path(dir + "/runtime/zef-rondavo"));

    MediaOpenResult opened = MediaFile::open(render.outputPath());
    ASSERT_EQ(opened.status, MediaOpenStatus::ok);
    const TrackInfo& video = opened.file->tracks().at(0);
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.sampleCount, 30);
    // The first picture is the clip at 1 s (frame 30 of 29.97 fps; 29 after rounding).
    VideoDecoder decoder(opened.file, 0);
    Pixmap picture(320, 240);
    ASSERT_TRUE(decoder.drawSample(0, picture));
    EXPECT_NEAR(zef::movies::testing::frameNumberOf(picture), 30, 1);

    // Progress: begun, reported with the marker moving through the range, finished.
    ASSERT_FALSE(host.texts.empty());
    EXPECT_EQ(host.texts.front(), "Preparing render... Please wait");
    EXPECT_NE(std::find(host.texts.begin(), host.texts.end(), "Rendering  finished 100.00 % done"),
              host.texts.end());
    ASSERT_FALSE(host.positions.empty());
    EXPECT_GE(host.positions.front().ticks(), 600);
    EXPECT_LE(host.positions.back().ticks(), 1200);
    EXPECT_FALSE(render.status().progressShown); // cleared at the end

    // The rendered file is the gallery's new clip.
    const FDevice& gallery = project.device(kGallery);
    ASSERT_EQ(gallery.size(), 1u);
    auto* clip = dynamic_cast<ZEFSourceItem*>(gallery.at(0));
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->path(), render.outputPath());
    EXPECT_TRUE(clip->isOpen());
    EXPECT_EQ(clip->volume(), 256);
}

TEST_F(RenderFixture, AbortEndsWithoutMessageOrGalleryClip)
{
    test::addClip(project, media::h264Movie(), 0, 0, 2400);
    setRange(0, 2400);
    host.abortAfterUpdates = 1;
    EXPECT_FALSE(render.renderCommand());
    EXPECT_EQ(render.lastResult(), progressProcAborted);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(project.device(kGallery).size(), 0u);
    EXPECT_FALSE(project.rendering);
    EXPECT_FALSE(fs::exists(render.temporaryMoviePath()));
}

// A component that sends the movie elsewhere (to tape) writes no output file: the render
// succeeds without a gallery clip and without a message about an unreadable file.
TEST_F(RenderFixture, NoOutputFileMeansNoGalleryClipAndNoMessage)
{
    test::addClip(project, media::h264Movie(), 0, 0, 1200);
    setRange(0, 300);
    useSpy("Spy ");
    EXPECT_TRUE(render.renderCommand());
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
    EXPECT_EQ(project.device(kGallery).size(), 0u);
}

TEST_F(RenderFixture, FailuresGiveTheirMessages)
{
    setRange(600, 600);
    EXPECT_FALSE(render.renderCommand());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Render range is empty!");
    EXPECT_EQ(renderError(), "Render range is empty");

    test::addClip(project, media::h264Movie(), 0, 0, 1200);
    setRange(0, 300);
    CProjectTemplate t = project.composition();
    t.exportSubType = fourcc("none");
    project.setComposition(t);
    EXPECT_EQ(renderError(), "Cannot open export movie component");

    useSpy("Spy ");
    t = project.composition();
    std::ofstream(dir + "/blocker") << "a file where a folder should be";
    t.outputFile = dir + "/blocker/sub/out.mov";
    project.setComposition(t);
    EXPECT_EQ(renderError(), "Error: Cannot create folder");
    EXPECT_TRUE(spy.path.empty()); // nothing was converted

    t.outputFile = "";
    project.setComposition(t);
    EXPECT_EQ(renderError(), "Error: Invalid file name");

    t.outputFile = dir + "/ok.mov";
    project.setComposition(t);
    spy.answer = kExportEncoderErr;
    EXPECT_EQ(renderError(), "Error occured during ConvertMovieToFile operation");
    EXPECT_FALSE(project.rendering);
    EXPECT_FALSE(render.renderCommand());
    EXPECT_EQ(ui.messages.back(), "Error occured during ConvertMovieToFile operation");
    EXPECT_EQ(project.device(kGallery).size(), 0u);
}

TEST_F(RenderFixture, TrimsToTheRangeAndCropsAtFullScale)
{
    test::addClip(project, media::h264Movie(), 0, 0, 2400);
    useSpy("Spy ");
    setRange(621, 1221); // starts near frame 31: bits 1-4 white, the right half black
    EXPECT_TRUE(render.renderRange());
    EXPECT_EQ(spy.frames, 30);
    EXPECT_EQ(spy.video.width, 320);
    EXPECT_NEAR(zef::movies::testing::frameNumberOf(spy.first), 31, 1);

    // The right half of the picture, at its own size.
    CProjectTemplate t = project.composition();
    t.cropEnabled = true;
    t.cropRect = {kFixed1 / 2, 0, kFixed1, kFixed1};
    project.setComposition(t);
    EXPECT_TRUE(render.renderRange());
    EXPECT_EQ(spy.video.width, 160);
    EXPECT_EQ(spy.video.height, 240);
    uint32_t brightest = 0;
    for (int y = 0; y < spy.first.height(); ++y)
        for (int x = 0; x < spy.first.width(); ++x)
            brightest = std::max(brightest, spy.first.pixel(x, y) & 0xFF);
    EXPECT_LT(brightest, 64u) << "the right half of frames below 32 is black";

    // The left half shows the white bars.
    t.cropRect = {0, 0, kFixed1 / 2, kFixed1};
    project.setComposition(t);
    EXPECT_TRUE(render.renderRange());
    EXPECT_EQ(spy.video.width, 160);
    EXPECT_GT(spy.first.pixel(80, 120) & 0xFF, 192u); // bar 2
}

TEST_F(RenderFixture, BroadcastAndMpegSettingsGetTheRenderAtoms)
{
    test::addClip(project, media::h264Movie(), 0, 0, 1200);
    setRange(0, 300);
    CProjectTemplate t = project.composition();
    t.frameRate = 0x1DF85C; // 29.97
    t.flattenForBroadcast = true;
    t.broadcastEnabled = true;
    t.outputFile = "relative/live.mov";
    AtomContainer settings;
    writeAtomUInt16(settings, fourcc("vide"), fourcc("vsta"), 2);
    t.exportSettings = settings.flatten();
    project.setComposition(t);
    useSpy("Real");
    host.looping = true;

    // A live broadcast that went well is no file for the gallery.
    EXPECT_FALSE(render.renderCommand());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(render.lastResult(), noErr);
    EXPECT_EQ(project.device(kGallery).size(), 0u);
    ASSERT_TRUE(spy.gotSettings);
    const QTAtom brdc = spy.settings.findChildByIndex(kParentAtomIsContainer, fourcc("brdc"), 1);
    ASSERT_NE(brdc, 0);
    auto data = [&](const char(&child)[5]) {
        std::vector<uint8_t> out;
        spy.settings.getAtomData(spy.settings.findChildByIndex(brdc, fourcc(child), 1), out);
        return out;
    };
    EXPECT_EQ(data("loop"), (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(data("flat"), (std::vector<uint8_t>{1, 0}));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string expectedPath = std::string(cwd) + "/relative/live.mov";
    std::vector<uint8_t> name(expectedPath.begin(), expectedPath.end());
    name.push_back(0);
    EXPECT_EQ(data("flnm"), name);
    EXPECT_EQ(data("vdr3"), (std::vector<uint8_t>{0, 0, 30, 0})); // preset 2, 30.0 little-endian
    EXPECT_EQ(spy.path, expectedPath);
    fs::remove_all(std::string(cwd) + "/relative");
    // The project's own settings are not changed by the render.
    AtomContainer kept;
    ASSERT_EQ(AtomContainer::fromHandle(project.composition().exportSettings, kept), noErr);
    EXPECT_EQ(kept, settings);

    useSpy("Mpeg");
    t = project.composition();
    t.exportSettings = Handle();
    t.outputFile = dir + "/m.mpg";
    project.setComposition(t);
    EXPECT_TRUE(render.renderRange());
    uint32_t vsvr = 0;
    EXPECT_TRUE(readAtomUInt(spy.settings, fourcc("vide"), fourcc("vsvr"), &vsvr));
    EXPECT_EQ(vsvr, 30u);
}

// A switched-off layer or title track is left out of the render as it is out of the preview.
TEST_F(RenderFixture, DisabledTracksStayOutOfTheRender)
{
    useSpy("Spy ");
    setRange(0, 300);
    test::addClip(project, media::jpegStill(), kLayerA, 0, 600);  // blue
    test::addClip(project, media::still("bmp"), kLayerB, 0, 600); // green, in front
    auto title = std::make_unique<ZEFTitlerEffect>(&project);
    title->setName("Title");
    title->setText("MMMM");
    TitleStyle style;
    style.size = 60;
    title->setStyle(style);
    ZEFTitlerEffect* t = title.get();
    project.addItem(std::move(title), false, false);
    t->assignStart(EditTime(0));
    t->assignEnd(EditTime(600));
    // Pixels of the first rendered picture that are (not) of the colour: 0x00RRGGBB.
    auto count = [&](uint32_t rgb, bool equal) {
        int n = 0;
        for (int y = 0; y < spy.first.height(); ++y)
            for (int x = 0; x < spy.first.width(); ++x) {
                const uint32_t p = spy.first.pixel(x, y);
                bool same = true;
                for (int shift : {0, 8, 16})
                    same = same &&
                           std::abs(int((p >> shift) & 0xFF) - int((rgb >> shift) & 0xFF)) <= 16;
                n += same == equal ? 1 : 0;
            }
        return n;
    };
    ASSERT_TRUE(render.renderRange());
    EXPECT_GT(count(0x008000, true), 30000) << "layer B covers layer A";
    EXPECT_GT(count(0x008000, false), 100) << "the title shows over layer B";

    project.setTrackEnabled(kLayerB, false);
    project.setTrackEnabled(kTitleTrack, false);
    ASSERT_TRUE(render.renderRange());
    EXPECT_EQ(count(0x0000FF, false), 0) << "layer A alone";
    project.setTrackEnabled(kLayerA, false);
    ASSERT_TRUE(render.renderRange());
    EXPECT_EQ(count(0x000000, false), 0) << "the black background alone";
}
