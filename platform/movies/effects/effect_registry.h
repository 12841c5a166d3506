// The registry of installed effects: looked up by code (and manufacturer), listed by number of
// sources. A registry is immutable once built, so it may be shared between threads.
#pragma once

#include "platform/movies/effects/effect.h"

#include <memory>
#include <vector>

namespace zef::movies {

class EffectRegistry {
public:
    EffectRegistry() = default;

    // Every built-in effect, manufacturer 'appl'.
    static EffectRegistry withBuiltIns();

    // Adds an effect. Refused (false) when nothing implements it (no render function), when
    // its number of sources is not 0..2, when the same code and manufacturer is already
    // registered, or when its parameters are inconsistent (repeated codes, an enum without
    // choices, a default outside the range).
    bool add(EffectDescriptor d);

    // The effect of that code; manufacturer 0 matches any manufacturer (first registered).
    const EffectDescriptor* find(FourCC code, FourCC manufacturer = 0) const;
    // Case-insensitive name lookup.
    const EffectDescriptor* findByName(const std::string& name) const;

    // The effects with exactly that many sources, in registration order.
    std::vector<const EffectDescriptor*> list(int32_t sources) const;
    size_t size() const { return m_effects.size(); }

private:
    std::vector<std::shared_ptr<const EffectDescriptor>> m_effects;
};

// The built-in registry, built once on first use and never changed afterwards.
const EffectRegistry& builtInEffects();

} // namespace zef::movies
