// Effect descriptions (the sample data of effect samples) and the list of installed effects.
//
// An effect description is an atom container whose root holds:
//   'what', ID 1: the effect type, 4 bytes big-endian (e.g. 'dslv');
//   'src ', ID 1, 2: the names of the sources, 4 bytes each ('srcA', 'srcB'), in order;
//   any other leaf atom: a parameter value, its type the parameter's code (encodeParameters).
//
// The list of installed effects (getEffectsList) is an atom container with three parallel
// groups of atoms under the root, one of each per effect and with the same 1-based index:
//   'name': the effect's name, UTF-8 without terminator;
//   'type': its code, 4 bytes big-endian;
//   'manu': its manufacturer, 4 bytes big-endian.
// Effects come grouped by their number of sources in ascending order, and in registration order
// within a group; atom IDs are the indexes.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/effects/effect.h"
#include "platform/movies/effects/effect_registry.h"

#include <cstdint>
#include <vector>

namespace zef::movies {

constexpr QTAtomType kEffectWhatAtom = fourcc("what");
constexpr QTAtomType kEffectSourceAtom = fourcc("src ");
constexpr QTAtomType kEffectNameAtom = fourcc("name");
constexpr QTAtomType kEffectTypeAtom = fourcc("type");
constexpr QTAtomType kEffectManufacturerAtom = fourcc("manu");

// The default description: 'what' = effectType, then 'src ' 1 = sourceA when sources >= 1 and
// 'src ' 2 = sourceB when sources >= 2. Sources outside 0..2 are clamped.
AtomContainer makeEffectDescription(OSType effectType, int32_t sources,
                                    FourCC sourceA = fourcc("srcA"),
                                    FourCC sourceB = fourcc("srcB"));

// Stores parameter values into a description (replacing atoms of the same codes).
OSErr setEffectParameters(AtomContainer& description, const ParameterSet& params);

struct EffectDescriptionInfo {
    OSType effectType = 0;
    std::vector<FourCC> sources;  // the 'src ' names in ID order
    EncodedParameters parameters; // every other leaf atom of the root, as (code, bytes)
};

// Reads a description; invalidAtomContainerErr when it has no 4-byte 'what' atom or a source
// name that is not 4 bytes.
OSErr readEffectDescription(const AtomContainer& description, EffectDescriptionInfo& out);

// The installed effects with minSources..maxSources sources (see the layout above). paramErr
// when the range is empty or outside 0..2.
OSErr getEffectsList(const EffectRegistry& registry, int32_t minSources, int32_t maxSources,
                     AtomContainer& out);

} // namespace zef::movies
