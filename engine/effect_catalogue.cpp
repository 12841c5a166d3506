#include "engine/effect_catalogue.h"

#include "model/item.h"
#include "model/project.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/effects/effect_description.h"

#include <algorithm>
#include <cctype>

namespace zef {

using namespace movies;

namespace {

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

uint32_t leafUInt32(const AtomContainer& list, QTAtomType type, int16_t index, bool* found)
{
    QTAtom atom = list.findChildByIndex(kParentAtomIsContainer, type, index);
    uint32_t value = 0;
    *found = atom != 0 && list.getAtomUInt32BE(atom, &value) == noErr;
    return value;
}

} // namespace

FEffectCatalogue::FEffectCatalogue(const EffectRegistry& registry, ComponentManager* components)
    : m_registry(registry), m_components(components)
{
}

void FEffectCatalogue::append(const CPluginQT& entry)
{
    // The catalogue grows by an eighth of its size, at least 4 and at most 1,024 entries.
    if (m_entries.size() == m_entries.capacity()) {
        size_t step = std::clamp<size_t>(m_entries.size() / 8, 4, 1024);
        m_entries.reserve(m_entries.size() + step);
    }
    m_entries.push_back(entry);
}

OSErr FEffectCatalogue::buildCatalogue()
{
    m_entries.clear();
    CPluginQT black;
    black.setNameText("Black");
    append(black);

    for (int32_t sources = 0; sources <= 2; ++sources) {
        AtomContainer list;
        if (OSErr err = getEffectsList(m_registry, sources, sources, list); err != noErr)
            return err;
        int16_t count = list.countChildrenOfType(kParentAtomIsContainer, kEffectNameAtom);
        for (int16_t i = 1; i <= count; ++i) {
            QTAtom nameAtom = list.findChildByIndex(kParentAtomIsContainer, kEffectNameAtom, i);
            bool hasType = false, hasManufacturer = false;
            uint32_t type = leafUInt32(list, kEffectTypeAtom, i, &hasType);
            uint32_t manufacturer = leafUInt32(list, kEffectManufacturerAtom, i, &hasManufacturer);
            if (nameAtom == 0 || !hasType) continue;
            std::span<const uint8_t> name = list.atomData(nameAtom);
            CPluginQT entry;
            entry.sources = sources;
            entry.effectType = type;
            entry.manufacturer = hasManufacturer ? manufacturer : 0;
            entry.setNameText(std::string(name.begin(), name.end()));
            append(entry);
        }
    }
    return noErr;
}

CPluginQT FEffectCatalogue::findEffect(const std::string& name) const
{
    for (const CPluginQT& entry : m_entries)
        if (equalNoCase(entry.nameText(), name)) return entry;
    return m_entries.empty() ? CPluginQT{} : m_entries.back();
}

bool FEffectCatalogue::findEffect(const std::string& name, CPluginQT& entry) const
{
    entry = findEffect(name);
    return !m_entries.empty();
}

void FEffectCatalogue::setEffect(ZEFEffectItem& item, const std::string& name) const
{
    // The item asks this catalogue (through its project) for the entry, the description and
    // the component; an item of no project is given them here.
    if (item.project() && item.project()->effectCatalogue() == this) {
        item.setName(name);
        return;
    }
    item.setName(name);
    item.setEffectDescription(makeEffectDescription(findEffect(name)));
}

Handle FEffectCatalogue::makeEffectDescription(const CPluginQT& entry) const
{
    return movies::makeEffectDescription(entry.effectType, entry.sources).flatten();
}

std::unique_ptr<EffectComponent> FEffectCatalogue::openEffect(const CPluginQT& entry) const
{
    if (!m_components || entry.effectType == 0) return nullptr;
    ComponentDescription looking;
    looking.componentType = fourcc("imdc");
    looking.componentSubType = entry.effectType;
    Component c = m_components->findNextComponent(0, looking);
    if (c == 0) return nullptr;
    ComponentInstance instance = 0;
    if (m_components->openComponent(c, &instance) != noErr) return nullptr;
    return std::make_unique<OpenEffectComponent>(*m_components, instance);
}

OpenEffectComponent::~OpenEffectComponent() { m_manager.closeComponent(m_instance); }

int32_t FParameterEditor::editParameters(ZEFEffectItem& item)
{
    if (m_item) return E_FAIL;
    m_dialog.showStatus("Editting parameters on effect " + item.name());
    m_item = &item;
    m_component = item.componentInstance();
    m_layer = item.owner() ? item.owner()->track() : item.track();
    if (!m_dialog.open(item)) {
        m_item = nullptr;
        m_component = nullptr;
        m_layer = -1;
        return E_FAIL;
    }
    if (item.effectInfo().manufacturer == fourcc("mlab")) {
        markChanged(item);
        m_item = nullptr;
        m_component = nullptr;
        m_layer = -1;
    }
    return S_OK;
}

void FParameterEditor::endParameterEdit(bool accepted)
{
    if (!m_item) return;
    ZEFEffectItem* item = m_item;
    m_item = nullptr;
    m_component = nullptr;
    m_layer = -1;
    m_dialog.dismiss();
    if (accepted) markChanged(*item);
}

void FParameterEditor::markChanged(ZEFEffectItem& item)
{
    ZEFItem* changed = item.owner() ? item.owner() : &item;
    if (FProject* project = changed->project(); project && changed->device())
        project->itemChanged(changed, false, false);
}

} // namespace zef
