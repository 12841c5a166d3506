// CXTimeCode: the decks' timecode field, drawn by itself. A time (ticks at 600 per second with
// its frame rate) shown in seven digit cells H:MM:SS:FF, kept between a minimum and a maximum
// (0 to one hour unless set), edited with the keys:
//
//   Left, Right   move the cursor cell (0 to 6)
//   Up, Down      add or subtract one unit of the cursor cell: 3600 s, 600 s, 60 s, 10 s, 1 s,
//                 10 frames, 1 frame
//   Home, End     the minimum, the maximum
//   0-9           fill the digits from the most significant one rightward, one per key (the
//                 entry restarts at the first digit when the field gains the focus)
//   Space         enters 0; Backspace enters 0 and steps back
//   Insert        the whole cursor cell blinks (instead of its lower quarter); cursor to cell 6
//   Delete        the time becomes 0 (the whole cell blinks)
//
// A click puts the cursor on the cell under the mouse. While focused, the cursor cell blinks
// every 250 ms. After every change the time is clamped to the range, redrawn and changed() is
// sent; focusGained() and focusLost() tell the parent about the focus.
//
// Layout: with h the client height, separators are h / 8 wide and digits (h − 2h/8) / 2; the
// field keeps its width at 7 digits + 2 separators + 24 pixels.
//
// GUI thread only.
#pragma once

#include "model/edit_time.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>

namespace zef::ui {

class CXTimeCode : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCells = 7;
    static constexpr int kBlinkInterval = 250;          // ms
    static constexpr int64_t kDefaultMaximum = 2160000; // ticks: one hour

    explicit CXTimeCode(QWidget* parent = nullptr);

    EditTime value() const { return m_value; }
    // Clamped to the range; sends changed() when it differs.
    void setValue(const EditTime& t);
    void setRange(const EditTime& minimum, const EditTime& maximum);
    EditTime minimum() const { return m_min; }
    EditTime maximum() const { return m_max; }
    void setDigitColour(const QColor& c);
    QColor digitColour() const { return m_digitColour; }

    int cursorCell() const { return m_cursor; }
    int entryPosition() const { return m_entry; }
    bool wholeCellCaret() const { return m_wholeCell; }
    bool caretShown() const { return m_caretOn; }

    // The digits of a time: hours (one digit), minutes, seconds and frames, two each.
    static std::array<int, kCells> digitsOf(const EditTime& t);
    // The time with those digits, in t's frame rate (frames beyond a second carry over).
    static EditTime fromDigits(const std::array<int, kCells>& digits, const EditTime& t);
    // The width the field keeps at height h, and the cell under x (-1 for none).
    static int widthFor(int h);
    QRect cellRect(int cell) const;
    int cellAt(int x) const;

    QSize sizeHint() const override;

signals:
    void changed();
    void focusGained();
    void focusLost();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;

private:
    void apply(EditTime t);
    void step(int direction);
    void enterDigit(int digit);
    void moveCursor(int cell);

    EditTime m_value;
    EditTime m_min;
    EditTime m_max = EditTime::raw(kDefaultMaximum);
    QColor m_digitColour{0, 255, 255};
    int m_cursor = 3;
    int m_entry = 0;
    bool m_wholeCell = false;
    bool m_caretOn = false;
    QTimer m_blink;
};

} // namespace zef::ui
