// Placing and cropping by dragging on the Preview Deck's picture, offscreen.
#include "tests/preview/preview_fixture.h"
#include "ui/preview/placement.h"

#include <QApplication>

#include <cstdlib>

using namespace zef;
using namespace zef::test;
namespace media = zef::movies::testing::media;
namespace placement = zef::ui::placement;

namespace {

struct Gestures : PreviewFixture {
    ui::CPreviewWindow& window() { return deck->window(); }

    void press(const QPoint& p) { QTest::mousePress(&window(), Qt::LeftButton, {}, p); }
    void moveTo(const QPoint& p)
    {
        QMouseEvent e(QEvent::MouseMove, QPointF(p), QPointF(window().mapToGlobal(p)), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &e);
    }
    void release(const QPoint& p) { QTest::mouseRelease(&window(), Qt::LeftButton, {}, p); }
    void drag(const QPoint& from, const QPoint& to)
    {
        press(from);
        moveTo((from + to) / 2);
        moveTo(to);
        release(to);
    }
    // A point of the picture given in thousandths of it.
    QPoint at(int x, int y)
    {
        const QRect p = window().pictureRect();
        return QPoint(p.x() + p.width() * x / 1000, p.y() + p.height() * y / 1000);
    }
};

// Rectangles in thousandths agree to within the rounding of a pixel of the picture.
void expectNear(const movies::Rect& got, const movies::Rect& want)
{
    EXPECT_NEAR(got.left, want.left, 3);
    EXPECT_NEAR(got.top, want.top, 3);
    EXPECT_NEAR(got.right, want.right, 3);
    EXPECT_NEAR(got.bottom, want.bottom, 3);
}

TEST_F(Gestures, AClickPicksTheLayerAndADragStoresItsKeyframe)
{
    clip(media::avClip4s(), kLayerA, 0, 2400);
    clip(media::avClip4s(), kLayerB, 0, 2400);
    // Layer B shows its picture in the top-left quarter.
    project.insertKeyframe(kLayerB, EditTime(0), placement::layoutMatrix({0, 0, 500, 500}), false);
    pass();
    UndoHistory& undo = project.undoHistory();

    // Layer B lies in front of layer A: a click on its quarter picks it, with the look of a
    // keyframe at the current time.
    press(at(250, 250));
    release(at(250, 250));
    EXPECT_EQ(track, kLayerB);
    EXPECT_TRUE(window().layerPicked());
    EXPECT_EQ(window().markName(), QStringLiteral("mark-key"));
    // A click beside it picks again: only layer A holds that point.
    press(at(750, 750));
    release(at(750, 750));
    EXPECT_EQ(track, kLayerA);
    EXPECT_EQ(undo.undoCount(), 0) << "clicks change nothing";
    // Layer B made current in the Clip Deck: its rectangle is shown.
    track = kLayerB;

    // Moved by a quarter of the picture: the tool tip tells the place in project pixels.
    press(at(250, 250));
    moveTo(at(375, 375));
    moveTo(at(500, 500));
    const QString tip = window().tipText();
    EXPECT_TRUE(tip.startsWith(QStringLiteral("X = 8"))) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith(QStringLiteral(", W = 160, H = 120 "))) << tip.toStdString();
    release(at(500, 500));
    EXPECT_TRUE(window().tipText().isEmpty());
    ASSERT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.undoLabels().front(), "Keyframe set on Layer B");
    EXPECT_EQ(project.device(kLayerB).keyframes().size(), 1u) << "the keyframe at 0 replaced";
    expectNear(placement::layoutRect(project.matrixAt(kLayerB, EditTime(0))), {250, 250, 750, 750});

    // Later, between keyframes: the right edge dragged in adds a keyframe there.
    panel->seek(EditTime(600));
    EXPECT_EQ(window().markName(), QStringLiteral("mark-tween"));
    press(at(750, 500));
    moveTo(at(700, 500));
    EXPECT_TRUE(window().tipText().startsWith(QStringLiteral("X = 2")));
    EXPECT_TRUE(window().tipText().contains(QStringLiteral(", W = ")));
    release(at(650, 500));
    EXPECT_EQ(project.device(kLayerB).keyframes().size(), 2u);
    expectNear(placement::layoutRect(project.matrixAt(kLayerB, EditTime(600))),
               {250, 250, 650, 750});
    expectNear(placement::layoutRect(project.matrixAt(kLayerB, EditTime(0))), {250, 250, 750, 750});

    // "Stretch to Project Size" (a keyframe stands here) puts the identity in its place; undo
    // brings the dragged one back.
    panel->periodicUpdate();
    ASSERT_TRUE(panel->button(ui::CPreviewPanel::kStretch)->isEnabled());
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kStretch), Qt::LeftButton);
    EXPECT_EQ(project.matrixAt(kLayerB, EditTime(600)), movies::MatrixRecord::identity());
    undo.undo(1);
    expectNear(placement::layoutRect(project.matrixAt(kLayerB, EditTime(600))),
               {250, 250, 650, 750});
}

TEST_F(Gestures, AClipInCroppingModeIsCroppedAndInPositioningModePlaced)
{
    ZEFSourceItem* c = clip(media::avClip4s(), kGallery, 0, 2400); // 320 × 240
    c->setPlacementMode(1);
    deck->showClip(c);
    EXPECT_EQ(window().markName(), QStringLiteral("mark-crop"));
    UndoHistory& undo = project.undoHistory();

    // The right edge dragged to the middle: the right half is cropped away.
    press(at(1000, 500));
    moveTo(at(500, 500));
    EXPECT_EQ(window().tipText(), QStringLiteral("X = 160, W = 160"));
    release(at(500, 500));
    EXPECT_NEAR(c->cropRect()[2], 0x8000, 0x10000 / window().pictureRect().width());
    EXPECT_EQ(c->cropRect()[0], 0);
    EXPECT_EQ(c->cropRect()[3], 0x10000);
    ASSERT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.undoLabels().front(), "Crop changed on " + c->displayName());

    // Positioning: the top-left corner dragged to the middle places both layouts there.
    c->setPlacementMode(0);
    EXPECT_EQ(window().markName(), QStringLiteral("mark-clip"));
    drag(at(0, 0), at(500, 500));
    expectNear(placement::layoutRect(c->matrix(0)), {500, 500, 1000, 1000});
    EXPECT_EQ(c->matrix(0), c->matrix(1));
    EXPECT_EQ(undo.undoLabels().front(), "Placement changed on " + c->displayName());

    // The two resets: identity, then the clip's own aspect (half its width is cropped, so it
    // is narrower than the project: full height, side margins of 500 thousandths).
    panel->periodicUpdate();
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kStretch), Qt::LeftButton);
    EXPECT_EQ(c->matrix(0), movies::MatrixRecord::identity());
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kMovieAspect), Qt::LeftButton);
    expectNear(placement::layoutRect(c->matrix(0)), {250, 0, 750, 1000});
    EXPECT_EQ(project.checkConsistency(), "");
}

TEST_F(Gestures, TheCaptureCropIsKeptInSixteenthsOfThePicture)
{
    deck->showCapture(QSize(640, 480));
    EXPECT_EQ(window().markName(), QStringLiteral("mark-crop"));
    drag(at(500, 1000), at(500, 750));
    const QRect p = window().pictureRect();
    const int edge = at(500, 750).y() - p.y();
    EXPECT_EQ(deck->captureCrop()[3], (edge * 65536 + p.height() / 2) / p.height());
    EXPECT_EQ(deck->captureCrop()[1], 0);
    EXPECT_EQ(project.undoHistory().undoCount(), 0) << "the capture crop is no project edit";
}

} // namespace
