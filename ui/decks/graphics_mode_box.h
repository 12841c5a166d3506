// The graphics mode controls of the clip and effect pages: the list of the graphics mode table
// (in table order) and the "Color" button with its label. The list is enabled only for items on
// Layers B and C; the colour only there and for the modes that use a colour ("Blend",
// "Transparent", "Straight alpha blend", "Pre-multiplied color alpha"). Choosing stores the
// mode or the colour in the item (no undo entry) and announces the item's change.
//
// GUI thread only.
#pragma once

#include "ui/controls/xstatic.h"

namespace zef {
class FProject;
class ZEFItem;
} // namespace zef

namespace zef::ui {

class CColorButton;
class CXComboBox;

class CGraphicsModeBox : public XGroup {
    Q_OBJECT
public:
    CGraphicsModeBox(FProject& project, QWidget* parent = nullptr);

    // The item whose mode is shown and edited (null: none, everything disabled).
    void setItem(ZEFItem* item);
    void refill();
    CXComboBox* modeList() const { return m_modes; }
    CColorButton* colourButton() const { return m_colour; }

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    FProject& m_project;
    ZEFItem* m_item = nullptr;
    CXComboBox* m_modes = nullptr;
    XStatic* m_colourLabel = nullptr;
    CColorButton* m_colour = nullptr;
};

} // namespace zef::ui
