#include "model/device.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/storage/stream.h"

#include <algorithm>

namespace zef {

movies::MatrixRecord interpolateKeyframes(int64_t t0, const movies::MatrixRecord& m0, int64_t t1,
                                          const movies::MatrixRecord& m1, int64_t t)
{
    if (t1 <= t0) return m0;
    const int64_t f = (t - t0) * 65536 / (t1 - t0);
    movies::MatrixRecord r;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) {
            const int64_t a = m0.m[i][j], b = m1.m[i][j];
            r.m[i][j] = int32_t(a + (((b - a) * f) >> 16));
        }
    return r;
}

bool plausibleCount(storage::StreamReader& in, int32_t count, int64_t minBytes);

FDevice::FDevice(FProject* project, int32_t index) : m_project(project), m_index(index) {}

FDevice::~FDevice()
{
    for (auto& item : m_items)
        item->m_device = nullptr;
}

int32_t FDevice::indexOf(const ZEFItem* item) const
{
    if (!item || item->m_device != this) return -1;
    return item->m_slot;
}

size_t FDevice::insert(size_t pos, std::unique_ptr<ZEFItem> item)
{
    if (!item) throw ZEFException("No item to insert");
    pos = std::min(pos, m_items.size());
    item->m_device = this;
    m_items.insert(m_items.begin() + std::ptrdiff_t(pos), std::move(item));
    renumberFrom(pos);
    return pos;
}

std::unique_ptr<ZEFItem> FDevice::take(size_t pos)
{
    if (pos >= m_items.size()) return nullptr;
    auto item = std::move(m_items[pos]);
    m_items.erase(m_items.begin() + std::ptrdiff_t(pos));
    item->m_device = nullptr;
    item->m_slot = -1;
    renumberFrom(pos);
    return item;
}

void FDevice::renumberFrom(size_t pos)
{
    for (size_t i = pos; i < m_items.size(); ++i)
        m_items[i]->m_slot = int32_t(i);
}

int32_t FDevice::kindOf(const ZEFItem& item)
{
    if (dynamic_cast<const ZEFSourceItem*>(&item)) return kKindSource;
    if (dynamic_cast<const ZEFTitlerEffect*>(&item)) return kKindTitler;
    return kKindEffect;
}

void FDevice::save(storage::StreamWriter& out) const
{
    out.int32(int32_t(m_items.size()));
    for (const auto& item : m_items) {
        out.int32(kindOf(*item));
        item->save(out);
    }
    out.int32(int32_t(m_keyframes.size()));
    for (const auto& k : m_keyframes) {
        k.time.save(out);
        for (const auto& row : k.matrix.m)
            for (int32_t v : row)
                out.int32(v);
    }
    out.int32(m_enabled);
}

void FDevice::load(storage::StreamReader& in, int32_t version)
{
    if (m_project)
        m_project->clearTrack(m_index);
    else
        while (!m_items.empty())
            take(0);
    m_keyframes.clear();

    int32_t count = in.int32();
    if (!in.ok() || !plausibleCount(in, count, 4 + 60)) {
        in.fail();
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t kind = in.int32();
        if (!in.ok()) return;
        std::unique_ptr<ZEFItem> item;
        switch (kind) {
        case kKindSource:
            item = std::make_unique<ZEFSourceItem>(m_project, m_index);
            break;
        case kKindTitler:
            item = std::make_unique<ZEFTitlerEffect>(m_project, m_index);
            break;
        case kKindEffect:
            item = std::make_unique<ZEFEffectItem>(m_project, m_index);
            break;
        default:
            in.fail();
            return;
        }
        try {
            item->load(in, version);
        } catch (const ZEFException& e) {
            // The item gave up (its media could not be opened); it is dropped.
            if (in.ok()) {
                if (m_project && e.hasMessage()) m_project->showError(e.message());
                continue;
            }
        }
        if (!in.ok()) return;
        if (!FProject::validTrack(item->track())) {
            in.fail();
            return;
        }
        if (m_project)
            m_project->addItem(std::move(item), false, false);
        else
            insert(m_items.size(), std::move(item));
    }

    int32_t keyframes = in.int32();
    if (!in.ok() || !plausibleCount(in, keyframes, 24 + 36)) {
        in.fail();
        return;
    }
    m_keyframes.reserve(size_t(keyframes));
    for (int32_t i = 0; i < keyframes; ++i) {
        MatrixKeyframe k;
        k.time.load(in, version);
        for (auto& row : k.matrix.m)
            for (int32_t& v : row)
                v = in.int32();
        if (!in.ok()) return;
        m_keyframes.push_back(k);
    }
    // Keyframes are evaluated by binary search; a file with keyframes out of order gets them
    // sorted (keyframes at the same time keep their order).
    std::stable_sort(m_keyframes.begin(), m_keyframes.end(),
                     [](const MatrixKeyframe& a, const MatrixKeyframe& b) {
                         return a.time.snapped() < b.time.snapped();
                     });
    m_enabled = in.int32();
}

} // namespace zef
