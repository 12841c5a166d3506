#include "platform/movies/input_map.h"

#include "platform/movies/big_endian.h"

namespace zef::movies {

OSErr addInputMapEntry(AtomContainer& map, const InputMapEntry& entry)
{
    if (entry.referenceIndex < 1) return paramErr;
    AtomContainer updated = map;
    if (QTAtom old = updated.findChildByID(kParentAtomIsContainer, kTrackModifierInput,
                                           entry.referenceIndex))
        updated.removeAtom(old);
    QTAtom in = 0;
    if (OSErr err = updated.insertChild(kParentAtomIsContainer, kTrackModifierInput,
                                        entry.referenceIndex, 0, {}, &in))
        return err;
    uint8_t be[4];
    putBE32(be, entry.inputType);
    if (OSErr err = updated.insertChild(in, kTrackModifierType, 1, 0, be, 4)) return err;
    if (entry.sourceName != 0) {
        putBE32(be, entry.sourceName);
        if (OSErr err = updated.insertChild(in, kEffectDataSourceType, 1, 0, be, 4)) return err;
    }
    map = std::move(updated);
    return noErr;
}

OSErr readInputMap(const AtomContainer& map, std::vector<InputMapEntry>& out)
{
    std::vector<InputMapEntry> entries;
    const int16_t n = map.countChildrenOfType(kParentAtomIsContainer, kTrackModifierInput);
    for (int16_t k = 1; k <= n; ++k) {
        InputMapEntry e;
        const QTAtom in =
            map.findChildByIndex(kParentAtomIsContainer, kTrackModifierInput, k, &e.referenceIndex);
        const QTAtom ty = map.findChildByID(in, kTrackModifierType, 1);
        if (ty == 0 || map.getAtomUInt32BE(ty, &e.inputType) != noErr) return invalidAtomErr;
        if (QTAtom name = map.findChildByID(in, kEffectDataSourceType, 1)) {
            if (map.getAtomUInt32BE(name, &e.sourceName) != noErr) return invalidAtomErr;
        }
        entries.push_back(e);
    }
    out = std::move(entries);
    return noErr;
}

OSErr addTrackInput(Track& track, const Track& input, uint32_t inputType, FourCC sourceName,
                    int32_t* referenceIndex)
{
    if (!track.media()) return track.movie().report(invalidMedia);
    int32_t index = 0;
    if (OSErr err = track.addReference(input, kTrackReferenceModifier, &index)) return err;
    AtomContainer map = track.media()->inputMap();
    if (OSErr err = addInputMapEntry(map, {index, inputType, sourceName}))
        return track.movie().report(err);
    track.media()->setInputMap(map);
    if (referenceIndex) *referenceIndex = index;
    return track.movie().report(noErr);
}

Track* inputTrack(const Track& track, const InputMapEntry& entry)
{
    return track.reference(kTrackReferenceModifier, entry.referenceIndex);
}

} // namespace zef::movies
