// The timeline's geometry and ruler as plain functions: time and pixels, rows, item shapes and
// hover zones, snapping, zoom and scroll rules, and the ruler's marks and labels.
#include "model/item.h"
#include "model/project.h"
#include "ui/timeline/timeline_geometry.h"
#include "ui/timeline/timeline_ruler.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zef;
using namespace zef::ui;

namespace {

// 634 pixels wide: with a 10-second view one pixel is 10 ticks (x = 30 + t / 10).
TimelineGeometry geometry(TimelineView v = {0, 6000}) { return TimelineGeometry(634, 200, v); }

class HitTest : public ::testing::Test {
protected:
    ZEFItem* place(int32_t track, int64_t start, int64_t end)
    {
        auto item = std::make_unique<ZEFEffectItem>(&project, track);
        item->assignStart(EditTime::raw(start));
        item->assignEnd(EditTime::raw(end));
        ZEFItem* raw = item.get();
        project.addItem(std::move(item), false, false);
        return raw;
    }
    FProject project;
    EditRateContext::Scope scope{project.rateContext()};
};

} // namespace

TEST(TimelineGeometryTest, TimeAndPixelsRowsAndButtons)
{
    const TimelineGeometry g = geometry({1200, 7200});
    EXPECT_DOUBLE_EQ(g.pixelsPerTick(), 0.1);
    EXPECT_EQ(g.timeToX(1200), 30);
    EXPECT_EQ(g.timeToX(2205), 131); // 100.5 px rounds up
    EXPECT_EQ(g.rulerX(2205), 130);  // the ruler sits one pixel left
    EXPECT_EQ(g.timeToX(1000), 11);  // before the view: −19.5 truncates to −19
    EXPECT_EQ(g.xToTime(131), 2210);
    EXPECT_EQ(g.xToTime(30), 1200);

    // Rows: the transition row, track A twice, B, C, title; no gallery.
    EXPECT_EQ(g.rowAt(100, 19), kTransitionRow);
    EXPECT_EQ(g.rowAt(100, 40), 0);
    EXPECT_EQ(g.rowAt(100, 81), 0); // A's lower half
    EXPECT_EQ(g.rowAt(100, 82), 1);
    EXPECT_EQ(g.rowAt(100, 144), 4);
    EXPECT_EQ(g.rowAt(100, 145), -1); // below the rows
    EXPECT_EQ(g.rowAt(28, 60), -1);   // in the left margin
    EXPECT_EQ(g.rowAt(29, 60), 0);
    EXPECT_EQ(g.rowAt(630, 60), -1);
    EXPECT_EQ(g.rowBox(0).top, 40);
    EXPECT_EQ(g.rowBox(0).height(), 44);
    EXPECT_EQ(g.rowBox(4).height(), 23);
    EXPECT_TRUE(g.rowBox(3).isEmpty());
    // Track A's button sits in its lower half; the gallery has none.
    EXPECT_EQ(g.enableButton(0).top, 22 + 2 * 21);
    EXPECT_EQ(g.enableButton(4).top, 22 + 5 * 21);
    EXPECT_TRUE(g.enableButton(3).isEmpty());
    EXPECT_EQ(g.markerRect(1700).left, 50 + 28);
}

TEST(TimelineGeometryTest, ZoomAndScrollRules)
{
    // The narrowest view is one second: 1.5 s zooms in to exactly 1 s.
    EXPECT_EQ(zoomIn({0, 900}), (TimelineView{0, 600}));
    EXPECT_EQ(zoomIn({300, 1501}), (TimelineView{300, 901})); // half of 1201 rounds up
    // Zooming out from 2 s with a 10-second span: the start stops at 0, the end moves a span.
    EXPECT_EQ(zoomOut({1200, 7200}), (TimelineView{0, 13200}));
    EXPECT_EQ(zoomToProject(54000), (TimelineView{0, 54000}));
    EXPECT_EQ(zoomToProject(0), (TimelineView{0, 600}));
    EXPECT_EQ(fitView(6000), (TimelineView{0, 18000}));

    // Scrolling a 12.5-second view leaves a 12-second span.
    EXPECT_EQ(scrollTo({0, 7500}, 3), (TimelineView{1800, 9000}));
    EXPECT_EQ(scrollTo({1800, 9300}, 3), (TimelineView{1800, 9300})); // already there
    // A project shorter than 5 s still scrolls over 5 s.
    const ScrollBarState shortProject = scrollBarState({0, 600}, 600);
    EXPECT_EQ(shortProject.last, 4);
    const ScrollBarState s = scrollBarState({6000, 24000}, 60000);
    EXPECT_EQ(s.page, 30);
    EXPECT_EQ(s.pageStep, 20);
    EXPECT_EQ(s.last, 70);
    EXPECT_EQ(s.position, 10);
}

TEST(TimelineGeometryTest, ItemShapeShowsTheHandOverOfAnOverlap)
{
    const movies::Rect box{30, 40, 604, 84}; // track A: 44 high
    const ItemShape s = itemShape(box, 100, 300, 150, 250);
    // The upper third starts where the previous item ends, the lower third ends where the
    // next one starts.
    EXPECT_EQ(s.p[0].x, 150);
    EXPECT_EQ(s.p[7].x, 150);
    EXPECT_EQ(s.p[3].x, 250);
    EXPECT_EQ(s.p[4].x, 250);
    const int upper = 45, middle = 62, lower = 80;
    EXPECT_FALSE(pointInShape(s, 120, upper)); // under the previous item's tail
    EXPECT_TRUE(pointInShape(s, 160, upper));
    EXPECT_TRUE(pointInShape(s, 290, upper));
    EXPECT_FALSE(pointInShape(s, 270, lower)); // under the next item's head
    EXPECT_TRUE(pointInShape(s, 110, lower));
    // The middle band follows the diagonals: at mid height both lie halfway.
    EXPECT_TRUE(pointInShape(s, 130, middle));
    EXPECT_FALSE(pointInShape(s, 110, middle));
    EXPECT_TRUE(pointInShape(s, 270, middle));
    EXPECT_FALSE(pointInShape(s, 295, middle));
    EXPECT_FALSE(pointInShape(s, 200, 41)); // the top edge itself
}

TEST_F(HitTest, TrimZonesOnTheFirstAndLastPixelsAndTransitionsOfNarrowOverlaps)
{
    place(kLayerB, 1000, 3000); // x 130 to 330
    const TimelineGeometry g = geometry();
    const int y = (g.rowBox(1).top + g.rowBox(1).bottom) / 2;
    EXPECT_EQ(hoverHitTest(g, project, 129, y).mode, kDragNone);
    EXPECT_EQ(hoverHitTest(g, project, 130, y).mode, kDragTrimStart);
    EXPECT_EQ(hoverHitTest(g, project, 131, y).mode, kDragTrimStart);
    EXPECT_EQ(hoverHitTest(g, project, 132, y).mode, kDragMove);
    EXPECT_EQ(hoverHitTest(g, project, 327, y).mode, kDragMove);
    EXPECT_EQ(hoverHitTest(g, project, 328, y).mode, kDragTrimEnd);
    EXPECT_EQ(hoverHitTest(g, project, 329, y).mode, kDragTrimEnd);
    EXPECT_EQ(hoverHitTest(g, project, 330, y).mode, kDragNone);

    // Track A overlapping by 1.5 pixels: the transition is grabbed from two pixels before to
    // one pixel after the overlap.
    ZEFItem* a = place(kLayerA, 0, 2015); // ends at x 232
    place(kLayerA, 2000, 4000);           // starts at x 230
    const int t = (g.rowBox(kTransitionRow).top + g.rowBox(kTransitionRow).bottom) / 2;
    EXPECT_EQ(hoverHitTest(g, project, 227, t).mode, kDragNone);
    for (int x = 228; x <= 233; ++x) {
        const HoverHit hit = hoverHitTest(g, project, x, t);
        EXPECT_EQ(hit.mode, kDragTransitionMove) << x;
        EXPECT_EQ(hit.item, a);
    }
    EXPECT_EQ(hoverHitTest(g, project, 234, t).mode, kDragNone);

    // A wide overlap has trims at its edges; items that only touch have no transition.
    place(kLayerA, 3000, 6000); // overlaps 3000-4000: x 330 to 430
    EXPECT_EQ(hoverHitTest(g, project, 331, t).mode, kDragTransitionTrimStart);
    EXPECT_EQ(hoverHitTest(g, project, 332, t).mode, kDragTransitionMove);
    EXPECT_EQ(hoverHitTest(g, project, 428, t).mode, kDragTransitionTrimEnd);
    place(kLayerA, 6000, 7000);
    EXPECT_EQ(hoverHitTest(g, project, 630, t).mode, kDragNone);

    // Keyframes come before the items of their row.
    project.insertKeyframe(kLayerB, EditTime(2000), movies::MatrixRecord::identity(), false);
    const HoverHit key = hoverHitTest(g, project, 230, g.rowBox(1).top + 3);
    EXPECT_EQ(key.mode, kDragKeyframe);
    EXPECT_EQ(key.keyframeTrack, kLayerB);
    EXPECT_EQ(key.keyframeIndex, 0);
}

TEST_F(HitTest, DragsSnapToEdgesOfOtherTracksOnly)
{
    place(kLayerB, 0, 1200);
    place(kLayerC, 3000, 4000); // its start is snap pixel 329
    const TimelineGeometry g = geometry();
    const std::vector<SnapPoint> snaps = snapPoints(g, project, kLayerB);
    ASSERT_EQ(snaps.size(), 2u); // the dragged item's own track gives none
    EXPECT_EQ(snaps[0].x, 329);
    // The start within 3 pixels lands on the edge; 4 pixels away it does not snap.
    EXPECT_EQ(dragTime(g, snaps, 332 + 50, 50), 3000);
    EXPECT_EQ(dragTime(g, snaps, 333 + 50, 50), 3030);
    // A move whose end comes within 3 pixels puts the end on the edge.
    EXPECT_EQ(dragTime(g, snaps, 212 + 50, 50, 1200), 1800);
    EXPECT_EQ(dragTime(g, snaps, 10, 50), 0); // never before 0
}

TEST(TimelineRulerTest, TwentyFiveFramesTenFrameMarksCountInHalves)
{
    // 30 s in 604 pixels: 4 pixels are 200 ticks, so the ten-frame interval (240) with
    // m = 2.5 and M = 12.5.
    const TimelineGeometry g(634, 200, {0, 30000});
    const RulerInterval iv = rulerInterval(200, 25);
    EXPECT_EQ(iv.ticks, 240);
    EXPECT_DOUBLE_EQ(iv.medium, 2.5);
    const std::vector<RulerMark> marks = rulerMarks(g, 25, 1);
    ASSERT_GT(marks.size(), 30u);
    std::vector<int64_t> labels;
    for (size_t k = 0; k < 31; ++k) {
        EXPECT_EQ(marks[k].time, int64_t(k) * 240);
        if (marks[k].label) labels.push_back(int64_t(k));
        // Medium marks only where the medium counter returns to exactly 0.
        if (marks[k].height == 5) {
            EXPECT_EQ(k % 5, 0u) << k;
        }
        if (k % 5 == 0) {
            EXPECT_GE(marks[k].height, 5) << k;
        }
    }
    EXPECT_EQ(labels, (std::vector<int64_t>{0, 3, 5, 8, 10, 13, 15, 18, 20, 23, 25, 28, 30}));
    EXPECT_EQ(marks[0].height, 7);
    EXPECT_EQ(marks[0].x, 29);
}

TEST(TimelineRulerTest, ThirtyFramesEveryFrameTickedAndLabelsSpaced)
{
    // One second over 604 pixels: every frame (20 ticks) gets a tick.
    const TimelineGeometry g(634, 200, {600, 1800});
    const std::vector<RulerMark> marks = rulerMarks(g, 30, 45);
    ASSERT_EQ(marks.size(), 61u);
    for (const RulerMark& m : marks) {
        const int64_t frame = m.time / 20;
        EXPECT_EQ(m.height, frame % 30 == 0 ? 7 : frame % 5 == 0 ? 5 : 3) << frame;
    }
    // Labels at least 1.5 label widths apart (67.5 px = 135 ticks, rounded up to 200).
    int64_t last = -1000;
    int labelled = 0;
    for (const RulerMark& m : marks)
        if (m.label) {
            EXPECT_GE(m.time - last, 200);
            last = m.time;
            ++labelled;
        }
    EXPECT_EQ(labelled, 7);
    EXPECT_EQ(rulerLabel(630, true), "00:01:02");
    EXPECT_EQ(rulerLabel(630, false), "32");
    // Beyond the table the interval grows in whole minutes.
    EXPECT_EQ(rulerInterval(100000, 30).ticks, 108000);
    // The render range is cut at the view's edges.
    const RenderBar bar = renderBar(g, 0, 1200);
    EXPECT_EQ(bar.left, g.rulerX(600));
    EXPECT_EQ(bar.right, g.rulerX(1200));
    EXPECT_FALSE(renderBar(g, 2000, 3000).visible);
}
