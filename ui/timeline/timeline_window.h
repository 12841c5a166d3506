// CTimelineWindow: the drawing window of the Timeline Deck (window text "Timeline", child id
// 100). It keeps the view (the times at its left and right edges), the project's selected
// item and whether the preview shows the composition; it paints the ruler, rows, items and
// the current-time marker (TimelinePainter), and routes the mouse to the gestures
// (TimelineDrag), the keyboard's Delete to the host, and files dropped on the rows of tracks A,
// B and C to the host. The five track-enable buttons (commands 273 to 277) switch tracks on
// and off through the project.
//
// The picture without the marker is kept in an off-screen image, so that a moving current
// time repaints only where the marker was and is.
//
// GUI thread only; the project and the host must outlive the window.
#pragma once

#include "ui/timeline/timeline_drag.h"
#include "ui/timeline/timeline_geometry.h"
#include "ui/timeline/timeline_painter.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>

class QLabel;

namespace zef {
class FProject;
class ZEFItem;
} // namespace zef

namespace zef::ui {

class CXButton;
class TimelineHost;

class CTimelineWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kChildId = 100;
    static constexpr int kFirstEnableButton = 273; // 273-277: tracks 0-4
    static constexpr int kToolTipDelay = 100;      // ms

    CTimelineWindow(FProject& project, TimelineHost& host, QWidget* parent = nullptr);

    const TimelineView& view() const { return m_view; }
    void setView(const TimelineView& view);
    // The geometry of the window as it is now.
    TimelineGeometry timelineGeometry() const;
    TimelineDrag& drag() { return m_drag; }
    const TimelinePainter& painter() const { return m_painter; }

    ZEFItem* selectedItem() const { return m_selected; }
    void setSelectedItem(ZEFItem* item);
    bool previewShowsComposition() const { return m_showsComposition; }
    void setPreviewShowsComposition(bool on);
    // The item is about to be deleted: no selection, gesture or tool tip keeps it.
    void itemGone(ZEFItem* item);

    // The item area is drawn again (the track is not needed: the picture is one).
    void redrawItems();
    // The marker follows the project's current time; only what it leaves and covers is
    // repainted.
    void updateMarker();
    // Relayout: the buttons are placed in their rows; in every case they show the tracks'
    // enabled flags.
    void refreshButtons(bool relayout);
    CXButton* enableButton(int track) const;
    // Where the marker was drawn last (empty when it was not).
    QRect markerRect() const { return m_markerRect; }
    // The tool tip's text and whether it shows.
    QString toolTipText() const;
    bool toolTipShown() const;

protected:
    // Keeps the deck's tool tip of controls (the window text) off: the window shows its own.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void leaveEvent(QEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dragMoveEvent(QDragMoveEvent*) override;
    void dropEvent(QDropEvent*) override;

private:
    void hoverAt(const QPoint& pos);
    void applyCursor();
    void showTip(const QString& text, const QColor& colour, const QPoint& at, bool now);
    void hideTip();
    void endCapture();
    // The track (A, B or C) whose row box holds the point, or -1.
    int dropTrackAt(const QPoint& pos) const;
    TimelineScene scene() const;

    FProject& m_project;
    TimelineHost& m_host;
    TimelinePainter m_painter;
    TimelineDrag m_drag;
    TimelineView m_view;
    ZEFItem* m_selected = nullptr;
    bool m_showsComposition = true;
    std::array<CXButton*, 5> m_buttons{};
    QImage m_picture;
    bool m_pictureValid = false;
    QRect m_markerRect;
    bool m_grabbed = false;
    QLabel* m_tip = nullptr;
    QTimer m_tipTimer;
    QPoint m_tipAt;
};

} // namespace zef::ui
