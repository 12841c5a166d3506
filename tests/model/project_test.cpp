#include "model_fixture.h"

#include "model/zef_exception.h"

using namespace zef;
using namespace zef::test;
using movies::MatrixRecord;

using ProjectTest = ModelTest;

TEST_F(ProjectTest, StartsUntitledWithDefaults)
{
    EXPECT_EQ(project.filePath, "Untitled");
    EXPECT_EQ(project.windowTitle(), "Untitled - ZEF Rondavo");
    EXPECT_EQ(project.defaultDuration.ticks(), 1200);
    EXPECT_FALSE(project.modified);
    EXPECT_TRUE(project.renderEndFollowsProject);
    EXPECT_EQ(project.formatMagic, 2);
    EXPECT_EQ(project.formatVersion, 9);
    EXPECT_EQ(project.composition().frameRate, 30 << 16);
    EXPECT_STREQ(FProject::trackName(0), "Layer A : Main Composite");
    EXPECT_STREQ(FProject::trackName(1), "Layer B : Overlay 1");
    EXPECT_STREQ(FProject::trackName(2), "Layer C : Overlay 2");
    EXPECT_STREQ(FProject::trackName(3), "Gallery");
    EXPECT_STREQ(FProject::trackName(4), "Layer T : Titles");
    EXPECT_STREQ(FProject::trackMenuName(3), "Gallery (X)");
    for (int32_t t = 0; t < kTrackCount; ++t) {
        EXPECT_EQ(project.device(t).index(), t);
        EXPECT_TRUE(project.device(t).enabled());
    }
    EXPECT_THROW(project.device(5), ZEFException);
    FProject other;
    EXPECT_THROW(project.addItem(std::make_unique<ZEFEffectItem>(&other, kLayerA), false, false),
                 ZEFException);
    EXPECT_THROW(project.addItem(std::make_unique<ZEFEffectItem>(&project, 9), false, false),
                 ZEFException);
    project.filePath = "/home/u/films/trip";
    EXPECT_EQ(project.windowTitle(), "trip - ZEF Rondavo");
}

TEST_F(ProjectTest, ReplaceSameFileIsCaseSensitive)
{
    project.addItem(clip(kGallery, "/cap/take.avi", 30), false, true);
    project.addItem(clip(kGallery, "/cap/TAKE.avi", 30), false, true);
    ZEFItem* first = project.device(kGallery).at(0);
    std::unique_ptr<ZEFItem> replaced;
    int32_t index = project.addItem(clip(kGallery, "/cap/take.avi", 60), true, true, &replaced);
    EXPECT_EQ(replaced.get(), first);
    ASSERT_EQ(project.device(kGallery).size(), 2u);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(static_cast<ZEFSourceItem*>(project.device(kGallery).at(0))->path(), "/cap/TAKE.avi");
    EXPECT_EQ(spans(kGallery), (Spans{{600, 1200}, {1200, 2400}}));
    ASSERT_FALSE(views.closed.empty());
    EXPECT_EQ(views.closed.back(), first);
    EXPECT_GE(views.lists[kGallery], 3);
}

TEST_F(ProjectTest, PlaceAtEndDoesNotDisturbEarlierItems)
{
    place(kLayerB, 0, 600);
    project.addItem(clip(kLayerB, "/m/late.mov", 30, 9000), false, true);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}}));
    project.addItem(clip(kLayerB, "/m/early.mov", 30, 0), false, true);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}, {1200, 1800}}));
}

TEST_F(ProjectTest, RemoveWithRippleClosesTheGapAndTheDecks)
{
    place(kLayerB, 0, 600);
    ZEFItem* middle = place(kLayerB, 600, 1500);
    place(kLayerB, 1500, 1800);
    EXPECT_FALSE(project.removeItemAt(kLayerB, 3, true));
    EXPECT_FALSE(project.removeItemAt(kLayerB, -1, true));
    EXPECT_FALSE(project.removeItemAt(7, 0, true));
    EXPECT_TRUE(project.removeItemAt(kLayerB, 1, true));
    EXPECT_EQ(views.closed.back(), middle);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 900}}));
    int previews = views.preview;
    EXPECT_TRUE(project.removeItemAt(kLayerB, 0, false, true));
    EXPECT_EQ(views.preview, previews + 1);
    EXPECT_EQ(spans(kLayerB), (Spans{{600, 900}}));
    project.clearTrack(kLayerB);
    EXPECT_TRUE(project.device(kLayerB).empty());
}

TEST_F(ProjectTest, MoveItemAcrossTracksShiftsBothTracks)
{
    place(kLayerB, 0, 600);
    ZEFItem* moving = place(kLayerB, 600, 2400); // 3 s
    place(kLayerB, 2400, 3000);
    place(kLayerC, 0, 1200);
    place(kLayerC, 1200, 1800);

    EXPECT_EQ(project.moveItem(kLayerB, 1, kLayerC, 0, false), 0);
    EXPECT_EQ(project.device(kLayerC).at(0), moving);
    EXPECT_EQ(moving->track(), kLayerC);
    EXPECT_EQ(spans(kLayerC), (Spans{{0, 1800}, {1800, 3000}, {3000, 3600}}));
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}}));
    EXPECT_GE(views.rows[kLayerB], 1);
    EXPECT_GE(views.rows[kLayerC], 1);
    EXPECT_EQ(project.checkConsistency(), "");

    // A copy to the end leaves the original in place.
    EXPECT_EQ(project.moveItem(kLayerC, 0, kLayerB, -1, true), 2);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}, {1200, 3000}}));
    EXPECT_EQ(project.device(kLayerC).size(), 3u);
    EXPECT_NE(project.device(kLayerB).at(2), moving);

    EXPECT_EQ(project.moveItem(kLayerB, -1, kLayerC, 0, false), -1);
    EXPECT_EQ(project.moveItem(kLayerB, 9, kLayerC, 0, false), -1);
}

TEST_F(ProjectTest, MoveIntoALayerATransitionStartsAfterTheOutgoingItem)
{
    place(kLayerA, 0, 600);
    place(kLayerA, 400, 1200); // a transition from 400 to 600
    place(kLayerB, 0, 300);
    EXPECT_EQ(project.moveItem(kLayerB, 0, kLayerA, 1, false), 1);
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 600}, {600, 900}, {900, 1700}}));
}

TEST_F(ProjectTest, ReorderItem)
{
    ZEFItem* first = place(kLayerB, 0, 300);
    place(kLayerB, 300, 900);
    place(kLayerB, 900, 1500);
    place(kLayerB, 1500, 2100);
    Spans before = spans(kLayerB);
    EXPECT_EQ(project.reorderItem(kLayerB, 2, 3, false), -1); // just after itself
    EXPECT_EQ(spans(kLayerB), before);

    EXPECT_EQ(project.reorderItem(kLayerB, 0, 3, false), 2);
    EXPECT_EQ(project.device(kLayerB).at(2), first);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}, {1200, 1500}, {1500, 2100}}));
    EXPECT_EQ(views.changed.back(), first);
}

TEST_F(ProjectTest, QueriesOverLayerATransitions)
{
    ZEFItem* a = place(kLayerA, 0, 600);
    ZEFItem* b = place(kLayerA, 400, 1200);
    place(kLayerA, 1200, 1800);
    place(kLayerB, 100, 200);

    EXPECT_EQ(project.itemIndexAt(kLayerA, EditTime(500)), 0);
    EXPECT_EQ(project.itemIndexAt(kLayerA, EditTime(600)), 1);
    EXPECT_EQ(project.itemIndexAt(kLayerA, EditTime(1800)), -1);
    EXPECT_EQ(project.itemAt(kLayerA, EditTime(1200)), project.device(kLayerA).at(2));
    EXPECT_EQ(project.firstEndingAfter(kLayerA, EditTime(700)), 1);
    EXPECT_EQ(project.firstEndingAfter(kLayerA, EditTime(5000)), 2);

    auto t = project.transitionAt(EditTime(500));
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->first, a);
    EXPECT_EQ(t->second, b);
    EXPECT_FALSE(project.transitionAt(EditTime(400)).has_value());
    EXPECT_FALSE(project.transitionAt(EditTime(1000)).has_value());

    EXPECT_EQ(project.nextEditPoint(EditTime(0), 0).ticks(), 400);
    EXPECT_EQ(project.nextEditPoint(EditTime(0), 1).ticks(), 100);
    EXPECT_EQ(project.nextEditPoint(EditTime(1200), 4).ticks(), 1800);
    EXPECT_EQ(project.nextEditPoint(EditTime(1800), 4).ticks(), 1800);
    EXPECT_EQ(project.previousEditPoint(EditTime(1200), 0).ticks(), 600);
    EXPECT_EQ(project.previousEditPoint(EditTime(0), 4).ticks(), 0);
}

TEST_F(ProjectTest, RenderEndFollowsTheProjectEnd)
{
    EXPECT_EQ(project.projectEnd().ticks(), 0);
    ZEFItem* c = place(kLayerC, 0, 6000);
    EXPECT_EQ(project.trackEnd(kLayerC).ticks(), 6000);
    EXPECT_EQ(project.projectEnd().ticks(), 6000);
    EXPECT_EQ(project.trackEnd(-1).ticks(), 6000);
    EXPECT_EQ(project.renderEnd.ticks(), 6000);
    EXPECT_GE(views.ruler, 1);
    c->trimEnd(EditTime(3000), kTrimStop, false);
    EXPECT_EQ(project.renderEnd.ticks(), 3000);
    project.renderEndFollowsProject = false;
    c->trimEnd(EditTime(4200), kTrimStop, false);
    EXPECT_EQ(project.renderEnd.ticks(), 3000);
    project.renderEndFollowsProject = true;
    project.updateRenderEnd();
    EXPECT_EQ(project.renderEnd.ticks(), 4200);
}

TEST_F(ProjectTest, ItemChangedReleasesOrReoffsetsAndNotifies)
{
    ZEFItem* i0 = place(kLayerB, 0, 600);
    ZEFItem* i1 = place(kLayerB, 600, 1200);
    ZEFItem* i2 = place(kLayerB, 1200, 1800);
    StateLog& l0 = attach(i0);
    StateLog& l1 = attach(i1);
    StateLog& l2 = attach(i2);
    project.modified = false;
    int changes = engine.changes;

    project.itemChanged(i0, true, false);
    EXPECT_TRUE(l0.alive);
    EXPECT_EQ(l0.offsets, (std::vector<int64_t>{0}));
    EXPECT_FALSE(l1.alive); // the next item's transition side changes too
    EXPECT_TRUE(l2.alive);
    EXPECT_TRUE(project.modified);
    EXPECT_EQ(engine.changes, changes + 1);
    EXPECT_EQ(views.changed.back(), i0);
    EXPECT_TRUE(engine.refreshed.empty());

    project.itemChanged(i2, false, true);
    EXPECT_FALSE(l2.alive);
    EXPECT_EQ(engine.refreshed, (std::vector<int32_t>{kLayerB}));

    StateLog& other = attach(place(kLayerA, 0, 600));
    StateLog& again = attach(i0);
    project.releaseComposition(kLayerB);
    EXPECT_FALSE(again.alive);
    EXPECT_TRUE(other.alive);
    project.releaseComposition(-1);
    EXPECT_FALSE(other.alive);
    EXPECT_EQ(engine.released, 1);
}

TEST_F(ProjectTest, SingleMoveSendsConstantNotifications)
{
    for (int i = 0; i < 1000; ++i)
        place(kLayerB, i * 600, i * 600 + 300);
    views = Recorder();
    int changes = engine.changes;
    project.device(kLayerB).at(500)->moveTo(EditTime(500 * 600 + 120), false);
    EXPECT_EQ(views.changed.size(), 1u);
    EXPECT_EQ(views.rows[kLayerB], 1);
    EXPECT_EQ(engine.changes, changes + 1);
}

TEST_F(ProjectTest, TrackEnablingHonoursSingleLayerPreview)
{
    StateLog& la = attach(place(kLayerA, 0, 600));
    StateLog& lb = attach(place(kLayerB, 0, 600));
    project.setTrackEnabled(kLayerB, false);
    EXPECT_FALSE(project.device(kLayerB).enabled());
    EXPECT_EQ(lb.enabled, 0);
    EXPECT_TRUE(project.device(kLayerA).enabled());

    settings.single = true;
    project.setTrackEnabled(kLayerB, true);
    EXPECT_TRUE(project.device(kLayerB).enabled());
    EXPECT_EQ(lb.enabled, 1);
    EXPECT_FALSE(project.device(kLayerA).enabled());
    EXPECT_EQ(la.enabled, 0);
    EXPECT_GE(views.timeline, 2);

    // Selecting an item shows it everywhere and, in single-layer preview, enables its layer.
    ZEFItem* a = project.device(kLayerA).at(0);
    project.selectItem(a, true);
    EXPECT_EQ(views.listed.back(), a);
    EXPECT_EQ(views.timelineSelected.back(), a);
    EXPECT_EQ(views.info.back(), a);
    EXPECT_EQ(views.parameters.back(), std::make_pair(a, true));
    EXPECT_TRUE(project.device(kLayerA).enabled());
    EXPECT_FALSE(project.device(kLayerB).enabled());
}

TEST_F(ProjectTest, EditFrameRateResnapsTheRenderRange)
{
    project.renderEndFollowsProject = false;
    project.renderStart = EditTime::raw(13, 25, 1);
    project.renderEnd = EditTime::raw(611, 25, 1);
    project.defaultDuration = EditTime::raw(1210, 25, 1);
    int clipDeck = views.clipDeck;
    project.setEditFrameRate(1964113); // 29.97
    EXPECT_EQ(project.composition().frameRate, 1964113);
    EXPECT_EQ(EditTime(0).effectiveNum(), 30);
    EXPECT_EQ(project.renderStart.rateNum(), 0);
    EXPECT_EQ(project.renderStart.ticks(), 20);
    EXPECT_EQ(project.renderEnd.ticks(), 620);
    EXPECT_EQ(project.defaultDuration.ticks(), 1210); // takes the rate, not snapped
    EXPECT_EQ(project.defaultDuration.rateNum(), 0);
    EXPECT_EQ(views.clipDeck, clipDeck + 1);
    project.setEditFrameRate(1964113);
    EXPECT_EQ(views.clipDeck, clipDeck + 1); // unchanged rate: no refresh
    project.setEditFrameRate(25 << 16);
    EXPECT_EQ(EditTime(13).ticks(), 24);
    EXPECT_THROW(project.setEditFrameRate(0), ZEFException);
    EXPECT_EQ(project.composition().frameRate, 25 << 16);
}

TEST_F(ProjectTest, OutputSizeAndRefit)
{
    auto c = clip(kLayerB, "/m/wide.mov", 30);
    MediaInfo info;
    info.rateNum = 30;
    info.frameCount = 30;
    info.imageDescription = movies::Handle(86);
    info.imageDescription.data()[32] = 640 >> 8;
    info.imageDescription.data()[33] = 640 & 0xFF;
    info.imageDescription.data()[35] = 240;
    c->setMediaInfo(info);
    c->fitToProjectAspect(); // 8:3 in a 4:3 frame: lowered to the middle half
    ZEFSourceItem* s = c.get();
    EXPECT_TRUE(s->fitToAspect());
    EXPECT_EQ(s->matrix(0).m[1][1], 0x8000);
    EXPECT_EQ(s->matrix(0).m[2][1], 250 << 16);
    project.addItem(std::move(c), false, false);
    StateLog& log = attach(s);

    CProjectTemplate wide = project.composition();
    wide.width = 640;
    wide.height = 240;
    project.setComposition(wide);
    engine.accept = false;
    project.applyOutputSize();
    EXPECT_EQ(log.size, std::make_pair(0, 0));
    engine.accept = true;
    project.applyOutputSize();
    EXPECT_EQ(log.size, std::make_pair(640, 240));

    int rows = views.rows[kLayerB];
    project.refitClips();
    EXPECT_EQ(s->matrix(0), MatrixRecord::identity());
    EXPECT_EQ(s->matrix(1), MatrixRecord::identity());
    EXPECT_EQ(views.rows[kLayerB], rows + 1);
}

TEST_F(ProjectTest, PreviewItemPositionsThePreview)
{
    ZEFItem* e = place(kLayerB, 600, 1800);
    project.previewItem(e);
    EXPECT_EQ(views.showComposition, 1);
    ASSERT_FALSE(views.seeks.empty());
    EXPECT_EQ(views.seeks.back().ticks(), 1200);

    auto c = clip(kLayerC, "/m/a.mov", 300);
    c->assignSourceRange(EditTime::raw(600, 30, 1), EditTime::raw(3000, 30, 1));
    ZEFSourceItem* s = c.get();
    project.addItem(std::move(c), false, false);
    views.seeks.clear();
    views.position = EditTime::raw(1000);
    project.previewItem(s); // cannot be opened here, but the position logic still applies
    EXPECT_TRUE(views.seeks.empty());
    views.position = EditTime::raw(4000);
    project.previewItem(s);
    ASSERT_EQ(views.seeks.size(), 1u);
    EXPECT_EQ(views.seeks.back().ticks(), 600);
}

TEST_F(ProjectTest, NewProjectEmptiesEverything)
{
    CProjectTemplate pal;
    pal.name = "PAL";
    pal.frameRate = 25 << 16;
    settings.templ = pal;
    settings.capture.fileName = "/home/u/cap.avi";
    place(kLayerA, 0, 600);
    place(kTitleTrack, 0, 600);
    project.insertKeyframe(kLayerA, EditTime(600), MatrixRecord::identity(), false);
    project.oldPrefixes = {"a"};
    project.newPrefixes = {"b"};

    project.reset(true);
    EXPECT_EQ(project.filePath, "untitled");
    EXPECT_TRUE(project.device(kLayerA).empty());
    EXPECT_EQ(project.device(kLayerA).keyframes().size(), 1u); // reset keeps keyframes
    EXPECT_FALSE(project.modified);
    EXPECT_EQ(project.composition().name, "New Template");
    EXPECT_EQ(project.composition().outputFile, "untitled.mov"); // views kept: template kept

    project.newProject();
    EXPECT_TRUE(project.device(kLayerA).keyframes().empty());
    EXPECT_TRUE(project.oldPrefixes.empty());
    EXPECT_TRUE(project.newPrefixes.empty());
    EXPECT_EQ(project.composition().name, "PAL");
    EXPECT_EQ(EditTime(0).effectiveNum(), 25);
    EXPECT_EQ(project.captureFileName, "/home/u/cap.avi");
    EXPECT_EQ(views.titles.back(), "untitled - ZEF Rondavo");
    EXPECT_GE(views.closedPreview, 1);
    EXPECT_GE(views.undoButtons, 1);
    EXPECT_FALSE(project.modified);
}

TEST_F(ProjectTest, KeyframesInsertOverwriteAndOrder)
{
    MatrixRecord m1 = MatrixRecord::translation(1, 0), m2 = MatrixRecord::translation(2, 0),
                 m3 = MatrixRecord::translation(3, 0);
    EXPECT_EQ(project.insertKeyframe(kLayerB, EditTime(600), m1, false), 0);
    EXPECT_EQ(project.insertKeyframe(kLayerB, EditTime(1200), m2, false), 1);
    EXPECT_EQ(project.insertKeyframe(kLayerB, EditTime(300), m3, false), 0);
    // 605 ticks snap to the frame at 600: overwritten.
    EXPECT_EQ(project.insertKeyframe(kLayerB, EditTime::raw(605), m3, false), 1);
    auto& keys = project.device(kLayerB).keyframes();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1].matrix, m3);
    EXPECT_EQ(project.insertKeyframe(kLayerB, EditTime(600), m1, true), 1);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[1].matrix, m1);
    EXPECT_EQ(keys[2].matrix, m3);

    EXPECT_TRUE(project.hasKeyframeAt(kLayerB, EditTime(1200)));
    EXPECT_EQ(project.previousKeyframe(kLayerB, EditTime(600))->ticks(), 300);
    EXPECT_EQ(project.nextKeyframe(kLayerB, EditTime(600))->ticks(), 1200);
    EXPECT_FALSE(project.nextKeyframe(kLayerB, EditTime(1200)).has_value());
    EXPECT_FALSE(project.previousKeyframe(kLayerB, EditTime(300)).has_value());

    EXPECT_TRUE(project.deleteKeyframeAt(kLayerB, EditTime(600)));
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1].matrix, m3);
    EXPECT_FALSE(project.deleteKeyframeAt(kLayerB, EditTime(900)));
    project.moveKeyframe(kLayerB, 0, EditTime(1800));
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[2].time.ticks(), 1800);
    EXPECT_EQ(keys[2].matrix, m3);
    EXPECT_TRUE(project.modified);
}

TEST_F(ProjectTest, MatrixAtInterpolatesFromAVirtualIdentityAtZero)
{
    bool exact = true;
    EXPECT_EQ(project.matrixAt(kLayerA, EditTime(600), &exact), MatrixRecord::identity());
    EXPECT_FALSE(exact);

    MatrixRecord far = MatrixRecord::identity();
    far.m[2][0] = 100; // horizontal translation, thousandths of the frame width
    far.m[0][0] = 2 << 16;
    far.m[2][1] = -100;
    project.insertKeyframe(kLayerA, EditTime(0), MatrixRecord::identity(), false);
    project.insertKeyframe(kLayerA, EditTime(1200), far, false);
    MatrixRecord half = project.matrixAt(kLayerA, EditTime(600), &exact);
    EXPECT_FALSE(exact);
    EXPECT_EQ(half.m[2][0], 50);
    EXPECT_EQ(half.m[0][0], 3 << 15);
    EXPECT_EQ(half.m[2][1], -50);
    MatrixRecord third = project.matrixAt(kLayerA, EditTime(400));
    EXPECT_EQ(third.m[2][1], -34); // the shift rounds towards minus infinity

    EXPECT_EQ(project.matrixAt(kLayerA, EditTime(1200), &exact), far);
    EXPECT_TRUE(exact);
    EXPECT_EQ(project.matrixAt(kLayerA, EditTime(90000), &exact), far);
    EXPECT_FALSE(exact);

    // Without a keyframe at 0 the virtual identity at 0 is the starting point.
    project.insertKeyframe(kLayerC, EditTime(1200), far, false);
    EXPECT_EQ(project.matrixAt(kLayerC, EditTime(300)).m[2][0], 25);
}

TEST_F(ProjectTest, ConsistencyCheckFindsBrokenNeighbourRules)
{
    ZEFItem* b0 = place(kLayerB, 0, 600);
    place(kLayerB, 600, 1200);
    b0->assignEnd(EditTime(700));
    EXPECT_NE(project.checkConsistency(), "");
    b0->assignEnd(EditTime(600));

    place(kLayerA, 0, 600);
    ZEFItem* a1 = place(kLayerA, 300, 1200);
    ZEFItem* a2 = place(kLayerA, 1200, 1800);
    a1->assignEnd(EditTime(1500)); // overlapping a2 is allowed for Layer A
    EXPECT_EQ(project.checkConsistency(), "");
    a2->assignStart(EditTime(500)); // but the first item would now reach a2
    EXPECT_NE(project.checkConsistency(), "");
    a2->assignStart(EditTime(1200));
    a1->assignEnd(EditTime(1900)); // passing the successor's end
    EXPECT_NE(project.checkConsistency(), "");
    a1->assignEnd(EditTime(1200));
}

TEST(ProjectRateTest, TheFirstProjectInstallsItsEditRateForItsLifetime)
{
    {
        FProject first;
        FProject second;
        EXPECT_TRUE(first.rateContext().isInstalled());
        EXPECT_FALSE(second.rateContext().isInstalled());
        first.setEditFrameRate(25 << 16);
        EXPECT_EQ(EditTime(0).effectiveNum(), 25);
        second.setEditFrameRate(24 << 16); // seen only inside a scope of its own
        EXPECT_EQ(EditTime(0).effectiveNum(), 25);
        EditRateContext::Scope scope(second.rateContext());
        EXPECT_EQ(EditTime(0).effectiveNum(), 24);
    }
    EXPECT_EQ(EditTime(0).effectiveNum(), 30); // the built-in rate again
}
