// How effect items look up their effect: the catalogue entry of an effect found by name, its
// default description and its open component. The engine's effect catalogue implements it; the
// model only reads through it.
#pragma once

#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zef {

// One catalogue entry, 272 bytes as stored in memory.
struct CPluginQT {
    int32_t sources = 0; // 0, 1 or 2
    movies::OSType effectType = 0;
    movies::OSType manufacturer = 0;
    char name[260] = {};

    std::string nameText() const;
    void setNameText(const std::string& text); // at most 256 characters are copied
};
static_assert(sizeof(CPluginQT) == 272);

// An open effect component; closed when destroyed.
class EffectComponent {
public:
    virtual ~EffectComponent() = default;
};

// Provided by the project owner (the engine's catalogue, or a test's). Items only read it.
class EffectLookup {
public:
    virtual ~EffectLookup() = default;
    // The entry of the named effect; false when there is none.
    virtual bool findEffect(const std::string& name, CPluginQT& entry) const = 0;
    // The default effect description for an entry (sources "srcA" and, for two-source
    // effects, "srcB"); a null handle when descriptions cannot be built.
    virtual movies::Handle makeEffectDescription(const CPluginQT& entry) const = 0;
    // Opens the image decompressor whose subtype is the effect's code; null when it cannot.
    virtual std::unique_ptr<EffectComponent> openEffect(const CPluginQT& entry) const = 0;
    // The installed effects in menu order (the project's effect list); commands name an
    // effect by its index here.
    virtual std::vector<CPluginQT> effectList() const { return {}; }
};

} // namespace zef
