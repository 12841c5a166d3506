#include "ui/timeline/timeline_window.h"

#include "model/item.h"
#include "model/project.h"
#include "ui/controls/gui_dialog.h"
#include "ui/controls/xbutton.h"
#include "ui/timeline/timeline_host.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

namespace zef::ui {

namespace {

constexpr const char* kButtonTips[] = {"Track A Enabled", "Track B Enabled", "Track C Enabled",
                                       "External", "Title Track Enabled"};
constexpr const char* kButtonImages[] = {"enable-a", "enable-b", "enable-c", "enable-x",
                                         "enable-t"};

QRect toQRect(const movies::Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

std::vector<std::string> localFiles(const QMimeData* data)
{
    std::vector<std::string> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

Qt::CursorShape cursorFor(int32_t mode, bool held)
{
    switch (mode) {
    case kDragTrimStart:
    case kDragTransitionTrimStart:
        return Qt::SplitHCursor;
    case kDragTrimEnd:
    case kDragTransitionTrimEnd:
        return Qt::SizeHorCursor;
    case kDragMove:
        return held ? Qt::ClosedHandCursor : Qt::OpenHandCursor;
    case kDragTransitionMove:
        return Qt::SizeAllCursor;
    case kDragKeyframe:
        return Qt::PointingHandCursor;
    default:
        return Qt::ArrowCursor;
    }
}

} // namespace

CTimelineWindow::CTimelineWindow(FProject& project, TimelineHost& host, QWidget* parent)
    : QWidget(parent), m_project(project), m_host(host), m_drag(project, host)
{
    setObjectName(QStringLiteral("Timeline"));
    setWindowTitle(QStringLiteral("Timeline"));
    setProperty("controlId", kChildId);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Installed after the deck's filter, so it sees the window's events first.
    installEventFilter(this);

    for (int track = 0; track < 5; ++track) {
        auto* b = new CXButton(this);
        const QString image = QString::fromLatin1(kButtonImages[track]);
        b->setImages(image, image + QStringLiteral("-on"));
        b->setNoFocusRect(true);
        b->setObjectName(QString::fromLatin1(kButtonTips[track]));
        b->setProperty("controlId", kFirstEnableButton + track);
        CGUIDialog::setControlTip(b, QString::fromLatin1(kButtonTips[track]));
        b->hide();
        connect(b, &CXButton::clicked, this, [this, track, b] {
            m_project.setTrackEnabled(track, b->isPressed());
            refreshButtons(false);
        });
        m_buttons[size_t(track)] = b;
    }

    m_tip = new QLabel(this);
    m_tip->setObjectName(QStringLiteral("TimelineTip"));
    m_tip->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tip->setFont(m_painter.nameFont());
    m_tip->hide();
    m_tipTimer.setSingleShot(true);
    m_tipTimer.setInterval(kToolTipDelay);
    connect(&m_tipTimer, &QTimer::timeout, this, [this] {
        if (!m_tip->text().isEmpty()) {
            m_tip->move(m_tipAt);
            m_tip->show();
            m_tip->raise();
        }
    });
    refreshButtons(true);
}

TimelineGeometry CTimelineWindow::timelineGeometry() const
{
    return TimelineGeometry(width(), height(), m_view);
}

TimelineScene CTimelineWindow::scene() const
{
    TimelineScene s;
    s.selected = m_selected;
    s.previewShowsComposition = m_showsComposition;
    s.currentTrack = m_host.currentTrack();
    s.timecode = m_host.timelineTimeCode();
    return s;
}

void CTimelineWindow::setView(const TimelineView& view)
{
    if (view == m_view) return;
    m_view = view;
    redrawItems();
    updateMarker();
}

void CTimelineWindow::setSelectedItem(ZEFItem* item)
{
    if (item == m_selected) return;
    m_selected = item;
    redrawItems();
}

void CTimelineWindow::setPreviewShowsComposition(bool on)
{
    if (on == m_showsComposition) return;
    m_showsComposition = on;
    redrawItems();
    updateMarker();
}

void CTimelineWindow::itemGone(ZEFItem* item)
{
    if (m_selected == item) m_selected = nullptr;
    const bool held = m_drag.captured();
    m_drag.itemGone(item);
    if (held && !m_drag.captured()) endCapture();
    if (m_drag.hotItem() == item) m_drag.buttonUp();
    hideTip();
    redrawItems();
}

bool CTimelineWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::ToolTip) return true;
    return QWidget::eventFilter(watched, event);
}

// ---- painting

void CTimelineWindow::redrawItems()
{
    m_pictureValid = false;
    update(QRect(kLeftMargin - 1, 0, width() - (kLeftMargin - 1), height()));
}

void CTimelineWindow::updateMarker()
{
    const TimelineGeometry g = timelineGeometry();
    const std::optional<EditTime> now = m_project.previewPosition();
    QRect next;
    if (now && isVisible() && markerShown(g, now->ticks(), scene()))
        next = toQRect(g.markerRect(now->ticks()));
    if (next == m_markerRect) return;
    if (!m_markerRect.isEmpty()) update(m_markerRect);
    if (!next.isEmpty()) update(next.adjusted(-1, 0, 2, 0));
}

void CTimelineWindow::paintEvent(QPaintEvent* e)
{
    const TimelineGeometry g = timelineGeometry();
    const TimelineScene s = scene();
    if (!m_pictureValid || m_picture.size() != size()) {
        if (m_picture.size() != size()) m_picture = QImage(size(), QImage::Format_RGB32);
        QPainter p(&m_picture);
        m_painter.paint(p, g, m_project, s);
        m_pictureValid = true;
    }
    QPainter p(this);
    p.drawImage(e->rect(), m_picture, e->rect());
    m_markerRect = QRect();
    const std::optional<EditTime> now = m_project.previewPosition();
    if (now && markerShown(g, now->ticks(), s)) {
        TimelinePainter::paintMarker(p, g, now->ticks());
        m_markerRect = toQRect(g.markerRect(now->ticks()));
    }
}

void CTimelineWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    m_pictureValid = false;
    refreshButtons(true);
}

void CTimelineWindow::refreshButtons(bool relayout)
{
    const TimelineGeometry g = timelineGeometry();
    for (int track = 0; track < 5; ++track) {
        CXButton* b = m_buttons[size_t(track)];
        if (relayout) {
            const movies::Rect r = g.enableButton(track);
            if (r.isEmpty()) {
                b->hide();
            } else {
                b->setGeometry(toQRect(r));
                b->show();
            }
        }
        b->setPressed(m_project.device(track).enabled());
    }
}

CXButton* CTimelineWindow::enableButton(int track) const
{
    return track >= 0 && track < 5 ? m_buttons[size_t(track)] : nullptr;
}

// ---- tool tip and cursor

void CTimelineWindow::showTip(const QString& text, const QColor& colour, const QPoint& at, bool now)
{
    m_tip->setStyleSheet(QStringLiteral("QLabel { background: rgb(48, 48, 48); color: %1; "
                                        "border: 1px solid black; padding: 1px 3px; }")
                             .arg(colour.name()));
    m_tip->setText(text);
    m_tip->adjustSize();
    QPoint p = at + QPoint(12, 16);
    p.setX(std::clamp(p.x(), 0, std::max(0, width() - m_tip->width())));
    p.setY(std::clamp(p.y(), 0, std::max(0, height() - m_tip->height())));
    m_tipAt = p;
    if (now || m_tip->isVisible()) {
        m_tipTimer.stop();
        m_tip->move(p);
        m_tip->show();
        m_tip->raise();
    } else {
        m_tipTimer.start();
    }
}

void CTimelineWindow::hideTip()
{
    m_tipTimer.stop();
    m_tip->hide();
    m_tip->clear();
}

QString CTimelineWindow::toolTipText() const { return m_tip->text(); }

bool CTimelineWindow::toolTipShown() const { return m_tip->isVisible(); }

void CTimelineWindow::applyCursor() { setCursor(cursorFor(m_drag.mode(), m_drag.captured())); }

void CTimelineWindow::hoverAt(const QPoint& pos)
{
    const HoverHit& hit = m_drag.hover(timelineGeometry(), pos.x(), pos.y());
    applyCursor();
    if (hit.mode == kDragKeyframe) {
        showTip(QStringLiteral("Track %1, Keyframe #%2")
                    .arg(QString::fromLatin1(timelineTrackName(hit.keyframeTrack)))
                    .arg(hit.keyframeIndex + 1),
                Qt::white, pos, false);
    } else if (hit.item) {
        const bool transition = hit.mode >= kDragTransitionMove && hit.item->transition();
        const std::string text =
            transition ? hit.item->transition()->name() : hit.item->displayName();
        const QColor colour = hit.item->track() == kTitleTrack
                                  ? QColor(192, 192, 192)
                                  : trackColour(hit.item->track(), true);
        showTip(QString::fromStdString(text), colour, pos, false);
    } else {
        hideTip();
    }
}

// ---- mouse and keys

void CTimelineWindow::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    const TimelineGeometry g = timelineGeometry();
    if (e->button() == Qt::RightButton) {
        if (m_drag.captured()) return;
        const HoverHit& hit = m_drag.hover(g, pos.x(), pos.y());
        if (hit.mode != kDragNone && hit.item) {
            m_project.selectItem(hit.item, hit.mode == kDragTransitionMove);
            hideTip();
            redrawItems();
            m_host.showItemMenu(e->globalPosition().toPoint());
        }
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    if (!m_drag.captured()) m_drag.hover(g, pos.x(), pos.y());
    if (m_drag.buttonDown(g, pos.x(), pos.y())) {
        // Some window holds the mouse: the lazy preview update waits for the release.
        grabMouse();
        m_grabbed = true;
        setFocus(Qt::MouseFocusReason);
    }
    applyCursor();
    redrawItems();
}

void CTimelineWindow::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (!m_drag.captured()) {
        hoverAt(pos);
        return;
    }
    const bool ctrl = e->modifiers().testFlag(Qt::ControlModifier);
    if (m_drag.move(timelineGeometry(), pos.x(), pos.y(), ctrl)) {
        if (m_drag.mode() != kDragScrub) {
            redrawItems();
            repaint();
        }
        updateMarker();
    }
    if (m_drag.lastDragTime() && !m_host.previewPlaying())
        showTip(QString::fromStdString(EditTime::raw(*m_drag.lastDragTime()).format()), Qt::white,
                pos, true);
}

void CTimelineWindow::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const bool held = m_drag.captured();
    m_drag.buttonUp();
    if (held) endCapture();
    hideTip();
    redrawItems();
    hoverAt(e->position().toPoint());
}

void CTimelineWindow::endCapture()
{
    if (m_grabbed) {
        releaseMouse();
        m_grabbed = false;
    }
    applyCursor();
}

void CTimelineWindow::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || m_drag.captured()) return;
    const QPoint pos = e->position().toPoint();
    const HoverHit hit = m_drag.hover(timelineGeometry(), pos.x(), pos.y());
    if (!hit.item) return;
    // The Parameters Deck shows what the selection asks for: the transition's settings, an
    // effect's or title's settings, or a clip's settings with its filters.
    if (hit.mode == kDragTransitionMove) {
        m_project.selectItem(hit.item, true);
        m_host.showParametersDeck();
    } else if (hit.mode == kDragMove) {
        m_project.selectItem(hit.item, false);
        m_host.showParametersDeck();
    }
}

void CTimelineWindow::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Delete && e->modifiers() == Qt::NoModifier) {
        m_host.deleteSelectedItems(m_selected);
        return;
    }
    QWidget::keyPressEvent(e);
}

void CTimelineWindow::leaveEvent(QEvent* e)
{
    if (!m_drag.captured()) hideTip();
    QWidget::leaveEvent(e);
}

// ---- files from the desktop

int CTimelineWindow::dropTrackAt(const QPoint& pos) const
{
    const TimelineGeometry g = timelineGeometry();
    for (int track : {kLayerA, kLayerB, kLayerC})
        if (g.rowBox(track).contains(pos.x(), pos.y())) return track;
    return -1;
}

void CTimelineWindow::dragEnterEvent(QDragEnterEvent* e)
{
    if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
}

void CTimelineWindow::dragMoveEvent(QDragMoveEvent* e)
{
    if (!localFiles(e->mimeData()).empty() && dropTrackAt(e->position().toPoint()) >= 0)
        e->acceptProposedAction();
    else
        e->ignore();
}

void CTimelineWindow::dropEvent(QDropEvent* e)
{
    const std::vector<std::string> paths = localFiles(e->mimeData());
    const int track = dropTrackAt(e->position().toPoint());
    if (paths.empty() || track < 0) return;
    e->acceptProposedAction();
    m_host.dropFiles(track, paths);
}

} // namespace zef::ui
