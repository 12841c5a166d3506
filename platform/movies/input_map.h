// Media input maps: how a track receives other tracks, as image sources of an effect or as
// modifiers (matrix, clip, volume) of its own presentation.
//
// An input map is an atom container kept by the media (Media::inputMap). Each input is one
// 'in' atom (0x696E) whose ID is the index of a track reference of type 'ssrc' from the track
// to the input track, with children:
//   'ty' (0x7479), ID 1: the input type, 4 bytes big-endian ('vide' for an image source,
//                        1 matrix, 2 clip, 3 volume modifiers);
//   'dtst',        ID 1: the source name, 4 bytes ('srcA', 'srcB'), image sources only.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/movie.h"

#include <cstdint>
#include <vector>

namespace zef::movies {

constexpr QTAtomType kTrackModifierInput = 0x696E; // 'in'
constexpr QTAtomType kTrackModifierType = 0x7479;  // 'ty'
constexpr QTAtomType kEffectDataSourceType = fourcc("dtst");

constexpr uint32_t kTrackModifierTypeMatrix = 1;
constexpr uint32_t kTrackModifierTypeClip = 2;
constexpr uint32_t kTrackModifierTypeVolume = 3;
constexpr uint32_t kTrackModifierTypeBalance = 4;
constexpr uint32_t kTrackModifierTypeImage = fourcc("vide");

constexpr FourCC kSourceA = fourcc("srcA");
constexpr FourCC kSourceB = fourcc("srcB");

struct InputMapEntry {
    int32_t referenceIndex = 0; // index of the 'ssrc' track reference
    uint32_t inputType = 0;
    FourCC sourceName = 0; // 0 for modifiers
    friend bool operator==(const InputMapEntry&, const InputMapEntry&) = default;
};

// Adds (or, for an existing reference index, replaces) the 'in' atom of an entry.
OSErr addInputMapEntry(AtomContainer& map, const InputMapEntry& entry);
// Reads every entry in map order; invalidAtomErr for an 'in' atom without a 4-byte 'ty'.
OSErr readInputMap(const AtomContainer& map, std::vector<InputMapEntry>& out);

// Wires input into track: adds the 'ssrc' reference and the input map entry to the track's
// media. invalidMedia when the track has no media; invalidTrack for a track of another movie.
OSErr addTrackInput(Track& track, const Track& input, uint32_t inputType, FourCC sourceName = 0,
                    int32_t* referenceIndex = nullptr);
// The input track of an entry of track's input map, or null.
Track* inputTrack(const Track& track, const InputMapEntry& entry);

} // namespace zef::movies
