// CColorButton: the colour button of the settings pages (a graphics mode's operand colour, a
// title's text colour), drawn by itself: a 3-D frame (192, 192, 192)/(96, 96, 96) (a focus
// rectangle instead while focused), a (144, 144, 144) frame, a frame in (48, 48, 48) while
// pressed or black otherwise, and the colour inside ((144, 144, 144) while pressed).
//
// A click opens the colour chooser with the colour preselected; a chosen colour is taken and
// sent with chosen().
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QWidget>

namespace zef::ui {

class CColorButton : public QWidget {
    Q_OBJECT
public:
    explicit CColorButton(QWidget* parent = nullptr);

    QColor colour() const { return m_colour; }
    void setColour(const QColor& c);
    bool isPressed() const { return m_pressed; }
    // Opens the colour chooser (as a click does).
    void choose();

    QSize sizeHint() const override { return {40, 22}; }

signals:
    void chosen(const QColor& colour);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    QColor m_colour{128, 128, 128};
    bool m_pressed = false;
};

} // namespace zef::ui
