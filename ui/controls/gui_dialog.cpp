#include "ui/controls/gui_dialog.h"

#include "ui/controls/images.h"

#include <QAbstractButton>
#include <QChildEvent>
#include <QCloseEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariant>

namespace zef::ui {

namespace {

constexpr const char* kTipProperty = "zefControlTip";

// A 3-D frame: light top and left, dark bottom and right.
void frame3d(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

QString ownText(const QWidget* w)
{
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    const QVariant caption = w->property("caption");
    if (caption.canConvert<QString>() && !caption.toString().isEmpty()) return caption.toString();
    return w->windowTitle();
}

} // namespace

void drawCaptionStrip(QPainter& p, const QRect& r)
{
    const QPixmap strip = artworkPixmap(QStringLiteral("caption"));
    if (strip.isNull())
        p.fillRect(r, QColor(48, 48, 52));
    else
        p.drawPixmap(r, strip);
}

CGUIDialog::CGUIDialog(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x90, 0x90, 0x90));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
}

void CGUIDialog::setControlTip(QWidget* control, const QString& text)
{
    control->setProperty(kTipProperty, text);
}

QString CGUIDialog::tipFor(const QWidget* control)
{
    QString text = control->property(kTipProperty).toString();
    if (text.isEmpty()) text = ownText(control);
    return text.left(kMaxTipLength);
}

void CGUIDialog::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPixmap bg = artworkPixmap(QStringLiteral("deck-background"));
    if (bg.isNull())
        p.fillRect(rect(), palette().color(QPalette::Window));
    else
        p.drawPixmap(rect(), bg);
}

void CGUIDialog::childEvent(QChildEvent* e)
{
    if (e->added() && e->child()->isWidgetType()) e->child()->installEventFilter(this);
    QWidget::childEvent(e);
}

bool CGUIDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Controls inside a control's children (a row of buttons in a frame) have tips too.
    if (event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) child->installEventFilter(this);
    }
    if (event->type() == QEvent::ToolTip && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->toolTip().isEmpty()) {
            const QString tip = tipFor(w);
            if (!tip.isEmpty()) {
                QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, w);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

CGUIDialogWithCaption::CGUIDialogWithCaption(const QString& caption, bool resizable,
                                             QWidget* parent)
    : CGUIDialog(parent, Qt::Tool | Qt::FramelessWindowHint), m_caption(caption),
      m_resizable(resizable)
{
    setWindowTitle(caption);
    setMouseTracking(true);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setContentsMargins(kBorder + 1, kBorder + kCaptionHeight + 1, kBorder + 1, kBorder + 1);
}

void CGUIDialogWithCaption::setCaption(const QString& caption)
{
    m_caption = caption;
    setWindowTitle(caption);
    update(captionRect());
}

QRect CGUIDialogWithCaption::captionRect() const
{
    return QRect(kBorder, kBorder, width() - 2 * kBorder, kCaptionHeight);
}

QRect CGUIDialogWithCaption::clientRect() const
{
    return QRect(kBorder, kBorder + kCaptionHeight, width() - 2 * kBorder,
                 height() - 2 * kBorder - kCaptionHeight);
}

QRect CGUIDialogWithCaption::closeRect() const
{
    const QRect c = captionRect();
    return QRect(c.right() - 16, c.top() + (kCaptionHeight - 16) / 2, 16, 16);
}

int CGUIDialogWithCaption::hitTest(const QPoint& p) const
{
    if (!rect().contains(p)) return -1;
    if (m_resizable) {
        constexpr int kCorner = 12;
        const bool l = p.x() < kBorder, r = p.x() >= width() - kBorder;
        const bool t = p.y() < kBorder, b = p.y() >= height() - kBorder;
        const bool nearL = p.x() < kCorner, nearR = p.x() >= width() - kCorner;
        const bool nearT = p.y() < kCorner, nearB = p.y() >= height() - kCorner;
        if ((t && nearL) || (l && nearT)) return 4;
        if ((t && nearR) || (r && nearT)) return 5;
        if ((b && nearL) || (l && nearB)) return 7;
        if ((b && nearR) || (r && nearB)) return 8;
        if (l) return 1;
        if (r) return 2;
        if (t) return 3;
        if (b) return 6;
    }
    if (captionRect().contains(p) && !closeRect().contains(p)) return 0;
    return -1;
}

void CGUIDialogWithCaption::paintEvent(QPaintEvent* e)
{
    CGUIDialog::paintEvent(e);
    QPainter p(this);
    QRect r = rect();
    frame3d(p, r, QColor(144, 144, 144), Qt::black);
    r.adjust(1, 1, -1, -1);
    frame3d(p, r, QColor(192, 192, 192), QColor(96, 96, 96));
    p.setPen(QColor(144, 144, 144));
    for (int i = 2; i < kBorder; ++i) {
        r.adjust(1, 1, -1, -1);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }

    const QRect cap = captionRect();
    drawCaptionStrip(p, cap);
    const bool active = isActiveWindow();
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(kCaptionHeight - 5);
    f.setBold(active);
    p.setFont(f);
    p.setPen(active ? QColor(255, 210, 0) : QColor(192, 192, 192));
    p.drawText(cap.adjusted(20, 0, -20, 0), Qt::AlignCenter, m_caption);
    const QPixmap close =
        artworkPixmap(m_closePressed ? QStringLiteral("close-pressed") : QStringLiteral("close"));
    p.drawPixmap(closeRect().topLeft(), close);

    const QRect client = clientRect();
    frame3d(p, client.adjusted(0, 0, -1, -1), QColor(96, 96, 96), QColor(192, 192, 192));
}

QRect CGUIDialogWithCaption::proposedRect(const QPoint& globalPos) const
{
    const QPoint d = globalPos - m_pressGlobal;
    QRect r = m_pressRect;
    switch (m_dragEdge) {
    case 0:
        r.translate(d);
        break;
    case 1:
        r.setLeft(std::min(r.left() + d.x(), r.right() - kMinimumWidth));
        break;
    case 2:
        r.setRight(std::max(r.right() + d.x(), r.left() + kMinimumWidth));
        break;
    case 3:
        r.setTop(std::min(r.top() + d.y(), r.bottom() - kMinimumHeight));
        break;
    case 4:
        r.setLeft(std::min(r.left() + d.x(), r.right() - kMinimumWidth));
        r.setTop(std::min(r.top() + d.y(), r.bottom() - kMinimumHeight));
        break;
    case 5:
        r.setRight(std::max(r.right() + d.x(), r.left() + kMinimumWidth));
        r.setTop(std::min(r.top() + d.y(), r.bottom() - kMinimumHeight));
        break;
    case 6:
        r.setBottom(std::max(r.bottom() + d.y(), r.top() + kMinimumHeight));
        break;
    case 7:
        r.setLeft(std::min(r.left() + d.x(), r.right() - kMinimumWidth));
        r.setBottom(std::max(r.bottom() + d.y(), r.top() + kMinimumHeight));
        break;
    case 8:
        r.setRight(std::max(r.right() + d.x(), r.left() + kMinimumWidth));
        r.setBottom(std::max(r.bottom() + d.y(), r.top() + kMinimumHeight));
        break;
    default:
        break;
    }
    return r;
}

void CGUIDialogWithCaption::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const QPoint pos = e->position().toPoint();
    if (closeRect().contains(pos)) {
        m_closePressed = m_closeArmed = true;
        update(closeRect());
        return;
    }
    m_dragEdge = hitTest(pos);
    if (m_dragEdge < 0) return;
    m_pressGlobal = e->globalPosition().toPoint();
    m_pressRect = geometry();
    if (m_host) m_host->beginPlacement(this, m_dragEdge);
}

void CGUIDialogWithCaption::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (m_closeArmed) {
        const bool over = closeRect().contains(pos);
        if (over != m_closePressed) {
            m_closePressed = over;
            update(closeRect());
        }
        return;
    }
    if (m_dragEdge < 0) {
        static const Qt::CursorShape shapes[] = {
            Qt::ArrowCursor,   Qt::SizeHorCursor,   Qt::SizeHorCursor,
            Qt::SizeVerCursor, Qt::SizeFDiagCursor, Qt::SizeBDiagCursor,
            Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeFDiagCursor};
        const int edge = hitTest(pos);
        setCursor(edge > 0 ? shapes[edge] : Qt::ArrowCursor);
        return;
    }
    QRect r = proposedRect(e->globalPosition().toPoint());
    if (m_host) r = m_host->placeRect(this, m_dragEdge, r);
    setGeometry(r);
}

void CGUIDialogWithCaption::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    if (m_closeArmed) {
        const bool hit = closeRect().contains(e->position().toPoint());
        m_closeArmed = m_closePressed = false;
        update(closeRect());
        if (hit) {
            hide();
            emit closedByUser();
        }
        return;
    }
    if (m_dragEdge >= 0) {
        m_dragEdge = -1;
        if (m_host) m_host->endPlacement(this);
    }
}

void CGUIDialogWithCaption::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange) update(captionRect());
    CGUIDialog::changeEvent(e);
}

void CGUIDialogWithCaption::closeEvent(QCloseEvent* e)
{
    // A deck is only ever hidden; the program closes with its main window.
    e->ignore();
    hide();
}

void CGUIDialogWithCaption::showEvent(QShowEvent* e)
{
    CGUIDialog::showEvent(e);
    if (m_host) m_host->visibilityChanged(this);
}

void CGUIDialogWithCaption::hideEvent(QHideEvent* e)
{
    CGUIDialog::hideEvent(e);
    if (m_host) m_host->visibilityChanged(this);
}

} // namespace zef::ui
