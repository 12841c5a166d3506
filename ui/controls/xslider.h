// CXSliderCtrl: the decks' slider, drawn by itself: a shaded channel with a draggable thumb,
// horizontal or vertical (the minimum at the left or the top).
//
// A press on the thumb starts a drag that keeps the grab offset; while dragging, the position
// is the thumb's offset scaled to the range, clamped, and scrolled(ThumbPosition, position) is
// sent on every move; the button's release sends scrolled(EndScroll, position). A press beside
// the thumb pages toward the press (scrolled(PageUp or PageDown, position)). The channel is
// shaded like the button faces and shows the selection range in the highlight colour;
// disabled parts are grey (144).
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QWidget>

#include <algorithm>

namespace zef::ui {

class CXSliderCtrl : public QWidget {
    Q_OBJECT
public:
    enum ScrollCode { PageUp, PageDown, ThumbPosition, EndScroll };
    static constexpr int kThumbLength = 11;

    explicit CXSliderCtrl(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

    Qt::Orientation orientation() const { return m_orientation; }
    void setRange(int minimum, int maximum);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int position() const { return m_pos; }
    // Clamped to the range; sends nothing.
    void setPosition(int position);
    void setPageSize(int page) { m_page = std::max(1, page); }
    int pageSize() const { return m_page; }
    // The range drawn in the highlight colour (none when first > last).
    void setSelection(int first, int last);
    void setHighlightColour(const QColor& c);

    // The thumb's rectangle at the current position, and the position a thumb whose leading
    // edge is `offset` pixels along the channel stands for.
    QRect thumbRect() const;
    int positionAt(int offset) const;
    bool isDragging() const { return m_dragging; }

    QSize sizeHint() const override;

signals:
    void scrolled(int code, int position);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int length() const;    // along the channel
    int thickness() const; // across it
    int along(const QPoint& p) const;
    int offsetOf(int position) const;

    Qt::Orientation m_orientation;
    int m_min = 0, m_max = 100, m_pos = 0, m_page = 10;
    int m_selFirst = 0, m_selLast = -1;
    QColor m_highlight{255, 200, 0};
    bool m_dragging = false;
    bool m_paging = false;
    int m_grab = 0; // the press's distance from the thumb's leading edge
};

} // namespace zef::ui
