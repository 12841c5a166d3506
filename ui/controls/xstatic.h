// XStatic and XGroup: the decks' text and group box, drawn by themselves.
//
// XStatic draws its text without a background in the window font, in its colour while enabled
// and (48, 48, 48) when disabled. XGroup draws a 3-D frame (192, 192, 192)/(48, 48, 48), its
// caption centred at the top in white ((48, 48, 48) when disabled) and an inner sunken frame
// (48, 48, 48)/(192, 192, 192) from the font height + 4 pixels below the top.
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace zef::ui {

class XStatic : public QWidget {
    Q_OBJECT
public:
    explicit XStatic(const QString& text = {}, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setColour(const QColor& c);
    QColor colour() const { return m_colour; }
    void setAlignment(Qt::Alignment a);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_text;
    QColor m_colour{0, 0, 0};
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

class XGroup : public QWidget {
    Q_OBJECT
public:
    explicit XGroup(const QString& caption = {}, QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    // The inner sunken frame's rectangle (where the group's controls go).
    QRect innerRect() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_caption;
};

} // namespace zef::ui
