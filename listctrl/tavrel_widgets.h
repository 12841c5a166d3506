// The clip strip's two helpers: the spin button in its top-left cell and its tool tip window.
//
// GUI thread only; both live inside a CTavrelCtrl.
#pragma once

#include <QColor>
#include <QRect>
#include <QTimer>
#include <QWidget>

namespace tavrel {

// A horizontal up-down control: two arrow halves that repeat while held. Like the platform's
// up-down control with its default range, the right arrow reports a delta of -1 and the left
// arrow +1.
class TavrelSpin : public QWidget {
    Q_OBJECT
public:
    explicit TavrelSpin(QWidget* parent);

signals:
    void delta(int d);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int m_pressed = 0; // the delta of the arrow held down, 0 for none
    QTimer m_repeat;
};

// The tool tip: a text in its colour on grey (96, 96, 96), shown 100 ms after it is asked for
// while the mouse stays over the same area.
class TavrelTip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDelay = 100; // ms

    explicit TavrelTip(QWidget* owner);
    // The tip for the area (global coordinates); the same tip again changes nothing.
    void request(const QString& text, const QColor& colour, const QRect& area);
    void dismiss();
    // The tip asked for (shown or still waiting), empty for none.
    QString text() const { return m_text; }
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void appear();

    QString m_text;
    QColor m_colour;
    QRect m_area;
    QTimer m_delay;
};

} // namespace tavrel
