#include "demo_test_support.h"
#include "engine/effect_catalogue.h"
#include "engine/movie_builder.h"
#include "model/device.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/export/standard_exporters.h"
#include "tools/demo/demo_media.h"
#include "tools/demo/demo_project.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace zef;
using namespace zef::demo;
using namespace zef::movies;
namespace fs = std::filesystem;
namespace support = zef::demo::testing;

namespace {

// Small clips shared by the tests of this file (made once, reused while valid).
const DemoSources& smallClips()
{
    static const DemoSources sources = [] {
        const char* base = std::getenv("ZEF_TEST_TMP");
        const fs::path dir = fs::path(base && *base ? base : "/tmp") / "demo" / "small-clips";
        return makeDemoSources(dir.string(), 64, 48);
    }();
    return sources;
}

struct DemoProjectFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue{registry};
    FProject project;

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
    }
    void build(DemoOptions options = {}) { buildDemoProject(project, smallClips(), options); }
};

} // namespace

TEST_F(DemoProjectFixture, LayersTransitionFilterMotionAndTitle)
{
    DemoOptions options;
    options.width = 320;
    options.height = 240;
    build(options);
    EXPECT_EQ(project.checkConsistency(), "");

    const FDevice& a = project.device(kLayerA);
    ASSERT_EQ(a.size(), 2u);
    auto* clipA = dynamic_cast<ZEFSourceItem*>(a.at(0));
    auto* clipB = dynamic_cast<ZEFSourceItem*>(a.at(1));
    ASSERT_TRUE(clipA && clipB);
    EXPECT_EQ(clipA->path(), smallClips().a);
    EXPECT_EQ(clipB->path(), smallClips().b);
    EXPECT_EQ(clipB->getStart().ticks(), 10 * 600);
    EXPECT_EQ(clipB->getEnd().ticks(), 22 * 600);
    EXPECT_EQ(clipB->sourceIn().ticks(), 0);
    EXPECT_EQ(clipB->sourceOut().ticks(), 12 * 600);
    // The overlap is a's Cross Fade; b's picture goes through the tint.
    auto overlap = project.transitionAt(EditTime(11 * 600));
    ASSERT_TRUE(overlap);
    EXPECT_EQ(overlap->first, clipA);
    EXPECT_EQ(overlap->second, clipB);
    EXPECT_EQ(clipA->transition()->effectInfo().effectType, fourcc("dslv"));
    EXPECT_EQ(clipA->filterCount(), 0u);
    ASSERT_EQ(clipB->filterCount(), 1u);
    EXPECT_EQ(clipB->filter(0)->effectInfo().effectType, fourcc("tint"));
    EXPECT_FALSE(project.transitionAt(EditTime(9 * 600)));

    // Layer B: c from 2 to 8 s, half size, its corner moving from (0, 0) to the middle.
    const FDevice& b = project.device(kLayerB);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b.at(0)->getStart().ticks(), 2 * 600);
    EXPECT_EQ(b.at(0)->getEnd().ticks(), 8 * 600);
    for (auto [seconds, thousandths] : {std::pair{1.0, 0}, {2.0, 0}, {5.0, 250}, {8.0, 500}}) {
        const MatrixRecord m = project.matrixAt(kLayerB, EditTime(int64_t(seconds * 600)));
        EXPECT_EQ(m.m[0][0], kFixed1 / 2) << seconds;
        EXPECT_EQ(m.m[1][1], kFixed1 / 2) << seconds;
        EXPECT_NEAR(m.m[2][0] / 65536.0, thousandths, 0.01) << seconds;
        EXPECT_NEAR(m.m[2][1] / 65536.0, thousandths, 0.01) << seconds;
    }
    EXPECT_TRUE(project.device(kLayerC).empty());

    const FDevice& titles = project.device(kTitleTrack);
    ASSERT_EQ(titles.size(), 1u);
    auto* title = dynamic_cast<ZEFTitlerEffect*>(titles.at(0));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Hello World");
    EXPECT_EQ(title->getStart().ticks(), 600);
    EXPECT_EQ(title->getEnd().ticks(), 3000);

    const CProjectTemplate& c = project.composition();
    EXPECT_EQ(c.width, 320);
    EXPECT_EQ(c.height, 240);
    EXPECT_EQ(c.frameRate, 30 << 16);
    EXPECT_EQ(c.exportSubType, fourcc("MooV"));
    EXPECT_EQ(c.exportManufacturer, fourcc("appl"));
    EXPECT_EQ(c.outputFile, "out/demo.mov");
    AtomContainer settings;
    ASSERT_EQ(AtomContainer::fromHandle(c.exportSettings, settings), noErr);
    uint32_t codec = 0;
    ASSERT_TRUE(readAtomUInt(settings, kVideoSettingsAtom, kCodecAtom, &codec));
    EXPECT_EQ(codec, fourcc("avc1"));
    ASSERT_TRUE(readAtomUInt(settings, kSoundSettingsAtom, kCodecAtom, &codec));
    EXPECT_EQ(codec, fourcc("mp4a"));
    EXPECT_EQ(project.renderStart.ticks(), 0);
    EXPECT_EQ(project.renderEnd.ticks(), 22 * 600);
}

TEST_F(DemoProjectFixture, ReferenceCompositionLeavesOnlyTheFilterOut)
{
    DemoOptions options;
    options.reference = true;
    build(options);
    EXPECT_EQ(project.device(kLayerA).at(1)->filterCount(), 0u);

    FProject full;
    full.setEffectCatalogue(&catalogue);
    buildDemoProject(full, smallClips(), DemoOptions{});
    std::string withFilter = summarizeProject(full);
    const std::string without = summarizeProject(project);
    // Take out the filter line and the template name: what remains is the same.
    const size_t filter = withFilter.find("  filter 'Colour Tint'");
    ASSERT_NE(filter, std::string::npos);
    withFilter.erase(filter, withFilter.find('\n', filter) - filter + 1);
    const size_t name = withFilter.find("'Demo'");
    ASSERT_NE(name, std::string::npos);
    withFilter.replace(name, 6, "'Demo (reference)'");
    EXPECT_EQ(withFilter, without);
}

TEST_F(DemoProjectFixture, TitleLineSitsInTheMiddleAtEverySize)
{
    // The title's place comes from a keyframe computed from the size: look at the picture.
    for (auto [w, h] : {std::pair{320, 240}, {640, 480}, {1280, 720}}) {
        FProject p;
        p.setEffectCatalogue(&catalogue);
        DemoOptions options;
        options.width = w;
        options.height = h;
        buildDemoProject(p, smallClips(), options);
        FMovieBuilder builder(p, registry);
        p.setEngine(&builder);
        std::unique_ptr<Movie> movie = builder.buildRenderMovie();
        EvaluationContext ec;
        Pixmap frame;
        ASSERT_EQ(evaluate(ec, *movie, 3 * 600 + 300, frame), noErr);
        ASSERT_EQ(frame.width(), w);
        double sx = 0, sy = 0;
        int white = 0, top = h, bottom = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t px = frame.pixel(x, y);
                if (redOf(px) > 230 && greenOf(px) > 230 && blueOf(px) > 230) {
                    ++white;
                    sx += x;
                    sy += y;
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        ASSERT_GT(white, w * h / 400) << w << "x" << h;
        EXPECT_NEAR(sx / white, w / 2.0, w * 0.05) << w << "x" << h;
        EXPECT_NEAR(sy / white, h / 2.0, h * 0.05) << w << "x" << h;
        EXPECT_LT(bottom - top, h / 5) << "one line of text";
        p.setEngine(nullptr);
    }
}

TEST_F(DemoProjectFixture, SavedProjectOpensAgainWithTheSameContents)
{
    build();
    const std::string dir = support::freshFolder("save");
    const std::string path = dir + "/nested/demo.zef";
    saveDemoProject(project, path);
    ASSERT_TRUE(fs::is_regular_file(path)) << "written under the name asked for";
    EXPECT_FALSE(fs::exists(dir + "/nested/demo.ZEF"));
    EXPECT_FALSE(project.modified);

    FProject reopened;
    reopened.setEffectCatalogue(&catalogue);
    ASSERT_EQ(reopened.openProject(dir + "/nested/demo"), 1);
    EXPECT_EQ(summarizeProject(reopened), summarizeProject(project));
    EXPECT_EQ(reopened.device(kLayerA).at(1)->filter(0)->effectInfo().effectType, fourcc("tint"));
    EXPECT_TRUE(reopened.composition().exportSettings.size() > 0);

    // Saving again over the file works (the maker is run again by make demo).
    saveDemoProject(project, path);
    // Not a project file name, or a folder that cannot be made: an error, nothing written.
    EXPECT_THROW(saveDemoProject(project, dir + "/demo.mov"), std::runtime_error);
    EXPECT_FALSE(fs::exists(dir + "/demo.mov"));
    std::ofstream(dir + "/blocker") << "x";
    EXPECT_THROW(saveDemoProject(project, dir + "/blocker/demo.zef"), std::runtime_error);
}

TEST_F(DemoProjectFixture, RefusesWhatItCannotBuild)
{
    DemoSources missing = smallClips();
    missing.b = "/nonexistent/b.mov";
    try {
        buildDemoProject(project, missing, DemoOptions{});
        FAIL() << "no exception";
    } catch (const ZEFException& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/b.mov"), std::string::npos) << e.what();
    }

    // c lasts 6 s: too short for a's 12 s.
    FProject p;
    p.setEffectCatalogue(&catalogue);
    DemoSources shortA = smallClips();
    shortA.a = smallClips().c;
    EXPECT_THROW(buildDemoProject(p, shortA, DemoOptions{}), ZEFException);

    FProject q;
    q.setEffectCatalogue(&catalogue);
    DemoOptions tiny;
    tiny.width = 8;
    EXPECT_THROW(buildDemoProject(q, smallClips(), tiny), std::invalid_argument);
    FProject noCatalogue;
    EXPECT_THROW(buildDemoProject(noCatalogue, smallClips(), DemoOptions{}), std::invalid_argument);

    // A project that holds something already is not overwritten.
    FProject used;
    used.setEffectCatalogue(&catalogue);
    buildDemoProject(used, smallClips(), DemoOptions{});
    EXPECT_THROW(buildDemoProject(used, smallClips(), DemoOptions{}), std::invalid_argument);
    EXPECT_EQ(used.device(kLayerA).size(), 2u);
}

TEST(DemoSources, GivenFolderPrefersTheSizedBenchmarkNames)
{
    const std::string dir = support::freshFolder("given");
    for (const char* name : {"a_480.mp4", "a.mp4", "b.mp4", "b.mov", "c.mov"})
        std::ofstream(dir + "/" + name) << "x";
    const DemoSources s = findGivenSources(dir, 480);
    EXPECT_EQ(fs::path(s.a).filename(), "a_480.mp4");
    EXPECT_EQ(fs::path(s.b).filename(), "b.mp4");
    EXPECT_EQ(fs::path(s.c).filename(), "c.mov");
    EXPECT_TRUE(fs::path(s.a).is_absolute());
    EXPECT_EQ(fs::path(findGivenSources(dir, 1080).a).filename(), "a.mp4");

    fs::remove(dir + "/c.mov");
    try {
        findGivenSources(dir, 480);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no clip c in"), std::string::npos) << e.what();
    }
}
