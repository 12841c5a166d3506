#include "engine/effect_catalogue.h"
#include "engine/item_tracks.h"
#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/audio_fade.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/input_map.h"
#include "platform/movies/text/text_sample.h"
#include "project_items.h"
#include "tests/movies/test_media.h"
#include "tests/support/file_open_watch.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;

namespace {

struct ClipFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue{registry};
    FProject project;
    int64_t now = 0;
    FMovieBuilder builder{project, registry, nullptr, [this] { return now; }};

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
    }
    ZEFSourceItem* clip(const std::string& path, int32_t track, int64_t start, int64_t end)
    {
        return test::addClip(project, path, track, start, end);
    }
    const TrackRecord& record(const ZEFItem& item)
    {
        return *dynamic_cast<const TrackRecord*>(item.composition());
    }
    void refresh()
    {
        builder.ensurePreviewMovie();
        now += 1000;
        builder.update();
    }
    ZEFTitlerEffect* title(const std::string& text, const TitleStyle& style, int64_t start,
                           int64_t end)
    {
        auto t = std::make_unique<ZEFTitlerEffect>(&project);
        t->setName("Title");
        t->setText(text);
        t->setStyle(style);
        ZEFTitlerEffect* p = t.get();
        project.addItem(std::move(t), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    }
    Pixmap picture(TimeValue t)
    {
        EvaluationContext ec;
        Pixmap out;
        EXPECT_EQ(evaluate(ec, *builder.previewMovie(), t, out), noErr);
        return out;
    }
};

std::vector<FadeTween> fades(const Track& t)
{
    std::vector<FadeTween> out;
    for (int64_t i = 0; i < t.media()->sampleCount(); ++i) {
        std::vector<uint8_t> data;
        t.media()->getSampleData(i, data);
        FadeTween f;
        EXPECT_EQ(readFadeTween(data, f), noErr);
        out.push_back(f);
    }
    return out;
}

} // namespace

TEST_F(ClipFixture, ClipSegmentSoundAndFades)
{
    ZEFSourceItem* a = clip(media::h264Movie(), 0, 0, 1200);
    ZEFSourceItem* b = clip(media::h264Movie(), 0, 900, 2100);
    b->setSourceIn(EditTime(600));
    b->setSourceOut(EditTime(1800));
    b->assignStart(EditTime(900));
    b->assignEnd(EditTime(2100));
    b->setVolume(128);
    refresh();

    // b: video, sound and fade, then the transition from a.
    const TrackRecord& rb = record(*b);
    Track* video = rb.tracks().front();
    ASSERT_FALSE(video->edits().empty());
    EXPECT_EQ(video->offset(), 900);
    EXPECT_EQ(video->duration(), 900 + (b->sourceOut() - b->sourceIn()).ticks());
    Track* sound = rb.soundTrack();
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->volume(), 64); // 256 × (128 / 256)²
    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(sound->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].inputType, kTrackModifierTypeVolume);
    Track* fade = inputTrack(*sound, entries[0]);
    ASSERT_NE(fade, nullptr);
    EXPECT_EQ(fade->offset(), 850);
    auto f = fades(*fade);
    ASSERT_EQ(f.size(), 2u); // no next item: no fade-out
    EXPECT_EQ(fade->media()->sample(0)->duration, 300 + 50);
    EXPECT_EQ(f[0].start, 0);
    EXPECT_EQ(f[0].end, kFixed1);
    EXPECT_EQ(fade->media()->sample(1)->duration, 900);
    EXPECT_NE(rb.transitionTrack(), nullptr);

    // a fades out over the overlap, ending with a although a starts too early for the lead
    // of 50 ticks (no fade-in, so nothing before the full level).
    Track* aFade = nullptr;
    for (Track* t : record(*a).tracks())
        if (t->media()->type() == TweenMediaType) aFade = t;
    ASSERT_NE(aFade, nullptr);
    auto fa = fades(*aFade);
    ASSERT_EQ(fa.size(), 2u);
    EXPECT_EQ(aFade->offset(), 0);
    EXPECT_EQ(aFade->media()->sample(0)->duration, 900);
    EXPECT_EQ(aFade->media()->sample(1)->duration, 300);
    EXPECT_EQ(fa[1].start, kFixed1);
    EXPECT_EQ(fa[1].end, 0);
    EXPECT_EQ(aFade->offset() + aFade->duration(), a->getEnd().ticks());

    // The frames are the source's: b at 1500 shows source time 600 + 600 ticks, 2 s at 29.97.
    EXPECT_NEAR(zef::movies::testing::frameNumberOf(picture(1500)), 60, 1);
    EXPECT_NEAR(zef::movies::testing::frameNumberOf(picture(300)), 15, 1);
}

TEST_F(ClipFixture, SilentClipHasNoSoundTrack)
{
    ZEFSourceItem* a = clip(media::h264Movie(), 0, 0, 600);
    a->setVolume(0);
    refresh();
    EXPECT_EQ(record(*a).soundTrack(), nullptr);
    for (Track* t : record(*a).tracks())
        EXPECT_NE(t->media()->type(), SoundMediaType);
}

TEST_F(ClipFixture, ScaledClipStretchesToTheTimeline)
{
    ZEFSourceItem* a = clip(media::h264Movie(), 0, 0, 1200);
    a->setSourceIn(EditTime(0));
    a->setSourceOut(EditTime(600));
    a->assignStart(EditTime(0));
    a->assignEnd(EditTime(1200));
    a->setScaleType(1);
    refresh();
    Track* video = record(*a).tracks().front();
    EXPECT_EQ(video->duration(), 1200);
    // Half speed: timeline 1.0 s shows source 0.5 s.
    EXPECT_NEAR(zef::movies::testing::frameNumberOf(picture(600)), 15, 1);
}

TEST_F(ClipFixture, ATurnedMovieIsBuiltUprightInItsOwnAspect)
{
    // Its numbered pictures are stored turned; only upright do their bars stand side by side.
    // Upright it is a portrait picture: fitted to the frame (as every added clip is) it stands
    // in the middle, black on either side, also through a filter.
    ZEFSourceItem* a = clip(media::turnedPortrait(), 0, 0, 1200);
    EditTime in(0, 25, 1);
    in.fromFrames(10);
    a->setSourceIn(in);
    a->assignEnd(EditTime(600));
    auto filter = std::make_unique<ZEFEffectItem>(&project, a->track(), a);
    filter->setName("Brightness and Contrast");
    a->addFilter(std::move(filter));
    refresh();
    const Pixmap fitted = picture(0);
    const int w = fitted.width(), h = fitted.height();
    const int placed = h * 200 / 400, left = (w - placed) / 2;
    Pixmap middle(placed, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < placed; ++x)
            middle.row(y)[x] = fitted.pixel(left + x, y);
    EXPECT_EQ(zef::movies::testing::frameNumberOf(middle), 10);
    for (int y = 0; y < h; y += 7)
        for (int x : {0, left - 2, left + placed + 1, w - 1})
            ASSERT_EQ(fitted.pixel(x, y), 0xFF000000u) << x << "," << y;

    // Stretched to the frame.
    a->setMatrix(0, MatrixRecord::identity());
    a->setMatrix(1, MatrixRecord::identity());
    project.itemChanged(a, false, true);
    refresh();
    EXPECT_EQ(zef::movies::testing::frameNumberOf(picture(0)), 10);
    EXPECT_EQ(zef::movies::testing::frameNumberOf(picture(240)), 20);
}

TEST_F(ClipFixture, GraphicsModeWithItsColourOnLayerB)
{
    clip(media::jpegStill(), 0, 0, 600);                     // blue
    ZEFSourceItem* b = clip(media::still("bmp"), 1, 0, 600); // green
    b->setGraphicsMode(32);                                  // blend
    b->setGraphicsModeColor(0xFFFFFF);
    refresh();
    Track* last = record(*b).lastTrack();
    EXPECT_EQ(last->media()->graphicsMode(), 32);
    EXPECT_EQ(last->media()->opColor(), (RGBColor{0xFFFF, 0xFFFF, 0xFFFF}));
    // Full weight: the green clip replaces what lies below.
    uint32_t p = picture(300).pixel(160, 120);
    EXPECT_GT((p >> 8) & 0xFF, 100u) << std::hex << p;
    EXPECT_LT(p & 0xFF, 40u) << std::hex << p;

    PreviewPreferences prefs;
    prefs.disableGraphicModesOnPreview = true;
    builder.setPreferences(prefs);
    EXPECT_FALSE(b->isBuilt());
    refresh();
    EXPECT_EQ(record(*b).lastTrack()->media()->graphicsMode(), ditherCopy);
}

TEST_F(ClipFixture, TitlesUsePreviousSettings)
{
    auto make = [&](const char* text, int16_t size, bool usePrevious, int64_t start) {
        auto t = std::make_unique<ZEFTitlerEffect>(&project);
        t->setName("Title");
        t->setText(text);
        TitleStyle s;
        s.size = size;
        s.usePrevious = usePrevious ? 1 : 0;
        t->setStyle(s);
        ZEFTitlerEffect* p = t.get();
        project.addItem(std::move(t), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(start + 600));
        return p;
    };
    ZEFTitlerEffect* first = make("One", 40, false, 0);
    make("", 99, false, 600); // no text: skipped, also as a style source
    ZEFTitlerEffect* third = make("Three", 12, true, 1200);
    refresh();
    ASSERT_TRUE(first->isBuilt());
    ASSERT_TRUE(third->isBuilt());
    auto sampleOf = [&](const ZEFItem& item) {
        Track* t = record(item).tracks().front();
        EXPECT_EQ(t->layer(), kTitleLayer);
        std::vector<uint8_t> data;
        t->media()->getSampleData(0, data);
        return decodeTextSample(data);
    };
    auto s1 = sampleOf(*first);
    auto s3 = sampleOf(*third);
    ASSERT_TRUE(s1 && s3);
    EXPECT_EQ(s3->text, "Three");
    EXPECT_EQ(s3->size, 40);
    EXPECT_EQ(s3->displayFlags & 0x6000u, 0x6000u);
    EXPECT_EQ(s3->textBox, (Rect{0, 0, 320, 240}));
    EXPECT_EQ(record(*third).tracks().front()->offset(), 1200);
}

namespace {

// Where the pixels that pass a test lie: their count, bounds and mean column.
struct Ink {
    int count = 0;
    Rect bounds;
    double meanX = 0;
};

template <class Test> Ink inkOf(const Pixmap& p, Test test)
{
    Ink ink;
    bool first = true;
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = 0; x < p.width(); ++x) {
            if (!test(p.pixel(x, y))) continue;
            ++ink.count;
            ink.meanX += x;
            ink.bounds =
                first ? Rect{x, y, x + 1, y + 1} : unite(ink.bounds, Rect{x, y, x + 1, y + 1});
            first = false;
        }
    if (ink.count) ink.meanX /= ink.count;
    return ink;
}

bool lit(uint32_t p) { return redOf(p) > 100 || greenOf(p) > 100 || blueOf(p) > 100; }

} // namespace

TEST_F(ClipFixture, TitleStylesShowInThePicture)
{
    TitleStyle style;
    style.size = 80;
    style.textColor = {255, 128, 0};
    style.backColor = {0, 0, 255};
    ZEFTitlerEffect* centred = title("HH", style, 0, 600);
    style.justification = -1; // right
    title("HH", style, 600, 1200);
    style.justification = 1;
    style.displayFlags = 64; // scroll out, after holding still for half the title
    style.scrollDelay = 50;
    style.delayEnabled = 1;
    title("HH", style, 1200, 1800);
    // White with a solid shadow of 10 % of the font size, over a blue picture, in a box that
    // the title track's keyframes scale to half size: the font and its shadow shrink alike.
    style = TitleStyle();
    style.size = 80;
    style.displayFlags = 4096;
    style.shadowX = style.shadowY = 10;
    title("HH", style, 2400, 3000);
    clip(media::jpegStill(), 0, 2400, 3000);
    project.insertKeyframe(kTitleTrack, EditTime(1800), MatrixRecord::identity(), false);
    project.insertKeyframe(kTitleTrack, EditTime(2400),
                           MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2), false);
    refresh();

    // The record's 8-bit colours come out exactly, full intensity included.
    const Ink orange = inkOf(picture(300), [](uint32_t p) { return p == argb(255, 255, 128, 0); });
    EXPECT_GT(orange.count, 200);
    std::vector<uint8_t> data;
    record(*centred).tracks().front()->media()->getSampleData(0, data);
    const auto sample = decodeTextSample(data);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->backColor, (TextColor{0, 0, 0xFFFF}));

    EXPECT_NEAR(inkOf(picture(300), lit).meanX, 160, 10);
    EXPECT_GT(inkOf(picture(900), lit).meanX, 230) << "right-justified";

    const Rect still = inkOf(picture(1260), lit).bounds;
    EXPECT_EQ(inkOf(picture(1470), lit).bounds, still) << "held still through the delay";
    const Ink leaving = inkOf(picture(1680), lit);
    EXPECT_TRUE(leaving.count == 0 || leaving.bounds.bottom < still.bottom - 20);

    const Pixmap shadowed = picture(2700);
    const Ink text = inkOf(shadowed, [](uint32_t p) { return redOf(p) > 200 && blueOf(p) > 200; });
    const Ink shadow = inkOf(shadowed, [](uint32_t p) { return blueOf(p) < 60; });
    ASSERT_GT(text.count, 50);
    ASSERT_GT(shadow.count, 20);
    EXPECT_LT(text.bounds.right, 165) << "drawn at half size";
    EXPECT_NEAR(shadow.bounds.right - text.bounds.right, 4, 1);
    EXPECT_NEAR(shadow.bounds.bottom - text.bounds.bottom, 4, 1);
}

TEST_F(ClipFixture, TitlesThatATextSampleCannotHoldFailWithAMessage)
{
    auto failure = [&] {
        try {
            builder.buildRenderMovie();
        } catch (const ZEFException& e) {
            return std::string(e.message());
        }
        return std::string("built");
    };
    ZEFTitlerEffect* t = title(std::string(70000, 'x'), TitleStyle(), 0, 600);
    EXPECT_EQ(failure(), "The text of a title is longer than 65535 bytes");
    t->setText("Wide");
    project.insertKeyframe(kTitleTrack, EditTime(0), MatrixRecord::scaling(200 * kFixed1, kFixed1),
                           false);
    EXPECT_EQ(failure(),
              "The text box of a title lies outside the range of -32768 to 32767 pixels");
}

TEST_F(ClipFixture, BuildingAgainOpensNoMediaFileUntilTheFileChanges)
{
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "rebuild-opens";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "clip.mp4").string();
    std::filesystem::copy_file(media::h264Movie(), path);
    ZEFSourceItem* a = clip(path, 0, 0, 600);
    ZEFSourceItem* b = clip(path, 1, 0, 600);
    refresh();

    zef::testing::FileOpenWatch opens(dir.string());
    ASSERT_TRUE(opens.valid());
    project.itemChanged(a, false, true);
    project.itemChanged(b, false, true);
    refresh();
    ASSERT_TRUE(a->isBuilt());
    ASSERT_TRUE(b->isBuilt());
    EXPECT_EQ(opens.takeOpens(), 0);

    // Another file under the same name is opened again, and its pictures show.
    std::filesystem::copy_file(media::turnedPortrait(), path,
                               std::filesystem::copy_options::overwrite_existing);
    a->setMatrix(0, MatrixRecord::identity());
    a->setMatrix(1, MatrixRecord::identity());
    project.itemChanged(a, false, true);
    project.itemChanged(b, false, true);
    refresh();
    EXPECT_GT(opens.takeOpens(), 0);
    EXPECT_EQ(zef::movies::testing::frameNumberOf(picture(0)), 0);
}
