// The bases of every deck and deck page.
//
// CGUIDialog paints the deck background (a picture stretched over the whole widget) and gives
// its controls tool tips: the tip is the text attached to the control with setControlTip, else
// the control's own text, cut to 80 characters.
//
// CGUIDialogWithCaption is a top-level deck window that draws its own frame and caption strip
// (the caption text, amber and bold while the deck is active, and a close image at the right).
// It is moved by dragging its caption and, when resizable, sized by dragging its border; a
// PlacementHost given to it lines the rectangle up with the screen and the other windows while
// that happens. Closing hides the deck.
//
// GUI thread only.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

namespace zef::ui {

class CGUIDialog : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxTipLength = 80;

    explicit CGUIDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // The text shown as the control's tool tip.
    static void setControlTip(QWidget* control, const QString& text);
    // What the tool tip of a control of this dialog shows (empty: none).
    static QString tipFor(const QWidget* control);

protected:
    void paintEvent(QPaintEvent*) override;
    void childEvent(QChildEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Who lines up windows while they are moved or sized. Edges: 0 the whole window moves, then
// left, right, top, top-left, top-right, bottom, bottom-left, bottom-right as 1 to 8.
class PlacementHost {
public:
    virtual ~PlacementHost() = default;
    virtual void beginPlacement(QWidget* /*window*/, int /*edge*/) {}
    // The rectangle the window should take for the proposed one.
    virtual QRect placeRect(QWidget* /*window*/, int /*edge*/, const QRect& proposed)
    {
        return proposed;
    }
    virtual void endPlacement(QWidget* /*window*/) {}
    // The deck was hidden or shown by its own close image or by the program.
    virtual void visibilityChanged(QWidget* /*window*/) {}
};

class CGUIDialogWithCaption : public CGUIDialog {
    Q_OBJECT
public:
    static constexpr int kBorder = 4;         // the window frame on every side
    static constexpr int kCaptionHeight = 18; // the caption strip
    static constexpr int kMinimumWidth = 160;
    static constexpr int kMinimumHeight = 80;

    // A top-level deck (a tool window of parent, which may be null).
    CGUIDialogWithCaption(const QString& caption, bool resizable, QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    bool isResizable() const { return m_resizable; }
    void setPlacementHost(PlacementHost* host) { m_host = host; }

    // Where the content goes: below the caption, inside the frames.
    QRect clientRect() const;
    QRect captionRect() const;
    QRect closeRect() const;
    // The edge (0 = caption, 1-8 = border) under a point, or -1.
    int hitTest(const QPoint& p) const;

signals:
    void closedByUser();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void changeEvent(QEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    QRect proposedRect(const QPoint& globalPos) const;

    QString m_caption;
    bool m_resizable;
    PlacementHost* m_host = nullptr;
    int m_dragEdge = -1;
    bool m_closePressed = false;
    bool m_closeArmed = false;
    QPoint m_pressGlobal;
    QRect m_pressRect;
};

// Draws the caption strip picture stretched over r.
void drawCaptionStrip(class QPainter& p, const QRect& r);

} // namespace zef::ui
