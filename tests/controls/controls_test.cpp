// The self-drawn controls and their artwork, offscreen.
#include "ui/artwork/artwork.h"
#include "ui/controls/gui_dialog.h"
#include "ui/controls/images.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"

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

TEST(CXRadioButton, CheckingOneUnchecksTheRestOfItsGroupOnly)
{
    QWidget parent;
    auto* first = new CXRadioButton(QStringLiteral("one"), &parent);
    auto* second = new CXRadioButton(QStringLiteral("two"), &parent);
    auto* last = new CXRadioButton(QStringLiteral("three"), &parent);
    auto* nextGroup = new CXRadioButton(QStringLiteral("other"), &parent);
    auto* nextMember = new CXRadioButton(QStringLiteral("other two"), &parent);
    first->setGroupStart(true);
    nextGroup->setGroupStart(true);
    for (CXCheckBox* b : {first, second, last, nextGroup, nextMember})
        b->resize(120, 18);
    first->setChecked(true);
    second->setChecked(true);
    nextGroup->setChecked(true);
    QTest::mouseClick(last, Qt::LeftButton, {}, QPoint(5, 9));
    EXPECT_TRUE(last->isChecked());
    EXPECT_FALSE(first->isChecked());
    EXPECT_FALSE(second->isChecked());
    EXPECT_TRUE(nextGroup->isChecked());
    // A checked radio button stays checked when clicked again.
    QTest::mouseClick(last, Qt::LeftButton, {}, QPoint(5, 9));
    EXPECT_TRUE(last->isChecked());
    // Checking the group's first button reaches forward to the group's end only.
    nextMember->setChecked(true);
    EXPECT_FALSE(nextGroup->isChecked());
    EXPECT_TRUE(last->isChecked());
}

TEST(CXCheckBox, ClickTogglesAndAReleaseOutsideDoesNothing)
{
    CXCheckBox box(QStringLiteral("Loop"));
    box.resize(100, 18);
    QSignalSpy clicks(&box, &CXCheckBox::clicked);
    QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(5, 9));
    EXPECT_TRUE(box.isPressed());
    QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(300, 9));
    EXPECT_FALSE(box.isChecked());
    EXPECT_EQ(clicks.count(), 0);
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 9));
    EXPECT_TRUE(box.isChecked());
    // The tick is drawn into the box: amber pixels only while checked.
    auto amber = [&] {
        const QImage shot = box.grab().toImage();
        int n = 0;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 18; ++x)
                n += qRed(shot.pixel(x, y)) > 200 && qGreen(shot.pixel(x, y)) > 150 &&
                     qBlue(shot.pixel(x, y)) < 80;
        return n;
    };
    EXPECT_GT(amber(), 4);
    box.setChecked(false);
    EXPECT_EQ(amber(), 0);
}

TEST(CXSliderCtrl, ThumbDragKeepsTheGrabAndABesidePressPages)
{
    CXSliderCtrl slider;
    slider.resize(100 + CXSliderCtrl::kThumbLength, 20);
    slider.setRange(0, 1000);
    slider.setPageSize(100);
    QSignalSpy scrolls(&slider, &CXSliderCtrl::scrolled);
    // Grabbed 4 pixels into the thumb and moved 30 pixels: 300 of a 100-pixel travel.
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(4, 10));
    ASSERT_TRUE(slider.isDragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(34, 10),
                     QPointF(slider.mapToGlobal(QPoint(34, 10))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    EXPECT_EQ(slider.position(), 300);
    EXPECT_EQ(scrolls.last().at(0).toInt(), int(CXSliderCtrl::ThumbPosition));
    // Far past the end: clamped.
    QMouseEvent far(QEvent::MouseMove, QPointF(500, 10),
                    QPointF(slider.mapToGlobal(QPoint(500, 10))), Qt::NoButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(&slider, &far);
    EXPECT_EQ(slider.position(), 1000);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(500, 10));
    EXPECT_EQ(scrolls.last().at(0).toInt(), int(CXSliderCtrl::EndScroll));
    // A press before the thumb pages down by one page.
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(slider.position(), 900);
}

TEST(CXTimeCode, KeysStepTypeAndClampToTheRange)
{
    CXTimeCode field;
    field.resize(100, 24);
    field.setRange(zef::EditTime(), zef::EditTime::raw(600 * 10, 25, 1)); // ten seconds
    field.setValue(zef::EditTime::raw(600 * 9, 25, 1));
    field.show();
    EXPECT_EQ(field.width(), CXTimeCode::widthFor(24)); // the field keeps its own width
    field.setFocus();
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&field, &in);
    EXPECT_EQ(field.cursorCell(), 3);
    QSignalSpy changes(&field, &CXTimeCode::changed);

    // Up on the frames cell steps a frame; at the maximum it stays there.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&field, Qt::Key_Right);
    EXPECT_EQ(field.cursorCell(), 6);
    QTest::keyClick(&field, Qt::Key_Up);
    EXPECT_EQ(field.value().ticks(), 600 * 9 + 24);
    QTest::keyClick(&field, Qt::Key_Left);
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(&field, Qt::Key_Up); // ten frames at a time, far past the end
    EXPECT_EQ(field.value().ticks(), 600 * 10);
    EXPECT_GT(changes.count(), 1);

    // Digits fill from the most significant one: 0:00:05:12 at 25 fps.
    for (Qt::Key k : {Qt::Key_0, Qt::Key_0, Qt::Key_0, Qt::Key_0, Qt::Key_5, Qt::Key_1, Qt::Key_2})
        QTest::keyClick(&field, k);
    EXPECT_EQ(field.value().ticks(), 600 * 5 + 12 * 24);
    // Backspace puts 0 where the entry stands and steps back; Delete empties the time.
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.value().ticks(), 600 * 5 + 10 * 24);
    QTest::keyClick(&field, Qt::Key_Delete);
    EXPECT_EQ(field.value().ticks(), 0);
    EXPECT_TRUE(field.wholeCellCaret());
    QTest::keyClick(&field, Qt::Key_End);
    EXPECT_EQ(field.value().ticks(), 6000);
    QTest::keyClick(&field, Qt::Key_Home);
    EXPECT_EQ(field.value().ticks(), 0);
    // A click picks the cell under the mouse.
    QTest::mouseClick(&field, Qt::LeftButton, {}, field.cellRect(1).center());
    EXPECT_EQ(field.cursorCell(), 1);
}

TEST(XGroup, FramesAndCaptionGreyOutWhenDisabled)
{
    XGroup group(QStringLiteral("Audio"));
    group.resize(120, 60);
    auto whitePixels = [&] {
        const QImage shot = group.grab().toImage();
        int n = 0;
        for (int y = 0; y < group.innerRect().top(); ++y)
            for (int x = 4; x < 116; ++x)
                n += (shot.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
        return n;
    };
    EXPECT_GT(whitePixels(), 5);
    group.setEnabled(false);
    EXPECT_EQ(whitePixels(), 0);
}
