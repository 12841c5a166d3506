#include "listctrl/tavrel_widgets.h"

#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

namespace tavrel {

namespace {
constexpr int kFirstRepeat = 400; // ms before a held arrow repeats
constexpr int kRepeat = 80;
} // namespace

TavrelSpin::TavrelSpin(QWidget* parent) : QWidget(parent)
{
    m_repeat.setInterval(kRepeat);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        m_repeat.setInterval(kRepeat);
        if (m_pressed) emit delta(m_pressed);
    });
}

void TavrelSpin::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int half = width() / 2;
    for (int side = 0; side < 2; ++side) {
        const QRect r =
            side == 0 ? QRect(0, 0, half, height()) : QRect(half, 0, width() - half, height());
        const bool down = m_pressed == (side == 0 ? 1 : -1);
        p.fillRect(r, down ? QColor(64, 64, 64) : QColor(112, 112, 112));
        p.setPen(down ? QColor(48, 48, 48) : QColor(192, 192, 192));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(down ? QColor(144, 144, 144) : QColor(0, 0, 0));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        const int cx = r.center().x() + (down ? 1 : 0), cy = r.center().y() + (down ? 1 : 0);
        const int a = std::max(2, std::min(r.width(), r.height()) / 4);
        QPolygon arrow;
        if (side == 0)
            arrow << QPoint(cx - a / 2 - 1, cy) << QPoint(cx + a / 2, cy - a)
                  << QPoint(cx + a / 2, cy + a);
        else
            arrow << QPoint(cx + a / 2 + 1, cy) << QPoint(cx - a / 2, cy - a)
                  << QPoint(cx - a / 2, cy + a);
        p.setPen(Qt::NoPen);
        p.setBrush(isEnabled() ? QColor(255, 210, 0) : QColor(144, 144, 144));
        p.drawPolygon(arrow);
    }
}

void TavrelSpin::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    m_pressed = e->position().x() < width() / 2 ? 1 : -1;
    update();
    emit delta(m_pressed);
    m_repeat.start(kFirstRepeat);
}

void TavrelSpin::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    m_pressed = 0;
    m_repeat.stop();
    update();
}

TavrelTip::TavrelTip(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_delay.setSingleShot(true);
    m_delay.setInterval(kDelay);
    connect(&m_delay, &QTimer::timeout, this, &TavrelTip::appear);
}

void TavrelTip::request(const QString& text, const QColor& colour, const QRect& area)
{
    if (text == m_text && area == m_area && colour == m_colour) return;
    hide();
    m_text = text;
    m_colour = colour;
    m_area = area;
    m_delay.start();
}

void TavrelTip::dismiss()
{
    m_delay.stop();
    m_text.clear();
    m_area = QRect();
    hide();
}

void TavrelTip::appear()
{
    if (m_text.isEmpty()) return;
    const QFontMetrics fm(font());
    resize(fm.horizontalAdvance(m_text) + 10, fm.height() + 6);
    move(QCursor::pos() + QPoint(12, 18));
    show();
    update();
}

void TavrelTip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(96, 96, 96));
    p.setPen(Qt::black);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(m_colour);
    p.drawText(rect(), Qt::AlignCenter, m_text);
}

} // namespace tavrel
