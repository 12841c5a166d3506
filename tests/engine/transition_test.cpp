#include "engine/effect_catalogue.h"
#include "engine/effect_tracks.h"
#include "engine/item_tracks.h"
#include "model/project.h"
#include "model/zef_exception.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/input_map.h"

#include <gtest/gtest.h>

using namespace zef;
using namespace zef::movies;

namespace {

void noRender(const EffectContext&) {}

EffectRegistry registryWithShift()
{
    EffectRegistry r = EffectRegistry::withBuiltIns();
    EffectDescriptor d;
    d.code = fourcc("shft");
    d.name = "Shift";
    d.manufacturer = fourcc("test");
    d.sources = 2;
    d.render = noRender;
    r.add(d);
    return r;
}

struct TransitionFixture : ::testing::Test {
    EffectRegistry registry = registryWithShift();
    FEffectCatalogue catalogue{registry};
    FProject project;
    Movie movie;
    BuildContext ctx;

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        ctx.movie = &movie;
        ctx.width = 40;
        ctx.height = 30;
        ctx.registry = &registry;
    }
    ZEFItem* place(int64_t start, int64_t end)
    {
        auto item = std::make_unique<ZEFEffectItem>(&project, 0);
        item->setName("Solid Colour");
        ZEFItem* p = item.get();
        project.addItem(std::move(item), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    }
    Track* clipTrack(uint8_t r, uint8_t g, uint8_t b, const ZEFItem& item)
    {
        Track* t = newBuilderTrack(ctx, VideoMediaType, 0);
        const TimeValue start = item.getStart().ticks();
        EXPECT_EQ(appendColourSample(*t, r, g, b, start, item.getEnd().ticks() - start), noErr);
        return t;
    }
    uint32_t pixelAt(TimeValue t)
    {
        EvaluationContext ec;
        Pixmap out;
        EXPECT_EQ(evaluate(ec, movie, t, out), noErr);
        return out.isEmpty() ? 0 : out.pixel(20, 15) & 0xFFFFFF;
    }
    OSType effectTypeAt(const Track& t, TimeValue time)
    {
        TrackPosition pos;
        if (!t.lookup(time, pos) || !pos.media) return 0;
        auto d = pos.media->imageDescription(pos.media->sample(pos.sampleIndex)->descriptionIndex);
        return d ? d->cType : 0;
    }
};

} // namespace

TEST_F(TransitionFixture, HeadOverlapAndTailPlayThroughTheEffectTrack)
{
    ZEFItem* out = place(0, 1200);
    ZEFItem* in = place(600, 1800);
    Track* red = clipTrack(255, 0, 0, *out);
    Track* blue = clipTrack(0, 0, 255, *in);
    Track* motion = newBuilderTrack(ctx, TweenMediaType, 0);
    ctx.motion[0] = motion;
    ASSERT_TRUE(buildTransition(ctx, *in, *red, *blue, nullptr));
    ASSERT_EQ(movie.trackCount(), 4u);
    Track* effect = movie.indTrack(4);

    const std::vector<Edit>& edits = effect->edits();
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits[0].duration, 600);
    EXPECT_EQ(edits[0].media, red->media()); // the head is the outgoing clip itself
    EXPECT_EQ(edits[1].duration, 600);
    EXPECT_EQ(edits[1].media, effect->media());
    EXPECT_EQ(effectTypeAt(*effect, 900), fourcc("dslv"));
    EXPECT_EQ(edits[2].media, blue->media());
    EXPECT_EQ(edits[2].duration, 600);

    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(effect->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(effect->reference(kTrackReferenceModifier, entries[0].referenceIndex), red);
    EXPECT_EQ(entries[0].sourceName, kSourceA);
    EXPECT_EQ(effect->reference(kTrackReferenceModifier, entries[1].referenceIndex), blue);
    EXPECT_EQ(entries[1].sourceName, kSourceB);
    EXPECT_EQ(entries[2].inputType, kTrackModifierTypeMatrix);
    EXPECT_EQ(effect->reference(kTrackReferenceModifier, entries[2].referenceIndex), motion);

    EXPECT_EQ(pixelAt(300), 0xFF0000u);
    EXPECT_EQ(pixelAt(1500), 0x0000FFu);
    const uint32_t mid = pixelAt(900);
    EXPECT_GT((mid >> 16) & 0xFF, 60u);
    EXPECT_GT(mid & 0xFF, 60u);
}

TEST_F(TransitionFixture, TouchingItemsBuildNothing)
{
    ZEFItem* out = place(0, 600);
    ZEFItem* in = place(600, 1200);
    Track* a = clipTrack(255, 0, 0, *out);
    Track* b = clipTrack(0, 0, 255, *in);
    EXPECT_FALSE(buildTransition(ctx, *in, *a, *b, nullptr));
    EXPECT_EQ(movie.trackCount(), 2u);
    EXPECT_EQ(pixelAt(300), 0xFF0000u);
    EXPECT_EQ(pixelAt(900), 0x0000FFu);
}

TEST_F(TransitionFixture, UnlistedTypePreviewsAsCrossFadeAndRendersAsItself)
{
    ZEFItem* out = place(0, 1200);
    ZEFItem* in = place(600, 1800);
    out->transition()->setName("Shift");
    ASSERT_EQ(out->transition()->effectInfo().effectType, fourcc("shft"));

    for (bool preview : {true, false}) {
        Movie m;
        BuildContext c = ctx;
        c.movie = &m;
        c.preview = preview;
        c.transitionsAsCrossFades = true;
        std::swap(ctx, c);
        Track* a = clipTrack(255, 0, 0, *out);
        Track* b = clipTrack(0, 0, 255, *in);
        ASSERT_TRUE(buildTransition(ctx, *in, *a, *b, nullptr));
        EXPECT_EQ(effectTypeAt(*m.indTrack(3), 900), preview ? fourcc("dslv") : fourcc("shft"));
        std::swap(ctx, c);
    }
    // Listed types keep their own effect in the preview too.
    out->transition()->setName("Slide");
    ctx.preview = true;
    ctx.transitionsAsCrossFades = true;
    Track* a = clipTrack(255, 0, 0, *out);
    Track* b = clipTrack(0, 0, 255, *in);
    ASSERT_TRUE(buildTransition(ctx, *in, *a, *b, nullptr));
    EXPECT_EQ(effectTypeAt(*movie.indTrack(3), 900), fourcc("slid"));
}

TEST_F(TransitionFixture, FilteredClipsPassThroughGainAndZeroTailMakesNoSecondTrack)
{
    ZEFItem* first = place(0, 1200);
    ZEFItem* second = place(600, 1800);
    ZEFItem* third = place(1200, 2400);
    for (ZEFItem* item : {first, second}) {
        auto filter = std::make_unique<ZEFEffectItem>(&project, 0, item);
        filter->setName("Blur");
        item->addFilter(std::move(filter));
    }
    Track* a = clipTrack(255, 0, 0, *first);
    Track* b = clipTrack(0, 0, 255, *second);
    // The second clip's tail ends where the third clip's transition starts: length 0.
    ASSERT_TRUE(buildTransition(ctx, *second, *a, *b, nullptr));
    EXPECT_EQ(movie.trackCount(), 3u);

    // With room for a tail, the filtered incoming clip gets a pass-through track of its own.
    third->assignStart(EditTime(1500));
    Movie m;
    ctx.movie = &m;
    Track* motion = newBuilderTrack(ctx, TweenMediaType, 0);
    ctx.motion[0] = motion;
    a = clipTrack(255, 0, 0, *first);
    b = clipTrack(0, 0, 255, *second);
    ASSERT_TRUE(buildTransition(ctx, *second, *a, *b, nullptr));
    ASSERT_EQ(m.trackCount(), 5u);
    Track* effect = m.indTrack(4);
    Track* tail = m.indTrack(5);
    EXPECT_EQ(effectTypeAt(*effect, 300), fourcc("gain"));
    EXPECT_EQ(effectTypeAt(*effect, 900), fourcc("dslv"));
    EXPECT_EQ(effect->duration(), 1200);
    EXPECT_EQ(tail->layer(), kTransitionTailLayer);
    EXPECT_EQ(tail->offset(), 1200);
    EXPECT_EQ(tail->duration(), 1500);
    EXPECT_EQ(effectTypeAt(*tail, 1300), fourcc("gain"));
    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(tail->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(tail->reference(kTrackReferenceModifier, entries[0].referenceIndex), b);
    EXPECT_EQ(tail->reference(kTrackReferenceModifier, entries[1].referenceIndex), motion);
    EXPECT_EQ(entries[1].inputType, kTrackModifierTypeMatrix);
}

TEST_F(TransitionFixture, AnUnimplementedTransitionStopsTheBuild)
{
    ZEFItem* out = place(0, 1200);
    ZEFItem* in = place(600, 1800);
    out->transition()->setName("Black"); // no type
    Track* a = clipTrack(255, 0, 0, *out);
    Track* b = clipTrack(0, 0, 255, *in);
    try {
        buildTransition(ctx, *in, *a, *b, nullptr);
        FAIL() << "no exception";
    } catch (const ZEFException& e) {
        EXPECT_STREQ(e.what(), "Cannot add effect to temporary file");
    }
}

TEST_F(TransitionFixture, TransitionsOfOverlayLayersStayInFrontOfLayerA)
{
    auto place1 = [&](int64_t start, int64_t end) {
        auto item = std::make_unique<ZEFEffectItem>(&project, 1);
        item->setName("Solid Colour");
        ZEFItem* p = item.get();
        project.addItem(std::move(item), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    };
    Track* background = clipTrack(0, 255, 0, *place(0, 1800)); // layer A, green
    place1(0, 1200);
    ZEFItem* in = place1(600, 1800);
    Track* a = newBuilderTrack(ctx, VideoMediaType, clipLayer(1));
    appendColourSample(*a, 255, 0, 0, 0, 1200);
    Track* b = newBuilderTrack(ctx, VideoMediaType, clipLayer(1));
    appendColourSample(*b, 0, 0, 255, 600, 1200);
    ASSERT_TRUE(buildTransition(ctx, *in, *a, *b, nullptr));
    EXPECT_EQ(movie.indTrack(4)->layer(), -3);
    EXPECT_EQ(pixelAt(300), 0xFF0000u);
    EXPECT_EQ(pixelAt(1500), 0x0000FFu);
    EXPECT_EQ(background->layer(), 0);
}
