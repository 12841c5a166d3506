#include "ui/controls/xslider.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zef::ui {

namespace {

constexpr double kRaisedAngle = -0.78539817;

// The face grey of line i of n across a shaded strip.
int shade(int i, int n)
{
    const double c = std::cos(kRaisedAngle - std::asin(std::clamp((i - n / 2.0) / n, -1.0, 1.0)));
    return std::clamp(int(std::trunc(c * c * 240)), 0, 255);
}

} // namespace

CXSliderCtrl::CXSliderCtrl(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), m_orientation(orientation)
{
    setFocusPolicy(Qt::StrongFocus);
}

void CXSliderCtrl::setRange(int minimum, int maximum)
{
    m_min = minimum;
    m_max = std::max(minimum, maximum);
    m_page = std::max(1, (m_max - m_min) / 10);
    setPosition(m_pos);
    update();
}

void CXSliderCtrl::setPosition(int position)
{
    position = std::clamp(position, m_min, m_max);
    if (position == m_pos) return;
    m_pos = position;
    update();
}

void CXSliderCtrl::setSelection(int first, int last)
{
    m_selFirst = first;
    m_selLast = last;
    update();
}

void CXSliderCtrl::setHighlightColour(const QColor& c)
{
    m_highlight = c;
    update();
}

QSize CXSliderCtrl::sizeHint() const
{
    return m_orientation == Qt::Horizontal ? QSize(120, 22) : QSize(22, 120);
}

int CXSliderCtrl::length() const { return m_orientation == Qt::Horizontal ? width() : height(); }

int CXSliderCtrl::thickness() const { return m_orientation == Qt::Horizontal ? height() : width(); }

int CXSliderCtrl::along(const QPoint& p) const
{
    return m_orientation == Qt::Horizontal ? p.x() : p.y();
}

int CXSliderCtrl::offsetOf(int position) const
{
    const int travel = std::max(0, length() - kThumbLength);
    if (m_max == m_min) return 0;
    return int(int64_t(position - m_min) * travel / (m_max - m_min));
}

int CXSliderCtrl::positionAt(int offset) const
{
    const int travel = length() - kThumbLength;
    if (travel <= 0) return m_min;
    const int64_t span = int64_t(m_max) - m_min;
    const int64_t p = m_min + (int64_t(offset) * span + travel / 2) / travel;
    return int(std::clamp<int64_t>(p, m_min, m_max));
}

QRect CXSliderCtrl::thumbRect() const
{
    const int at = offsetOf(m_pos);
    return m_orientation == Qt::Horizontal ? QRect(at, 0, kThumbLength, height())
                                           : QRect(0, at, width(), kThumbLength);
}

void CXSliderCtrl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const bool horizontal = m_orientation == Qt::Horizontal;
    const bool enabled = isEnabled();
    // The channel: a sunken groove a third as thick as the control, shaded across.
    const int n = std::max(4, thickness() / 3);
    const int across = (thickness() - n) / 2;
    const int from = kThumbLength / 2, to = length() - kThumbLength / 2;
    for (int i = 0; i < n; ++i) {
        const int v = shade(i, n);
        p.setPen(enabled ? QColor(v / 2, v / 2, v / 2) : QColor(144, 144, 144));
        if (horizontal)
            p.drawLine(from, across + i, to - 1, across + i);
        else
            p.drawLine(across + i, from, across + i, to - 1);
    }
    if (m_selFirst <= m_selLast) {
        const int a = offsetOf(std::clamp(m_selFirst, m_min, m_max)) + kThumbLength / 2;
        const int b = offsetOf(std::clamp(m_selLast, m_min, m_max)) + kThumbLength / 2;
        const QColor c = enabled ? m_highlight : QColor(144, 144, 144);
        if (horizontal)
            p.fillRect(QRect(a, across + 1, b - a + 1, n - 2), c);
        else
            p.fillRect(QRect(across + 1, a, n - 2, b - a + 1), c);
    }
    const QRect groove =
        horizontal ? QRect(from, across, to - from, n) : QRect(across, from, n, to - from);
    p.setPen(QColor(96, 96, 96));
    p.drawLine(groove.topLeft(), groove.topRight());
    p.drawLine(groove.topLeft(), groove.bottomLeft());
    p.setPen(QColor(192, 192, 192));
    p.drawLine(groove.bottomLeft(), groove.bottomRight());
    p.drawLine(groove.topRight(), groove.bottomRight());

    // The thumb: a raised face shaded like a button's.
    const QRect t = thumbRect();
    for (int i = 1; i < thickness() - 1; ++i) {
        const int v = shade(i - 1, thickness() - 2);
        p.setPen(enabled ? QColor(v, v, v) : QColor(144, 144, 144));
        if (horizontal)
            p.drawLine(t.left() + 1, t.top() + i, t.right() - 1, t.top() + i);
        else
            p.drawLine(t.left() + i, t.top() + 1, t.left() + i, t.bottom() - 1);
    }
    p.setPen(QColor(192, 192, 192));
    p.drawLine(t.topLeft(), t.topRight());
    p.drawLine(t.topLeft(), t.bottomLeft());
    p.setPen(enabled ? QColor(0, 0, 0) : QColor(96, 96, 96));
    p.drawLine(t.bottomLeft(), t.bottomRight());
    p.drawLine(t.topRight(), t.bottomRight());
}

void CXSliderCtrl::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled()) return;
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = e->position().toPoint();
    const QRect t = thumbRect();
    if (t.contains(pos)) {
        m_dragging = true;
        m_grab = along(pos) - along(t.topLeft());
        return;
    }
    m_paging = true;
    const bool before = along(pos) < along(t.topLeft());
    setPosition(m_pos + (before ? -m_page : m_page));
    emit scrolled(before ? PageUp : PageDown, m_pos);
}

void CXSliderCtrl::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_dragging) return;
    setPosition(positionAt(along(e->position().toPoint()) - m_grab));
    emit scrolled(ThumbPosition, m_pos);
}

void CXSliderCtrl::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || (!m_dragging && !m_paging)) return;
    m_dragging = m_paging = false;
    emit scrolled(EndScroll, m_pos);
}

} // namespace zef::ui
