#include "ui/controls/xcheckbox.h"

#include "ui/controls/images.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace zef::ui {

namespace {

// A 3-D frame on r; r shrinks by one on every side.
void frame3d(QPainter& p, QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    r.adjust(1, 1, -1, -1);
}

} // namespace

CXCheckBox::CXCheckBox(const QString& text, QWidget* parent) : QWidget(parent), m_text(text)
{
    setFocusPolicy(Qt::StrongFocus);
    // In a layout the box keeps the height of its text instead of growing with the row.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CXCheckBox::setText(const QString& text)
{
    m_text = text;
    update();
}

void CXCheckBox::setChecked(bool checked)
{
    if (m_checked == checked) return;
    m_checked = checked;
    update();
    emit toggled(checked);
}

QSize CXCheckBox::sizeHint() const
{
    const QFontMetrics fm(font());
    const int h = fm.height() + 4;
    return QSize(h + 3 + fm.horizontalAdvance(m_text) + 2, h);
}

void CXCheckBox::drawText(QPainter& p) const
{
    p.setFont(font());
    p.setPen(isEnabled() ? QColor(0, 0, 0) : QColor(48, 48, 48));
    const QRect r(boxRect().right() + 1 + 3, 0, width() - height() - 3, height());
    p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

void CXCheckBox::drawBox(QPainter& p, const QRect& box) const
{
    QRect r = box;
    if (!isEnabled()) {
        frame3d(p, r, QColor(96, 96, 96), QColor(192, 192, 192));
        p.fillRect(r, QColor(144, 144, 144));
    } else if (m_pressed) {
        frame3d(p, r, QColor(48, 48, 48), QColor(192, 192, 192));
        frame3d(p, r, QColor(96, 96, 96), QColor(96, 96, 96));
        frame3d(p, r, QColor(96, 96, 96), QColor(96, 96, 96));
    } else {
        frame3d(p, r, QColor(192, 192, 192), QColor(0, 0, 0));
    }
    if (hasFocus() && isEnabled()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = r;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
    frame3d(p, r, QColor(144, 144, 144), QColor(144, 144, 144));
    const QImage image =
        artworkImage(m_checked ? QStringLiteral("check-on") : QStringLiteral("check-off"),
                     isEnabled() ? ImageMapping::None : ImageMapping::Disabled);
    if (!image.isNull() && r.isValid()) p.drawImage(r, image);
}

void CXCheckBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    drawBox(p, boxRect());
    drawText(p);
}

void CXCheckBox::activate() { setChecked(!m_checked); }

void CXCheckBox::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled()) return;
    m_tracking = m_pressed = true;
    update();
}

void CXCheckBox::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_tracking) return;
    const bool inside = rect().contains(e->position().toPoint());
    if (inside != m_pressed) {
        m_pressed = inside;
        update();
    }
}

void CXCheckBox::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_tracking) return;
    m_tracking = m_pressed = false;
    update();
    if (!rect().contains(e->position().toPoint())) return;
    activate();
    emit clicked();
}

void CXCheckBox::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space && isEnabled()) {
        activate();
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CXCheckBox::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    update();
}

void CXCheckBox::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

// ---- radio buttons

CXRadioButton::CXRadioButton(const QString& text, QWidget* parent) : CXCheckBox(text, parent) {}

void CXRadioButton::activate() { setChecked(true); }

void CXRadioButton::setChecked(bool checked)
{
    if (checked) uncheckGroup();
    CXCheckBox::setChecked(checked);
}

void CXRadioButton::uncheckGroup()
{
    QWidget* parent = parentWidget();
    if (!parent) return;
    QList<QWidget*> siblings;
    for (QObject* o : parent->children())
        if (o->isWidgetType()) siblings.push_back(static_cast<QWidget*>(o));
    const qsizetype self = siblings.indexOf(this);
    // A radio button that starts a group, or another tab stop, ends the group.
    auto startsGroup = [](QWidget* w) {
        if (auto* r = qobject_cast<CXRadioButton*>(w)) return r->isGroupStart();
        return (w->focusPolicy() & Qt::TabFocus) != 0;
    };
    if (!m_groupStart)
        for (qsizetype i = self - 1; i >= 0; --i) {
            if (auto* r = qobject_cast<CXRadioButton*>(siblings[i]))
                r->CXCheckBox::setChecked(false);
            if (startsGroup(siblings[i])) break;
        }
    for (qsizetype i = self + 1; i < siblings.size(); ++i) {
        if (startsGroup(siblings[i])) break;
        if (auto* r = qobject_cast<CXRadioButton*>(siblings[i])) r->CXCheckBox::setChecked(false);
    }
}

void CXRadioButton::drawBox(QPainter& p, const QRect& box) const
{
    const QString name = !isEnabled() ? QStringLiteral("radio-disabled")
                         : m_checked  ? QStringLiteral("radio-on")
                                      : QStringLiteral("radio-off");
    const QImage image = artworkImage(name);
    if (image.isNull()) return;
    const QPoint at(box.left() + (box.width() - image.width()) / 2 + (m_pressed ? 1 : 0),
                    box.top() + (box.height() - image.height()) / 2 + (m_pressed ? 1 : 0));
    p.drawImage(at, image);
    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = QRect(at, image.size()).adjusted(-1, -1, 1, 1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

} // namespace zef::ui
