// The Timeline Deck inside the real editor, offscreen: files dropped on a row, the marker
// following the VCR Deck, the item menu, the Parameters Deck and Delete through the Clip Deck.
#include "app/clipdeck/clip_deck.h"
#include "app/shell/main_frame.h"
#include "app/shell/zef_app.h"
#include "model/project.h"
#include "tests/movies/test_media.h"
#include "tests/shell/box_answerer.h"
#include "tests/shell/test_app.h"
#include "ui/preview/preview_panel.h"
#include "ui/timeline/timeline_view.h"
#include "ui/timeline/timeline_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace zef;
using namespace zef::app;
namespace media = zef::movies::testing::media;

namespace {

class TimelineShell : public ::testing::Test {
protected:
    std::unique_ptr<CZefApp> start()
    {
        CZefApp::Options o = test::appOptions(m_dir.path());
        auto app = std::make_unique<CZefApp>(o);
        EXPECT_TRUE(app->startUp({}));
        return app;
    }
    QTemporaryDir m_dir;
    test::BoxAnswerer m_boxes;
};

std::string labelOf(CZefApp& app)
{
    FUndoBuffer* e = app.project().undoHistory().undoNewest();
    return e ? e->label() : "";
}

void mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent e(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

} // namespace

TEST_F(TimelineShell, TheTimelineEditsThroughTheClipDeckAndFollowsTheVcrDeck)
{
    auto app = start();
    CMainFrame& frame = app->mainFrame();
    ui::CTimelineWindow& timeline = frame.timelineDeck().timelineWindow();
    timeline.setView({0, 6000});
    const ui::TimelineGeometry g = timeline.timelineGeometry();
    const movies::Rect rowB = g.rowBox(kLayerB);
    const QPoint onB(g.timeToX(2000), (rowB.top + rowB.bottom) / 2);

    // A file dropped on track B's row lands on track B, whatever the Clip Deck shows.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(media::avClip4s()))});
    QDragEnterEvent enter(onB, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&timeline, &enter);
    QDropEvent drop(QPointF(onB), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&timeline, &drop);
    ASSERT_EQ(app->project().device(kLayerB).size(), 1u);
    EXPECT_TRUE(app->project().device(kLayerA).empty());
    EXPECT_EQ(labelOf(*app), "Dropped clips from explorer");
    ZEFItem* clip = app->project().device(kLayerB).at(0);

    // The VCR Deck's time moves the marker.
    frame.vcrDeck().seek(EditTime(1200));
    timeline.grab();
    EXPECT_EQ(timeline.markerRect().center().x(), g.timeToX(1200));

    // A right click opens the item menu for the clip under the mouse.
    bool fileEntryEnabled = false;
    auto* timer = new QTimer(&timeline);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        timer->stop();
        for (QAction* a : menu->actions())
            if (a->text() == QStringLiteral("Delete F&ile From Disk"))
                fileEntryEnabled = a->isEnabled();
        menu->close();
    });
    timer->start();
    mouse(timeline, QEvent::MouseMove, onB, Qt::NoButton);
    mouse(timeline, QEvent::MouseButtonPress, onB, Qt::RightButton);
    EXPECT_TRUE(fileEntryEnabled);
    EXPECT_EQ(timeline.selectedItem(), clip);

    // A double click brings up the Parameters Deck for it.
    frame.setDeckVisible(kParametersDeckPanel, false);
    mouse(timeline, QEvent::MouseButtonPress, onB, Qt::LeftButton);
    mouse(timeline, QEvent::MouseButtonRelease, onB, Qt::LeftButton);
    mouse(timeline, QEvent::MouseButtonDblClick, onB, Qt::LeftButton);
    mouse(timeline, QEvent::MouseButtonRelease, onB, Qt::LeftButton);
    EXPECT_TRUE(frame.panelWindow(kParametersDeckPanel)->isVisible());
    EXPECT_EQ(labelOf(*app), "Dropped clips from explorer"); // the clicks recorded nothing

    // Delete removes the selected clip through the Clip Deck, which turns to its track.
    QTest::keyClick(&timeline, Qt::Key_Delete);
    EXPECT_TRUE(app->project().device(kLayerB).empty());
    EXPECT_EQ(frame.clipControl().currentTrack(), kLayerB);
    EXPECT_EQ(labelOf(*app), "Remove items from list");
}
