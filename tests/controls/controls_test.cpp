// The self-drawn controls and their artwork, offscreen.
#include "ui/artwork/artwork.h"
#include "ui/controls/gui_dialog.h"
#include "ui/controls/images.h"
#include "ui/controls/xbutton.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace zef::ui;

TEST(CXButton, PressAndReleaseDecideTheCommandAndTheLook)
{
    CXButton plain;
    plain.resize(34, 34);
    QSignalSpy clicks(&plain, &CXButton::clicked);
    // Released outside: no command, and the look returns to unpressed.
    QTest::mousePress(&plain, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(plain.isPressed());
    QTest::mouseRelease(&plain, Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(plain.isPressed());
    QTest::mouseClick(&plain, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(plain.isPressed());

    // A toggling button keeps its pressed look after release, and loses it on the next click.
    CXButton toggle;
    toggle.resize(34, 34);
    toggle.setImages(QStringLiteral("bar-render"), QStringLiteral("bar-render"));
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(toggle.isPressed());
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(toggle.isPressed());

    // Repeat notifications: the command at button-down, a release notification at button-up.
    CXButton step;
    step.resize(34, 34);
    step.setRepeatNotifications(true);
    QSignalSpy stepClicks(&step, &CXButton::clicked), released(&step, &CXButton::released);
    QTest::mousePress(&step, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(stepClicks.count(), 1);
    EXPECT_EQ(released.count(), 0);
    QTest::mouseRelease(&step, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(released.count(), 1);
}

TEST(CXButton, RoundFaceGlowsOnlyInItsChannelsWhileChecked)
{
    CXButton b;
    b.resize(40, 40);
    b.setRound(true);
    b.setGlow(true, false, false);
    const QImage dark = b.renderFace(true, false, 144);
    const QImage lit = b.renderFace(true, true, 144);
    const QRgb centreDark = dark.pixel(20, 20), centreLit = lit.pixel(20, 20);
    EXPECT_EQ(qRed(centreDark), qGreen(centreDark));
    EXPECT_GT(qRed(centreLit), qRed(centreDark) + 100);
    EXPECT_EQ(qGreen(centreLit), qGreen(centreDark));
    EXPECT_EQ(qBlue(centreLit), qBlue(centreDark));
    // Outside the ellipse the parent shows through.
    EXPECT_EQ(qAlpha(dark.pixel(1, 1)), 0);
}

TEST(Artwork, KeyedPiecesAreOpaqueOrMagentaAndLoadTransparent)
{
    for (const ArtworkPiece& piece : artworkPieces()) {
        const QImage image = renderArtwork(piece);
        ASSERT_EQ(image.size(), QSize(piece.width, piece.height)) << piece.name.toStdString();
        if (piece.withAlpha) continue;
        int keyed = 0, drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                ASSERT_EQ(qAlpha(c), 255);
                (c & 0xFFFFFF) == 0xFF00FF ? ++keyed : ++drawn;
            }
        EXPECT_GT(drawn, 0) << piece.name.toStdString();
    }
    // The built-in copy: magenta has become transparent, and faces map white to 192.
    const QImage open = artworkImage(QStringLiteral("bar-open"), ImageMapping::Face);
    ASSERT_FALSE(open.isNull());
    EXPECT_EQ(qAlpha(open.pixel(0, 0)), 0);
    bool anyWhite = false;
    for (int y = 0; y < open.height(); ++y)
        for (int x = 0; x < open.width(); ++x)
            anyWhite |= qAlpha(open.pixel(x, y)) && (open.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_FALSE(anyWhite);
}

TEST(CGUIDialog, ToolTipsComeFromTheControlsDataOrText)
{
    CGUIDialog dialog;
    auto* button = new QPushButton(QStringLiteral("Render"), &dialog);
    auto* label = new QLabel(&dialog);
    EXPECT_EQ(CGUIDialog::tipFor(button), QStringLiteral("Render"));
    CGUIDialog::setControlTip(label, QString(100, QLatin1Char('x')));
    EXPECT_EQ(CGUIDialog::tipFor(label).size(), CGUIDialog::kMaxTipLength);
}
