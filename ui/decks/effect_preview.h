// An effect item's parameters and the preview picture of its parameter dialog, without
// windows.
//
// The parameters live in the item's effect description (the atoms beside 'what' and 'src ');
// parametersOf reads them for the effect's descriptor and storeParameters writes them back,
// leaving the other atoms as they are.
//
// EffectPreview takes the pictures the effect works on once, at a small size: the item's own
// frames where it has them (a filter sees its clip with the filters before it applied, a
// transition the two clips it joins at the middle of their overlap), sample pictures where it
// has none. Rendering the effect over them with other parameters is then a pure function of the
// parameters and the progress, fast enough to follow every change of a control on the GUI
// thread (bench/bench_param_preview).
//
// Project thread only (the frames come from the clips' opened media).
#pragma once

#include "platform/movies/effects/effect.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <optional>

namespace zef {
class ZEFEffectItem;
class ZEFItem;
} // namespace zef

namespace zef::ui {

// The descriptor of the item's effect in the registry; null when none implements it.
const movies::EffectDescriptor* descriptorOf(const movies::EffectRegistry& registry,
                                             const ZEFEffectItem& effect);
// The item's parameter values: its description's, the defaults for what it does not hold
// (all defaults when it holds no readable values).
movies::ParameterSet parametersOf(const movies::EffectDescriptor& d, const ZEFEffectItem& effect);
// Writes the values into the item's description (a default description is made when it has
// none). False when the description cannot be read or written; the item is then unchanged.
bool storeParameters(ZEFEffectItem& effect, const movies::ParameterSet& params);

// Sample pictures for an effect without frames of its own: colour bars (first) or a
// gradient with a circle (second).
movies::Pixmap samplePicture(int32_t width, int32_t height, int which);

class EffectPreview {
public:
    // The preview's pictures for the effect at width × height (which must be positive).
    EffectPreview(const movies::EffectRegistry& registry, const ZEFEffectItem& effect,
                  int32_t width, int32_t height);

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    const movies::Pixmap& sourceA() const { return m_a; }
    const movies::Pixmap& sourceB() const { return m_b; }
    // Where the effect stands in its span when the pictures were taken, 0 to 1.
    double progress() const { return m_progress; }

    // The effect over the sources at progress p (0 to 1) into out (resized to the preview).
    movies::PixelStatus render(const movies::EffectDescriptor& d,
                               const movies::ParameterSet& params, double p,
                               movies::Pixmap& out) const;

private:
    int32_t m_width, m_height;
    movies::Pixmap m_a, m_b;
    double m_progress = 0.5;
    int64_t m_time = 0; // ticks, for effects that animate
};

// The picture an item shows at timeline time t, at width × height: a clip's frame or a
// generator's picture, with its first `filters` filters applied (all of them by default).
// Nothing when the item has no picture of its own there.
std::optional<movies::Pixmap> itemPicture(const movies::EffectRegistry& registry,
                                          const ZEFItem& item, int64_t t, int32_t width,
                                          int32_t height, size_t filters = SIZE_MAX);

} // namespace zef::ui
