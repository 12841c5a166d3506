#include "ui/decks/graphics_mode_box.h"

#include "engine/effect_tracks.h"
#include "model/item.h"
#include "ui/controls/xcombobox.h"
#include "ui/decks/color_button.h"
#include "ui/decks/settings_edits.h"

namespace zef::ui {

namespace {

// The graphics mode's operand colour is packed red | green << 8 | blue << 16.
QColor unpack(uint32_t c)
{
    return QColor(int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255));
}
uint32_t pack(const QColor& c)
{
    return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

bool onOverlay(const ZEFItem* item)
{
    return item && (item->track() == kLayerB || item->track() == kLayerC);
}

} // namespace

CGraphicsModeBox::CGraphicsModeBox(FProject& project, QWidget* parent)
    : XGroup(QStringLiteral("Graphics mode"), parent), m_project(project)
{
    m_modes = new CXComboBox(this);
    m_modes->setObjectName(QStringLiteral("GraphicsMode"));
    for (const GraphicsModeEntry& e : kGraphicsModeTable)
        m_modes->addItem(QString::fromUtf8(e.name));
    m_colourLabel = new XStatic(QStringLiteral("Color"), this);
    m_colour = new CColorButton(this);
    m_colour->setObjectName(QStringLiteral("GraphicsModeColor"));
    connect(m_modes, &QComboBox::activated, this, [this](int row) {
        if (!m_item || row < 0 || size_t(row) >= kGraphicsModeTable.size()) return;
        edits::setGraphicsMode(m_project, *m_item, kGraphicsModeTable[size_t(row)].mode);
        refill();
    });
    connect(m_colour, &CColorButton::chosen, this, [this](const QColor& c) {
        if (m_item) edits::setGraphicsModeColor(m_project, *m_item, pack(c));
    });
    setFixedHeight(64);
    refill();
}

void CGraphicsModeBox::setItem(ZEFItem* item)
{
    m_item = item;
    refill();
}

void CGraphicsModeBox::refill()
{
    const int row = m_item ? graphicsModeRow(m_item->graphicsMode()) : -1;
    m_modes->setCurrentIndex(std::max(row, 0));
    const bool overlay = onOverlay(m_item);
    m_modes->setEnabled(overlay);
    const bool colour = overlay && row >= 0 && kGraphicsModeTable[size_t(row)].usesColour != 0;
    m_colourLabel->setEnabled(colour);
    m_colour->setEnabled(colour);
    m_colour->setColour(m_item ? unpack(m_item->graphicsModeColor()) : QColor(128, 128, 128));
}

void CGraphicsModeBox::resizeEvent(QResizeEvent*)
{
    const QRect inner = innerRect().adjusted(6, 6, -6, -6);
    const int h = 22;
    const int y = inner.top() + (inner.height() - h) / 2;
    const int colourWidth = 40, labelWidth = 34;
    m_modes->setGeometry(inner.left(), y, inner.width() - colourWidth - labelWidth - 16, h);
    m_colourLabel->setGeometry(inner.right() - colourWidth - labelWidth - 4, y, labelWidth, h);
    m_colour->setGeometry(inner.right() - colourWidth + 1, y, colourWidth, h);
}

} // namespace zef::ui
