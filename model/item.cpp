#include "model/item.h"

#include "model/device.h"
#include "model/project.h"
#include "model/zef_exception.h"
#include "platform/storage/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zef {

namespace {

// The smallest stored item record: track, empty name, two 24-byte times, two int32.
constexpr int64_t kMinItemRecord = 4 + 3 + 24 + 24 + 4 + 4;

int32_t clampDelta(int64_t delta)
{
    return int32_t(std::clamp<int64_t>(delta, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

} // namespace

// A count read from a stream is believable when that many records of minBytes could follow.
bool plausibleCount(storage::StreamReader& in, int32_t count, int64_t minBytes)
{
    if (count < 0) return false;
    int64_t size = in.stream().size();
    if (size < 0) return count <= 1'000'000;
    return int64_t(count) * minBytes <= size - in.stream().tell();
}

// ---- ZEFItem

ZEFItem::ZEFItem(FProject* project, int32_t track, ZEFItem* owner)
    : m_track(track), m_owner(owner), m_project(!project && owner ? owner->m_project : project)
{
    if (!owner) {
        m_transition = std::make_unique<ZEFEffectItem>(m_project, kLayerA, this);
        m_transition->setName("Cross Fade");
    }
}

ZEFItem::~ZEFItem()
{
    if (FProject* p = project(); p && p->editedEffect == this) p->editedEffect = nullptr;
}

void ZEFItem::setTrack(int32_t track)
{
    if (m_device) throw ZEFException("The item lies on a track");
    m_track = track;
}

bool ZEFItem::activate()
{
    if (m_project) m_project->previewShowComposition();
    return true;
}

bool ZEFItem::isPlaced() const
{
    const ZEFItem* root = this;
    while (root->m_owner)
        root = root->m_owner;
    return root->m_device != nullptr;
}

void ZEFItem::reportChange(bool reoffsetOnly, bool refreshList)
{
    if (!m_project) return;
    ZEFItem* root = this;
    while (root->m_owner)
        root = root->m_owner;
    if (!root->m_device) return;
    m_project->itemChanged(root, root == this && reoffsetOnly, refreshList);
}

void ZEFItem::previewAt(const EditTime& t)
{
    if (m_project && isPlaced()) m_project->previewSeek(t);
}

void ZEFItem::shiftBy(int64_t delta)
{
    m_start.setTicks(m_start.ticks() + delta);
    m_end.setTicks(m_end.ticks() + delta);
}

ZEFItem* ZEFItem::previous() const
{
    return m_device && m_slot > 0 ? m_device->at(size_t(m_slot - 1)) : nullptr;
}

ZEFItem* ZEFItem::next() const { return m_device ? m_device->at(size_t(m_slot + 1)) : nullptr; }

void ZEFItem::moveTo(EditTime t, bool push)
{
    if (t.ticks() < 0) t.setTicks(0);
    int64_t delta = t.ticks() - m_start.ticks();
    if (delta == 0) return;
    if (push) {
        pushShift(clampDelta(delta));
        return;
    }
    const int64_t start = m_start.ticks(), end = m_end.ticks(), dur = end - start;
    bool rebuild = false;
    if (delta > 0) {
        if (ZEFItem* nx = next()) {
            int64_t limit;
            if (m_track == kLayerA) {
                limit = std::min(nx->m_end.ticks(), nx->m_start.ticks() + dur);
                if (ZEFItem* after = nx->next()) limit = std::min(limit, after->m_start.ticks());
                rebuild = true;
            } else {
                limit = nx->m_start.ticks();
            }
            if (end + delta > limit) delta = std::max<int64_t>(0, limit - end);
        }
    } else if (ZEFItem* prev = previous()) {
        int64_t limit;
        if (m_track == kLayerA) {
            limit = std::max(prev->m_end.ticks() - dur, prev->m_start.ticks());
            if (ZEFItem* before = prev->previous()) limit = std::max(limit, before->m_end.ticks());
            rebuild = true;
        } else {
            limit = prev->m_end.ticks();
        }
        if (start + delta < limit) delta = std::min<int64_t>(0, limit - start);
    }
    if (delta == 0) return;
    shiftBy(delta);
    reportChange(!rebuild);
}

int32_t ZEFItem::pushShift(int32_t delta)
{
    if (delta > 0) {
        for (ZEFItem* it = this; it; it = it->next()) {
            it->shiftBy(delta);
            it->reportChange(true);
        }
    } else if (delta < 0) {
        // Each item first lets its predecessor move, then follows it without letting their
        // overlap grow. The overlaps are those before anything moved.
        std::vector<std::pair<ZEFItem*, int64_t>> chain;
        for (ZEFItem* it = this; it; it = it->previous()) {
            ZEFItem* prev = it->previous();
            int64_t overlap =
                prev ? std::max<int64_t>(0, prev->m_end.ticks() - it->m_start.ticks()) : 0;
            chain.emplace_back(it, overlap);
        }
        for (auto c = chain.rbegin(); c != chain.rend(); ++c) {
            ZEFItem* it = c->first;
            int64_t newStart = it->m_start.ticks() + delta;
            if (ZEFItem* prev = it->previous()) {
                if (prev->m_end.ticks() - newStart > c->second)
                    newStart = prev->m_end.ticks() - c->second;
            }
            // Never before 0, also for an item that a file stored after one starting later.
            newStart = std::max<int64_t>(newStart, 0);
            int64_t d = std::min<int64_t>(0, newStart - it->m_start.ticks());
            if (d != 0) {
                it->shiftBy(d);
                it->reportChange(true);
            }
        }
    }
    return delta;
}

int32_t ZEFItem::rippleShift(int32_t delta)
{
    int64_t d = delta;
    if (d < 0) {
        // Everything from here on moves together, so only the places of this item and the next
        // against their predecessors limit the shift: never before 0, never into the previous
        // item on the overlay tracks, and on Layer A never past the previous item's start or
        // end, and neither this item nor the next into the items before their predecessors.
        int64_t floor = 0;
        if (ZEFItem* prev = previous()) {
            if (m_track == kLayerA) {
                floor = std::max(prev->m_start.ticks(), prev->m_end.ticks() - duration().ticks());
                if (ZEFItem* before = prev->previous())
                    floor = std::max(floor, before->m_end.ticks());
                // The item after this one may not reach into the previous item either.
                if (ZEFItem* nx = next())
                    floor = std::max(floor,
                                     m_start.ticks() - (nx->m_start.ticks() - prev->m_end.ticks()));
            } else {
                floor = prev->m_end.ticks();
            }
        }
        floor = std::max<int64_t>(floor, 0);
        if (m_start.ticks() + d < floor) d = std::min<int64_t>(0, floor - m_start.ticks());
        // A file may store a later item starting before this one: none goes before 0.
        for (const ZEFItem* it = next(); it && d < 0; it = it->next())
            d = std::max<int64_t>(d, -std::max<int64_t>(0, it->m_start.ticks()));
    }
    if (d == 0) return 0;
    for (ZEFItem* it = this; it; it = it->next()) {
        it->shiftBy(d);
        it->reportChange(true);
    }
    return int32_t(d);
}

EditTime ZEFItem::trimStart(EditTime t, int32_t mode, bool clamp)
{
    t = t.snapped();
    if (t > m_end) t = m_end;
    if (t.ticks() < 0) t.setTicks(0);
    if (clamp && mode != kTrimFree) {
        t = maxTime(t, earliestStart());
        EditTime latest;
        if (latestEnd(latest)) t = minTime(t, latest);
    }
    if (mode != kTrimFree) {
        // A neighbour limit holds where the item keeps it now. One that the item breaks already
        // (a file may store items out of order or overlapping) holds it where it is: it goes no
        // further into the neighbour and does not push it.
        const int64_t at = m_start.ticks();
        auto notBefore = [&](int64_t limit) {
            t.setTicks(std::max(t.ticks(), std::min(limit, at)));
        };
        if (ZEFItem* prev = previous()) {
            if (m_track == kLayerA) {
                if (mode == kTrimPush && t < prev->m_start && prev->m_start.ticks() <= at)
                    prev->moveTo(t, true);
                ZEFItem* before = prev->previous();
                if (mode == kTrimPush && before && t < before->m_end && before->m_end.ticks() <= at)
                    before->pushShift(clampDelta(t.ticks() - before->m_end.ticks()));
                if (before) notBefore(before->m_end.ticks());
                notBefore(prev->m_start.ticks());
            } else {
                if (mode == kTrimPush && t < prev->m_end && prev->m_end.ticks() <= at)
                    prev->pushShift(clampDelta(t.ticks() - prev->m_end.ticks()));
                notBefore(prev->m_end.ticks());
            }
        }
        if (ZEFItem* nx = next(); nx && m_track == kLayerA)
            t.setTicks(std::min(t.ticks(), std::max(nx->m_start.ticks(), at)));
    }
    if (t != m_start) {
        assignStart(t);
        reportChange(false);
        if (mode != kTrimFree) previewAt(t);
    }
    return t;
}

EditTime ZEFItem::trimEnd(EditTime t, int32_t mode, bool clamp)
{
    t = t.snapped();
    if (t < m_start) t = m_start;
    if (clamp && mode != kTrimFree) {
        t = maxTime(t, earliestStart());
        EditTime latest;
        if (latestEnd(latest)) t = minTime(t, latest);
    }
    if (mode != kTrimFree) {
        // Limits the item breaks already hold it where it is, as in trimStart.
        const int64_t at = m_end.ticks();
        auto notAfter = [&](int64_t limit) {
            t.setTicks(std::min(t.ticks(), std::max(limit, at)));
        };
        if (ZEFItem* nx = next()) {
            if (m_track == kLayerA) {
                if (ZEFItem* after = nx->next(); after && t > after->m_start) {
                    if (mode == kTrimPush && after->m_start.ticks() >= at) after->moveTo(t, true);
                    notAfter(after->m_start.ticks());
                }
                if (t > nx->m_end) {
                    if (mode == kTrimPush && nx->m_end.ticks() >= at)
                        nx->pushShift(clampDelta(t.ticks() - nx->m_end.ticks()));
                    notAfter(nx->m_end.ticks());
                }
            } else if (t > nx->m_start) {
                if (mode == kTrimPush && nx->m_start.ticks() >= at) nx->moveTo(t, true);
                notAfter(nx->m_start.ticks());
            }
        }
        if (ZEFItem* prev = previous(); prev && m_track == kLayerA)
            t.setTicks(std::max(t.ticks(), std::min(prev->m_end.ticks(), at)));
    }
    if (t != m_end) {
        assignEnd(t);
        reportChange(false);
        if (mode != kTrimFree) previewAt(t);
    }
    return t;
}

DeckRequest ZEFItem::createDeck(bool /*forTransition*/) { return {}; }

void ZEFItem::releaseComposition() { m_composition.reset(); }

void ZEFItem::setTracksSize(int32_t width, int32_t height)
{
    if (m_composition) m_composition->setSize(width, height);
}

void ZEFItem::setTracksEnabled(bool enabled)
{
    if (m_composition) m_composition->setEnabled(enabled);
}

void ZEFItem::reoffsetTracks()
{
    if (m_composition) m_composition->setOffset(m_start);
}

std::unique_ptr<ZEFEffectItem> ZEFItem::setTransition(std::unique_ptr<ZEFEffectItem> transition)
{
    if (!m_owner && !transition) throw ZEFException("An item on a track needs a transition");
    if (transition) transition->m_owner = this;
    std::swap(transition, m_transition);
    return transition;
}

void ZEFItem::addFilter(std::unique_ptr<ZEFEffectItem> filter)
{
    if (!filter) return;
    filter->m_owner = this;
    // The growth step of the filter array: an eighth of its size, 4 to 1024 elements.
    if (m_filters.size() == m_filters.capacity())
        m_filters.reserve(m_filters.size() + std::clamp<size_t>(m_filters.size() / 8, 4, 1024));
    m_filters.push_back(std::move(filter));
}

std::unique_ptr<ZEFEffectItem> ZEFItem::removeFilter(size_t i)
{
    if (i >= m_filters.size()) return nullptr;
    auto f = std::move(m_filters[i]);
    m_filters.erase(m_filters.begin() + std::ptrdiff_t(i));
    return f;
}

std::unique_ptr<ZEFItem> ZEFItem::clone(ZEFItem* /*owner*/) const { return nullptr; }

void ZEFItem::cloneAttachments(ZEFItem& copy) const
{
    if (m_owner) return;
    for (const auto& f : m_filters)
        copy.addFilter(
            std::unique_ptr<ZEFEffectItem>(static_cast<ZEFEffectItem*>(f->clone(&copy).release())));
    if (m_transition)
        copy.m_transition.reset(static_cast<ZEFEffectItem*>(m_transition->clone(&copy).release()));
}

void ZEFItem::save(storage::StreamWriter& out) const
{
    out.int32(m_track);
    out.string(m_name);
    m_start.save(out);
    m_end.save(out);
    out.uint32(m_graphicsModeColor);
    out.int32(m_graphicsMode);
    if (m_owner) return;
    m_transition->save(out);
    out.int32(int32_t(m_filters.size()));
    for (const auto& f : m_filters)
        f->save(out);
}

void ZEFItem::load(storage::StreamReader& in, int32_t version)
{
    m_track = in.int32();
    m_name = in.string();
    m_start.load(in, version);
    m_end.load(in, version);
    m_graphicsModeColor = in.uint32();
    m_graphicsMode = in.int32();
    if (m_owner || !in.ok()) return;
    m_transition->load(in, version);
    int32_t count = in.int32();
    if (!in.ok()) return;
    if (!plausibleCount(in, count, kMinItemRecord)) {
        in.fail();
        return;
    }
    m_filters.clear();
    for (int32_t i = 0; i < count; ++i) {
        auto f = std::make_unique<ZEFEffectItem>(m_project, m_track, this);
        f->load(in, version);
        if (!in.ok()) return;
        addFilter(std::move(f));
    }
}

// ---- ZEFEffectItem

ZEFEffectItem::ZEFEffectItem(FProject* project, int32_t track, ZEFItem* owner)
    : ZEFItem(project, track, owner)
{
}

const EffectLookup* ZEFEffectItem::catalogue() const
{
    return m_project ? m_project->effectCatalogue() : nullptr;
}

void ZEFEffectItem::setName(const std::string& name)
{
    m_component.reset();
    m_name = name;
    m_effectInfo = CPluginQT{};
    const EffectLookup* cat = catalogue();
    if (cat && cat->findEffect(name, m_effectInfo)) {
        m_description = cat->makeEffectDescription(m_effectInfo);
        m_component = cat->openEffect(m_effectInfo);
    } else {
        m_effectInfo = CPluginQT{};
        m_description.reset();
    }
}

void ZEFEffectItem::openComponent()
{
    if (m_component) return;
    if (const EffectLookup* cat = catalogue(); cat && m_effectInfo.effectType != 0)
        m_component = cat->openEffect(m_effectInfo);
}

void ZEFEffectItem::save(storage::StreamWriter& out) const
{
    ZEFItem::save(out);
    out.blob(m_parameters.bytes());
    out.blob(m_description.bytes());
}

void ZEFEffectItem::load(storage::StreamReader& in, int32_t version)
{
    ZEFItem::load(in, version);
    auto parameters = in.blob();
    auto description = in.blob();
    if (!in.ok()) return;
    m_parameters = parameters.empty() ? movies::Handle() : movies::Handle::fromSpan(parameters);
    m_description = description.empty() ? movies::Handle() : movies::Handle::fromSpan(description);
    m_component.reset();
    m_effectInfo = CPluginQT{};
    if (dynamic_cast<ZEFTitlerEffect*>(this)) return;
    if (const EffectLookup* cat = catalogue(); cat && cat->findEffect(m_name, m_effectInfo))
        m_component = cat->openEffect(m_effectInfo);
    else
        m_effectInfo = CPluginQT{};
}

void ZEFEffectItem::copyEffectTo(ZEFEffectItem& copy) const
{
    copy.m_start = m_start;
    copy.m_end = m_end;
    copy.setName(m_name);
    copy.m_description = m_description;
    copy.m_parameters = m_parameters;
    copy.m_graphicsMode = m_graphicsMode;
    copy.m_graphicsModeColor = m_graphicsModeColor;
}

std::unique_ptr<ZEFItem> ZEFEffectItem::clone(ZEFItem* owner) const
{
    auto copy = std::make_unique<ZEFEffectItem>(m_project, m_track, owner);
    copyEffectTo(*copy);
    if (!owner) cloneAttachments(*copy);
    return copy;
}

DeckRequest ZEFEffectItem::createDeck(bool /*forTransition*/)
{
    return {DeckRequest::EffectSettings, this, 200};
}

void ZEFEffectItem::releaseComposition()
{
    ZEFItem::releaseComposition();
    m_component.reset();
}

// ---- TitleStyle

namespace {

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void putColor(uint8_t* p, const TitleColor& c)
{
    p[0] = c.red;
    p[1] = c.green;
    p[2] = c.blue;
    p[3] = 0;
}

TitleColor getColor(const uint8_t* p) { return {p[0], p[1], p[2]}; }

} // namespace

movies::Handle TitleStyle::toHandle() const
{
    movies::Handle h(kSize); // zero-filled
    uint8_t* p = h.data();
    put16(p + 0, uint16_t(font));
    put16(p + 2, uint16_t(size));
    p[4] = style;
    putColor(p + 8, textColor);
    put16(p + 12, uint16_t(justification));
    put16(p + 16, uint16_t(displayFlags));
    put16(p + 18, uint16_t(displayFlags >> 16));
    put16(p + 20, uint16_t(scrollDelay));
    put16(p + 22, uint16_t(delayEnabled));
    put16(p + 24, uint16_t(shadowX));
    put16(p + 26, uint16_t(shadowY));
    put16(p + 28, uint16_t(shadowOpacity));
    put16(p + 30, uint16_t(usePrevious));
    putColor(p + 32, backColor);
    return h;
}

TitleStyle TitleStyle::fromHandle(const movies::Handle& h)
{
    TitleStyle s;
    if (h.size() < kSize) return s;
    const uint8_t* p = h.data();
    s.font = int16_t(get16(p + 0));
    s.size = int16_t(get16(p + 2));
    s.style = p[4];
    s.textColor = getColor(p + 8);
    s.justification = int16_t(get16(p + 12));
    s.displayFlags = uint32_t(get16(p + 16)) | (uint32_t(get16(p + 18)) << 16);
    s.scrollDelay = int16_t(get16(p + 20));
    s.delayEnabled = int16_t(get16(p + 22));
    s.shadowX = int16_t(get16(p + 24));
    s.shadowY = int16_t(get16(p + 26));
    s.shadowOpacity = int16_t(get16(p + 28));
    s.usePrevious = int16_t(get16(p + 30));
    s.backColor = getColor(p + 32);
    return s;
}

// ---- ZEFTitlerEffect

ZEFTitlerEffect::ZEFTitlerEffect(FProject* project, int32_t track, ZEFItem* owner)
    : ZEFEffectItem(project, track, owner)
{
    m_description = TitleStyle().toHandle();
}

void ZEFTitlerEffect::setName(const std::string& name)
{
    m_name = name;
    m_description = TitleStyle().toHandle();
}

std::string ZEFTitlerEffect::text() const
{
    if (m_parameters.isNull()) return {};
    const auto* p = reinterpret_cast<const char*>(m_parameters.data());
    return std::string(p, strnlen(p, m_parameters.size()));
}

void ZEFTitlerEffect::setText(const std::string& text)
{
    m_parameters = text.empty() ? movies::Handle() : movies::Handle(text.data(), text.size());
}

std::string ZEFTitlerEffect::displayName() const
{
    std::string t = text();
    if (t.empty()) return m_name;
    size_t cr = t.find('\r');
    if (cr == std::string::npos) return t;
    return t.substr(0, cr) + "...";
}

std::unique_ptr<ZEFItem> ZEFTitlerEffect::clone(ZEFItem* owner) const
{
    auto copy = std::make_unique<ZEFTitlerEffect>(m_project, m_track, owner);
    copyEffectTo(*copy);
    if (!owner) cloneAttachments(*copy);
    return copy;
}

DeckRequest ZEFTitlerEffect::createDeck(bool /*forTransition*/)
{
    return {DeckRequest::Titler, this, 165};
}

// ---- CPluginQT

std::string CPluginQT::nameText() const { return std::string(name, strnlen(name, sizeof name)); }

void CPluginQT::setNameText(const std::string& text)
{
    std::memset(name, 0, sizeof name);
    std::memcpy(name, text.data(), std::min<size_t>(text.size(), 256));
}

} // namespace zef
