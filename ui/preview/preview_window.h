// CPreviewWindow: the Preview Deck's picture and the placing and cropping gestures on it.
//
// The picture is drawn scaled into the largest rectangle of its aspect that the window holds
// (black around it): the composition at the project's aspect; a clip in positioning mode inside
// that frame where its layout places it; a clip in cropping mode, and the capture source, at
// their own aspect.
//
// The mode rectangle shows what a drag edits, marked by four corner marks in one of four looks:
// the crop (a clip in cropping mode, the capture crop), a single clip's placement, a layer with
// a keyframe at the current time, a layer placed between keyframes. For the composition a click
// picks the layer under the pointer first (layers C, B, A; the first enabled one whose picture
// at the current time holds the point becomes the current track). Hovering near an edge of the
// rectangle grabs that edge (4 pixels either side; both at a corner), elsewhere inside it the
// whole rectangle, with the matching cursor; dragging shows the rectangle in picture units in
// a tool tip. Releasing stores it: the capture crop, the clip's crop or layout, or a keyframe
// of the current track at the current time.
//
// GUI thread only.
#pragma once

#include <QLabel>
#include <QWidget>

namespace zef::ui {

class DPreview;

class CPreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewWindow(DPreview& deck, QWidget* parent = nullptr);

    // Where the frame of what is shown lies (the project frame, or the clip's or capture's).
    QRect pictureRect() const;
    // Where the current picture is drawn.
    QRect imageRect() const;
    // The rectangle a drag edits (while dragging: as dragged); empty when none is shown.
    QRect modeRect() const;
    // The corner mark artwork the rectangle is drawn with.
    QString markName() const;
    bool dragging() const { return m_grab != 0 && m_pressed; }
    // The drag's tool tip (empty when none is shown).
    QString tipText() const;
    // The picked layer's rectangle is shown (composition).
    bool layerPicked() const { return m_layerActive; }
    void dropLayer();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    bool pickLayer(const QPoint& p);
    void setCursorFor(int grab);
    void showTip(const QPoint& global);
    void commit(const QRect& r);

    DPreview& m_deck;
    bool m_layerActive = false;
    bool m_pressed = false;
    int m_grab = 0;
    QPoint m_pressAt;
    QRect m_startRect;
    QRect m_dragRect;
    QLabel* m_tip = nullptr;
};

// The picture alone on a whole screen, for full-screen playback; a click or Esc ends it.
class CFullScreenView : public QWidget {
    Q_OBJECT
public:
    explicit CFullScreenView(DPreview& deck);

signals:
    void dismissed();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    DPreview& m_deck;
};

} // namespace zef::ui
