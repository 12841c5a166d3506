#include "ui/controls/xbutton.h"

#include "ui/controls/images.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cmath>

namespace zef::ui {

namespace {

constexpr double kPressedAngle = -0.628318536;
constexpr double kRaisedAngle = -0.78539817;

int clampByte(double v) { return std::clamp(int(v), 0, 255); }

// asin that tolerates arguments a rounding step outside [-1, 1] (tall round faces).
double safeAsin(double v) { return std::asin(std::clamp(v, -1.0, 1.0)); }

} // namespace

CXButton::CXButton(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CXButton::setImages(const QString& normal, const QString& checked, const QString& disabled)
{
    m_normal = normal.isEmpty() ? QImage() : artworkImage(normal, ImageMapping::Face);
    m_checked = checked.isEmpty() ? QImage() : artworkImage(checked, ImageMapping::Face);
    m_disabledGiven = !disabled.isEmpty();
    m_disabled = m_disabledGiven    ? artworkImage(disabled, ImageMapping::None)
                 : normal.isEmpty() ? QImage()
                                    : artworkImage(normal, ImageMapping::Disabled);
    invalidate();
}

void CXButton::setCaption(const QString& caption)
{
    m_caption = caption;
    invalidate();
}

void CXButton::setPressed(bool pressed)
{
    if (m_pressed == pressed) return;
    m_pressed = pressed;
    update();
}

void CXButton::setRound(bool round, int shape)
{
    m_round = round;
    m_shape = shape;
    invalidate();
}

void CXButton::setGlow(bool red, bool green, bool blue)
{
    m_glow[0] = red;
    m_glow[1] = green;
    m_glow[2] = blue;
    invalidate();
}

QSize CXButton::sizeHint() const
{
    if (!m_normal.isNull()) return m_normal.size() + QSize(10, 10);
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(m_caption) + 16, fm.height() + 10);
}

void CXButton::invalidate()
{
    m_cache.face = QImage();
    update();
}

void CXButton::rectangularFace(QImage& face, bool pressed) const
{
    QPainter p(&face);
    int left = 0, top = 0, right = face.width(), bottom = face.height();
    if (pressed) {
        for (QColor c : {QColor(48, 48, 48), QColor(96, 96, 96)}) {
            p.setPen(c);
            p.drawRect(left, top, right - left - 1, bottom - top - 1);
            ++left;
            ++top;
        }
    } else {
        const QColor dark = isEnabled() ? QColor(0, 0, 0) : QColor(96, 96, 96);
        p.setPen(QColor(192, 192, 192));
        p.drawLine(left, top, right - 1, top);
        p.drawLine(left, top, left, bottom - 1);
        p.setPen(dark);
        p.drawLine(left, bottom - 1, right - 1, bottom - 1);
        p.drawLine(right - 1, top, right - 1, bottom - 1);
        ++left;
        ++top;
        --right;
        --bottom;
    }
    const double theta = pressed ? kPressedAngle : kRaisedAngle;
    const int h = bottom - top;
    for (int y = 0; y < h; ++y) {
        const double c = std::cos(theta - safeAsin((y - h / 2.0) / h));
        const int v = clampByte(std::trunc(c * c * 240));
        p.setPen(QColor(v, v, v));
        p.drawLine(left, top + y, right - 1, top + y);
    }
}

void CXButton::roundFace(QImage& face, bool pressed, bool lit, int g) const
{
    const int width = face.width() - 2, height = face.height() - 2;
    if (width <= 0 || height <= 0) return;
    const double a = width / 2.0, b = height / 2.0;
    const double k = (pressed ? 0.5 : 1.0) / width;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(face.scanLine(y + 1)) + 1;
        for (int x = 0; x < width; ++x) {
            double dx = x - a;
            if (m_shape == 1) dx = x / 2.0 - a;
            if (m_shape == 2) dx = (x + width) / 2.0 - a;
            const double dy = y - b;
            auto edge = [&](double off) {
                const double q = std::min(1.0, (dy + off) * (dy + off) / (b * b));
                return std::clamp(std::fabs(dx) - a * std::sqrt(1 - q), 0.0, 1.0);
            };
            const double cover = (edge(-0.25) + edge(0.25)) / 2;
            if (cover >= 1) continue;
            const double shade = std::cos(kPressedAngle - safeAsin(dy * k)) *
                                 std::cos(kPressedAngle - safeAsin(dx * k));
            const int i = clampByte(std::trunc(shade * shade * 250));
            const double kGrey = i * (1 - cover) + g * cover;
            int rgb[3] = {int(kGrey), int(kGrey), int(kGrey)};
            if (lit && isEnabled()) {
                const double n = 1 - std::sqrt(dx * dx / (a * a) + dy * dy / (b * b));
                if (n > 0) {
                    const double gain[3] = {765, 420, 840};
                    for (int ch = 0; ch < 3; ++ch)
                        if (m_glow[ch]) rgb[ch] = clampByte(kGrey + n * gain[ch]);
                }
            }
            row[x] = qRgb(rgb[0], rgb[1], rgb[2]);
        }
    }
}

QImage CXButton::renderFace(bool pressed, bool lit, int backgroundGrey) const
{
    QImage face(size(), QImage::Format_ARGB32);
    face.fill(m_round ? Qt::transparent : QColor(backgroundGrey, backgroundGrey, backgroundGrey));
    if (m_round)
        roundFace(face, pressed, lit, backgroundGrey);
    else
        rectangularFace(face, pressed);
    return face;
}

void CXButton::paintEvent(QPaintEvent*)
{
    const bool focus = hasFocus() && !m_noFocusRect;
    const bool lit = m_pressed && isToggle();
    if (m_cache.face.isNull() || m_cache.pressed != m_pressed || m_cache.lit != lit ||
        m_cache.focus != focus || m_cache.enabled != isEnabled() || m_cache.size != size()) {
        const int grey =
            qGray(parentWidget() ? parentWidget()->palette().color(QPalette::Window).rgb()
                                 : palette().color(QPalette::Window).rgb());
        QImage img = renderFace(m_pressed, lit, grey);
        QPainter p(&img);
        const QPoint shift = m_pressed ? QPoint(1, 1) : QPoint(0, 0);
        const QImage* content = !isEnabled()                ? &m_disabled
                                : (m_pressed && isToggle()) ? &m_checked
                                                            : &m_normal;
        if (!content->isNull()) {
            const QPoint at((width() - content->width()) / 2, (height() - content->height()) / 2);
            p.drawImage(at + shift, *content);
        } else if (!m_caption.isEmpty()) {
            p.setFont(font());
            const QRect r = rect().translated(shift);
            if (!isEnabled()) {
                p.setPen(QColor(192, 192, 192));
                p.drawText(r.translated(1, 1), Qt::AlignCenter, m_caption);
            }
            p.setPen(!isEnabled()                ? QColor(48, 48, 48)
                     : (m_pressed && isToggle()) ? QColor(0, 0, 0)
                                                 : QColor(255, 255, 255));
            p.drawText(r, Qt::AlignCenter, m_caption);
        }
        if (focus) {
            QStyleOptionFocusRect opt;
            opt.initFrom(this);
            opt.rect = rect().adjusted(3, 3, -3, -3);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
        }
        m_cache = {img, m_pressed, lit, focus, isEnabled(), size()};
    }
    QPainter(this).drawImage(0, 0, m_cache.face);
}

void CXButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled()) return;
    if (m_radio && m_pressed) return;
    m_tracking = true;
    m_pressedAtDown = m_pressed;
    if (m_repeat) {
        setPressed(true);
        emit clicked();
        return;
    }
    setPressed(!m_pressed);
}

void CXButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_tracking) return;
    m_tracking = false;
    if (m_repeat) {
        setPressed(false);
        emit released();
        return;
    }
    const bool inside = rect().contains(e->position().toPoint());
    if (!inside) {
        // Released elsewhere: nothing happened, so the look goes back to what it was.
        setPressed(m_pressedAtDown);
        return;
    }
    if (!isToggle() && !m_radio) setPressed(false);
    emit clicked();
}

void CXButton::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (m_radio && m_pressed) return;
        if (isToggle() || m_radio) setPressed(!m_pressed || m_radio);
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CXButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::FontChange) invalidate();
    QWidget::changeEvent(e);
}

} // namespace zef::ui
