// CXComboBox: the decks' drop-down list, drawn by itself like the timecode field: a sunken
// double frame (96, 96, 96)/(192, 192, 192) around a black box ((96, 96, 96) when disabled)
// whose current text is drawn in its digit colour ((144, 144, 144) when disabled), with a
// shaded drop button at the right. The list that drops down, the keys and the item data are
// QComboBox's own.
//
// setFieldLook gives the decks' text fields (line edits, spin boxes, text boxes) the same
// colours: a black box with the text in amber, the selection in cyan.
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QComboBox>

namespace zef::ui {

class CXComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CXComboBox(QWidget* parent = nullptr);

    void setDigitColour(const QColor& c);
    QColor digitColour() const { return m_colour; }
    // The drop button at the right.
    QRect buttonRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_colour{255, 210, 0};
};

void setFieldLook(QWidget* field, const QColor& text = QColor(255, 210, 0));

} // namespace zef::ui
