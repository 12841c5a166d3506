// The VCR Deck in device mode on the software tape deck: its buttons drive the tape and the
// Preview Deck shows the tape's pictures.
#include "app/shell/main_frame.h"
#include "app/shell/zef_app.h"
#include "capture/tape_deck.h"
#include "platform/graph/software_tape_deck.h"
#include "tests/shell/box_answerer.h"
#include "tests/shell/test_app.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace zef;
using namespace zef::app;

TEST(TapeDeckShell, DeviceModePlaysAndPausesTheSoftwareDeckAndThePreviewShowsItsTape)
{
    QTemporaryDir dir;
    CZefApp::Options o = test::appOptions(dir.path());
    qunsetenv(graph::kSoftwareDeckTapeVariable);
    test::BoxAnswerer boxes;
    CZefApp app(o);
    ASSERT_TRUE(app.startUp({}));
    ASSERT_TRUE(app.tapeDeck() && app.tapeDeck()->isOpen()); // the software deck by default

    ui::CPreviewPanel& vcr = app.mainFrame().vcrDeck();
    ui::DPreview& preview = app.mainFrame().previewDeck();
    app.setDeviceMode(true);
    ASSERT_TRUE(vcr.deviceMode());
    auto* label = vcr.findChild<ui::XStatic*>(QStringLiteral("DeviceMode"));
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), QStringLiteral("Device mode: Stopped"));

    // Activating the deck, as a click on its buttons does, leaves the timecode field following.
    QApplication::setActiveWindow(&vcr);
    auto* field = vcr.findChild<ui::CXTimeCode*>(QStringLiteral("Timecode"));
    ASSERT_TRUE(field);
    EXPECT_FALSE(field->hasFocus());
    emit vcr.button(ui::CPreviewPanel::kPlay)->clicked();
    EXPECT_EQ(label->text(), QStringLiteral("Device mode: Playing"));
    // The tape moves on its own clock: pictures of later frames arrive.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !preview.outsidePicture().isNull() && vcr.position().ticks() >= 10 * 24; },
        20000));

    emit vcr.button(ui::CPreviewPanel::kPlay)->clicked();
    EXPECT_EQ(label->text(), QStringLiteral("Device mode: Paused"));
    const int64_t frame = app.tapeDeck()->timecode().ticks() / 24; // 25 fps
    auto shownFrame = [&] {
        QImage image = preview.outsidePicture().convertToFormat(QImage::Format_ARGB32);
        movies::Pixmap p(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(p.row(y), image.constScanLine(y), size_t(image.width()) * 4);
        return graph::readGeneratedTapeFrameNumber(p);
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownFrame() == frame; }, 20000))
        << "shown " << shownFrame() << ", deck at " << frame;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return field->value().ticks() == app.tapeDeck()->timecode().ticks(); }, 2000));

    app.setDeviceMode(false);
    EXPECT_FALSE(vcr.deviceMode());
    EXPECT_TRUE(preview.outsidePicture().isNull());
}
