#include "ui/decks/effect_preview.h"

#include "model/item.h"
#include "model/source_item.h"
#include "platform/movies/effects/effect_description.h"

#include <algorithm>
#include <cmath>

namespace zef::ui {

using namespace movies;

namespace {

// Where an item stands at t in its span, 0 to 1.
double progressAt(const ZEFItem& item, int64_t t)
{
    const int64_t d = item.duration().ticks();
    return d > 0 ? std::clamp(double(t - item.getStart().ticks()) / double(d), 0.0, 1.0) : 0.5;
}

bool renderOver(const EffectDescriptor& d, const ParameterSet& params, double p, int64_t t,
                const Pixmap* a, const Pixmap* b, Pixmap& out)
{
    EffectFrame f;
    f.progress = p;
    f.time = t;
    f.timeScale = 600;
    f.srcA = a;
    f.srcB = b;
    f.dst = &out;
    return renderEffect(d, params, f) == PixelStatus::Ok;
}

} // namespace

const EffectDescriptor* descriptorOf(const EffectRegistry& registry, const ZEFEffectItem& effect)
{
    const CPluginQT& info = effect.effectInfo();
    if (info.effectType == 0) return nullptr;
    if (const EffectDescriptor* d = registry.find(info.effectType, info.manufacturer)) return d;
    return registry.find(info.effectType);
}

ParameterSet parametersOf(const EffectDescriptor& d, const ZEFEffectItem& effect)
{
    AtomContainer description;
    EffectDescriptionInfo info;
    if (!effect.effectDescription().isNull() &&
        AtomContainer::fromHandle(effect.effectDescription(), description) == noErr &&
        readEffectDescription(description, info) == noErr)
        if (std::optional<ParameterSet> set = decodeParameters(d, info.parameters)) return *set;
    return ParameterSet::defaults(d);
}

bool storeParameters(ZEFEffectItem& effect, const ParameterSet& params)
{
    AtomContainer description;
    if (effect.effectDescription().isNull())
        description =
            makeEffectDescription(effect.effectInfo().effectType, effect.effectInfo().sources);
    else if (AtomContainer::fromHandle(effect.effectDescription(), description) != noErr)
        return false;
    if (setEffectParameters(description, params) != noErr) return false;
    Handle flat = description.flatten();
    if (flat.isNull()) return false;
    effect.setEffectDescription(std::move(flat));
    return true;
}

Pixmap samplePicture(int32_t width, int32_t height, int which)
{
    Pixmap p(width, height, argb(255, 0, 0, 0));
    if (which == 0) {
        static constexpr uint32_t kBars[8] = {0xFFC0C0C0, 0xFFC0C000, 0xFF00C0C0, 0xFF00C000,
                                              0xFFC000C0, 0xFFC00000, 0xFF0000C0, 0xFF101010};
        const int32_t ramp = height * 3 / 4;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                if (y < ramp) {
                    p.setPixel(x, y, kBars[std::min(7, x * 8 / std::max(1, width))]);
                } else {
                    const auto v = uint8_t(x * 255 / std::max(1, width - 1));
                    p.setPixel(x, y, argb(255, v, v, v));
                }
            }
    } else {
        const double cx = width / 2.0, cy = height / 2.0, r = std::min(width, height) / 3.0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const double f = double(y) / std::max(1, height - 1);
                uint32_t px =
                    argb(255, uint8_t(30 + 200 * f), uint8_t(60 + 60 * f), uint8_t(200 - 170 * f));
                if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < r) px = argb(255, 240, 240, 230);
                p.setPixel(x, y, px);
            }
    }
    return p;
}

std::optional<Pixmap> itemPicture(const EffectRegistry& registry, const ZEFItem& item, int64_t t,
                                  int32_t width, int32_t height, size_t filters)
{
    std::optional<Pixmap> picture;
    if (auto* clip = dynamic_cast<const ZEFSourceItem*>(&item)) {
        ClipMedia* media = clip->media();
        if (media && clip->videoTrackIndex() < clip->videoTrackCount()) {
            Pixmap p(width, height, argb(255, 0, 0, 0));
            const EditTime at = clip->timelineToSource(EditTime::raw(t), true);
            if (media->drawFrame(at, reinterpret_cast<uint8_t*>(p.data()), width, height))
                picture = std::move(p);
        }
    } else if (auto* fx = dynamic_cast<const ZEFEffectItem*>(&item);
               fx && !dynamic_cast<const ZEFTitlerEffect*>(fx) && fx->sourceCount() == 0) {
        if (const EffectDescriptor* d = descriptorOf(registry, *fx)) {
            Pixmap p(width, height);
            if (renderOver(*d, parametersOf(*d, *fx), progressAt(item, t), t, nullptr, nullptr, p))
                picture = std::move(p);
        }
    }
    if (!picture) return std::nullopt;
    const size_t n = std::min(filters, item.filterCount());
    Pixmap out(width, height);
    for (size_t j = 0; j < n; ++j) {
        const ZEFEffectItem& f = *item.filter(j);
        const EffectDescriptor* d = descriptorOf(registry, f);
        if (!d || d->sources != 1) continue;
        if (renderOver(*d, parametersOf(*d, f), progressAt(item, t), t, &*picture, nullptr, out))
            std::swap(*picture, out);
    }
    return picture;
}

EffectPreview::EffectPreview(const EffectRegistry& registry, const ZEFEffectItem& effect,
                             int32_t width, int32_t height)
    : m_width(std::max(1, width)), m_height(std::max(1, height))
{
    std::optional<Pixmap> a, b;
    const ZEFItem* owner = effect.owner();
    auto middle = [](const ZEFItem& item) {
        return item.getStart().ticks() + item.duration().ticks() / 2;
    };
    if (owner && owner->transition() == &effect) {
        // A transition: the outgoing and the incoming clip halfway through their overlap.
        const ZEFItem* next = owner->next();
        m_time = owner->getEnd().ticks();
        if (next && next->getStart() < owner->getEnd()) {
            m_time = (next->getStart().ticks() + owner->getEnd().ticks()) / 2;
            a = itemPicture(registry, *owner, m_time, m_width, m_height);
            b = itemPicture(registry, *next, m_time, m_width, m_height);
        }
    } else if (owner) {
        // A filter sees its item through the filters before it.
        size_t index = 0;
        while (index < owner->filterCount() && owner->filter(index) != &effect)
            ++index;
        m_time = middle(*owner);
        a = itemPicture(registry, *owner, m_time, m_width, m_height, index);
        m_progress = progressAt(*owner, m_time);
    } else {
        m_time = middle(effect);
        m_progress = progressAt(effect, m_time);
    }
    m_a = a ? std::move(*a) : samplePicture(m_width, m_height, 0);
    m_b = b ? std::move(*b) : samplePicture(m_width, m_height, 1);
}

PixelStatus EffectPreview::render(const EffectDescriptor& d, const ParameterSet& params, double p,
                                  Pixmap& out) const
{
    out.resize(m_width, m_height);
    EffectFrame f;
    f.progress = std::clamp(p, 0.0, 1.0);
    f.time = m_time;
    f.timeScale = 600;
    f.srcA = &m_a;
    f.srcB = &m_b;
    f.dst = &out;
    return renderEffect(d, params, f);
}

} // namespace zef::ui
