#include "model_fixture.h"

#include "model/zef_exception.h"
#include "platform/storage/stream.h"

using namespace zef;
using namespace zef::test;

namespace {

struct Component : EffectComponent {
    explicit Component(int& open) : open(open) { ++open; }
    ~Component() override { --open; }
    int& open;
};

struct Catalogue : EffectLookup {
    mutable int open = 0;
    bool findEffect(const std::string& name, CPluginQT& entry) const override
    {
        if (name != "Cross Fade" && name != "Blur") return false;
        entry = CPluginQT{};
        entry.sources = name == "Blur" ? 1 : 2;
        entry.effectType = movies::fourcc(name == "Blur" ? "blur" : "dslv");
        entry.setNameText(name);
        return true;
    }
    movies::Handle makeEffectDescription(const CPluginQT& e) const override
    {
        std::string d = e.sources == 2 ? "srcA srcB" : "srcA";
        return movies::Handle(d.data(), d.size());
    }
    std::unique_ptr<EffectComponent> openEffect(const CPluginQT&) const override
    {
        return std::make_unique<Component>(open);
    }
};

} // namespace

using ItemTest = ModelTest;

TEST_F(ItemTest, EveryPlacedItemCarriesACrossFadeThatHasNoTransitionOfItsOwn)
{
    for (int32_t track = 0; track < kTrackCount; ++track) {
        ZEFItem* item = place(track, 0, 600);
        ASSERT_NE(item->transition(), nullptr);
        EXPECT_EQ(item->transition()->name(), "Cross Fade");
        EXPECT_EQ(item->transition()->owner(), item);
        EXPECT_EQ(item->transition()->transition(), nullptr);
    }
    auto filter = std::make_unique<ZEFEffectItem>(&project, kLayerA, project.device(0).at(0));
    EXPECT_EQ(filter->transition(), nullptr);
    // Without a catalogue the name stays and the entry is empty.
    EXPECT_EQ(filter->effectInfo().sources, 0);
    filter->setName("Blur");
    EXPECT_EQ(filter->name(), "Blur");
    EXPECT_EQ(filter->effectInfo().effectType, 0u);
}

TEST_F(ItemTest, EffectNamesResolveThroughTheCatalogue)
{
    Catalogue catalogue;
    project.setEffectCatalogue(&catalogue);
    ZEFItem* item = place(kLayerA, 0, 600);
    ZEFEffectItem* t = item->transition();
    EXPECT_EQ(t->sourceCount(), 2);
    EXPECT_EQ(t->effectInfo().effectType, movies::fourcc("dslv"));
    EXPECT_EQ(
        std::string(t->effectDescription().bytes().begin(), t->effectDescription().bytes().end()),
        "srcA srcB");
    EXPECT_NE(t->componentInstance(), nullptr);
    EXPECT_EQ(catalogue.open, 1);

    t->setEffectParameters(movies::Handle("p", 1));
    t->releaseComposition(); // closes the component, keeps the settings
    EXPECT_EQ(catalogue.open, 0);
    EXPECT_FALSE(t->effectParameters().isNull());
    EXPECT_FALSE(t->effectDescription().isNull());

    t->setName("No Such Effect");
    EXPECT_EQ(t->name(), "No Such Effect");
    EXPECT_EQ(t->sourceCount(), 0);
    EXPECT_TRUE(t->effectDescription().isNull());
    EXPECT_EQ(catalogue.open, 0);
}

TEST_F(ItemTest, MovesStopAtNeighboursExceptLayerAOverlaps)
{
    ZEFItem* b0 = place(kLayerB, 0, 600);
    place(kLayerB, 900, 1500);
    b0->moveTo(EditTime(1000), false);
    EXPECT_EQ(spans(kLayerB), (Spans{{300, 900}, {900, 1500}}));

    ZEFItem* a0 = place(kLayerA, 0, 600);
    ZEFItem* a1 = place(kLayerA, 900, 2100);
    a0->moveTo(EditTime(1000), false); // may overlap a1 but not pass its start
    EXPECT_EQ(spans(kLayerA), (Spans{{900, 1500}, {900, 2100}}));
    a0->moveTo(EditTime(-300), false); // negative times become 0
    EXPECT_EQ(a0->getStart().ticks(), 0);

    // Earlier on Layer A: not before the previous end minus the own duration.
    a1->moveTo(EditTime(1200), false);
    ZEFItem* a2 = place(kLayerA, 2400, 3000);
    a2->moveTo(EditTime(100), false);
    EXPECT_EQ(a2->getStart().ticks(), 1800); // the previous end 2400 minus its 600 ticks
    EXPECT_EQ(project.checkConsistency(), "");
}

TEST_F(ItemTest, MovesReportRebuildOnlyForLayerANeighbours)
{
    ZEFItem* b = place(kLayerB, 0, 600);
    StateLog& bLog = attach(b);
    b->moveTo(EditTime(300), false);
    EXPECT_TRUE(bLog.alive); // re-offset only
    EXPECT_EQ(bLog.offsets, (std::vector<int64_t>{300}));

    ZEFItem* a = place(kLayerA, 0, 600);
    place(kLayerA, 1200, 1800);
    StateLog& aLog = attach(a);
    a->moveTo(EditTime(300), false);
    EXPECT_FALSE(aLog.alive); // had a neighbour in the direction of the move: rebuilt
    ASSERT_FALSE(views.changed.empty());
    EXPECT_EQ(views.changed.back(), a);
}

TEST_F(ItemTest, RippleShiftLimitsANegativeDeltaToTheStart)
{
    ZEFItem* first = place(kLayerB, 40, 100);
    place(kLayerB, 200, 300);
    place(kLayerB, 300, 900);
    EXPECT_EQ(first->rippleShift(-100), -40);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 60}, {160, 260}, {260, 860}}));
    EXPECT_EQ(project.device(kLayerB).at(1)->rippleShift(600), 600);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 60}, {760, 860}, {860, 1460}}));
}

TEST_F(ItemTest, PushShiftPushesLaterItemsAndPullsEarlierOnesWithoutGrowingOverlaps)
{
    ZEFItem* b0 = place(kLayerB, 0, 100);
    place(kLayerB, 100, 200);
    ZEFItem* b2 = place(kLayerB, 500, 600);
    EXPECT_EQ(b0->pushShift(50), 50);
    EXPECT_EQ(spans(kLayerB), (Spans{{50, 150}, {150, 250}, {550, 650}}));
    // Earlier: everything before moves first; nothing goes below 0 or into its predecessor.
    EXPECT_EQ(b2->pushShift(-500), -500);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 100}, {100, 200}, {200, 300}}));

    place(kLayerA, 300, 900);
    ZEFItem* a1 = place(kLayerA, 700, 1300); // overlaps by 200
    ZEFItem* a2 = place(kLayerA, 1500, 2100);
    a1->pushShift(-200);
    EXPECT_EQ(spans(kLayerA), (Spans{{100, 700}, {500, 1100}, {1500, 2100}}));
    a2->pushShift(-1000); // the first item stops at 0, the overlap stays 200
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 600}, {400, 1000}, {1000, 1600}}));
}

TEST_F(ItemTest, MoveWithPushUsesPushShift)
{
    place(kLayerB, 0, 100);
    ZEFItem* b1 = place(kLayerB, 200, 300);
    ZEFItem* b2 = place(kLayerB, 300, 400);
    b1->moveTo(EditTime(40), true);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 100}, {100, 200}, {300, 400}}));
    b1->moveTo(EditTime(400), true); // later: pushes every following item by the delta
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 100}, {400, 500}, {600, 700}}));
    EXPECT_EQ(b2->getStart().ticks(), 600);
}

TEST_F(ItemTest, TrimsOnOverlayTracksInAllThreeModes)
{
    place(kLayerB, 200, 500);
    ZEFItem* b1 = place(kLayerB, 600, 1200);
    place(kLayerB, 1500, 2100);

    EXPECT_EQ(b1->trimEnd(EditTime(1800), kTrimStop, false).ticks(), 1500);
    EXPECT_EQ(b1->trimStart(EditTime(300), kTrimStop, false).ticks(), 500);
    EXPECT_EQ(spans(kLayerB), (Spans{{200, 500}, {500, 1500}, {1500, 2100}}));
    ASSERT_FALSE(views.seeks.empty());
    EXPECT_EQ(views.seeks.back().ticks(), 500);

    EXPECT_EQ(b1->trimEnd(EditTime(1800), kTrimPush, false).ticks(), 1800);
    EXPECT_EQ(b1->trimStart(EditTime(300), kTrimPush, false).ticks(), 300);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 300}, {300, 1800}, {1800, 2400}}));

    // Free mode ignores neighbours and does not move the preview.
    size_t seeks = views.seeks.size();
    EXPECT_EQ(b1->trimEnd(EditTime(2000), kTrimFree, false).ticks(), 2000);
    EXPECT_EQ(views.seeks.size(), seeks);
    b1->trimEnd(EditTime(1800), kTrimFree, false);

    // Times snap to frames and stay within the item.
    EXPECT_EQ(b1->trimEnd(EditTime::raw(1011), kTrimStop, false).ticks(), 1020);
    EXPECT_EQ(b1->trimEnd(EditTime(100), kTrimStop, false).ticks(), 300);
    EXPECT_EQ(b1->trimStart(EditTime(5000), kTrimStop, false).ticks(), 300);
}

TEST_F(ItemTest, TrimsOnLayerAKeepTransitionsBetweenNeighboursOnly)
{
    ZEFItem* a = place(kLayerA, 0, 600);
    ZEFItem* b = place(kLayerA, 300, 1200);
    ZEFItem* c = place(kLayerA, 1200, 1800);

    // The end stops at the start of the item after the next one.
    EXPECT_EQ(a->trimEnd(EditTime(1500), kTrimStop, false).ticks(), 1200);
    // Not before the previous item's end.
    EXPECT_EQ(b->trimEnd(EditTime(400), kTrimStop, false).ticks(), 1200);
    a->trimEnd(EditTime(600), kTrimStop, false);
    EXPECT_EQ(b->trimEnd(EditTime(400), kTrimStop, false).ticks(), 600);
    b->trimEnd(EditTime(1200), kTrimStop, false);
    // A start may overlap the previous item but not reach into the one before it.
    EXPECT_EQ(c->trimStart(EditTime(100), kTrimStop, false).ticks(), 600);
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 600}, {300, 1200}, {600, 1800}}));
    EXPECT_EQ(project.checkConsistency(), "");

    // Pushing: the item after next and the next item make room.
    c->trimStart(EditTime(1200), kTrimStop, false);
    EXPECT_EQ(a->trimEnd(EditTime(1500), kTrimPush, false).ticks(), 1500);
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 1500}, {600, 1500}, {1800, 2400}}));
}

TEST_F(ItemTest, TrimStartOnLayerAPushesEarlierItemsBack)
{
    place(kLayerA, 600, 1200);
    place(kLayerA, 900, 1800);
    ZEFItem* c = place(kLayerA, 1800, 2400);
    EXPECT_EQ(c->trimStart(EditTime(700), kTrimPush, false).ticks(), 700);
    EXPECT_EQ(spans(kLayerA), (Spans{{100, 700}, {700, 1600}, {700, 2400}}));
}

TEST_F(ItemTest, ClampedTrimsMoveTheSourcePoints)
{
    ZEFSourceItem* c = static_cast<ZEFSourceItem*>(project.device(kLayerB).at(
        size_t(project.addItem(clip(kLayerB, "/m/a.mov", 300), false, false))));
    EXPECT_EQ(c->mediaDuration().ticks(), 6000);
    // Not beyond the media.
    EXPECT_EQ(c->trimEnd(EditTime(8000), kTrimStop, true).ticks(), 6000);
    EXPECT_EQ(c->trimEnd(EditTime(3000), kTrimStop, true).ticks(), 3000);
    EXPECT_EQ(c->sourceOut().ticks(), 3000);
    EXPECT_EQ(c->trimStart(EditTime(600), kTrimStop, true).ticks(), 600);
    EXPECT_EQ(c->sourceIn().ticks(), 600);
    EXPECT_EQ(c->sourceIn().rateNum(), 30);
    // The start can go back only as far as the media reaches.
    c->moveTo(EditTime(1200), false);
    EXPECT_EQ(c->earliestStart().ticks(), 600);
    EXPECT_EQ(c->trimStart(EditTime(0), kTrimStop, true).ticks(), 600);
    EXPECT_EQ(c->sourceIn().ticks(), 0);
    // Without clamp the source range stays.
    c->trimEnd(EditTime(2400), kTrimStop, false);
    EXPECT_EQ(c->sourceOut().ticks(), 3000);
}

TEST_F(ItemTest, ClampedTrimsOfAScaledClipMoveTheSourcePointsByDeltaOverFactor)
{
    ZEFSourceItem* c = static_cast<ZEFSourceItem*>(project.device(kLayerB).at(
        size_t(project.addItem(clip(kLayerB, "/m/a.mov", 300), false, false))));
    c->setScaleType(1);
    c->setScaleFactor(1.5f); // 10 s of media last 15 s
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 9000}}));
    EXPECT_EQ(c->trimEnd(EditTime(6000), kTrimStop, true).ticks(), 6000);
    EXPECT_EQ(c->sourceOut().ticks(), 6000 - 3000 * 2 / 3);
    EXPECT_EQ(c->trimStart(EditTime(1200), kTrimStop, true).ticks(), 1200);
    EXPECT_EQ(c->sourceIn().ticks(), 1200 * 2 / 3);
    // As far as the media reaches, at the factor: back to 0 and out to 9000.
    EXPECT_EQ(c->trimStart(EditTime(0), kTrimStop, true).ticks(), 0);
    EXPECT_EQ(c->sourceIn().ticks(), 0);
    EXPECT_EQ(c->trimEnd(EditTime(20000), kTrimStop, true).ticks(), 9000);
    EXPECT_EQ(c->sourceOut().ticks(), 6000);
}

TEST_F(ItemTest, StillTrimmedWithClampIsRetimedToTheDuration)
{
    auto still = clip(kLayerB, "/m/p.png", 1);
    ZEFSourceItem* s = still.get();
    project.addItem(std::move(still), false, false);
    ASSERT_EQ(s->mediaDuration().ticks(), 20);
    EXPECT_EQ(s->trimEnd(EditTime(3000), kTrimStop, true).ticks(), 3000);
    EXPECT_EQ(s->scaleType(), 2);
    EXPECT_FLOAT_EQ(s->scaleFactor(), 3000.0f / 20.0f);
    EXPECT_EQ(s->sourceIn().ticks(), 0);
    EXPECT_EQ(s->sourceOut().ticks(), 20);
    EditTime none;
    EXPECT_FALSE(s->latestEnd(none));
}

TEST_F(ItemTest, InvalidClipKeepsItsTimesAndSourceRange)
{
    auto c = clip(kLayerB, "/gone/a.mov", 300);
    c->setInvalid(true);
    ZEFSourceItem* s = c.get();
    project.addItem(std::move(c), false, false);
    EXPECT_EQ(s->trimEnd(EditTime(3000), kTrimStop, true).ticks(), 6000);
    EXPECT_EQ(s->trimStart(EditTime(600), kTrimPush, true).ticks(), 0);
    s->setSourceIn(EditTime(600));
    s->setSourceOut(EditTime(1200));
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 6000}}));
    EXPECT_EQ(s->sourceIn().ticks(), 0);
    EXPECT_EQ(s->mediaDuration().ticks(), 6000); // the out-point stands in for the media
}

TEST_F(ItemTest, SourceRangeAndFactorRetimeAndRippleTheTrack)
{
    ZEFSourceItem* s = static_cast<ZEFSourceItem*>(project.device(kLayerB).at(
        size_t(project.addItem(clip(kLayerB, "/m/a.mov", 300), false, false))));
    ZEFItem* after = place(kLayerB, 6000, 6600);
    s->setSourceIn(EditTime(1010, 30, 1)); // snapped at the media rate
    EXPECT_EQ(s->sourceIn().ticks(), 1020);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 4980}, {4980, 5580}}));
    s->setSourceOut(EditTime(3000, 30, 1));
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 1980}, {1980, 2580}}));
    s->setScaleType(1);
    s->setScaleFactor(2.0f);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 3960}, {3960, 4560}}));
    EXPECT_EQ(after->getStart().ticks(), 3960);
    EXPECT_THROW(s->setScaleFactor(0.0f), ZEFException);

    // Mapping between timeline and source, factor 2.
    s->moveTo(EditTime(0), false);
    EXPECT_EQ(s->timelineToSource(EditTime(1200), false).ticks(), 1020 + 600);
    EXPECT_EQ(s->timelineToSource(EditTime(1200), false).rateNum(), 30);
    EXPECT_EQ(s->sourceToTimeline(EditTime(1620, 30, 1)).ticks(), 1200);
    EXPECT_EQ(s->timelineToSource(EditTime(20000), true).ticks(), 6000);
    EXPECT_EQ(s->timelineToSource(EditTime::raw(-4000), true).ticks(), 0);
}

TEST_F(ItemTest, MediaDurationForAudioOnlyAndNoMedia)
{
    ZEFSourceItem s(&project, kLayerA);
    EXPECT_EQ(s.mediaDuration().ticks(), 0);
    MediaInfo audio;
    audio.audioRate = 44100;
    audio.audioSampleCount = 441000;
    s.setMediaInfo(audio);
    EXPECT_EQ(s.mediaDuration().ticks(), 6000);
    EXPECT_EQ(s.mediaDuration().rateNum(), 0);
}

namespace {

struct Media : ClipMedia {
    bool viaMovieToolbox() const override { return true; }
};

struct Opener : ClipOpener {
    MediaInfo info;
    bool ok = true, notAMovie = false;
    std::vector<std::string> paths;
    std::unique_ptr<ClipMedia> open(const std::string& path, int32_t, int32_t, MediaInfo& out,
                                    bool& noMovie) override
    {
        paths.push_back(path);
        noMovie = notAMovie;
        if (!ok) return nullptr;
        out = info;
        return std::make_unique<Media>();
    }
};

} // namespace

TEST_F(ItemTest, OpeningWithoutMediaFollowsTheCallersChoice)
{
    ZEFSourceItem s(&project, kGallery);
    s.setPath("/old/clips/a.mov");
    EXPECT_FALSE(s.activate());
    EXPECT_TRUE(s.invalid());

    try {
        s.open(false, true, true, true);
        FAIL();
    } catch (const ZEFException& e) {
        EXPECT_EQ(e.code(), 1);
        EXPECT_FALSE(e.hasMessage());
    }
    try {
        s.open(false, false, false, false);
        FAIL();
    } catch (const ZEFException& e) {
        EXPECT_STREQ(e.message(), "Cannot open file /old/clips/a.mov");
    }
    EXPECT_NO_THROW(s.open(false, false, true, false)); // kept, invalid
    EXPECT_TRUE(s.invalid());

    project.oldPrefixes = {"/elsewhere", "/old"};
    project.newPrefixes = {"/x", "/new"};
    try {
        s.open(false, false, true, true);
        FAIL();
    } catch (const ZEFException& e) {
        EXPECT_EQ(e.code(), 3);
    }
    EXPECT_EQ(s.path(), "/new/clips/a.mov");
}

TEST_F(ItemTest, OpeningWithDefaultsSetsUpAStill)
{
    Opener opener;
    opener.info.rateNum = 30;
    opener.info.frameCount = 1;
    opener.info.videoTrackCount = 1;
    opener.info.thumbWidth = 80;
    opener.info.thumbHeight = 60;
    project.setClipOpener(&opener);
    ZEFSourceItem s(&project, kGallery);
    s.setPath("/pics/holiday.jpeg");
    s.open(true, false, false, false);
    EXPECT_FALSE(s.invalid());
    EXPECT_EQ(s.scaleType(), 2);
    EXPECT_FLOAT_EQ(s.scaleFactor(), 60.0f);
    EXPECT_EQ(s.name(), "holiday");
    EXPECT_EQ(s.sourceOut().ticks(), 20);
    EXPECT_EQ(s.thumbnail().size(), 80u * 60u * 4u);
    EXPECT_TRUE(s.activate());

    opener.info = MediaInfo(); // neither video nor audio
    try {
        s.open(false, false, false, false);
        FAIL();
    } catch (const ZEFException& e) {
        EXPECT_STREQ(e.message(), "Invalid file");
        EXPECT_EQ(e.code(), 1);
    }
    opener.ok = false;
    opener.notAMovie = true;
    EXPECT_THROW(
        {
            try {
                s.open(false, false, false, false);
            } catch (const ZEFException& e) {
                EXPECT_STREQ(e.message(),
                             "Cannot open file /pics/holiday.jpeg\nUnsupported format.");
                throw;
            }
        },
        ZEFException);
}

TEST_F(ItemTest, ActivatingAnInvalidClipTriesItsFileAgain)
{
    Opener opener;
    opener.ok = false;
    opener.info.rateNum = 30;
    opener.info.frameCount = 90;
    opener.info.videoTrackCount = 1;
    opener.info.thumbWidth = 8;
    opener.info.thumbHeight = 6;
    project.setClipOpener(&opener);
    auto c = clip(kLayerB, "/media/unplugged.mov", 90);
    c->setInvalid(true);
    ZEFSourceItem* s = c.get();
    project.addItem(std::move(c), false, false);
    StateLog& built = attach(s);
    project.modified = false;

    EXPECT_FALSE(s->activate());
    EXPECT_TRUE(s->invalid());
    EXPECT_TRUE(built.alive);

    opener.ok = true; // the drive is back
    EXPECT_TRUE(s->activate());
    EXPECT_EQ(opener.paths,
              (std::vector<std::string>{"/media/unplugged.mov", "/media/unplugged.mov"}));
    EXPECT_FALSE(s->invalid());
    EXPECT_TRUE(s->isOpen());
    EXPECT_FALSE(built.alive) << "the tracks built without media are made again";
    EXPECT_EQ(s->thumbnail().size(), 8u * 6u * 4u);
    EXPECT_FALSE(project.modified) << "nothing stored has changed";
}

TEST_F(ItemTest, CloneIsDeepAndKeepsOwnership)
{
    auto c = clip(kLayerB, "/m/a.mov", 300);
    c->setVolume(100);
    c->setAuxHandle(movies::Handle(16));
    c->addFilter(std::make_unique<ZEFEffectItem>(&project, kLayerB, c.get()));
    c->filter(0)->setName("Blur");
    c->transition()->setName("Wipe");
    c->transition()->setEffectParameters(movies::Handle("abc", 3));
    auto copy = c->clone(nullptr);
    auto* s = dynamic_cast<ZEFSourceItem*>(copy.get());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->path(), "/m/a.mov");
    EXPECT_EQ(s->volume(), 100);
    EXPECT_EQ(s->auxHandle().size(), 16u);
    EXPECT_EQ(s->getEnd().ticks(), 6000);
    ASSERT_EQ(s->filterCount(), 1u);
    EXPECT_NE(s->filter(0), c->filter(0));
    EXPECT_EQ(s->filter(0)->owner(), s);
    EXPECT_EQ(s->filter(0)->name(), "Blur");
    EXPECT_NE(s->transition(), c->transition());
    EXPECT_EQ(s->transition()->owner(), s);
    EXPECT_EQ(s->transition()->name(), "Wipe");
    EXPECT_EQ(s->transition()->effectParameters(), c->transition()->effectParameters());

    ZEFTitlerEffect title(&project);
    title.setText("Hello\rWorld");
    auto titleCopy = title.clone(nullptr);
    ASSERT_NE(dynamic_cast<ZEFTitlerEffect*>(titleCopy.get()), nullptr);
    EXPECT_EQ(titleCopy->displayName(), "Hello...");
    ZEFItem base(&project, kLayerA);
    EXPECT_EQ(base.clone(nullptr), nullptr);
}

TEST_F(ItemTest, TitleNamesAndDecks)
{
    ZEFTitlerEffect title(&project);
    EXPECT_EQ(title.track(), kTitleTrack);
    title.setName("Title");
    EXPECT_EQ(title.displayName(), "Title");
    title.setText("One line");
    EXPECT_EQ(title.displayName(), "One line");
    TitleStyle st;
    st.size = 72;
    st.displayFlags = 4096 | 32;
    title.setStyle(st);
    EXPECT_EQ(title.style().size, 72);
    EXPECT_EQ(title.style().displayFlags, 4096u | 32u);
    EXPECT_EQ(title.effectDescription().size(), 96u);
    EXPECT_EQ(title.createDeck(false).kind, DeckRequest::Titler);
    EXPECT_EQ(title.createDeck(false).resource, 165);

    ZEFSourceItem s(&project, kLayerA);
    EXPECT_EQ(s.createDeck(false).resource, 199);
    DeckRequest t = s.createDeck(true);
    EXPECT_EQ(t.kind, DeckRequest::EffectSettings);
    EXPECT_EQ(t.item, s.transition());
}

TEST_F(ItemTest, TitleStyleRecordKeepsTheCompilersLayout)
{
    // A record as the titler of a C compiler's program stores it, byte by byte.
    std::vector<uint8_t> b(96, 0);
    b[0] = 3;                                 // font 3
    b[2] = 72;                                // size 72
    b[4] = 0x15;                              // bold, underline and an upper bit
    b[8] = 0xFF, b[9] = 0x80, b[10] = 0x01;   // text colour (255, 128, 1)
    b[12] = 0xFF, b[13] = 0xFF;               // right
    b[16] = 0x20, b[17] = 0x10, b[18] = 0x01; // flags 0x11020: in, shadow, a high bit
    b[20] = 50;                               // scroll delay 50 %
    b[22] = 1;                                // delay enabled
    b[24] = 0xF6, b[25] = 0xFF;               // shadow x -10 %
    b[26] = 20;                               // shadow y 20 %
    b[28] = 200;                              // shadow opacity
    b[30] = 1;                                // use previous settings
    b[32] = 0x10, b[33] = 0x20, b[34] = 0x30; // background colour
    ZEFTitlerEffect title(&project);
    title.setEffectDescription(movies::Handle(b.data(), b.size()));
    const TitleStyle st = title.style();
    EXPECT_EQ(st.font, 3);
    EXPECT_EQ(st.size, 72);
    EXPECT_EQ(st.style, 0x15);
    EXPECT_EQ(st.textColor, (TitleColor{255, 128, 1}));
    EXPECT_EQ(st.justification, -1);
    EXPECT_EQ(st.displayFlags, 0x11020u);
    EXPECT_EQ(st.scrollDelay, 50);
    EXPECT_EQ(st.delayEnabled, 1);
    EXPECT_EQ(st.shadowX, -10);
    EXPECT_EQ(st.shadowY, 20);
    EXPECT_EQ(st.shadowOpacity, 200);
    EXPECT_EQ(st.usePrevious, 1);
    EXPECT_EQ(st.backColor, (TitleColor{0x10, 0x20, 0x30}));
    const movies::Handle again = st.toHandle();
    EXPECT_EQ(std::vector<uint8_t>(again.bytes().begin(), again.bytes().end()), b)
        << "written back the same";
}

TEST_F(ItemTest, TrackRecordsRoundTrip)
{
    auto c = clip(kLayerB, "/media/a.mov", 300, 600);
    c->setScaleType(1);
    c->assignSourceRange(EditTime::raw(60, 30, 1), EditTime::raw(3000, 30, 1));
    c->setCropRect({0x1000, 0x2000, 0xF000, 0xE000});
    c->setMatrix(1, movies::MatrixRecord::translation(5 << 16, 7 << 16));
    c->setGraphicsMode(36);
    c->addFilter(std::make_unique<ZEFEffectItem>(&project, kLayerB, c.get()));
    c->filter(0)->setEffectParameters(movies::Handle("params", 6));
    project.addItem(std::move(c), false, false);
    place(kLayerB, 7000, 7600);
    project.insertKeyframe(kLayerB, EditTime(600), movies::MatrixRecord::translation(1, 2), false);

    storage::MemoryStream stream;
    storage::StreamWriter w(stream);
    project.device(kLayerB).save(w);
    ASSERT_TRUE(w.ok());

    FProject other;
    stream.rewind();
    storage::StreamReader r(stream);
    other.device(kLayerB).load(r, FProject::kFormatVersion);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(stream.tell(), stream.size());
    EXPECT_EQ(other.checkConsistency(), "");
    ASSERT_EQ(other.device(kLayerB).size(), 2u);
    auto* s = dynamic_cast<ZEFSourceItem*>(other.device(kLayerB).at(0));
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->invalid()); // the file is not there; the clip is kept with its settings
    EXPECT_EQ(s->path(), "/media/a.mov");
    EXPECT_EQ(s->getStart().ticks(), 600);
    EXPECT_EQ(s->sourceIn().ticks(), 60);
    EXPECT_EQ(s->sourceOut().ticks(), 3000);
    EXPECT_EQ(s->scaleType(), 1);
    EXPECT_EQ(s->cropRect()[3], 0xE000);
    EXPECT_EQ(s->matrix(1), movies::MatrixRecord::translation(5 << 16, 7 << 16));
    EXPECT_EQ(s->graphicsMode(), 36);
    ASSERT_EQ(s->filterCount(), 1u);
    EXPECT_EQ(s->filter(0)->effectParameters().size(), 6u);
    EXPECT_EQ(other.device(kLayerB).keyframes().size(), 1u);
    EXPECT_TRUE(other.device(kLayerB).enabled());

    // A damaged count fails the reader instead of allocating without bound.
    storage::MemoryStream bad;
    storage::StreamWriter bw(bad);
    bw.int32(0x7FFFFFFF);
    bad.rewind();
    storage::StreamReader br(bad);
    other.device(kLayerC).load(br, 9);
    EXPECT_FALSE(br.ok());
}

TEST_F(ItemTest, RippleShiftNeverRunsIntoThePreviousItem)
{
    place(kLayerB, 0, 600);
    ZEFItem* b1 = place(kLayerB, 900, 1200);
    place(kLayerB, 1200, 1500);
    EXPECT_EQ(b1->rippleShift(-600), -300);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 900}, {900, 1200}}));

    // Layer A: a removed middle item leaves its neighbours overlapping no further than the
    // rules allow.
    place(kLayerA, 300, 600);
    place(kLayerA, 360, 1800);
    place(kLayerA, 1500, 2400);
    EXPECT_TRUE(project.removeItemAt(kLayerA, 1, true));
    EXPECT_EQ(spans(kLayerA), (Spans{{300, 600}, {300, 1200}}));
}

TEST_F(ItemTest, VersionFourClipRecordsHaveShortTimesAndNoFitFlag)
{
    storage::MemoryStream s;
    storage::StreamWriter w(s);
    auto time4 = [&](int64_t ticks) {
        w.int64(ticks);
        w.int64(600);
        w.int32(30);
        w.int32(1);
    };
    auto base = [&](int32_t track, const char* name, int64_t start, int64_t end) {
        w.int32(track);
        w.string(name);
        time4(start);
        time4(end);
        w.int32(0x808080);
        w.int32(-1);
    };
    base(kLayerA, "old.mov", 600, 1200);
    base(kLayerA, "Cross Fade", 0, 0); // the transition
    w.blob({});
    w.blob({});
    w.int32(0); // no filters
    time4(0);   // sourceIn
    time4(600); // sourceOut
    w.string("/old/old.mov");
    w.micro(1.5);
    for (int32_t v : {1, 0, 0})
        w.int32(v);
    for (int i = 0; i < 2; ++i)
        for (const auto& row : movies::MatrixRecord::identity().m)
            for (int32_t v : row)
                w.int32(v);
    w.int32(256);
    for (int32_t v : {0, 0, 0x10000, 0x10000})
        w.int32(v);
    w.int32(0);    // placementMode, and the last field of a version-4 record
    w.int32(1234); // whatever follows the record
    s.rewind();

    storage::StreamReader r(s);
    ZEFSourceItem c(&project, kLayerB);
    c.load(r, 4);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.int32(), 1234);
    EXPECT_EQ(c.track(), kLayerA);
    EXPECT_EQ(c.getStart().ticks(), 600);
    EXPECT_EQ(c.sourceOut().ticks(), 600);
    EXPECT_EQ(c.path(), "/old/old.mov");
    EXPECT_FLOAT_EQ(c.scaleFactor(), 1.5f);
    EXPECT_FALSE(c.fitToAspect());
    EXPECT_EQ(c.transition()->name(), "Cross Fade");
}
