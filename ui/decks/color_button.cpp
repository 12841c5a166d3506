#include "ui/decks/color_button.h"

#include <QColorDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zef::ui {

CColorButton::CColorButton(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void CColorButton::setColour(const QColor& c)
{
    if (c == m_colour) return;
    m_colour = c;
    update();
}

void CColorButton::choose()
{
    const QColor c = QColorDialog::getColor(m_colour, this, QStringLiteral("Color"),
                                            QColorDialog::DontUseNativeDialog);
    if (!c.isValid()) return;
    setColour(c);
    emit chosen(c);
}

void CColorButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = rect().adjusted(0, 0, -1, -1);
    auto frame = [&](const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        r.adjust(1, 1, -1, -1);
    };
    if (hasFocus()) {
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        p.drawRect(r);
        r.adjust(1, 1, -1, -1);
    } else {
        frame(QColor(192, 192, 192), QColor(96, 96, 96));
    }
    frame(QColor(144, 144, 144), QColor(144, 144, 144));
    const QColor inner = m_pressed ? QColor(48, 48, 48) : QColor(0, 0, 0);
    frame(inner, inner);
    p.fillRect(r.adjusted(0, 0, 1, 1),
               !isEnabled() || m_pressed ? QColor(144, 144, 144) : m_colour);
}

void CColorButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    m_pressed = true;
    update();
}

void CColorButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_pressed) return;
    m_pressed = false;
    update();
    if (rect().contains(e->position().toPoint())) choose();
}

void CColorButton::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return) {
        choose();
        return;
    }
    QWidget::keyPressEvent(e);
}

} // namespace zef::ui
