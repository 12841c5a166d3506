// CXCheckBox and CXRadioButton: the decks' check box and radio button, drawn by themselves.
// The box is a square as high as the control at its left; the text follows 3 pixels to its
// right, black (48, 48, 48 when disabled).
//
// A check box draws its box as 3-D frames (sunken while pressed, flat grey when disabled) and
// the "check-on" or "check-off" picture stretched into it. A radio button draws its
// "radio-on", "radio-off" or "radio-disabled" picture centred in the box.
//
// A click (press and release inside) toggles a check box and checks a radio button (a checked
// one stays checked). Checking a radio button unchecks the radio buttons around it, backwards
// and forwards among its siblings, up to the nearest control that starts a group (see
// setGroupStart) or that is a tab stop and not a radio button.
//
// GUI thread only.
#pragma once

#include <QString>
#include <QWidget>

namespace zef::ui {

class CXCheckBox : public QWidget {
    Q_OBJECT
public:
    explicit CXCheckBox(const QString& text = {}, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    bool isChecked() const { return m_checked; }
    // Changes the state without a click (no clicked(), but toggled() when it changes).
    virtual void setChecked(bool checked);
    bool isPressed() const { return m_pressed; }
    // The square box at the left.
    QRect boxRect() const { return QRect(0, 0, height(), height()); }

    QSize sizeHint() const override;

signals:
    void clicked();
    void toggled(bool checked);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    // What a click does to the state.
    virtual void activate();
    virtual void drawBox(class QPainter& p, const QRect& box) const;
    void drawText(class QPainter& p) const;

    bool m_checked = false;
    bool m_pressed = false;

private:
    QString m_text;
    bool m_tracking = false;
};

class CXRadioButton : public CXCheckBox {
    Q_OBJECT
public:
    explicit CXRadioButton(const QString& text = {}, QWidget* parent = nullptr);

    // Checking unchecks the rest of the group.
    void setChecked(bool checked) override;
    // This button begins a new group: the ones before it belong to another.
    void setGroupStart(bool start) { m_groupStart = start; }
    bool isGroupStart() const { return m_groupStart; }

protected:
    void activate() override;
    void drawBox(class QPainter& p, const QRect& box) const override;

private:
    void uncheckGroup();
    bool m_groupStart = false;
};

} // namespace zef::ui
