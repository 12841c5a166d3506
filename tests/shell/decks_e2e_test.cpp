// The settings decks end to end: a real editor (offscreen) whose title colour and filter
// parameter are set through the Parameters Deck's pages and dialogs, then a render through
// FRender to PNG files, in which both are found.
#include "app/clipdeck/clip_deck.h"
#include "app/shell/main_frame.h"
#include "app/shell/zef_app.h"
#include "engine/movie_builder.h"
#include "engine/render.h"
#include "model/project.h"
#include "platform/movies/export/standard_exporters.h"
#include "tests/movies/test_media.h"
#include "tests/shell/box_answerer.h"
#include "tests/shell/test_app.h"
#include "ui/controls/xbutton.h"
#include "ui/decks/applied_filters_dialog.h"
#include "ui/decks/clip_settings_dialog.h"
#include "ui/decks/color_button.h"
#include "ui/decks/effect_parameter_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/decks/titler_setup.h"

#include <QListWidget>

#include <gtest/gtest.h>

#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QImage>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace zef;
using namespace zef::app;
namespace media = zef::movies::testing::media;

namespace {

// Runs `answer` on the next modal dialog or pop-up menu of type W that opens.
template <class W> void answerNext(std::function<void(W&)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        QWidget* open = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : QApplication::activeModalWidget();
        auto* w = qobject_cast<W*>(open);
        if (!w) return;
        timer->stop();
        timer->deleteLater();
        answer(*w);
    });
    timer->start();
}

} // namespace

TEST(DecksEndToEnd, TitleColourAndFilterParameterSetInTheDecksShowInTheRenderedFrames)
{
    QTemporaryDir dir;
    test::BoxAnswerer boxes;
    CZefApp::Options o = test::appOptions(dir.path());
    CZefApp app(o);
    ASSERT_TRUE(app.startUp({}));
    FProject& project = app.project();
    FMainControl& control = app.mainFrame().clipControl();
    ui::CParametersContainer& deck = app.mainFrame().parametersDeck();

    // A clip on Layer A (white bars on black); the deck shows its page. Its filters dialog
    // adds "Brightness and Contrast", whose parameter dialog takes the brightness down to -100.
    control.selectTrack(kLayerA);
    ASSERT_TRUE(control.addClip(media::avClip4s()));
    auto* clipPage = qobject_cast<ui::CClipSettingsDialog*>(deck.settingsPage());
    ASSERT_TRUE(clipPage);
    QTest::mouseClick(clipPage->filtersButton(), Qt::LeftButton);
    auto* filters = deck.findChild<ui::CAppliedFiltersDialog*>();
    ASSERT_TRUE(filters);
    ASSERT_TRUE(QTest::qWaitForWindowActive(filters));
    answerNext<QMenu>([](QMenu& menu) {
        for (QAction* a : menu.actions())
            if (a->text() == QStringLiteral("Brightness and Contrast")) a->trigger();
        menu.close();
    });
    QTest::mouseClick(filters->button("Add Filter"), Qt::LeftButton);
    QTest::mouseClick(filters->button("Setup Filter"), Qt::LeftButton);
    ui::CEffectParameterDialog* parameters = deck.parameterEditing().dialog();
    ASSERT_TRUE(parameters);
    qobject_cast<QDoubleSpinBox*>(parameters->panel().control(movies::fourcc("brit")))
        ->setValue(-100);
    QTest::mouseClick(parameters->findChild<ui::CXButton*>(QStringLiteral("OK")), Qt::LeftButton);
    QTest::mouseClick(filters->button("Close"), Qt::LeftButton);
    ASSERT_EQ(project.device(kLayerA).at(0)->filterCount(), 1u);

    // A title: its text typed into the titler, its colour chosen with the colour button.
    control.selectTrack(kTitleTrack);
    ASSERT_TRUE(control.addTitle());
    auto* titler = qobject_cast<ui::CTitlerSetup*>(deck.settingsPage());
    ASSERT_TRUE(titler);
    QTest::keyClicks(titler->textBox(), QStringLiteral("HELLO"));
    titler->fontTab().size->setValue(72);
    answerNext<QColorDialog>([](QColorDialog& chooser) {
        chooser.setCurrentColor(QColor(255, 0, 0));
        chooser.accept();
    });
    QTest::mouseClick(titler->fontTab().colour, Qt::LeftButton);
    QTest::qWait(ui::CTitlerSetup::kTextDelay + 100);
    EXPECT_EQ(project.undoHistory().undoLabels().size(), 3u); // add clip, filters, add title

    // Two frames from the middle of the title, rendered to PNG files.
    CProjectTemplate t = project.composition();
    t.exportSubType = movies::kMovieExportImageSequence;
    t.exportManufacturer = movies::kStandardExporterManufacturer;
    t.exportSettings = movies::Handle();
    t.outputFile = dir.filePath(QStringLiteral("frame.png")).toStdString();
    project.setComposition(t);
    project.renderEndFollowsProject = false;
    project.renderStart = EditTime(600);
    project.renderEnd = EditTime(640);
    movies::ComponentManager components;
    movies::registerStandardExporters(components);
    FRender render(project, app.builder(), components);
    ASSERT_TRUE(render.renderRange());
    const QImage frame(dir.filePath(QStringLiteral("frame_00001.png")));
    ASSERT_FALSE(frame.isNull());

    int red = 0, bright = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QColor c = frame.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 60 && c.blue() < 60;
            bright += c.red() > 150 && c.green() > 150 && c.blue() > 150;
        }
    EXPECT_GT(red, 200) << "the title's text in its chosen colour";
    EXPECT_EQ(bright, 0) << "the clip's white bars darkened by the filter";
}

TEST(DecksEndToEnd, CtrlFOpensTheFiltersOfTheCurrentItemAndKeysStayInTheDialog)
{
    QTemporaryDir dir;
    test::BoxAnswerer boxes;
    CZefApp::Options o = test::appOptions(dir.path());
    CZefApp app(o);
    ASSERT_TRUE(app.startUp({}));
    FMainControl& control = app.mainFrame().clipControl();
    ASSERT_TRUE(control.addClip(media::avClip4s()));
    control.setSelectedColumns({0});
    ASSERT_TRUE(control.itemMenuStates(false).appliedFilters);

    QWidget& clipDeck = *app.mainFrame().panelWindow(kClipDeckPanel);
    clipDeck.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&clipDeck));
    QTest::keyClick(&clipDeck, Qt::Key_F, Qt::ControlModifier);
    auto* filters = app.mainFrame().parametersDeck().findChild<ui::CAppliedFiltersDialog*>();
    ASSERT_TRUE(filters && filters->isVisible());
    EXPECT_EQ(&filters->item(), app.project().device(kLayerA).at(0));

    // Ctrl+Z in the dialog does not undo the clip out from under it.
    ASSERT_TRUE(QTest::qWaitForWindowActive(filters));
    QTest::keyClick(filters->list(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(app.project().device(kLayerA).size(), 1u);
    QTest::mouseClick(filters->button("Close"), Qt::LeftButton);
}
