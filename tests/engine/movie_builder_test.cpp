#include "engine/effect_catalogue.h"
#include "engine/item_tracks.h"
#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/input_map.h"
#include "platform/movies/tween_sample.h"
#include "project_items.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;

namespace {

struct Window : PreviewWindow {
    bool composition = true, captured = false;
    int attached = 0, detached = 0, redraws = 0;
    bool showingComposition() const override { return composition; }
    bool mouseCaptured() const override { return captured; }
    void attachMovie(Movie*) override { ++attached; }
    void detachMovie() override { ++detached; }
    void redraw() override { ++redraws; }
};

struct BuilderFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue{registry};
    FProject project;
    int64_t now = 100000;
    FMovieBuilder builder{project, registry, nullptr, [this] { return now; }};
    Window window;

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
        builder.setPreviewWindow(&window);
    }
    ZEFEffectItem* effectItem(int32_t track, const char* name, int64_t start, int64_t end)
    {
        auto item = std::make_unique<ZEFEffectItem>(&project, track);
        item->setName(name);
        ZEFEffectItem* p = item.get();
        project.addItem(std::move(item), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    }
    ZEFSourceItem* clip(const std::string& path, int32_t track, int64_t start, int64_t end)
    {
        return test::addClip(project, path, track, start, end);
    }
    Pixmap picture(const Movie& movie, TimeValue t)
    {
        EvaluationContext ec;
        Pixmap out;
        EXPECT_EQ(evaluate(ec, movie, t, out), noErr);
        return out;
    }
    std::vector<Track*> videoTracks(const Movie& m, const std::vector<Track*>& among)
    {
        std::vector<Track*> out;
        for (Track* t : among)
            if (t->media() && t->media()->type() == VideoMediaType && m.owns(t)) out.push_back(t);
        return out;
    }
    const TrackRecord& record(const ZEFItem& item)
    {
        return *dynamic_cast<const TrackRecord*>(item.composition());
    }
};

} // namespace

TEST_F(BuilderFixture, EmptyProjectShowsBlackOrTheCheckerboard)
{
    Movie& movie = builder.ensurePreviewMovie();
    EXPECT_EQ(window.attached, 1);
    builder.update();
    Pixmap p = picture(movie, 600);
    ASSERT_EQ(p.width(), 320);
    ASSERT_EQ(p.height(), 240);
    EXPECT_EQ(p.pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(p.pixel(100, 100), 0xFF000000u);

    project.device(0).setEnabled(false);
    EXPECT_FALSE(builder.update()) << "within a second of the last update";
    now += 1000;
    EXPECT_TRUE(builder.update());
    EXPECT_EQ(window.redraws, 1);
    p = picture(movie, 600);
    EXPECT_EQ(p.pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(p.pixel(8, 0), 0xFFA0A0A0u);
    EXPECT_EQ(p.pixel(8, 8), 0xFFFFFFFFu);
    now += 1000;
    EXPECT_FALSE(builder.update()) << "nothing changed";
}

TEST_F(BuilderFixture, UpdateWaitsForTheWindowAndBuildsOnlyWhatIsMissing)
{
    ZEFEffectItem* a = effectItem(0, "Solid Colour", 0, 1200);
    ZEFEffectItem* b = effectItem(1, "Fire", 0, 600);
    EXPECT_FALSE(builder.update()) << "no preview movie yet";
    builder.ensurePreviewMovie();
    window.captured = true;
    EXPECT_FALSE(builder.update());
    window.captured = false;
    EXPECT_TRUE(builder.update());
    ASSERT_TRUE(a->isBuilt());
    ASSERT_TRUE(b->isBuilt());
    const Track* aTrack = record(*a).lastTrack();
    ASSERT_NE(aTrack, nullptr);
    EXPECT_EQ(aTrack->layer(), 0);
    EXPECT_EQ(record(*b).lastTrack()->layer(), -3);

    // Changing the layer B item rebuilds only that item.
    const size_t tracks = builder.previewMovie()->trackCount();
    project.itemChanged(b, false, false);
    EXPECT_FALSE(b->isBuilt());
    EXPECT_EQ(builder.previewMovie()->trackCount(), tracks - 1);
    now += 500;
    EXPECT_FALSE(builder.update());
    now += 500;
    EXPECT_TRUE(builder.update());
    EXPECT_TRUE(b->isBuilt());
    EXPECT_EQ(record(*a).lastTrack(), aTrack);
    EXPECT_EQ(builder.previewMovie()->trackCount(), tracks);

    builder.resetPreview(true);
    EXPECT_FALSE(a->isBuilt());
    EXPECT_EQ(window.detached, 1);
    EXPECT_EQ(window.attached, 2);
    now += 1000;
    EXPECT_TRUE(builder.update());
    EXPECT_TRUE(a->isBuilt());
}

TEST_F(BuilderFixture, StandAloneEffectWithoutTypeIsBlack)
{
    effectItem(0, "Solid Colour", 0, 600);
    ZEFEffectItem* black = effectItem(1, "Black", 0, 600);
    std::unique_ptr<Movie> movie = builder.buildRenderMovie();
    // The black stand-alone effect on layer B covers the solid colour of layer A.
    Pixmap p = picture(*movie, 300);
    EXPECT_EQ(p.pixel(160, 120), 0xFF000000u);
    (void)black;
}

TEST_F(BuilderFixture, TwoFiltersGiveThreeTracksWiredInOrder)
{
    ZEFEffectItem* item = effectItem(0, "Solid Colour", 600, 1800);
    for (const char* name : {"Blur", "Edge Detection"}) {
        auto f = std::make_unique<ZEFEffectItem>(&project, 0, item);
        f->setName(name);
        item->addFilter(std::move(f));
    }
    builder.ensurePreviewMovie();
    builder.update();
    std::vector<Track*> video = record(*item).tracks();
    ASSERT_EQ(video.size(), 3u);
    for (Track* t : video)
        EXPECT_EQ(t->layer(), 0);
    for (size_t k = 1; k < 3; ++k) {
        std::vector<InputMapEntry> entries;
        ASSERT_EQ(readInputMap(video[k]->media()->inputMap(), entries), noErr);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(inputTrack(*video[k], entries[0]), video[k - 1]);
        EXPECT_EQ(entries[0].sourceName, kSourceA);
        EXPECT_EQ(inputTrack(*video[k], entries[1]), builder.motionTrack(0));
        EXPECT_EQ(video[k]->offset(), 600);
        EXPECT_EQ(video[k]->duration(), 1800);
    }
    EXPECT_EQ(record(*item).lastTrack(), video[2]);

    // Filters left out of the preview stay in the render movie.
    PreviewPreferences prefs;
    prefs.disableFiltersOnPreview = true;
    builder.setPreferences(prefs);
    EXPECT_FALSE(item->isBuilt());
    now += 1000;
    builder.update();
    EXPECT_EQ(record(*item).tracks().size(), 1u);
    std::unique_ptr<Movie> render = builder.buildRenderMovie();
    int effectTracks = 0;
    for (const auto& t : render->tracks())
        if (t->media()->type() == VideoMediaType && t->media()->hasInputMap()) {
            std::vector<InputMapEntry> entries;
            readInputMap(t->media()->inputMap(), entries);
            for (const InputMapEntry& e : entries)
                effectTracks += e.inputType == kTrackModifierTypeImage ? 1 : 0;
        }
    EXPECT_EQ(effectTracks, 2);
}

TEST_F(BuilderFixture, StillOfTwoSecondsGivesAFrameEach)
{
    project.setEditFrameRate(Fixed(29.97 * 65536));
    ZEFSourceItem* still = clip(media::jpegStill(), 0, 0, 1200);
    ASSERT_TRUE(still->isStill());
    builder.ensurePreviewMovie();
    builder.update();
    const Track* t = record(*still).tracks().front();
    ASSERT_EQ(t->edits().size(), 60u);
    for (const Edit& e : t->edits()) {
        EXPECT_EQ(e.duration, 20);
        EXPECT_FALSE(e.isEmpty());
    }
    Pixmap p = picture(*builder.previewMovie(), 900);
    const uint32_t c = p.pixel(160, 120);
    EXPECT_GT(c & 0xFF, 200u) << std::hex << c; // the blue still fills the frame
    EXPECT_LT((c >> 16) & 0xFF, 60u);
}

TEST_F(BuilderFixture, CropAddsOneTweenTrackUnlessItIsTheWholeFrame)
{
    ZEFSourceItem* a = clip(media::jpegStill(), 0, 0, 600);
    builder.ensurePreviewMovie();
    builder.update();
    auto tweenCount = [&](const ZEFItem& item) {
        int n = 0;
        for (Track* t : record(item).tracks())
            n += t->media()->type() == TweenMediaType ? 1 : 0;
        return n;
    };
    EXPECT_EQ(tweenCount(*a), 0);
    a->setCropRect({0, 0, kFixed1 / 2, kFixed1});
    project.itemChanged(a, false, false);
    now += 1000;
    builder.update();
    EXPECT_EQ(tweenCount(*a), 1);
    Pixmap p = picture(*builder.previewMovie(), 300);
    EXPECT_GT(p.pixel(80, 120) & 0xFF, 200u);
    EXPECT_EQ(p.pixel(240, 120), 0xFF000000u) << "cropped away: the black background";
}

TEST_F(BuilderFixture, MotionFollowsMatrixAtEverywhere)
{
    MatrixRecord m1 = MatrixRecord::identity();
    m1.m[2][0] = 500 << 16; // half the frame to the right
    MatrixRecord m2 = MatrixRecord::identity();
    m2.m[2][1] = 250 << 16;
    project.insertKeyframe(0, EditTime(600), m1, false);
    project.insertKeyframe(0, EditTime(1800), m2, false);
    builder.ensurePreviewMovie();
    const Track* motion = builder.motionTrack(0);
    ASSERT_NE(motion, nullptr);
    for (TimeValue t : {0, 300, 600, 900, 1780, 1800, 5000, 600000}) {
        TrackPosition pos;
        ASSERT_TRUE(motion->lookup(t, pos)) << t;
        std::vector<uint8_t> data;
        ASSERT_EQ(pos.media->getSampleData(pos.sampleIndex, data), noErr);
        auto v = readTweenSample(data);
        ASSERT_TRUE(v);
        const double f = double(pos.mediaTime - pos.sampleStart) / double(pos.sampleDuration);
        const MatrixRecord want = pixelMatrix(project.matrixAt(0, EditTime(t)), 320, 240);
        for (int k : {0, 1}) {
            const double got = v->matrixStart.m[2][k] +
                               (double(v->matrixEnd.m[2][k]) - v->matrixStart.m[2][k]) * f;
            EXPECT_NEAR(got / 65536.0, want.m[2][k] / 65536.0, 0.01) << "t " << t << " k " << k;
        }
    }
    // Keyframes edited later: the track is rebuilt in place (the project tells the builder).
    project.deleteKeyframeAt(0, EditTime(1800));
    EXPECT_EQ(builder.motionTrack(0), motion);
    TrackPosition pos;
    ASSERT_TRUE(motion->lookup(5000, pos));
    std::vector<uint8_t> data;
    pos.media->getSampleData(pos.sampleIndex, data);
    EXPECT_EQ(readTweenSample(data)->matrixStart.m[2][0], 160 << 16);
}

TEST_F(BuilderFixture, PreferencesRebuildTheLayersTheyAffect)
{
    ZEFEffectItem* a = effectItem(0, "Solid Colour", 0, 600);
    ZEFEffectItem* b = effectItem(1, "Fire", 0, 600);
    ZEFEffectItem* c = effectItem(2, "Cloud", 0, 600);
    builder.ensurePreviewMovie();
    auto rebuildAll = [&] {
        now += 1000;
        builder.update();
        ASSERT_TRUE(a->isBuilt() && b->isBuilt() && c->isBuilt());
    };
    rebuildAll();
    PreviewPreferences prefs;
    prefs.previewTransitionsAsCrossFades = true;
    builder.setPreferences(prefs);
    EXPECT_FALSE(a->isBuilt());
    EXPECT_TRUE(b->isBuilt());
    EXPECT_TRUE(c->isBuilt());
    rebuildAll();
    prefs.disableGraphicModesOnPreview = true;
    builder.setPreferences(prefs);
    EXPECT_TRUE(a->isBuilt());
    EXPECT_FALSE(b->isBuilt());
    EXPECT_FALSE(c->isBuilt());
    rebuildAll();
    prefs.singleLayerPreview = true;
    builder.setPreferences(prefs);
    EXPECT_TRUE(a->isBuilt() && b->isBuilt() && c->isBuilt());
    prefs.disableFiltersOnPreview = true;
    builder.setPreferences(prefs);
    EXPECT_FALSE(a->isBuilt() || b->isBuilt() || c->isBuilt());
}

TEST_F(BuilderFixture, ANewOutputSizeRebuildsThePreviewAtThatSize)
{
    ZEFEffectItem* a = effectItem(0, "Solid Colour", 0, 600);
    builder.ensurePreviewMovie();
    builder.update();
    ASSERT_TRUE(a->isBuilt());
    CProjectTemplate t = project.composition();
    t.width = 160;
    t.height = 120;
    project.setComposition(t);
    project.applyOutputSize();
    EXPECT_FALSE(a->isBuilt());
    ASSERT_NE(builder.previewMovie(), nullptr);
    now += 1000;
    builder.update();
    Pixmap p = picture(*builder.previewMovie(), 300);
    EXPECT_EQ(p.width(), 160);
    EXPECT_EQ(p.height(), 120);
    EXPECT_EQ(record(*a).lastTrack()->width(), Fixed(160) << 16);
}
