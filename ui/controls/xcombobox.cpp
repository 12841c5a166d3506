#include "ui/controls/xcombobox.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

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

void setFieldLook(QWidget* field, const QColor& text)
{
    QPalette pal = field->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, Qt::black);
        pal.setColor(group, QPalette::Text, text);
        pal.setColor(group, QPalette::Highlight, QColor(0, 192, 192));
        pal.setColor(group, QPalette::HighlightedText, Qt::black);
    }
    pal.setColor(QPalette::Disabled, QPalette::Base, QColor(96, 96, 96));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(144, 144, 144));
    field->setPalette(pal);
}

CXComboBox::CXComboBox(QWidget* parent) : QComboBox(parent)
{
    // The list draws its entries as a list (black ground), not as a menu of the style.
    setItemDelegate(new QStyledItemDelegate(this));
    setFieldLook(this, m_colour);
    setFieldLook(view(), m_colour);
}

void CXComboBox::setDigitColour(const QColor& c)
{
    m_colour = c;
    setFieldLook(this, c);
    setFieldLook(view(), c);
    update();
}

void CXComboBox::showPopup()
{
    // The list drops down in the field's colours, frame included.
    if (QWidget* frame = view()->parentWidget()) {
        setFieldLook(frame, m_colour);
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, Qt::black);
        frame->setPalette(pal);
    }
    view()->setAutoFillBackground(true);
    view()->viewport()->setAutoFillBackground(true);
    QComboBox::showPopup();
}

QRect CXComboBox::buttonRect() const
{
    const int side = height() - 4;
    return QRect(width() - 2 - side, 2, side, side);
}

QSize CXComboBox::sizeHint() const
{
    const QFontMetrics fm(font());
    int widest = fm.horizontalAdvance(QStringLiteral("Wwwwwwww"));
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, fm.horizontalAdvance(itemText(i)));
    const int h = fm.height() + 8;
    return QSize(std::min(widest, 400) + h + 12, h);
}

void CXComboBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    frame3d(p, r, QColor(96, 96, 96), QColor(192, 192, 192));
    frame3d(p, r.adjusted(1, 1, -1, -1), QColor(48, 48, 48), QColor(144, 144, 144));
    const QRect box = r.adjusted(2, 2, -2, -2);
    p.fillRect(box, isEnabled() ? QColor(0, 0, 0) : QColor(96, 96, 96));

    // The drop button: a raised face shaded like the push buttons, with a triangle.
    const QRect b = buttonRect();
    const int h = b.height();
    for (int y = 0; y < h; ++y) {
        const double c =
            std::cos(-0.78539817 - std::asin(std::clamp((y - h / 2.0) / h, -1.0, 1.0)));
        const int v = std::clamp(int(std::trunc(c * c * 240)), 0, 255);
        p.setPen(QColor(v, v, v));
        p.drawLine(b.left(), b.top() + y, b.right(), b.top() + y);
    }
    frame3d(p, b, QColor(192, 192, 192), isEnabled() ? QColor(0, 0, 0) : QColor(96, 96, 96));
    const QPointF c = QRectF(b).center();
    const double s = h / 5.0;
    const QPointF tri[3] = {
        {c.x() - s, c.y() - s / 2}, {c.x() + s, c.y() - s / 2}, {c.x(), c.y() + s / 2 + 1}};
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(isEnabled() ? QColor(0, 0, 0) : QColor(96, 96, 96));
    p.drawPolygon(tri, 3);
    p.setRenderHint(QPainter::Antialiasing, false);

    p.setPen(isEnabled() ? m_colour : QColor(144, 144, 144));
    p.setFont(font());
    const QRect text(box.left() + 4, box.top(), b.left() - box.left() - 6, box.height());
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(font()).elidedText(currentText(), Qt::ElideRight, text.width()));
    if (hasFocus()) {
        p.setPen(QPen(QColor(0, 192, 192), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(box.adjusted(0, 0, -1, -1));
    }
}

} // namespace zef::ui
