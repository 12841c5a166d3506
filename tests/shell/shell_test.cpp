// The editor's start-up, settings, main window and decks, offscreen: each test starts a real
// CZefApp with its own settings file and answers its message boxes.
#include "app/clipdeck/clip_deck.h"
#include "app/shell/clip_deck_window.h"
#include "app/shell/get_url_dialog.h"
#include "app/shell/keyboard_router.h"
#include "app/shell/main_bar.h"
#include "app/shell/settings_store.h"
#include "app/shell/undo_redo_dialog.h"
#include "app/shell/zef_app.h"
#include "listctrl/tavrel_ctrl.h"
#include "model/device.h"
#include "model/project.h"
#include "tests/movies/test_media.h"
#include "tests/shell/box_answerer.h"
#include "tests/shell/test_app.h"
#include "ui/controls/xbutton.h"
#include "ui/decks/info_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/preview/preview_panel.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace zef;
using namespace zef::app;
namespace media = zef::movies::testing::media;

namespace {

class Shell : public ::testing::Test {
protected:
    std::unique_ptr<CZefApp> start(const QStringList& args = {})
    {
        CZefApp::Options o = test::appOptions(m_dir.path());
        auto app = std::make_unique<CZefApp>(o);
        EXPECT_TRUE(app->startUp(args));
        return app;
    }
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

    QTemporaryDir m_dir;
    test::BoxAnswerer m_boxes;
};

QRect deckRect(const CZefApp& app, int panel)
{
    return const_cast<CZefApp&>(app).mainFrame().panelWindow(panel)->geometry();
}

// Drags a window by a point of its caption to a new top-left corner, as the mouse would.
void dragCaption(QWidget* w, const QPoint& captionPoint, const QPoint& newTopLeft)
{
    const QPoint delta = newTopLeft - w->pos();
    QTest::mousePress(w, Qt::LeftButton, {}, captionPoint);
    QMouseEvent move(QEvent::MouseMove, QPointF(captionPoint + delta),
                     QPointF(w->mapToGlobal(captionPoint) + delta), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QTest::mouseRelease(w, Qt::LeftButton, {}, w->mapFromGlobal(w->mapToGlobal(captionPoint)));
}

} // namespace

TEST(CommandLine, QuotesAndTheExtensionAreCutButNotAFoldersDot)
{
    EXPECT_EQ(CZefApp::projectPathFromArgument("\"/home/ann/Projects/My.Show.zef\""),
              "/home/ann/Projects/My.Show");
    EXPECT_EQ(CZefApp::projectPathFromArgument("/home/ann/clips.v2/cut"), "/home/ann/clips.v2/cut");
    EXPECT_EQ(CZefApp::projectPathFromArgument("plain.ZEF"), "plain");
}

TEST(DGetURLTest, TypedLocationsBecomePaths)
{
    EXPECT_EQ(DGetURL::pathOf(QStringLiteral(" file:///home/ann/My%20Clips/a.mov ")),
              "/home/ann/My Clips/a.mov");
    EXPECT_EQ(DGetURL::pathOf(QStringLiteral("\"/home/ann/b c.avi\"")), "/home/ann/b c.avi");
    EXPECT_EQ(DGetURL::pathOf(QStringLiteral("http://example.org/a.mp4")),
              "http://example.org/a.mp4");
    EXPECT_FALSE(DGetURL::pathOf(QStringLiteral("   ")));
}

TEST(SettingsStoreTest, FreshStoreHasTheDefaults)
{
    QTemporaryDir dir;
    SettingsStore s(dir.filePath(QStringLiteral("fresh.ini")), nullptr);
    const PreviewFlags f = s.previewFlags();
    EXPECT_TRUE(f.previewTransitionsAsCrossFades);
    EXPECT_FALSE(f.disableFiltersOnPreview || f.disableGraphicModesOnPreview ||
                 f.singleLayerPreview);
    const CaptureDefaults d = s.captureDefaults();
    EXPECT_EQ(d.rate, 11);
    EXPECT_EQ(d.time, 10);
    EXPECT_EQ(s.compositionTemplateName(), "VHS Quality, 30 fps movie");
    EXPECT_EQ(s.capturePreferences().captureFilePath,
              SettingsStore::videoFolder() + "/capture.avi");
    EXPECT_EQ(s.transportPreferences().port, 8);
    // A toggle is in the file at once, for another reader.
    s.setPreviewFlag("SingleLayerPreview", true);
    QSettings raw(dir.filePath(QStringLiteral("fresh.ini")), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("Preview Preferences/SingleLayerPreview")).toInt(), 1);
    // The recent-file list keeps four, newest first, without repeats.
    for (const char* p : {"/a", "/b", "/c", "/a", "/d", "/e"})
        s.addRecentFile(p);
    EXPECT_EQ(s.recentFiles(), (std::vector<std::string>{"/e", "/d", "/a", "/c"}));
}

TEST_F(Shell, MissingProjectOnTheCommandLineIsReportedWithoutItsExtension)
{
    auto app = start({QStringLiteral("/no/such/folder/Missing.Show.zef")});
    ASSERT_EQ(m_boxes.seen.size(), 1u);
    EXPECT_EQ(m_boxes.seen[0].text, QStringLiteral("Cannot load project file\n/no/such/folder/"
                                                   "Missing.Show\nPlease verify that path and "
                                                   "file name are correct"));
    EXPECT_EQ(m_boxes.seen[0].title, QString());
    EXPECT_EQ(app->project().windowTitle(), "untitled - ZEF Rondavo");
    EXPECT_TRUE(app->mainFrame().isVisible());
}

TEST_F(Shell, SingleLayerPreviewLeavesOnlyTheClipDecksTrack)
{
    auto app = start();
    app->mainFrame().clipControl().selectTrack(1);
    app->previewFlagToggled("SingleLayerPreview", true);
    for (int track = 0; track < 5; ++track)
        EXPECT_EQ(app->project().device(track).enabled(), track == 1) << track;
    EXPECT_TRUE(app->settings().previewFlags().singleLayerPreview);
}

TEST_F(Shell, DecksSnapWhenDraggedAndTheDetachedOneStays)
{
    auto app = start();
    CMainFrame& frame = app->mainFrame();
    QWidget* vcr = frame.panelWindow(kVcrDeckPanel);
    const QRect params = deckRect(*app, kParametersDeckPanel);
    // Dragged to 5 pixels right of the Parameters Deck's left edge: lines up with it.
    dragCaption(vcr, QPoint(100, 10), QPoint(params.left() + 5, params.top() + 100));
    EXPECT_EQ(vcr->x(), params.left());
    // At 6 pixels it stays where it was dropped.
    dragCaption(vcr, QPoint(100, 10), QPoint(params.left() + 6, params.top() + 100));
    EXPECT_EQ(vcr->x(), params.left() + 6);

    // The Clip Deck dragged away stays when the main window moves; the Preview Deck, which
    // touches the main window, goes along.
    QWidget* clip = frame.panelWindow(kClipDeckPanel);
    dragCaption(clip, QPoint(100, 10), QPoint(700, 1000));
    const QRect clipPlace = clip->geometry();
    const QRect preview = deckRect(*app, kPreviewDeckPanel);
    dragCaption(&frame, QPoint(200, 10), QPoint(30, 40));
    EXPECT_EQ(frame.pos(), QPoint(30, 40));
    EXPECT_EQ(clip->geometry(), clipPlace);
    EXPECT_EQ(deckRect(*app, kPreviewDeckPanel), preview.translated(30, 40));
    // The project keeps the places for its file.
    EXPECT_EQ(app->project().panels[kPanelPreviewDeck].rect.left, preview.left() + 30);
}

TEST_F(Shell, HiddenInfoDeckComesBackHiddenAtItsPlace)
{
    QRect place;
    {
        auto app = start();
        CMainFrame& frame = app->mainFrame();
        QWidget* info = frame.panelWindow(kInfoDeckPanel);
        info->setGeometry(300, 400, 500, 300);
        frame.setDeckVisible(kInfoDeckPanel, false);
        place = info->geometry();
        ASSERT_TRUE(app->mainWindowClosing());
    }
    auto app = start();
    QWidget* info = app->mainFrame().panelWindow(kInfoDeckPanel);
    EXPECT_FALSE(info->isVisible());
    EXPECT_FALSE(app->mainFrame().layout().panel(kInfoDeckPanel).visible);
    EXPECT_EQ(info->geometry(), place);
    EXPECT_TRUE(app->mainFrame().panelWindow(kTimelineDeckPanel)->isVisible());
}

TEST_F(Shell, ZeroWidthStoredRectangleLeavesTheDefaultPlace)
{
    {
        QSettings raw(settingsFile(), QSettings::IniFormat);
        raw.setValue(QStringLiteral("Panel1/Left"), 50);
        raw.setValue(QStringLiteral("Panel1/Right"), 50);
        raw.setValue(QStringLiteral("Panel1/Top"), 10);
        raw.setValue(QStringLiteral("Panel1/Bottom"), 300);
        raw.setValue(QStringLiteral("Panel1/Visible"), 0);
    }
    auto app = start();
    const auto defaults =
        DeckLayout::defaultRects(app->mainFrame().layout().screen(), app->mainFrame().deckSizes());
    const Rect r = defaults[kInfoDeckPanel];
    EXPECT_EQ(deckRect(*app, kInfoDeckPanel), QRect(r.left, r.top, r.width(), r.height()));
    EXPECT_TRUE(app->mainFrame().panelWindow(kInfoDeckPanel)->isVisible());
}

TEST_F(Shell, KeysReachTheTransportButNotFromAnEditField)
{
    auto app = start();
    CMainFrame& frame = app->mainFrame();
    ASSERT_TRUE(frame.clipControl().addTitle()); // two seconds to play
    ui::CPreviewPanel& vcr = frame.vcrDeck();
    QWidget& params = frame.parametersDeck();
    auto* edit = new QLineEdit(&params);
    auto* other = new QWidget(&params);
    other->setFocusPolicy(Qt::StrongFocus);
    edit->show();
    other->show();
    params.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&params));

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Space);
    EXPECT_EQ(edit->text(), QStringLiteral(" "));
    EXPECT_FALSE(vcr.isPlaying());

    other->setFocus();
    QTest::keyClick(other, Qt::Key_Home);
    QTest::keyClick(other, Qt::Key_Right);
    EXPECT_EQ(vcr.position().ticks(), 20); // one frame at 30 fps
    QTest::keyClick(other, Qt::Key_End);
    EXPECT_EQ(vcr.position().ticks(), 1200);
    QTest::keyClick(other, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(vcr.position().ticks(), 900);
    QTest::keyClick(other, Qt::Key_Home);
    QTest::keyClick(other, Qt::Key_Space);
    EXPECT_TRUE(vcr.isPlaying());
    QTest::keyClick(other, Qt::Key_Space);
    EXPECT_FALSE(vcr.isPlaying());

    // A menu shortcut from a deck: Ctrl+3 hides the Timeline Deck.
    QTest::keyClick(other, Qt::Key_3, Qt::ControlModifier);
    EXPECT_FALSE(frame.panelWindow(kTimelineDeckPanel)->isVisible());
}

TEST_F(Shell, UndoListUndoesTheLinesUpToThePointer)
{
    auto app = start();
    FMainControl& control = app->mainFrame().clipControl();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(control.addTitle());
    CMainBar& bar = app->mainFrame().mainBar();
    EXPECT_TRUE(bar.button(CMainBar::kUndo)->isEnabled());
    bar.openUndoList(true);
    CUndoRedoDialog* list = bar.openList();
    ASSERT_NE(list, nullptr);
    const QRect lines = list->listRect();
    const int lineHeight = lines.height() / 3;
    const QPoint second(lines.center().x(), lines.top() + lineHeight + lineHeight / 2);
    QTest::mouseMove(list, second);
    EXPECT_EQ(list->captionText(), QStringLiteral("Undoes 2 action(s)"));
    QTest::mouseMove(list, QPoint(lines.center().x(), lines.bottom() + 8));
    EXPECT_EQ(list->captionText(), QStringLiteral("Cancel"));
    QTest::mouseMove(list, second);
    QTest::mouseRelease(list, Qt::LeftButton, {}, second);
    EXPECT_EQ(app->project().device(4).size(), 1u);
    EXPECT_EQ(app->project().undoHistory().redoCount(), 2);
}

namespace {

// The middle of a column of the Clip Deck's strip, in the strip, in the given row.
QPoint columnPoint(const tavrel::CTavrelCtrl& strip, int column, int row = 1)
{
    const tavrel::TavrelModel::Geometry g = strip.geometry();
    const tavrel::Box b = strip.model().columnBox(g, column);
    return QPoint((b.l + b.r) / 2, g.inner.t + row * g.rowHeight + g.rowHeight / 2);
}

std::string labelOf(CZefApp& app)
{
    FUndoBuffer* e = app.project().undoHistory().undoNewest();
    return e ? e->label() : "";
}

// Runs `pick` on the next pop-up menu that opens, then closes it.
void answerNextMenu(std::function<void(QMenu&)> pick)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, pick] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        timer->stop();
        timer->deleteLater();
        pick(*menu);
        menu->close();
    });
    timer->start();
}

QAction* actionNamed(QMenu& menu, const QString& text)
{
    for (QAction* a : menu.actions()) {
        if (a->text() == text) return a;
        if (a->menu())
            if (QAction* inner = actionNamed(*a->menu(), text)) return inner;
    }
    return nullptr;
}

} // namespace

TEST_F(Shell, ClipDeckShowsTheCurrentTracksItemsAndItsButtons)
{
    auto app = start();
    CClipDeckWindow& deck = app->mainFrame().clipDeck();
    tavrel::CTavrelCtrl& strip = *deck.list().events();
    const std::string clip = media::avClip4s();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(deck.control().addClip(clip));
    EXPECT_EQ(strip.GetColumnCount(), 3);
    EXPECT_EQ(strip.GetSelection(), 2); // the newest clip
    EXPECT_EQ(strip.model().columnTime(0, 1), QStringLiteral("00:04:00"));
    EXPECT_TRUE(strip.model().column(0).hasThumbnail);
    EXPECT_TRUE(deck.deckButton(CClipDeckWindow::kDeleteClip)->isEnabled());
    EXPECT_TRUE(deck.deckButton(CClipDeckWindow::kReplaceClip)->isEnabled());
    EXPECT_TRUE(deck.trackButton(kLayerA)->isPressed());

    // Track B from its button: an empty strip, nothing to delete.
    ui::CXButton* b = deck.trackButton(kLayerB);
    EXPECT_EQ(ui::CGUIDialog::tipFor(b), QStringLiteral("Layer B : Overlay 1"));
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(deck.control().currentTrack(), kLayerB);
    EXPECT_TRUE(b->isPressed());
    EXPECT_FALSE(deck.trackButton(kLayerA)->isPressed());
    EXPECT_EQ(strip.GetColumnCount(), 0);
    EXPECT_FALSE(deck.deckButton(CClipDeckWindow::kDeleteClip)->isEnabled());
    // The title track offers "Add Title" instead of the clip buttons.
    QTest::mouseClick(deck.trackButton(kTitleTrack), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(deck.deckButton(CClipDeckWindow::kLoadClip)->isVisible());
    EXPECT_FALSE(deck.deckButton(CClipDeckWindow::kLocation)->isVisible());
    EXPECT_FALSE(deck.deckButton(CClipDeckWindow::kAddSourceEffect)->isEnabled());
    ui::CXButton* addTitle = deck.deckButton(CClipDeckWindow::kAddTitle);
    ASSERT_TRUE(addTitle->isVisible());
    QTest::mouseClick(addTitle, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(labelOf(*app), "Add Title");
    EXPECT_EQ(strip.GetColumnCount(), 1);
}

TEST_F(Shell, ClipStripGesturesRunTheDeckCommands)
{
    auto app = start();
    CClipDeckWindow& deck = app->mainFrame().clipDeck();
    tavrel::CTavrelCtrl& strip = *deck.list().events();
    const FDevice& layerA = app->project().device(kLayerA);
    for (const std::string& clip : {media::avClip4s(), media::mpeg4Movie(), media::mjpegAvi()})
        ASSERT_TRUE(deck.control().addClip(clip));
    ZEFItem* first = layerA.at(0);
    ZEFItem* second = layerA.at(1);
    ZEFItem* third = layerA.at(2);

    // Dragging the first column to the append slot moves its item to the end.
    QTest::mousePress(&strip, Qt::LeftButton, {}, columnPoint(strip, 0));
    const QPoint append = columnPoint(strip, 3);
    QMouseEvent move(QEvent::MouseMove, QPointF(append), QPointF(strip.mapToGlobal(append)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&strip, &move);
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, append);
    EXPECT_EQ(labelOf(*app), "Moving items");
    EXPECT_EQ(layerA.at(2), first);
    EXPECT_EQ(strip.GetSelection(), 2);
    EXPECT_EQ(strip.GetColumnText(2), QString::fromStdString(first->name()));

    // Click and Shift-click select two columns; Delete removes both and keeps the index.
    QTest::mouseClick(&strip, Qt::LeftButton, {}, columnPoint(strip, 0));
    QTest::mouseClick(&strip, Qt::LeftButton, Qt::ShiftModifier, columnPoint(strip, 1));
    EXPECT_EQ(deck.control().selectedColumns(), (std::vector<int32_t>{0, 1}));
    QTest::keyClick(&strip, Qt::Key_Delete);
    EXPECT_EQ(labelOf(*app), "Remove items from list");
    ASSERT_EQ(layerA.size(), 1u);
    EXPECT_EQ(layerA.at(0), first);
    EXPECT_EQ(strip.GetSelection(), 0);
    EXPECT_EQ(deck.control().focusItem(), first);
    (void)second;
    (void)third;

    // A double click asks for the settings: the Parameters Deck comes back.
    app->mainFrame().setDeckVisible(kParametersDeckPanel, false);
    QTest::mouseDClick(&strip, Qt::LeftButton, {}, columnPoint(strip, 0));
    EXPECT_TRUE(app->mainFrame().panelWindow(kParametersDeckPanel)->isVisible());
}

TEST_F(Shell, RightClickMovesTheListSelectionThroughTheItemMenu)
{
    auto app = start();
    CClipDeckWindow& deck = app->mainFrame().clipDeck();
    tavrel::CTavrelCtrl& strip = *deck.list().events();
    deck.control().selectTrack(kLayerB);
    const std::string clip = media::avClip4s();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(deck.control().addClip(clip));
    ZEFItem* b1 = app->project().device(kLayerB).at(1);
    ZEFItem* b2 = app->project().device(kLayerB).at(2);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, columnPoint(strip, 1));
    QTest::mouseClick(&strip, Qt::LeftButton, Qt::ShiftModifier, columnPoint(strip, 2));
    // A right click on a selected column keeps both; the menu's move takes both, in order.
    bool moveToLayerB = true;
    answerNextMenu([&](QMenu& menu) {
        QMenu* moveTo = nullptr;
        for (QAction* a : menu.actions())
            if (a->text() == QStringLiteral("Move Item(s) to")) moveTo = a->menu();
        ASSERT_NE(moveTo, nullptr);
        moveToLayerB = actionNamed(*moveTo, QStringLiteral("Layer B"))->isEnabled();
        actionNamed(*moveTo, QStringLiteral("Gallery (X)"))->trigger();
    });
    QTest::mousePress(&strip, Qt::RightButton, {}, columnPoint(strip, 2));
    EXPECT_FALSE(moveToLayerB) << "the items are on Layer B already";
    EXPECT_EQ(labelOf(*app), "Moving items");
    const FDevice& gallery = app->project().device(kGallery);
    ASSERT_EQ(gallery.size(), 2u);
    EXPECT_EQ(gallery.at(0), b1);
    EXPECT_EQ(gallery.at(1), b2);
    EXPECT_EQ(app->project().device(kLayerB).size(), 1u);
    EXPECT_FALSE(deck.control().fromListSelection);
}

TEST_F(Shell, FilesDroppedOnTheClipDeckAreAddedUpToTheFirstBadOne)
{
    auto app = start();
    CClipDeckWindow& deck = app->mainFrame().clipDeck();
    const std::string good = media::avClip4s();
    const std::string bad = zef::movies::testing::writeFile("not-a-clip.txt", "words");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(good)),
                  QUrl::fromLocalFile(QString::fromStdString(bad)),
                  QUrl::fromLocalFile(QString::fromStdString(media::mjpegAvi()))});
    const QPoint at = deck.list().widget()->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&deck, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&deck, &drop);
    EXPECT_EQ(labelOf(*app), "Dropped clips from explorer");
    EXPECT_EQ(app->project().device(kLayerA).size(), 1u);
    ASSERT_EQ(m_boxes.seen.size(), 1u);
    EXPECT_EQ(m_boxes.seen[0].title, QStringLiteral("Error"));
    EXPECT_EQ(deck.list().GetColumnCount(), 1);

    // Text that is not a file is not taken.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent words(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    words.ignore();
    QApplication::sendEvent(&deck, &words);
    EXPECT_FALSE(words.isAccepted());
}
