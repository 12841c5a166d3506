#include "app/shell/undo_redo_dialog.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace zef::app {

namespace {
constexpr int kWidth = 260;
constexpr int kCaptionHeight = 22;
constexpr int kEdgeZone = 6;
} // namespace

CUndoRedoDialog::CUndoRedoDialog(UndoHistory& history, bool undo, QWidget* parent)
    : QWidget(parent, Qt::Popup), m_chooser(history, undo), m_undo(undo),
      m_lineHeight(QFontMetrics(font()).height() + 4)
{
    setObjectName(undo ? QStringLiteral("UndoList") : QStringLiteral("RedoList"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    const int lines = std::clamp(int(m_chooser.lines().size()), 1, kVisibleLines);
    setFixedSize(kWidth, lines * m_lineHeight + kCaptionHeight + 4);
    m_scroll.setInterval(80);
    connect(&m_scroll, &QTimer::timeout, this, &CUndoRedoDialog::scrollStep);
}

void CUndoRedoDialog::popupAt(const QPoint& globalTopLeft)
{
    move(globalTopLeft);
    show();
}

QRect CUndoRedoDialog::listRect() const
{
    return QRect(2, 2, width() - 4, height() - kCaptionHeight - 4);
}

int CUndoRedoDialog::lineAt(const QPoint& p) const
{
    const QRect list = listRect();
    if (!list.contains(p)) return -1;
    const int line = m_first + (p.y() - list.top()) / m_lineHeight;
    return line < int(m_chooser.lines().size()) ? line : -1;
}

QString CUndoRedoDialog::captionText() const { return QString::fromStdString(m_chooser.caption()); }

void CUndoRedoDialog::hoverAt(const QPoint& p)
{
    m_lastPointer = p;
    m_chooser.hover(lineAt(p));
    const QRect list = listRect();
    const bool inside = list.left() <= p.x() && p.x() <= list.right();
    m_scrollDirection = 0;
    if (inside && p.y() >= list.top() && p.y() < list.top() + kEdgeZone && m_first > 0)
        m_scrollDirection = -1;
    const int lastFirst = int(m_chooser.lines().size()) - list.height() / m_lineHeight;
    if (inside && p.y() <= list.bottom() && p.y() > list.bottom() - kEdgeZone &&
        m_first < lastFirst)
        m_scrollDirection = 1;
    if (m_scrollDirection != 0 && !m_scroll.isActive()) m_scroll.start();
    if (m_scrollDirection == 0) m_scroll.stop();
    update();
}

void CUndoRedoDialog::scrollStep()
{
    const int lastFirst =
        std::max(0, int(m_chooser.lines().size()) - listRect().height() / m_lineHeight);
    m_first = std::clamp(m_first + m_scrollDirection, 0, lastFirst);
    hoverAt(m_lastPointer);
}

void CUndoRedoDialog::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0x90, 0x90, 0x90));
    p.setPen(QColor(48, 48, 48));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect list = listRect();
    p.fillRect(list, Qt::black);
    const auto& lines = m_chooser.lines();
    for (int i = m_first; i < int(lines.size()); ++i) {
        const QRect r(list.left(), list.top() + (i - m_first) * m_lineHeight, list.width(),
                      m_lineHeight);
        if (r.top() >= list.bottom()) break;
        const bool selected = i < m_chooser.selectedCount();
        if (selected) p.fillRect(r, QColor(255, 210, 0));
        p.setPen(selected ? Qt::black : QColor(192, 192, 192));
        p.drawText(r.adjusted(6, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromStdString(lines[size_t(i)]));
    }
    p.setPen(Qt::black);
    p.drawText(QRect(0, height() - kCaptionHeight, width(), kCaptionHeight), Qt::AlignCenter,
               captionText());
}

void CUndoRedoDialog::mouseMoveEvent(QMouseEvent* e) { hoverAt(e->position().toPoint()); }

void CUndoRedoDialog::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || m_done) return;
    hoverAt(e->position().toPoint());
    m_done = true;
    m_scroll.stop();
    const int count = m_chooser.release();
    close();
    emit finished(count);
}

void CUndoRedoDialog::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CUndoRedoDialog::hideEvent(QHideEvent* e)
{
    m_scroll.stop();
    if (!m_done) {
        m_done = true;
        emit finished(0);
    }
    QWidget::hideEvent(e);
}

} // namespace zef::app
