#include "platform/movies/effects/effect_description.h"

#include "platform/movies/big_endian.h"

#include <algorithm>

namespace zef::movies {

namespace {

std::vector<uint8_t> be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

uint32_t readBE32(std::span<const uint8_t> d)
{
    return (uint32_t(d[0]) << 24) | (uint32_t(d[1]) << 16) | (uint32_t(d[2]) << 8) | d[3];
}

} // namespace

AtomContainer makeEffectDescription(OSType effectType, int32_t sources, FourCC sourceA,
                                    FourCC sourceB)
{
    sources = std::clamp(sources, 0, 2);
    AtomContainer c;
    c.insertChild(kParentAtomIsContainer, kEffectWhatAtom, 1, 0, be32(effectType));
    if (sources >= 1) c.insertChild(kParentAtomIsContainer, kEffectSourceAtom, 1, 0, be32(sourceA));
    if (sources >= 2) c.insertChild(kParentAtomIsContainer, kEffectSourceAtom, 2, 0, be32(sourceB));
    return c;
}

OSErr setEffectParameters(AtomContainer& description, const ParameterSet& params)
{
    for (const auto& [code, bytes] : encodeParameters(params)) {
        if (code == kEffectWhatAtom || code == kEffectSourceAtom) return paramErr;
        if (OSErr err = description.removeChildren(kParentAtomIsContainer, code)) return err;
        if (OSErr err = description.insertChild(kParentAtomIsContainer, code, 1, 0, bytes))
            return err;
    }
    return noErr;
}

OSErr readEffectDescription(const AtomContainer& description, EffectDescriptionInfo& out)
{
    EffectDescriptionInfo info;
    const QTAtom what = description.findChildByIndex(kParentAtomIsContainer, kEffectWhatAtom, 1);
    const auto whatData = description.atomData(what);
    if (!what || whatData.size() != 4) return invalidAtomContainerErr;
    info.effectType = readBE32(whatData);

    // Sources in ID order (the IDs say which is the first and which the second).
    std::vector<std::pair<QTAtomID, FourCC>> sources;
    const int16_t n = description.countChildrenOfType(kParentAtomIsContainer, kEffectSourceAtom);
    for (int16_t i = 1; i <= n; ++i) {
        QTAtomID id = 0;
        const QTAtom a =
            description.findChildByIndex(kParentAtomIsContainer, kEffectSourceAtom, i, &id);
        const auto data = description.atomData(a);
        if (data.size() != 4) return invalidAtomContainerErr;
        sources.emplace_back(id, readBE32(data));
    }
    std::stable_sort(sources.begin(), sources.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& s : sources)
        info.sources.push_back(s.second);

    for (QTAtomType type = description.nextChildType(kParentAtomIsContainer, 0); type != 0;
         type = description.nextChildType(kParentAtomIsContainer, type)) {
        if (type == kEffectWhatAtom || type == kEffectSourceAtom) continue;
        const int16_t count = description.countChildrenOfType(kParentAtomIsContainer, type);
        for (int16_t i = 1; i <= count; ++i) {
            const QTAtom a = description.findChildByIndex(kParentAtomIsContainer, type, i);
            if (description.countChildrenOfType(a, 0) > 0) continue; // not a value
            const auto data = description.atomData(a);
            info.parameters.emplace_back(type, std::vector<uint8_t>(data.begin(), data.end()));
        }
    }
    out = std::move(info);
    return noErr;
}

OSErr getEffectsList(const EffectRegistry& registry, int32_t minSources, int32_t maxSources,
                     AtomContainer& out)
{
    if (minSources < 0 || maxSources > 2 || minSources > maxSources) return paramErr;
    AtomContainer list;
    QTAtomID index = 0;
    for (int32_t sources = minSources; sources <= maxSources; ++sources) {
        for (const EffectDescriptor* d : registry.list(sources)) {
            ++index;
            const std::vector<uint8_t> name(d->name.begin(), d->name.end());
            OSErr err = list.insertChild(kParentAtomIsContainer, kEffectNameAtom, index, 0, name);
            if (!err)
                err = list.insertChild(kParentAtomIsContainer, kEffectTypeAtom, index, 0,
                                       be32(d->code));
            if (!err)
                err = list.insertChild(kParentAtomIsContainer, kEffectManufacturerAtom, index, 0,
                                       be32(d->manufacturer));
            if (err) return err;
        }
    }
    out = std::move(list);
    return noErr;
}

} // namespace zef::movies
