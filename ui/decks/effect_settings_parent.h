// CEffectSettingsParent: the settings page of an effect item, or, in transition mode, of the
// transition between an item of Layer A and the item after it (the page then edits the
// item's transition effect): the effect's type, its start and duration, its parameters, the
// filters (not for a transition) and the graphics mode.
//
// GUI thread only.
#pragma once

#include "ui/decks/settings_page.h"

namespace zef::ui {

class CGraphicsModeBox;
class CXButton;
class CXComboBox;
class CXTimeCode;

class CEffectSettingsParent : public CSettingsPage {
    Q_OBJECT
public:
    // item: the effect item, or in transition mode the item whose transition is edited.
    CEffectSettingsParent(DeckContext& context, ZEFItem& item, bool transition,
                          QWidget* parent = nullptr);

    ZEFItem* item() const override { return m_item; }
    bool transitionMode() const { return m_transition; }
    // The effect the page edits (the item's transition in transition mode).
    ZEFEffectItem* effect() const;
    void itemChanged(ZEFItem* item) override;
    QString caption() const override;

    CXComboBox* effectTypes() const { return m_types; }
    CXTimeCode* startField() const { return m_start; }
    CXTimeCode* durationField() const { return m_duration; }
    CXButton* parametersButton() const { return m_parameters; }
    CXButton* filtersButton() const { return m_filters; }
    CGraphicsModeBox* graphicsMode() const { return m_mode; }

private:
    void refill();

    ZEFItem* m_item;
    bool m_transition;
    CXComboBox* m_types = nullptr;
    CXTimeCode* m_start = nullptr;
    CXTimeCode* m_duration = nullptr;
    CXButton* m_parameters = nullptr;
    CXButton* m_filters = nullptr;
    CGraphicsModeBox* m_mode = nullptr;
};

} // namespace zef::ui
