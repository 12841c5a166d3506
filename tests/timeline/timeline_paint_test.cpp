// Pixels of a painted timeline: item shapes in their track colours, bright and dim, the
// selected outline, transitions, keyframes, the render range, ruler marks, the film
// perforations and thumbnail of a clip on track A, and the current-time marker with what a
// time change repaints.
#include "tests/timeline/timeline_fixture.h"

#include "ui/timeline/timeline_painter.h"

#include <QImage>
#include <QPainter>

using namespace zef;
using namespace zef::test;
using namespace zef::ui;

namespace {

QColor at(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

} // namespace

TEST_F(TimelineTest, PaintedRowsShowItemsTransitionsKeyframesAndTheRenderRange)
{
    place(kLayerA, 0, 3000, "a");
    placeClip(kLayerA, 2400, 6000, true);
    ZEFItem* b1 = place(kLayerB, 1000, 3000, "b1");
    ZEFItem* b2 = place(kLayerB, 4000, 5000, "b2");
    place(kTitleTrack, 500, 1500, "title");
    project.insertKeyframe(kLayerC, EditTime(2000), movies::MatrixRecord::identity(), false);
    project.renderStart = EditTime(600);
    project.renderEnd = EditTime(4800);

    const TimelineGeometry g(634, 200, {0, 6000});
    TimelinePainter painter;
    QImage image(634, 200, QImage::Format_RGB32);
    TimelineScene scene;
    {
        QPainter p(&image);
        painter.paint(p, g, project, scene);
    }
    // Track B's first item: x 130 to 330 in the row box 82-105, outlined a pixel inside.
    EXPECT_EQ(at(image, 200, 85), QColor(220, 30, 30));
    EXPECT_EQ(at(image, 131, 95), QColor(220, 30, 30));
    EXPECT_EQ(at(image, 320, 100), QColor(Qt::black));
    EXPECT_NE(at(image, 200, 83), QColor(Qt::black)); // above the shape
    // The title's colours.
    EXPECT_EQ(at(image, 100, 127), QColor(30, 220, 30));
    // The transition between track A's items (x 270 to 330): amber inside a black border.
    EXPECT_EQ(at(image, 275, 39), QColor(255, 210, 0));
    EXPECT_EQ(at(image, 270, 39), QColor(Qt::black));
    EXPECT_NE(at(image, 265, 39), QColor(255, 210, 0));
    // The clip on track A: cyan outline, perforations in (96, 96, 96), its thumbnail's colour
    // between them.
    EXPECT_EQ(at(image, 500, 43), QColor(0, 192, 192));
    int holes = 0, thumb = 0;
    for (int x = 340; x < 629; ++x) {
        holes += at(image, x, 84 - 6 - 3 + 1) == QColor(96, 96, 96);
        thumb += at(image, x, 62) == QColor(0x20, 0xA0, 0x40);
    }
    EXPECT_GT(holes, 60);
    EXPECT_GT(thumb, 20);
    // The keyframe on track C at 2000 (x 230): a white flag and a dotted line.
    EXPECT_EQ(at(image, 228, 104), QColor(Qt::white));
    EXPECT_EQ(at(image, 232, 106), QColor(Qt::white));
    EXPECT_EQ(at(image, 230, 107), QColor(Qt::white));
    EXPECT_EQ(at(image, 230, 108), QColor(Qt::white));
    EXPECT_NE(at(image, 230, 109), QColor(Qt::white));
    // The render range from 600 to 4800 on the ruler (x 89 to 509, y 16 to 18).
    EXPECT_EQ(at(image, 89, 17), QColor(50, 200, 50));
    EXPECT_EQ(at(image, 508, 18), QColor(50, 200, 50));
    EXPECT_NE(at(image, 88, 17), QColor(50, 200, 50));
    EXPECT_NE(at(image, 509, 16), QColor(50, 200, 50));
    // Two frames a tick: a major mark at 0 s 7 pixels high at the ruler's x 29, a small one
    // 3 pixels high at 40 ticks.
    EXPECT_EQ(at(image, 29, 12), QColor(Qt::black));
    EXPECT_EQ(at(image, 33, 16), QColor(Qt::black));
    EXPECT_NE(at(image, 33, 15), QColor(Qt::black));

    // Selected while the preview shows a single clip: only the selection is bright, with a
    // white outline; the others are dim.
    scene.selected = b1;
    scene.previewShowsComposition = false;
    {
        QPainter p(&image);
        painter.paint(p, g, project, scene);
    }
    EXPECT_EQ(at(image, 200, 85), QColor(Qt::white));
    EXPECT_EQ(at(image, 320, 100), QColor(Qt::black));
    const int b2x = g.timeToX(b2->getStart().ticks());
    EXPECT_EQ(at(image, b2x + 50, 85), QColor(180, 80, 80));
    EXPECT_EQ(at(image, b2x + 90, 100), QColor(48, 48, 48));
    EXPECT_EQ(at(image, 275, 39), QColor(181, 163, 74)); // the transition is dimmed too
}

TEST_F(TimelineTest, TheMarkerFollowsTheCurrentTimeAndRepaintsOnlyWhereItMoves)
{
    place(kLayerB, 1000, 3000);
    vcr.position = EditTime(1500);
    window().updateMarker();
    QImage shot = window().grab().toImage();
    // x(1500) = 180: a white bar from 179 to 181 with a red line at 180.
    EXPECT_EQ(at(shot, 179, 60), QColor(Qt::white));
    EXPECT_EQ(at(shot, 181, 60), QColor(Qt::white));
    EXPECT_EQ(at(shot, 180, 60), QColor(224, 48, 32));
    EXPECT_EQ(at(shot, 180, 3), QColor(Qt::white));
    EXPECT_EQ(window().markerRect(), QRect(178, 3, 5, window().height() - 6));

    vcr.position = EditTime(4000);
    window().updateMarker();
    shot = window().grab().toImage();
    EXPECT_NE(at(shot, 180, 60), QColor(224, 48, 32));
    EXPECT_EQ(at(shot, 430, 60), QColor(224, 48, 32));

    // Outside the view, and while the Clip Deck shows the gallery with the preview on a
    // single clip, there is no marker.
    vcr.position = EditTime(7000);
    window().updateMarker();
    window().grab();
    EXPECT_TRUE(window().markerRect().isEmpty());
    vcr.position = EditTime(4000);
    host->track = kGallery;
    window().setPreviewShowsComposition(false);
    window().grab();
    EXPECT_TRUE(window().markerRect().isEmpty());
}
