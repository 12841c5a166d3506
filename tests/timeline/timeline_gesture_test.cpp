// Gestures on the Timeline Deck offscreen, with Qt's mouse events and a clock the test moves:
// every drag mode changes the project through its operations, records its undo entry and undoes
// exactly; clicks within the drag delay change nothing; moves snap; transitions keep their
// length; keyframes reorder and replace; buttons, keys and drops reach the project and host.
#include "tests/timeline/timeline_fixture.h"

#include "ui/controls/xbutton.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

using namespace zef;
using namespace zef::test;
using namespace zef::ui;

namespace {

int undoCount(FProject& p) { return p.undoHistory().undoCount(); }

} // namespace

TEST_F(TimelineTest, AClickWithinTheDragDelayChangesNothingButSelects)
{
    ZEFItem* b = place(kLayerB, 1000, 3000);
    project.undoHistory().recordUndo(kLayerC, "Earlier edit");
    const std::string before = dump();
    press({200, rowY(kLayerB)});
    now += 499;
    moveHeld({260, rowY(kLayerB)});
    release({260, rowY(kLayerB)});
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(undoCount(project), 1);
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Earlier edit");
    EXPECT_EQ(window().selectedItem(), b);
    EXPECT_FALSE(window().drag().captured());

    // A click on the ruler seeks at once and keeps the earlier entry too; following the
    // mouse starts after the delay.
    press({130, 10});
    EXPECT_EQ(vcr.position, EditTime(1000));
    moveHeld({180, 10});
    EXPECT_EQ(vcr.position, EditTime(1000));
    now += 500;
    moveHeld({180, 10});
    EXPECT_EQ(vcr.position, EditTime(1500));
    release({180, 10});
    EXPECT_EQ(undoCount(project), 1);
    EXPECT_EQ(dump(), before);
}

TEST_F(TimelineTest, AMoveSnapsToAnotherTracksEdgeByItsStartOrItsEnd)
{
    ZEFItem* b = place(kLayerB, 0, 1200);
    place(kLayerC, 3000, 4000);
    place(kLayerB, 9000, 9600); // the track's own edges do not snap
    // Grabbed 50 pixels into the item; its start comes 3 pixels from the edge at 3000.
    dragFromTo({80, rowY(kLayerB)}, {80 + 302, rowY(kLayerB)});
    EXPECT_EQ(b->getStart().ticks(), 3000);
    EXPECT_EQ(undoCount(project), 1);
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Moving item");
    // Four pixels away it lands where the mouse says (snapped to a frame only).
    project.undoHistory().undoStep();
    b = project.device(kLayerB).at(0);
    window().setView({0, 6000});
    dragFromTo({80, rowY(kLayerB)}, {80 + 303, rowY(kLayerB)});
    EXPECT_EQ(b->getStart().ticks(), 3040);
    project.undoHistory().undoStep();
    b = project.device(kLayerB).at(0);
    window().setView({0, 6000});
    // Its end within 3 pixels of the edge: the end lands on it.
    dragFromTo({80, rowY(kLayerB)}, {80 + 182, rowY(kLayerB)});
    EXPECT_EQ(b->getStart().ticks(), 1800);
    EXPECT_EQ(b->getEnd().ticks(), 3000);
    EXPECT_EQ(project.checkConsistency(), "");
}

TEST_F(TimelineTest, ATransitionMovesWholeAndStopsWhereTheFirstItemCannotExtend)
{
    ZEFItem* a = place(kLayerA, 0, 3000, "a");
    ZEFItem* b = place(kLayerA, 2400, 6000, "b");
    const int y = rowY(kTransitionRow);
    // The overlap 2400-3000 is x 270-330; grabbed in its middle and moved 50 pixels right.
    dragFromTo({300, y}, {350, y});
    EXPECT_EQ(a->getEnd().ticks(), 3500);
    EXPECT_EQ(b->getStart().ticks(), 2900);
    EXPECT_EQ(b->getEnd().ticks(), 6000);
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Moving FX Cross Fade");
    EXPECT_EQ(host->lists.back(), kLayerA);
    // Far right: the first item pushes the second along, and the transition keeps its length.
    dragFromTo({350, y}, {700, y});
    EXPECT_EQ(a->getEnd() - b->getStart(), EditTime(600));
    EXPECT_EQ(project.checkConsistency(), "");
    project.undoHistory().undoStep();
    project.undoHistory().undoStep();
    a = project.device(kLayerA).at(0);
    b = project.device(kLayerA).at(1);
    EXPECT_EQ(a->getEnd().ticks(), 3000);
    EXPECT_EQ(b->getStart().ticks(), 2400);
    // Clips that show the whole of their media cannot give the transition room: moved left,
    // the second clip cannot start earlier, so the first one's end comes back and the
    // transition stays as it was, leaving no undo entry.
    project.clearTrack(kLayerA);
    window().setView({0, 6000});
    ZEFSourceItem* c1 = placeClip(kLayerA, 0, 3000, false, 150);
    ZEFSourceItem* c2 = placeClip(kLayerA, 2400, 6000, false, 180);
    const int entries = project.undoHistory().undoCount();
    dragFromTo({300, y}, {250, y});
    EXPECT_EQ(c1->getEnd().ticks(), 3000);
    EXPECT_EQ(c2->getStart().ticks(), 2400);
    EXPECT_EQ(project.undoHistory().undoCount(), entries);
}

TEST_F(TimelineTest, AKeyframeDraggedPastAnotherReordersAndReplacesItWhenDroppedOnIt)
{
    place(kLayerB, 0, 6000);
    movies::MatrixRecord first = movies::MatrixRecord::identity(), second = first;
    first.m[2][0] = 111;
    second.m[2][0] = 222;
    project.insertKeyframe(kLayerB, EditTime(1000), first, false);
    project.insertKeyframe(kLayerB, EditTime(3000), second, false);
    const int y = geometry().rowBox(kLayerB).top + 4;
    press({x(1000), y});
    EXPECT_EQ(window().drag().mode(), kDragKeyframe);
    now += 600;
    moveHeld({x(4000), y}); // past the other one
    auto& keys = project.device(kLayerB).keyframes();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1].matrix.m[2][0], 111);
    moveHeld({x(3000), y}); // onto it: both stay, the dragged one first
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].matrix.m[2][0], 111);
    EXPECT_EQ(keys[0].time.ticks(), 3000);
    release({x(3000), y});
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].matrix.m[2][0], 111);
    EXPECT_EQ(vcr.position, EditTime(3000));
    EXPECT_EQ(host->track, kLayerB); // the keyframe's track became the current one
    // The replaced keyframe comes back with an undo.
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Moving Track B, Keyframe #1");
    project.undoHistory().undoStep();
    ASSERT_EQ(project.device(kLayerB).keyframes().size(), 2u);
    EXPECT_EQ(project.device(kLayerB).keyframes()[1].matrix.m[2][0], 222);
}

// Every drag mode, found by hovering along its row, changes the project, keeps it
// consistent, and one undo step brings back exactly what was there.
TEST_F(TimelineTest, EveryDragModeKeepsTheProjectConsistentAndUndoesExactly)
{
    place(kLayerA, 0, 2000, "a1");
    place(kLayerA, 1500, 3500, "a2");
    place(kLayerA, 3000, 5000, "a3");
    placeClip(kLayerB, 500, 1500);
    placeClip(kLayerB, 2500, 4000);
    place(kLayerC, 1000, 2200, "c1");
    place(kLayerC, 2200, 3000, "c2");
    place(kTitleTrack, 800, 2000, "title");
    movies::MatrixRecord m = movies::MatrixRecord::identity();
    m.m[2][0] = 5;
    project.insertKeyframe(kLayerC, EditTime(4000), m, false);

    struct Case {
        int32_t mode;
        int32_t row;
        int dx;
        Qt::KeyboardModifiers mods;
    };
    const Case cases[] = {
        {kDragTrimStart, kLayerB, 40, Qt::NoModifier},
        {kDragTrimStart, kLayerC, -30, Qt::ControlModifier},
        {kDragTrimEnd, kLayerB, 150, Qt::NoModifier},
        {kDragTrimEnd, kLayerC, 60, Qt::ControlModifier},
        {kDragMove, kLayerA, 30, Qt::NoModifier},
        {kDragMove, kLayerC, 120, Qt::ControlModifier},
        {kDragMove, kTitleTrack, -50, Qt::NoModifier},
        {kDragTransitionMove, kTransitionRow, 20, Qt::NoModifier},
        {kDragTransitionTrimStart, kTransitionRow, -25, Qt::NoModifier},
        {kDragTransitionTrimEnd, kTransitionRow, 35, Qt::NoModifier},
        {kDragKeyframe, kLayerC, -70, Qt::NoModifier},
    };
    for (const Case& c : cases) {
        window().setView({0, 6000});
        const TimelineGeometry g = geometry();
        const movies::Rect box = g.rowBox(c.row);
        QPoint at(-1, -1);
        for (int y = box.top; y < box.bottom && at.x() < 0; ++y)
            for (int px = 30; px < 600 && at.x() < 0; ++px)
                if (hoverHitTest(g, project, px, y).mode == c.mode) at = QPoint(px, y);
        ASSERT_GE(at.x(), 0) << "no place for mode " << c.mode;
        const std::string before = dump();
        const int entries = undoCount(project);
        dragFromTo(at, at + QPoint(c.dx, 0), c.mods);
        EXPECT_EQ(project.checkConsistency(), "") << c.mode;
        EXPECT_NE(dump(), before) << "mode " << c.mode << " changed nothing";
        EXPECT_EQ(undoCount(project), entries + 1) << c.mode;
        project.undoHistory().undoStep();
        EXPECT_EQ(dump(), before) << "mode " << c.mode;
        EXPECT_EQ(project.checkConsistency(), "") << c.mode;
    }
    // Scrubbing records nothing and leaves the project as it was.
    window().setView({0, 6000});
    const std::string before = dump();
    const int entries = undoCount(project);
    dragFromTo({100, 8}, {300, 8});
    EXPECT_EQ(vcr.position, EditTime(2700));
    EXPECT_EQ(undoCount(project), entries);
    EXPECT_EQ(dump(), before);
}

TEST_F(TimelineTest, TrimsStopAtNeighboursOrPushThemWithCtrlAndRefreshTheList)
{
    ZEFItem* first = place(kLayerC, 1000, 2000);
    ZEFItem* second = place(kLayerC, 2500, 3500);
    // The end trimmed 100 pixels right stops at the next item.
    dragFromTo({x(2000) - 1, rowY(kLayerC)}, {x(3000), rowY(kLayerC)});
    EXPECT_EQ(first->getEnd().ticks(), 2500);
    EXPECT_EQ(second->getStart().ticks(), 2500);
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Trimming item");
    ASSERT_FALSE(host->lists.empty());
    EXPECT_EQ(host->lists.back(), kLayerC);
    // With Ctrl it pushes the next item along.
    dragFromTo({x(2500) - 1, rowY(kLayerC)}, {x(3000), rowY(kLayerC)}, Qt::ControlModifier);
    EXPECT_EQ(first->getEnd().ticks(), 3000);
    EXPECT_EQ(second->getStart().ticks(), 3000);
    EXPECT_EQ(second->getEnd().ticks(), 4000);
    EXPECT_EQ(project.checkConsistency(), "");
}

TEST_F(TimelineTest, ButtonsKeysDropsAndDoubleClicksReachTheProjectAndTheHost)
{
    ZEFItem* b = place(kLayerB, 1000, 3000);
    place(kLayerA, 0, 3000);
    place(kLayerA, 2400, 6000);

    // Track-enable buttons switch the track the render leaves out.
    CXButton* enable = window().enableButton(kLayerB);
    ASSERT_TRUE(enable->isVisible());
    EXPECT_TRUE(enable->isPressed());
    EXPECT_FALSE(window().enableButton(kGallery)->isVisible());
    QTest::mouseClick(enable, Qt::LeftButton);
    EXPECT_FALSE(project.device(kLayerB).enabled());
    EXPECT_FALSE(enable->isPressed());
    project.setTrackEnabled(kLayerB, true);
    EXPECT_TRUE(enable->isPressed());

    // Delete hands the selected item to the host.
    press({200, rowY(kLayerB)});
    release({200, rowY(kLayerB)});
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&window(), &del);
    ASSERT_EQ(host->deletes.size(), 1u);
    EXPECT_EQ(host->deletes[0], b);

    // A double click on a transition selects it for the Parameters Deck and brings it up.
    send(QEvent::MouseButtonDblClick, {300, rowY(kTransitionRow)}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(host->parameters, 1);
    EXPECT_EQ(window().selectedItem(), project.device(kLayerA).at(0));

    // Files dropped on track C's row go to track C; on the title row they are ignored.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/clips/x.mov"))});
    for (int row : {kLayerC, kTitleTrack}) {
        const QPoint p(200, rowY(row));
        QDragEnterEvent enter(p, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        QDropEvent drop(QPointF(p), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &drop);
    }
    ASSERT_EQ(host->drops.size(), 1u);
    EXPECT_EQ(host->drops[0].first, kLayerC);
    EXPECT_EQ(host->drops[0].second, std::vector<std::string>{"/clips/x.mov"});
}

TEST_F(TimelineTest, ZoomButtonsAndTheScrollBarMoveTheView)
{
    place(kLayerA, 0, 36000); // one minute
    view->resetView(true);
    EXPECT_EQ(window().view(), (TimelineView{0, 36000}));
    QTest::mouseClick(view->zoomButton(CTimelineView::kZoomIn), Qt::LeftButton);
    EXPECT_EQ(window().view(), (TimelineView{0, 18000}));
    QScrollBar* bar = view->scrollBar();
    EXPECT_EQ(bar->maximum(), 30);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(window().view(), (TimelineView{12000, 30000}));
    QTest::mouseClick(view->zoomButton(CTimelineView::kZoomOut), Qt::LeftButton);
    EXPECT_EQ(window().view(), (TimelineView{0, 48000}));
    QTest::mouseClick(view->zoomButton(CTimelineView::kZoomToProject), Qt::LeftButton);
    EXPECT_EQ(window().view(), (TimelineView{0, 36000}));
    // An undone step shows the whole project again.
    window().setView({6000, 9000});
    project.undoHistory().recordUndo(kLayerA, "Step");
    project.undoHistory().undoStep();
    EXPECT_EQ(window().view(), (TimelineView{0, 36000}));
}

TEST_F(TimelineTest, KeyframeCommandsWorkOnTheClipDecksTrackAtTheCurrentTime)
{
    host->track = kLayerC;
    movies::MatrixRecord m = movies::MatrixRecord::identity();
    m.m[2][0] = 300;
    project.insertKeyframe(kLayerC, EditTime(1200), m, false);
    vcr.position = EditTime(600);
    view->toggleKeyframe();
    // Inserted with the placement the track has there: halfway from identity to the key.
    auto& keys = project.device(kLayerC).keyframes();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].time.ticks(), 600);
    EXPECT_EQ(keys[0].matrix.m[2][0], 150);
    EXPECT_EQ(project.undoHistory().undoNewest()->label(), "Insert/Remove keyframe");
    view->goToNextKeyframe();
    EXPECT_EQ(vcr.position, EditTime(1200));
    view->toggleKeyframe();
    ASSERT_EQ(keys.size(), 1u);
    view->goToPreviousKeyframe();
    EXPECT_EQ(vcr.position, EditTime(600));
    view->goToPreviousKeyframe(); // none before: the time stays
    EXPECT_EQ(vcr.position, EditTime(600));
    project.undoHistory().undoStep();
    EXPECT_EQ(project.device(kLayerC).keyframes().size(), 2u);
}
