#include "platform/graph/class_registry.h"
#include "platform/graph/colour_converter.h"
#include "platform/graph/default_renderers.h"
#include "platform/graph/filter_graph.h"
#include "platform/graph/software_tape_deck.h"

#include <algorithm>

namespace zef::graph {

std::unique_ptr<FilterClassRegistry> FilterClassRegistry::withBuiltIns()
{
    auto r = std::make_unique<FilterClassRegistry>();
    r->registerClass({kClassColourConverter,
                      "Colour Space Converter",
                      kMeritNormal,
                      FilterCategory::converter,
                      {{"Input", false, false, MajorType::video, SubType::yuv},
                       {"Output", false, true, MajorType::video, SubType::none}},
                      [] { return std::make_shared<ColourConverterFilter>(); }});
    r->registerClass({kClassVideoRenderer,
                      "Video Renderer",
                      kMeritPreferred,
                      FilterCategory::renderer,
                      {{"Input", true, false, MajorType::video, SubType::none}},
                      [] { return std::make_shared<VideoRendererFilter>(); }});
    r->registerClass({kClassAudioRenderer,
                      "Audio Renderer",
                      kMeritPreferred,
                      FilterCategory::renderer,
                      {{"Input", true, false, MajorType::audio, SubType::pcm}},
                      [] { return std::make_shared<AudioRendererFilter>(); }});
    registerSoftwareTapeDeck(*r);
    return r;
}

HResult FilterClassRegistry::registerClass(FilterClass c)
{
    if (!c.create || c.classId.isNull()) return kInvalidArg;
    std::lock_guard lock(m_lock);
    for (FilterClass& existing : m_classes)
        if (existing.classId == c.classId) {
            existing = std::move(c);
            return kOk;
        }
    m_classes.push_back(std::move(c));
    return kOk;
}

HResult FilterClassRegistry::unregisterClass(const Guid& id)
{
    std::lock_guard lock(m_lock);
    const size_t before = m_classes.size();
    std::erase_if(m_classes, [&](const FilterClass& c) { return c.classId == id; });
    return m_classes.size() < before ? kOk : kFalse;
}

std::optional<FilterClass> FilterClassRegistry::find(const Guid& id) const
{
    std::lock_guard lock(m_lock);
    for (const FilterClass& c : m_classes)
        if (c.classId == id) return c;
    return std::nullopt;
}

std::vector<FilterClass> FilterClassRegistry::classes(FilterCategory category) const
{
    std::vector<FilterClass> out;
    {
        std::lock_guard lock(m_lock);
        for (const FilterClass& c : m_classes)
            if (c.category == category) out.push_back(c);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const FilterClass& a, const FilterClass& b) { return a.merit > b.merit; });
    return out;
}

std::shared_ptr<Filter> FilterClassRegistry::create(const Guid& id) const
{
    std::optional<FilterClass> c = find(id);
    return c && c->create ? c->create() : nullptr;
}

} // namespace zef::graph
