#include "ui/preview/preview_window.h"

#include "model/device.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/controls/images.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/placement.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zef::ui {

using namespace placement;

namespace {

constexpr int32_t kCroppingMode = 1; // a clip's placement mode: cropping (0 positioning)

bool clipCropping(const ZEFSourceItem* clip)
{
    return clip && clip->placementMode() == kCroppingMode;
}

} // namespace

CPreviewWindow::CPreviewWindow(DPreview& deck, QWidget* parent) : QWidget(parent), m_deck(deck)
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_tip = new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint);
    m_tip->setObjectName(QStringLiteral("PlacementTip"));
    m_tip->setStyleSheet(QStringLiteral(
        "QLabel { background: rgb(96, 96, 96); color: white; border: none; padding: 2px 4px; }"));
    m_tip->hide();
}

QRect CPreviewWindow::pictureRect() const
{
    QSize aspect = m_deck.frameSize();
    ZEFSourceItem* clip = m_deck.currentClip();
    if (m_deck.source() == DPreview::Source::Capture || clipCropping(clip)) {
        const QImage& image = m_deck.player().frame().image;
        if (m_deck.source() == DPreview::Source::Clip && clip) {
            const auto& d = clip->imageDescription();
            if (d.size() >= 86) {
                const QSize image16((d.data()[32] << 8) | d.data()[33],
                                    (d.data()[34] << 8) | d.data()[35]);
                if (!image16.isEmpty()) aspect = image16;
            } else if (!image.isNull()) {
                aspect = image.size();
            }
        } else {
            aspect = m_deck.frameSize();
        }
    }
    return fitPicture(rect(), aspect);
}

QRect CPreviewWindow::imageRect() const
{
    ZEFSourceItem* clip = m_deck.currentClip();
    if (clip && !clipCropping(clip))
        return fromThousandths(layoutRect(clip->matrix(0)), pictureRect());
    return pictureRect();
}

QRect CPreviewWindow::modeRect() const
{
    if (dragging()) return m_dragRect;
    if (!m_deck.allowsPlacement()) return {};
    const QRect picture = pictureRect();
    ZEFSourceItem* clip = m_deck.currentClip();
    switch (m_deck.source()) {
    case DPreview::Source::Capture:
        return fromFractions(m_deck.captureCrop(), picture);
    case DPreview::Source::Clip:
        if (!clip) return {};
        return clipCropping(clip) ? fromFractions(clip->cropRect(), picture) : imageRect();
    case DPreview::Source::Composition: {
        const int32_t track = m_deck.currentTrack();
        const ProjectSettings* s = m_deck.project().settings();
        const bool single = s && s->singleLayerPreview();
        if ((!m_layerActive && !single) || track < 0) return {};
        return fromThousandths(layoutRect(m_deck.project().matrixAt(track, m_deck.currentTime())),
                               picture);
    }
    }
    return {};
}

QString CPreviewWindow::markName() const
{
    ZEFSourceItem* clip = m_deck.currentClip();
    if (m_deck.source() == DPreview::Source::Capture || clipCropping(clip))
        return QStringLiteral("mark-crop");
    if (clip) return QStringLiteral("mark-clip");
    const int32_t track = m_deck.currentTrack();
    return track >= 0 && m_deck.project().hasKeyframeAt(track, m_deck.currentTime())
               ? QStringLiteral("mark-key")
               : QStringLiteral("mark-tween");
}

QString CPreviewWindow::tipText() const { return m_tip->isVisible() ? m_tip->text() : QString(); }

void CPreviewWindow::dropLayer()
{
    m_layerActive = false;
    update();
}

void CPreviewWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!m_deck.outsidePicture().isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(fitPicture(rect(), m_deck.outsidePicture().size()), m_deck.outsidePicture());
        return;
    }
    const CPreviewPlayer::Frame& frame = m_deck.player().frame();
    if (m_deck.source() == DPreview::Source::Capture) {
        if (!m_deck.capturePicture().isNull()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(pictureRect(), m_deck.capturePicture());
        }
    } else if (!frame.image.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform, !m_deck.isPlaying());
        p.drawImage(imageRect(), frame.image);
        m_deck.player().painted();
    }
    const QRect r = modeRect().normalized();
    if (r.isEmpty()) return;
    const QPixmap mark = artworkPixmap(markName());
    if (mark.isNull()) return;
    const int right = r.x() + r.width(), bottom = r.y() + r.height();
    for (const QPoint c :
         {r.topLeft(), QPoint(right, r.y()), QPoint(r.x(), bottom), QPoint(right, bottom)})
        p.drawPixmap(c - QPoint(mark.width() / 2, mark.height() / 2), mark);
}

bool CPreviewWindow::pickLayer(const QPoint& pt)
{
    FProject& project = m_deck.project();
    const EditTime t = m_deck.currentTime();
    const QRect picture = pictureRect();
    for (int32_t track : {2, 1, 0}) {
        if (!project.device(track).enabled()) continue;
        ZEFItem* item = project.itemAt(track, t);
        if (!item) continue;
        auto* clip = dynamic_cast<ZEFSourceItem*>(item);
        if (clip && clip->videoTrackCount() <= 0) continue;
        if (fromThousandths(layoutRect(project.matrixAt(track, t)), picture).contains(pt)) {
            m_deck.setCurrentTrack(track);
            m_layerActive = true;
            return true;
        }
    }
    return false;
}

void CPreviewWindow::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_deck.allowsPlacement()) return;
    const QPoint pt = e->position().toPoint();
    QRect r = modeRect();
    int grab = r.isEmpty() ? kNothing : grabAt(r.normalized(), pt);
    const ProjectSettings* s = m_deck.project().settings();
    if (grab == kNothing && m_deck.showsComposition() && !(s && s->singleLayerPreview())) {
        // A click beside the shown layer picks again; the picked layer can be dragged at once.
        m_layerActive = false;
        if (pickLayer(pt)) {
            r = modeRect();
            grab = grabAt(r.normalized(), pt);
        }
        update();
    }
    if (grab == kNothing) return;
    m_grab = grab;
    m_pressed = true;
    m_pressAt = pt;
    m_startRect = r.normalized();
    m_dragRect = m_startRect;
}

void CPreviewWindow::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pt = e->position().toPoint();
    if (m_pressed) {
        m_dragRect = dragged(m_startRect, m_grab, pt - m_pressAt);
        showTip(e->globalPosition().toPoint());
        update();
        return;
    }
    const QRect r = modeRect();
    setCursorFor(r.isEmpty() ? kNothing : grabAt(r.normalized(), pt));
}

void CPreviewWindow::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_pressed) return;
    m_dragRect = dragged(m_startRect, m_grab, e->position().toPoint() - m_pressAt);
    m_pressed = false;
    m_tip->hide();
    const QRect r = m_dragRect.normalized();
    const bool moved = m_dragRect != m_startRect;
    m_grab = kNothing;
    if (moved && !r.isEmpty()) m_deck.applyPlacement(r, pictureRect());
    update();
}

void CPreviewWindow::leaveEvent(QEvent*)
{
    if (!m_pressed) unsetCursor();
}

void CPreviewWindow::setCursorFor(int grab)
{
    const bool l = grab & kLeft, r = grab & kRight, t = grab & kTop, b = grab & kBottom;
    if (grab & kMove)
        setCursor(Qt::SizeAllCursor);
    else if ((l && t) || (r && b))
        setCursor(Qt::SizeFDiagCursor);
    else if ((l && b) || (r && t))
        setCursor(Qt::SizeBDiagCursor);
    else if (l || r)
        setCursor(Qt::SizeHorCursor);
    else if (t || b)
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void CPreviewWindow::showTip(const QPoint& global)
{
    const QRect units = toFrameUnits(m_dragRect.normalized(), pictureRect(), m_deck.frameSize());
    m_tip->setText(dragTip(units, m_grab));
    m_tip->adjustSize();
    m_tip->move(global + QPoint(16, 16));
    m_tip->show();
    m_tip->raise();
}

// ---- full screen

CFullScreenView::CFullScreenView(DPreview& deck)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_deck(deck)
{
    setObjectName(QStringLiteral("FullScreenPreview"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::BlankCursor);
}

void CFullScreenView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const CPreviewPlayer::Frame& frame = m_deck.player().frame();
    if (frame.image.isNull()) return;
    p.drawImage(fitPicture(rect(), frame.image.size()), frame.image);
    m_deck.player().painted();
}

void CFullScreenView::mousePressEvent(QMouseEvent*) { emit dismissed(); }

void CFullScreenView::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Space) {
        emit dismissed();
        return;
    }
    QWidget::keyPressEvent(e);
}

} // namespace zef::ui
