// The catalogue of installed effects, in which effect items find their effect by name, and the
// editing of an effect item's parameters through the effect's parameter dialog.
#pragma once

#include "model/effect_lookup.h"
#include "platform/movies/components.h"
#include "platform/movies/effects/effect_registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef {

class ZEFEffectItem;
class ZEFItem;

// Result codes of editParameters.
constexpr int32_t S_OK = 0;
constexpr int32_t E_FAIL = int32_t(0x80004005u);

class FEffectCatalogue : public EffectLookup {
public:
    // registry: the installed effects; components: where the effects' image decompressor
    // components ('imdc', subtype = effect type) are opened; may be null (no instances).
    explicit FEffectCatalogue(const movies::EffectRegistry& registry,
                              movies::ComponentManager* components = nullptr);

    // Fills the catalogue: "Black" (no sources, type 0), then the installed effects with 0, 1
    // and 2 sources, in the registry's order within each group. A failure to list a group ends
    // the building with its error; the entries added so far remain.
    movies::OSErr buildCatalogue();

    // Case-insensitive lookup in catalogue order. When nothing matches the last entry is
    // returned, and an all-zero entry when the catalogue is empty.
    CPluginQT findEffect(const std::string& name) const;
    // Gives an effect item its effect: name, catalogue entry, default description, component.
    void setEffect(ZEFEffectItem& item, const std::string& name) const;

    const std::vector<CPluginQT>& entries() const { return m_entries; }

    // EffectLookup: false only when the catalogue is empty (see findEffect for the rest).
    bool findEffect(const std::string& name, CPluginQT& entry) const override;
    movies::Handle makeEffectDescription(const CPluginQT& entry) const override;
    std::unique_ptr<EffectComponent> openEffect(const CPluginQT& entry) const override;
    std::vector<CPluginQT> effectList() const override { return m_entries; }

private:
    void append(const CPluginQT& entry);

    const movies::EffectRegistry& m_registry;
    movies::ComponentManager* m_components;
    std::vector<CPluginQT> m_entries;
};

// An open effect component instance; closes it when destroyed.
class OpenEffectComponent : public EffectComponent {
public:
    OpenEffectComponent(movies::ComponentManager& manager, movies::ComponentInstance instance)
        : m_manager(manager), m_instance(instance)
    {
    }
    ~OpenEffectComponent() override;
    movies::ComponentInstance instance() const { return m_instance; }

private:
    movies::ComponentManager& m_manager;
    movies::ComponentInstance m_instance;
};

// The standard parameter dialog of an effect, provided by the user interface. It edits the
// item's effect description in place (ZEFEffectItem::setEffectDescription) and, when the user
// confirms or cancels, calls FParameterEditor::endParameterEdit.
class ParameterDialog {
public:
    virtual ~ParameterDialog() = default;
    // Creates and shows the dialog for the item; false when it cannot be created.
    virtual bool open(ZEFEffectItem& item) = 0;
    // Takes the dialog down (after confirm or cancel).
    virtual void dismiss() = 0;
    // The status line text while the dialog is open.
    virtual void showStatus(const std::string& /*text*/) {}
};

// The one parameter edit of the program.
class FParameterEditor {
public:
    explicit FParameterEditor(ParameterDialog& dialog) : m_dialog(dialog) {}

    // Opens the dialog for the item: S_OK, or E_FAIL when an edit is in progress already or
    // the dialog cannot be created. Components of manufacturer 'mlab' finish their dialog
    // before returning: the item is marked changed at once and the edit ends.
    int32_t editParameters(ZEFEffectItem& item);
    // The dialog was dismissed. When accepted, the item (for a filter or a transition, the
    // item that owns it) is marked changed so that its layer is rebuilt. No-op without edit.
    void endParameterEdit(bool accepted);

    bool editing() const { return m_item != nullptr; }
    ZEFEffectItem* editedItem() const { return m_item; }

private:
    void markChanged(ZEFEffectItem& item);

    ParameterDialog& m_dialog;
    ZEFEffectItem* m_item = nullptr;
    EffectComponent* m_component = nullptr;
    int32_t m_layer = -1;
};

} // namespace zef
