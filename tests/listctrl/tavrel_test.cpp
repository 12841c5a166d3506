// The clip strip control: its rules without painting, then the widget driven with Qt's test
// events offscreen, and the pixels it paints.
#include "listctrl/tavrel_ctrl.h"
#include "listctrl/tavrel_model.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace tavrel;

namespace {

// The rows a host such as the editor adds: a name row, two times and a thumbnail area.
void addRows(TavrelModel& m)
{
    for (const char* name : {"", "Source In Time", "Source Out Time", "", "", ""})
        m.addRow(QString::fromLatin1(name));
}

void addRows(CTavrelCtrl& c)
{
    for (const char* name : {"", "Source In Time", "Source Out Time", "", "", ""})
        c.AddRow(QString::fromLatin1(name));
}

TavrelModel model(int columns)
{
    TavrelModel m;
    addRows(m);
    for (int i = 0; i < columns; ++i)
        m.addNewColumn(QStringLiteral("clip %1").arg(i), QStringLiteral("tip %1").arg(i), 25,
                       false);
    return m;
}

std::vector<int> selectedOf(const TavrelModel& m)
{
    std::vector<int> out;
    for (int i = 0; i < m.columnCount(); ++i)
        if (m.isSelected(i)) out.push_back(i);
    return out;
}

// A shown control of `columns` columns, six rows of 20 pixels (inner height 120) and three
// nominal columns of 70 pixels.
std::unique_ptr<CTavrelCtrl> control(int columns)
{
    auto c = std::make_unique<CTavrelCtrl>();
    c->resize(2 + kRowNameWidth + 3 * 70 + 20, 122);
    addRows(*c);
    for (int i = 0; i < columns; ++i)
        c->AddNewColumn(QStringLiteral("clip %1").arg(i), QStringLiteral("tip %1").arg(i), 25,
                        false);
    c->show();
    return c;
}

// The middle of column index's slot, in the name row or a lower row.
QPoint centreOf(const CTavrelCtrl& c, int index, int row = 1)
{
    const TavrelModel::Geometry g = c.geometry();
    const Box b = c.model().columnBox(g, index);
    return QPoint((b.l + b.r) / 2, g.inner.t + row * g.rowHeight + g.rowHeight / 2);
}

void moveWithButton(QWidget* w, const QPoint& pos, Qt::KeyboardModifiers mods = {})
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton,
                  Qt::LeftButton, mods);
    QApplication::sendEvent(w, &e);
}

} // namespace

TEST(TavrelTime, TextRoundsFramesHalfUpAndNeverWrapsMinutes)
{
    EXPECT_EQ(timeText(-1, 25, 600), QStringLiteral("--:--:--"));
    EXPECT_EQ(timeText(3600 * 600, 25, 600), QStringLiteral("60:00:00"));
    EXPECT_EQ(timeText(612, 25, 600), QStringLiteral("00:01:01"));
    EXPECT_EQ(timeText(611, 25, 600), QStringLiteral("00:01:00"));
    // A column of rate 0 prints with column 0's rate; without any rate the frames are 00.
    TavrelModel m = model(2);
    m.columnAt(1)->rate = 0;
    m.setValue(1, 0, 612);
    EXPECT_EQ(m.columnTime(1, 0), QStringLiteral("00:01:01"));
    EXPECT_EQ(timeText(612, 0, 600), QStringLiteral("00:01:00"));
}

TEST(TavrelModelRules, SelectionClampsScrollsAndResetsTheFlags)
{
    TavrelModel m = model(5);
    m.visibleColumnCount = 3;
    m.leftClick(0, false, false);
    m.leftClick(1, false, true);
    m.setSelection(99);
    EXPECT_EQ(m.selection(), 4);
    EXPECT_EQ(m.columnOffset, 2);
    EXPECT_EQ(selectedOf(m), std::vector<int>{4});
    m.setSelection(0);
    EXPECT_EQ(m.columnOffset, 0);
    m.setSelection(-7);
    EXPECT_EQ(m.selection(), -1);
    EXPECT_TRUE(selectedOf(m).empty());
    EXPECT_EQ(m.columnOffset, 0);

    // Keys and the spin button clamp at both ends and say whether anything moved.
    m.setSelection(4);
    EXPECT_FALSE(m.moveSelection(1));
    EXPECT_TRUE(m.moveSelection(-1));
    EXPECT_EQ(m.selection(), 3);
}

TEST(TavrelModelRules, DeletingTheSelectionColumnFocusesItsNeighbour)
{
    TavrelModel m = model(4);
    m.setSelection(2);
    EXPECT_EQ(m.deleteColumn(2), 2);
    EXPECT_EQ(m.selection(), 1);
    EXPECT_EQ(selectedOf(m), std::vector<int>{1});
    m.setSelection(0);
    EXPECT_EQ(m.deleteColumn(0), 0);
    EXPECT_EQ(m.selection(), 0);
    EXPECT_EQ(m.column(0).name, QStringLiteral("clip 1"));
    EXPECT_EQ(m.deleteColumn(9), -1);
    // Removing a column after the focus leaves it alone; with nothing focused nothing is.
    m.setSelection(-1);
    m.deleteColumn(1);
    EXPECT_EQ(m.selection(), -1);
}

TEST(TavrelModelRules, ClicksFollowShiftCtrlAndTheRightButtonRules)
{
    TavrelModel m = model(6);
    // Shift without a selected column is a plain click.
    m.leftClick(3, true, false);
    EXPECT_EQ(selectedOf(m), std::vector<int>{3});
    // Shift from the lowest selected column to the hit, keeping the others.
    m.leftClick(0, false, true);
    m.leftClick(2, true, false);
    EXPECT_EQ(selectedOf(m), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(m.selection(), 2);
    // Ctrl on the focus column unselects it and leaves no focus.
    m.leftClick(2, false, true);
    EXPECT_EQ(m.selection(), -1);
    EXPECT_EQ(selectedOf(m), (std::vector<int>{0, 1, 3}));
    // Right button on a selected column keeps the multiple selection, on another one not.
    m.rightClick(1);
    EXPECT_EQ(m.selection(), 1);
    EXPECT_EQ(selectedOf(m), (std::vector<int>{0, 1, 3}));
    m.rightClick(5);
    EXPECT_EQ(selectedOf(m), std::vector<int>{5});
}

TEST(TavrelModelRules, GeometryStretchesColumnsAndHitTestsTheSlots)
{
    TavrelModel m = model(4);
    // Six rows in 120 inner pixels: rows of 20 and nominal columns of 70.
    TavrelModel::Geometry g = m.layout(2 + kRowNameWidth + 3 * 70 + 20, 122);
    EXPECT_EQ(g.rowHeight, 20);
    EXPECT_EQ(g.nominalWidth, 70);
    EXPECT_EQ(m.visibleColumnCount, 3);
    EXPECT_EQ(g.step, (3 * 70 + 20) / 3); // stretched to fill the width
    EXPECT_EQ(TavrelModel::slotBox(g, 1).l, 1 + 24 + g.step);
    // Hit boxes start two pixels into a slot.
    const int left1 = 1 + kRowNameWidth + 1 + g.step;
    EXPECT_EQ(m.hitTest(g, left1, 30, false), 1);
    EXPECT_EQ(m.hitTest(g, left1 - 1, 30, false), 0);
    EXPECT_EQ(m.hitTest(g, 10, 30, false), -1); // the row-name strip
    // With the strip scrolled to the end, the empty slot after the last column is the append
    // position while dropping and nothing otherwise.
    m.columnOffset = 2;
    const int slot2 = 1 + kRowNameWidth + 1 + 2 * g.step + 5;
    EXPECT_EQ(m.hitTest(g, slot2, 30, true), 4);
    EXPECT_EQ(m.hitTest(g, slot2, 30, false), -1);
    // Too narrow for one nominal column: one column, never zero.
    m.layout(60, 122);
    EXPECT_EQ(m.visibleColumnCount, 1);
    // Without rows nothing is hit.
    TavrelModel empty;
    EXPECT_EQ(empty.hitTest(empty.geometry(300, 122), 100, 30, true), -1);
}

TEST(TavrelModelRules, MethodsRejectBadIndexesAndOversizedData)
{
    TavrelModel m = model(2);
    for (int i = 6; i < kMaxRows; ++i)
        EXPECT_EQ(m.addRow(QString()), i);
    EXPECT_EQ(m.addRow(QStringLiteral("eleventh")), -1);
    EXPECT_FALSE(m.setValue(2, 0, 5));
    EXPECT_FALSE(m.setValue(0, 3, 5)); // three value rows only
    std::vector<uint32_t> big(81 * 80, 0xFFFFFFFF);
    EXPECT_FALSE(m.setThumbnail(0, big.data(), 81, 80));
    EXPECT_FALSE(m.column(0).hasThumbnail);
    EXPECT_TRUE(m.setThumbnail(0, big.data(), 80, 80));
    EXPECT_FALSE(m.setThumbnail(0, big.data(), -80, -80));
    EXPECT_FALSE(m.column(0).hasThumbnail);
    // Names keep 259 characters; an insert before the focus keeps the focus on its column.
    m.setColumnText(1, QString(300, QLatin1Char('n')), QStringLiteral("t"));
    EXPECT_EQ(m.column(1).name.size(), kMaxText);
    m.setSelection(1);
    EXPECT_EQ(m.insertColumn(0, QStringLiteral("new"), {}, 25, false), 0);
    EXPECT_EQ(m.selection(), 2);
    EXPECT_EQ(m.insertColumn(40, QStringLiteral("end"), {}, 25, false), 3);
}

TEST(TavrelDispatch, MembersAnswerByDispatchId)
{
    CTavrelCtrl c;
    QVariant r;
    ASSERT_TRUE(c.invoke(DISPID_AddRow, Dispatch::Method, {QStringLiteral("names")}, &r));
    EXPECT_EQ(r.toInt(), 0);
    c.invoke(DISPID_AddRow, Dispatch::Method, {QStringLiteral("Source In Time")});
    ASSERT_TRUE(c.invoke(DISPID_AddNewColumn, Dispatch::Method,
                         {QStringLiteral("a"), QStringLiteral("tip a"), 25, false}, &r));
    EXPECT_EQ(r.toInt(), 0);
    c.invoke(DISPID_SetValue, Dispatch::Method, {0, 0, 612});
    EXPECT_EQ(c.model().columnTime(0, 0), QStringLiteral("00:01:01"));
    const uint32_t pixels[4] = {1, 2, 3, 4};
    c.invoke(DISPID_SetThumbnail, Dispatch::Method,
             {0, QVariant::fromValue(static_cast<void*>(const_cast<uint32_t*>(pixels))), 2, 2});
    EXPECT_EQ(c.model().column(0).thumbnail, (std::vector<uint32_t>{1, 2, 3, 4}));
    ASSERT_TRUE(c.invoke(DISPID_Selection, Dispatch::PropertyPut, {5}));
    c.invoke(DISPID_Selection, Dispatch::PropertyGet, {}, &r);
    EXPECT_EQ(r.toInt(), 0);
    EXPECT_TRUE(c.isModified());
    c.invoke(DISPID_GetColumnText, Dispatch::Method, {3}, &r);
    EXPECT_TRUE(r.toString().isNull());
    EXPECT_FALSE(c.invoke(99, Dispatch::Method));
    EXPECT_FALSE(c.invoke(DISPID_SetValue, Dispatch::Method, {0}));
    EXPECT_FALSE(c.invoke(DISPID_ResetColumns, Dispatch::PropertyGet));
    EXPECT_EQ(createTavrelControl(QStringLiteral("Other.Control.1")), nullptr);
    std::unique_ptr<CTavrelCtrl> made(createTavrelControl(QString::fromLatin1(kProgId)));
    EXPECT_NE(made, nullptr);
}

TEST(TavrelWidget, MouseAndKeysFireTheEventsWithoutChangingColumns)
{
    auto c = control(5);
    QSignalSpy selection(c.get(), &CTavrelCtrl::OnColumnSelection);
    QSignalSpy deleted(c.get(), &CTavrelCtrl::OnColumnDeleted);
    QSignalSpy right(c.get(), &CTavrelCtrl::OnRButtonDown);
    QSignalSpy dbl(c.get(), &CTavrelCtrl::OnColumnDblClk);

    QTest::mouseClick(c.get(), Qt::LeftButton, {}, centreOf(*c, 1));
    ASSERT_EQ(selection.count(), 1);
    EXPECT_EQ(selection.last().at(0).toInt(), 1);
    QTest::mouseClick(c.get(), Qt::LeftButton, Qt::ShiftModifier, centreOf(*c, 2));
    EXPECT_EQ(c->GetItemSelection(1) + c->GetItemSelection(2), 2);
    // A click beside every column still reports, with -1.
    QTest::mouseClick(c.get(), Qt::LeftButton, {}, QPoint(8, 60));
    EXPECT_EQ(selection.last().at(0).toInt(), -1);
    QTest::mouseClick(c.get(), Qt::RightButton, {}, centreOf(*c, 0));
    EXPECT_EQ(right.last().at(0).toInt(), 0);
    EXPECT_EQ(c->GetSelection(), 0);
    QTest::mouseDClick(c.get(), Qt::LeftButton, {}, centreOf(*c, 0));
    EXPECT_EQ(dbl.last().at(0).toInt(), 0);

    // Page Up moves right and scrolls, Delete only reports.
    c->setFocus();
    const int before = selection.count();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(c.get(), Qt::Key_PageUp);
    EXPECT_EQ(c->GetSelection(), 4);
    EXPECT_EQ(c->GetColumnOffset(), 2);
    EXPECT_EQ(selection.count(), before + 4);
    QTest::keyClick(c.get(), Qt::Key_PageUp); // at the end: no event
    EXPECT_EQ(selection.count(), before + 4);
    QTest::keyClick(c.get(), Qt::Key_Delete);
    EXPECT_EQ(deleted.last().at(0).toInt(), 4);
    EXPECT_EQ(c->GetColumnCount(), 5);
    // The spin button: its left arrow moves the Selection one column left.
    QWidget* spin = c->spinButton();
    ASSERT_TRUE(spin->isVisible());
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(3, spin->height() / 2));
    EXPECT_EQ(c->GetSelection(), 3);
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() - 3, spin->height() / 2));
    EXPECT_EQ(c->GetSelection(), 4);
}

TEST(TavrelWidget, DragToTheRightEdgeScrollsToTheAppendSlotAndDropsThere)
{
    auto c = control(4);
    ASSERT_EQ(c->GetVisibleColumnCount(), 3);
    QSignalSpy drags(c.get(), &CTavrelCtrl::OnColumnDrag);
    const QPoint from = centreOf(*c, 1);
    QTest::mousePress(c.get(), Qt::LeftButton, {}, from);
    ASSERT_EQ(c->dragSource(), 1);
    const QPoint edge(c->width() - 2, from.y());
    for (int i = 0; i < 5; ++i)
        moveWithButton(c.get(), edge);
    EXPECT_EQ(c->GetColumnOffset(), 2); // one empty slot at the end stays in view
    // Over the empty slot: the marker before the append position.
    const Box slot = TavrelModel::slotBox(c->geometry(), 2);
    moveWithButton(c.get(), QPoint((slot.l + slot.r) / 2, from.y()));
    EXPECT_EQ(c->dropTarget(), 4);
    QTest::mouseRelease(c.get(), Qt::LeftButton, {}, QPoint((slot.l + slot.r) / 2, from.y()));
    ASSERT_EQ(drags.count(), 1);
    EXPECT_EQ(drags.last().at(0).toInt(), 1);
    EXPECT_EQ(drags.last().at(1).toInt(), 4);
    EXPECT_EQ(c->GetColumnCount(), 4); // the container moves columns, not the control

    // Back at the left strip the drag scrolls left; a drop on the dragged column fires nothing.
    QTest::mousePress(c.get(), Qt::LeftButton, {}, centreOf(*c, 2));
    moveWithButton(c.get(), QPoint(5, from.y()));
    EXPECT_EQ(c->GetColumnOffset(), 1);
    moveWithButton(c.get(), centreOf(*c, 2));
    EXPECT_EQ(c->dropTarget(), -1);
    QTest::mouseRelease(c.get(), Qt::LeftButton, {}, centreOf(*c, 2));
    EXPECT_EQ(drags.count(), 1);
}

TEST(TavrelWidget, FirstColumnCanBeLockedAgainstDragging)
{
    auto c = control(3);
    c->SetDisableDragOnFirst(true);
    QSignalSpy drags(c.get(), &CTavrelCtrl::OnColumnDrag);
    // Column 0 does not drag; another column is not dropped before it.
    QTest::mousePress(c.get(), Qt::LeftButton, {}, centreOf(*c, 0));
    moveWithButton(c.get(), centreOf(*c, 2));
    QTest::mouseRelease(c.get(), Qt::LeftButton, {}, centreOf(*c, 2));
    QTest::mousePress(c.get(), Qt::LeftButton, {}, centreOf(*c, 2));
    moveWithButton(c.get(), centreOf(*c, 0));
    EXPECT_EQ(c->dropTarget(), -1);
    QTest::mouseRelease(c.get(), Qt::LeftButton, {}, centreOf(*c, 0));
    EXPECT_EQ(drags.count(), 0);
}

TEST(TavrelWidget, DragToAFriendAsksItForTheTarget)
{
    QWidget window;
    window.resize(700, 300);
    auto* a = new CTavrelCtrl(&window);
    auto* b = new CTavrelCtrl(&window);
    for (CTavrelCtrl* c : {a, b}) {
        c->resize(2 + kRowNameWidth + 3 * 70, 122);
        addRows(*c);
        for (int i = 0; i < 3; ++i)
            c->AddNewColumn(QStringLiteral("c%1").arg(i), {}, 25, false);
    }
    b->move(0, 150);
    window.show();
    a->AddDragDropFriend(b);
    // The finder stands in for the desktop's window under the mouse.
    a->setWindowFinder([&](const QPoint& global) {
        for (QWidget* w : {static_cast<QWidget*>(a), static_cast<QWidget*>(b)})
            if (w->rect().contains(w->mapFromGlobal(global))) return w;
        return static_cast<QWidget*>(nullptr);
    });
    QSignalSpy friendDrops(a, &CTavrelCtrl::OnColumnDragFriend);
    QTest::mousePress(a, Qt::LeftButton, {}, centreOf(*a, 0));
    const QPoint overB = a->mapFromGlobal(b->mapToGlobal(centreOf(*b, 2)));
    moveWithButton(a, overB);
    EXPECT_EQ(a->dropTarget(), 2);
    EXPECT_EQ(a->dropWindow(), b);
    QTest::mouseRelease(a, Qt::LeftButton, {}, overB);
    ASSERT_EQ(friendDrops.count(), 1);
    EXPECT_EQ(friendDrops.last().at(0).toInt(), 0);
    EXPECT_EQ(friendDrops.last().at(1).toInt(), 2);
    EXPECT_EQ(friendDrops.last().at(2).value<QWidget*>(), b);
}

TEST(TavrelWidget, ToolTipsNameTheColumnOrTheRowInItsColour)
{
    auto c = control(2);
    QTest::mouseMove(c.get(), centreOf(*c, 1));
    EXPECT_EQ(c->tipText(), QStringLiteral("tip 1"));
    EXPECT_EQ(c->tipColour(), QColor(Qt::white));
    EXPECT_EQ(c->ProvideToolTip(short(centreOf(*c, 1).x()), short(centreOf(*c, 1).y())),
              QStringLiteral("tip 1"));
    const int f = c->geometry().rowHeight;
    QTest::mouseMove(c.get(), QPoint(10, 1 + f + f / 2));
    EXPECT_EQ(c->tipText(), QStringLiteral("Source In Time"));
    EXPECT_EQ(c->tipColour(), QColor(255, 210, 0));
    // The thumbnail rows have no names: no tip.
    QTest::mouseMove(c.get(), QPoint(10, 1 + 4 * f + f / 2));
    EXPECT_TRUE(c->tipText().isEmpty());
}

TEST(TavrelPainting, SelectionFrameLetterboxedThumbnailAndTagColours)
{
    CTavrelCtrl c;
    c.resize(2 + kRowNameWidth + 3 * 70, 122);
    addRows(c);
    c.SetFlags(kSourceTypeMode);
    for (int i = 0; i < 3; ++i)
        c.AddNewColumn(QStringLiteral("c%1").arg(i), {}, 25, false);
    // A wide red picture (40 × 10, rows bottom-up: the bottom row blue).
    std::vector<uint32_t> wide(40 * 10, 0xFFFF0000u);
    for (int x = 0; x < 40; ++x)
        wide[size_t(x)] = 0xFF0000FFu;
    c.SetThumbnail(0, wide.data(), 40, 10);
    c.SetValue(1, 2, 1); // tag "A"
    c.SetValue(2, 2, 2); // tag "B"
    c.SetSelection(1);
    const QImage shot = c.grab().toImage();
    const TavrelModel::Geometry g = c.geometry();

    // The white frame around the Selection column.
    const Box frame = c.model().columnBox(g, 1);
    EXPECT_EQ(shot.pixel(frame.l, (frame.t + frame.b) / 2), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(frame.r - 1, (frame.t + frame.b) / 2), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel((frame.l + frame.r) / 2, frame.t), qRgb(255, 255, 255));

    // The picture fills the area's width; black bars above and below; the right way up.
    const Box area = TavrelModel::thumbnailBox(g, 0, 6);
    const int cx = (area.l + area.r) / 2, cy = (area.t + area.b) / 2;
    EXPECT_EQ(shot.pixel(cx, area.t + 1), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(cx, area.b - 2), qRgb(0, 0, 0));
    EXPECT_EQ(qRed(shot.pixel(cx, cy)), 255);
    const int pictureHeight = area.width() * 10 / 40;
    const int bottom = area.t + (area.height() - pictureHeight) / 2 + pictureHeight - 1;
    EXPECT_GT(qBlue(shot.pixel(cx, bottom)), qRed(shot.pixel(cx, bottom)));
    EXPECT_GT(qRed(shot.pixel(area.l + 1, cy)), 200); // no bars at the sides

    // Tags: the Selection's "A" in cyan, the other column's "B" in grey.
    auto countColour = [&](int k, QRgb colour) {
        const Box slot = TavrelModel::slotBox(g, k);
        int n = 0;
        for (int y = g.inner.t + 3 * g.rowHeight + 2; y < g.inner.t + 4 * g.rowHeight; ++y)
            for (int x = slot.l + 2; x < slot.r - 2; ++x)
                n += (shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        return n;
    };
    EXPECT_GT(countColour(1, qRgb(0, 192, 192)), 5);
    EXPECT_GT(countColour(2, qRgb(144, 144, 144)), 5);
    EXPECT_EQ(countColour(2, qRgb(255, 210, 0)), 0);
}
