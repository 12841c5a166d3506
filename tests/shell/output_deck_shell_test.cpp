// The output settings in the running editor: reached from the main bar's Render button as the
// Parameters Deck's project page, and a render's progress in the main bar.
#include "app/shell/main_bar.h"
#include "app/shell/zef_app.h"
#include "model/project.h"
#include "output/doutput_settings.h"
#include "tests/shell/box_answerer.h"
#include "tests/shell/test_app.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/parameters_container.h"
#include "ui/preview/preview_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace zef;
using namespace zef::app;

TEST(OutputDeckInEditor, TheRenderButtonShowsTheProjectPageWhoseFormSizesTheDeck)
{
    QTemporaryDir dir;
    test::BoxAnswerer boxes;
    CZefApp::Options o = test::appOptions(dir.path());
    CZefApp app(o);
    ASSERT_TRUE(app.startUp({}));
    ui::CParametersContainer& deck = app.mainFrame().parametersDeck();
    CMainBar& bar = app.mainFrame().mainBar();

    QTest::mouseClick(bar.button(CMainBar::kRender), Qt::LeftButton);
    ASSERT_TRUE(deck.showsProjectPage());
    EXPECT_EQ(deck.caption(), QStringLiteral("Parameters: Project"));
    auto* page = qobject_cast<output::DOutputSettings*>(deck.projectPage());
    ASSERT_NE(page, nullptr);
    // The project's template is the default one of the System file, shown in the list.
    EXPECT_EQ(page->findChild<QWidget*>("Templates")->property("currentText").toString(),
              QStringLiteral("VHS Quality, 30 fps movie"));
    const int frame = deck.height() - deck.clientRect().height();
    EXPECT_EQ(deck.height(), output::DOutputSettings::kShortHeight + frame);
    QTest::mouseClick(page->findChild<QWidget*>("Details"), Qt::LeftButton);
    EXPECT_EQ(deck.height(), output::DOutputSettings::kFullHeight + frame);
    EXPECT_TRUE(app.project().previewFlags[1]);

    // Keys typed into the in-point field stay there instead of moving the preview's time.
    auto* in = page->findChild<ui::CXTimeCode*>("InPoint");
    in->setFocus();
    QApplication::setActiveWindow(&deck);
    const EditTime before = app.mainFrame().vcrDeck().position();
    QTest::keyClick(in, Qt::Key_Right);
    EXPECT_EQ(in->cursorCell(), 4);
    EXPECT_EQ(app.mainFrame().vcrDeck().position(), before);

    // While a render's progress shows, messages wait; its last text stays when it finished.
    CFile2000Status s;
    s.progressShown = true;
    s.fraction = 1.0;
    s.displayed = "Rendering  finished";
    bar.showRenderStatus(&s);
    bar.showMessage("%s", "not now");
    EXPECT_TRUE(bar.progressOwner());
    bar.showRenderStatus(nullptr);
    EXPECT_FALSE(bar.progressOwner());
    EXPECT_EQ(bar.message(), QStringLiteral("Rendering  finished"));
}
