#include "ui/controls/xstatic.h"

#include <QPainter>

namespace zef::ui {

namespace {

void frame3d(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

} // namespace

XStatic::XStatic(const QString& text, QWidget* parent) : QWidget(parent), m_text(text) {}

void XStatic::setText(const QString& text)
{
    m_text = text;
    update();
}

void XStatic::setColour(const QColor& c)
{
    m_colour = c;
    update();
}

void XStatic::setAlignment(Qt::Alignment a)
{
    m_alignment = a;
    update();
}

QSize XStatic::sizeHint() const
{
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(m_text) + 2, fm.height() + 2);
}

void XStatic::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    p.setPen(isEnabled() ? m_colour : QColor(48, 48, 48));
    p.drawText(rect(), int(m_alignment), m_text);
}

XGroup::XGroup(const QString& caption, QWidget* parent) : QWidget(parent), m_caption(caption) {}

void XGroup::setCaption(const QString& caption)
{
    m_caption = caption;
    update();
}

QRect XGroup::innerRect() const
{
    const int top = QFontMetrics(font()).height() + 4;
    return QRect(2, top, width() - 4, height() - top - 2);
}

void XGroup::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    frame3d(p, rect(), QColor(192, 192, 192), QColor(48, 48, 48));
    p.setFont(font());
    p.setPen(isEnabled() ? QColor(255, 255, 255) : QColor(48, 48, 48));
    const int fh = QFontMetrics(font()).height();
    p.drawText(QRect(0, 2, width(), fh), Qt::AlignHCenter | Qt::AlignTop, m_caption);
    frame3d(p, innerRect(), QColor(48, 48, 48), QColor(192, 192, 192));
}

} // namespace zef::ui
