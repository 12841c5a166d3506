// The arrangement of the main window and the decks, without windows.
#include "app/layout/deck_layout.h"

#include <gtest/gtest.h>

using namespace zef::app;

namespace {

Rect sized(int x, int y, int w, int h) { return Rect{x, y, x + w, y + h}; }

DeckLayout defaultLayout()
{
    DeckLayout layout(sized(0, 0, 1600, 1200));
    layout.restoreDefault(DeckSizes{});
    return layout;
}

} // namespace

TEST(DeckLayout, DefaultLayoutStacksTwoColumnsBesideTheMainWindow)
{
    const DeckSizes s; // main 22 + 60 high, Clip Deck 640 × 180, VCR Deck 560 × 110
    const auto r = DeckLayout::defaultRects(sized(10, 20, 1600, 1200), s);
    EXPECT_EQ(r[kMainWindowPanel], sized(10, 20, 640, 82));
    EXPECT_EQ(r[kClipDeckPanel], sized(10, 102, 640, 180));
    EXPECT_EQ(r[kTimelineDeckPanel], sized(10, 282, 640, 360));
    EXPECT_EQ(r[kInfoDeckPanel], sized(10, 642, 640, 360));
    EXPECT_EQ(r[kPreviewDeckPanel], sized(650, 20, 560, 420));
    EXPECT_EQ(r[kVcrDeckPanel], sized(650, 440, 560, 110));
    EXPECT_EQ(r[kParametersDeckPanel], sized(650, 550, 560, 440));
}

TEST(DeckLayout, SnapsWithinFivePixelsOnly)
{
    DeckLayout layout = defaultLayout();
    // The VCR Deck moved 5 pixels right of the main window's column edge lines up with it.
    Rect near = sized(645, 700, 560, 110);
    EXPECT_TRUE(layout.snap(kMoveWindow, near, kVcrDeckPanel, true));
    EXPECT_EQ(near, sized(640, 700, 560, 110));
    // At 6 pixels from every edge nothing happens.
    Rect far = sized(646, 996, 560, 110);
    EXPECT_FALSE(layout.snap(kMoveWindow, far, kVcrDeckPanel, true));
    EXPECT_EQ(far, sized(646, 996, 560, 110));
    // Sizing moves only the dragged edge: the Info Deck's bottom reaches the screen's.
    Rect sizedInfo = sized(0, 622, 640, 574);
    EXPECT_TRUE(layout.snap(kEdgeBottom, sizedInfo, kInfoDeckPanel, true));
    EXPECT_EQ(sizedInfo, sized(0, 622, 640, 578));
    // Resizable decks are no targets unless asked: the Preview Deck's bottom edge at 420 is
    // then out of reach, and only the screen is left.
    Rect vcr = sized(900, 423, 250, 50);
    EXPECT_FALSE(layout.snap(kMoveWindow, vcr, kVcrDeckPanel, false));
    EXPECT_TRUE(layout.snap(kMoveWindow, vcr, kVcrDeckPanel, true));
    EXPECT_EQ(vcr.top, 420);
}

TEST(DeckLayout, DetachedDeckStaysWhenTheMainWindowMoves)
{
    DeckLayout layout = defaultLayout();
    layout.computeAttachments();
    for (int i = 0; i < kPanelsTotal; ++i)
        EXPECT_TRUE(layout.panel(i).attached) << i;

    // The Clip Deck dragged away: it touches nothing any more.
    layout.panel(kClipDeckPanel).rect = sized(900, 1000, 640, 180);
    layout.computeAttachments();
    layout.moveAttached(100, 50);
    EXPECT_EQ(layout.panel(kClipDeckPanel).rect, sized(900, 1000, 640, 180));
    EXPECT_EQ(layout.panel(kMainWindowPanel).rect, sized(100, 50, 640, 82));
    // The Preview Deck touches the main window's right edge and travels with it.
    EXPECT_EQ(layout.panel(kPreviewDeckPanel).rect, sized(740, 50, 560, 420));
    // A hidden deck is left where it is.
    layout.panel(kInfoDeckPanel).visible = false;
    layout.computeAttachments();
    EXPECT_FALSE(layout.panel(kInfoDeckPanel).attached);
}

TEST(DeckLayout, StoredPlacesApplyByTheirRules)
{
    const Rect current = sized(0, 622, 640, 360);
    // Nothing stored (or a zero width): the panel stays where it is, shown.
    RestoredPanel r = restorePanel(current, true, StoredPanel{sized(50, 60, 0, 300), false});
    EXPECT_EQ(r.rect, current);
    EXPECT_TRUE(r.visible);
    // A resizable panel takes the stored rectangle and visibility.
    r = restorePanel(current, true, StoredPanel{sized(50, 60, 300, 200), false});
    EXPECT_EQ(r.rect, sized(50, 60, 300, 200));
    EXPECT_FALSE(r.visible);
    // Another keeps its size at the stored corner.
    r = restorePanel(current, false, StoredPanel{sized(50, 60, 300, 200), true});
    EXPECT_EQ(r.rect, sized(50, 60, 640, 360));
}
