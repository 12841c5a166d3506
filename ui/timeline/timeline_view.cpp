#include "ui/timeline/timeline_view.h"

#include "model/project.h"
#include "ui/controls/xbutton.h"
#include "ui/timeline/timeline_drag.h"
#include "ui/timeline/timeline_window.h"

#include <QPalette>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>

namespace zef::ui {

CTimelineView::CTimelineView(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Timeline Deck"), true, parent), m_project(project)
{
    setObjectName(QStringLiteral("TimelineDeck"));
    m_window = new CTimelineWindow(project, m_link, this);
    m_zoom[0] = addZoomButton("Zoom In", kZoomIn, "zoom-in");
    m_zoom[1] = addZoomButton("Zoom Out", kZoomOut, "zoom-out");
    m_zoom[2] = addZoomButton("Zoom to Project", kZoomToProject, "zoom-project");
    connect(m_zoom[0], &CXButton::clicked, this, &CTimelineView::zoomIn);
    connect(m_zoom[1], &CXButton::clicked, this, &CTimelineView::zoomOut);
    connect(m_zoom[2], &CXButton::clicked, this, &CTimelineView::zoomToProject);

    m_scroll = new QScrollBar(Qt::Horizontal, this);
    m_scroll->setObjectName(QStringLiteral("TimelineScrollBar"));
    m_scroll->setProperty("controlId", kScrollBar);
    m_scroll->setSingleStep(1);
    // The deck's greys instead of the style's white groove.
    QPalette greys = m_scroll->palette();
    greys.setColor(QPalette::Base, QColor(112, 112, 112));
    greys.setColor(QPalette::Window, QColor(144, 144, 144));
    greys.setColor(QPalette::Button, QColor(156, 156, 156));
    m_scroll->setPalette(greys);
    connect(m_scroll, &QScrollBar::valueChanged, this, &CTimelineView::scrollToPosition);

    const int b = m_scroll->sizeHint().height();
    const QMargins frame = contentsMargins();
    setMinimumHeight(kRowCount * kRowHeight + frame.top() + frame.bottom() + b + 33);
    setMinimumWidth(100);
    setMaximumWidth(10000);

    m_project.addObserver(this);
    resize(defaultSize());
    updateScrollBar();
}

CTimelineView::~CTimelineView() { m_project.removeObserver(this); }

void CTimelineView::setHost(std::unique_ptr<TimelineHost> host)
{
    m_host = std::move(host);
    m_link.host = m_host.get();
    m_window->redrawItems();
}

CXButton* CTimelineView::addZoomButton(const char* name, int command, const char* image)
{
    auto* b = new CXButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setProperty("controlId", command);
    b->setImages(QString::fromLatin1(image));
    b->setNoFocusRect(true);
    setControlTip(b, QString::fromLatin1(name));
    return b;
}

CXButton* CTimelineView::zoomButton(int command) const
{
    switch (command) {
    case kZoomIn:
        return m_zoom[0];
    case kZoomOut:
        return m_zoom[1];
    case kZoomToProject:
        return m_zoom[2];
    default:
        return nullptr;
    }
}

// ---- layout

void CTimelineView::placeControls()
{
    const QRect client = clientRect();
    const int cx = client.width(), cy = client.height();
    const int b = m_scroll->sizeHint().height();
    const QPoint o = client.topLeft();
    m_window->setGeometry(o.x() + 22, o.y() + 5, std::max(1, cx - 44), std::max(1, cy - b - 15));
    int x = 22;
    for (CXButton* z : m_zoom) {
        z->setGeometry(o.x() + x, o.y() + cy - b - 5, b, b);
        x += b + 1;
    }
    m_scroll->setGeometry(o.x() + x, o.y() + cy - b - 5, std::max(1, cx - 22 - x), b);
}

void CTimelineView::resizeEvent(QResizeEvent* e)
{
    CGUIDialogWithCaption::resizeEvent(e);
    placeControls();
}

void CTimelineView::showEvent(QShowEvent* e)
{
    CGUIDialogWithCaption::showEvent(e);
    m_window->updateMarker();
}

// ---- zoom and scroll

void CTimelineView::zoomIn()
{
    m_window->setView(ui::zoomIn(m_window->view()));
    updateScrollBar();
}

void CTimelineView::zoomOut()
{
    m_window->setView(ui::zoomOut(m_window->view()));
    updateScrollBar();
}

void CTimelineView::zoomToProject()
{
    m_window->setView(ui::zoomToProject(m_project.projectEnd().ticks()));
    updateScrollBar();
}

void CTimelineView::scrollToPosition(int position)
{
    const TimelineView v = scrollTo(m_window->view(), position);
    if (v == m_window->view()) return;
    m_window->setView(v);
    updateScrollBar();
}

void CTimelineView::updateScrollBar()
{
    const ScrollBarState s = scrollBarState(m_window->view(), m_project.projectEnd().ticks());
    const QSignalBlocker block(m_scroll);
    m_scroll->setRange(0, s.last);
    m_scroll->setPageStep(std::max(1, s.pageStep));
    m_scroll->setValue(s.position);
}

void CTimelineView::resetView(bool fit)
{
    if (fit) m_window->setView(fitView(m_project.projectEnd().ticks()));
    m_window->redrawItems();
    m_window->refreshButtons(true);
    m_window->updateMarker();
    updateScrollBar();
    placeControls();
}

void CTimelineView::updateMarker() { m_window->updateMarker(); }

// ---- keyframe commands

void CTimelineView::goToPreviousKeyframe()
{
    goToKeyframe(m_project, m_link.currentTrack(), false);
}

void CTimelineView::goToNextKeyframe() { goToKeyframe(m_project, m_link.currentTrack(), true); }

void CTimelineView::toggleKeyframe()
{
    ui::toggleKeyframe(m_project, m_link.currentTrack());
    m_window->redrawItems();
}

// ---- the project

void CTimelineView::repaintTrackRow(int32_t) { m_window->redrawItems(); }

void CTimelineView::repaintRuler() { m_window->redrawItems(); }

void CTimelineView::setTimelineSelection(ZEFItem* item) { m_window->setSelectedItem(item); }

void CTimelineView::closeDecksShowing(ZEFItem* item) { m_window->itemGone(item); }

void CTimelineView::previewShowComposition() { m_window->setPreviewShowsComposition(true); }

void CTimelineView::previewShowClip(ZEFSourceItem*) { m_window->setPreviewShowsComposition(false); }

} // namespace zef::ui
