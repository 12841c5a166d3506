// CXButton: the shaded push button of the decks, drawn by itself. A rectangular face is a
// cos²-shaded grey gradient inside a 3-D frame; a round face is a shaded ellipse (or a half
// ellipse cap) that glows in chosen colour channels while checked. The content is an image
// (normal, checked, disabled; magenta transparent) or the caption.
//
// Behaviour: pressing flips the pressed look; releasing inside sends clicked(). A button with
// a checked image toggles and keeps its state; a radio-like button ignores presses while
// pressed. With repeat notifications the button sends clicked() at button-down and
// released() at button-up (the frame-step buttons repeat while held).
//
// GUI thread only.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace zef::ui {

class CXButton : public QWidget {
    Q_OBJECT
public:
    explicit CXButton(QWidget* parent = nullptr);

    // Artwork names; an empty checked image makes a plain push button, an empty disabled one
    // is derived from the normal image.
    void setImages(const QString& normal, const QString& checked = {},
                   const QString& disabled = {});
    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }

    // The pressed or checked look.
    bool isPressed() const { return m_pressed; }
    void setPressed(bool pressed);
    bool isToggle() const { return !m_checked.isNull(); }
    void setRadio(bool radio) { m_radio = radio; }
    void setRound(bool round, int shape = 0);
    void setRepeatNotifications(bool on) { m_repeat = on; }
    void setNoFocusRect(bool on) { m_noFocusRect = on; }
    // Which channels light up while the button is checked (round faces).
    void setGlow(bool red, bool green, bool blue);

    QSize sizeHint() const override;

    // The face without content, as drawn: exposed for tests of the shading.
    QImage renderFace(bool pressed, bool lit, int backgroundGrey) const;

signals:
    void clicked();
    // Button-up of a button with repeat notifications.
    void released();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void changeEvent(QEvent*) override;

private:
    void rectangularFace(QImage& face, bool pressed) const;
    void roundFace(QImage& face, bool pressed, bool lit, int backgroundGrey) const;
    void invalidate();

    QImage m_normal, m_checked, m_disabled;
    bool m_disabledGiven = false;
    QString m_caption;
    bool m_pressed = false;
    bool m_pressedAtDown = false; // the look before the current press
    bool m_tracking = false;
    bool m_radio = false;
    bool m_round = false;
    int m_shape = 0;
    bool m_repeat = false;
    bool m_noFocusRect = false;
    bool m_glow[3] = {false, false, false};

    struct Cache {
        QImage face;
        bool pressed = false, lit = false, focus = false, enabled = true;
        QSize size;
    } mutable m_cache;
};

} // namespace zef::ui
