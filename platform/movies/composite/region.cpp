#include "platform/movies/composite/region.h"

#include <algorithm>
#include <utility>

namespace zef::movies {

ClipRegion::ClipRegion(const Rect& r)
{
    if (!r.isEmpty()) {
        m_rects.push_back(r);
        m_bounds = r;
    }
}

ClipRegion::ClipRegion(const Region& region) : m_rects(region.rects()), m_bounds(region.bounds()) {}

ClipRegion::ClipRegion(std::span<const Rect> rects)
{
    // Split into horizontal bands at every top and bottom edge; within a band merge the x
    // intervals of the rectangles covering it. Equal neighbouring bands are joined.
    std::vector<int32_t> ys;
    for (const Rect& r : rects) {
        if (r.isEmpty()) continue;
        ys.push_back(r.top);
        ys.push_back(r.bottom);
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    std::vector<std::pair<int32_t, int32_t>> prev, cur;
    size_t prevStart = 0;
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        int32_t y0 = ys[i], y1 = ys[i + 1];
        cur.clear();
        for (const Rect& r : rects)
            if (!r.isEmpty() && r.top <= y0 && r.bottom >= y1) cur.emplace_back(r.left, r.right);
        std::sort(cur.begin(), cur.end());
        std::vector<std::pair<int32_t, int32_t>> merged;
        for (auto iv : cur) {
            if (!merged.empty() && iv.first <= merged.back().second)
                merged.back().second = std::max(merged.back().second, iv.second);
            else
                merged.push_back(iv);
        }
        bool joins = !merged.empty() && merged == prev && prevStart < m_rects.size() &&
                     m_rects.back().bottom == y0;
        if (joins) {
            for (size_t k = prevStart; k < m_rects.size(); ++k)
                m_rects[k].bottom = y1;
        } else {
            prevStart = m_rects.size();
            for (auto iv : merged)
                m_rects.push_back(Rect{iv.first, y0, iv.second, y1});
        }
        prev = std::move(merged);
    }
    for (const Rect& r : m_rects)
        m_bounds = unite(m_bounds, r);
}

bool ClipRegion::contains(int32_t x, int32_t y) const
{
    for (const Rect& r : m_rects)
        if (r.contains(x, y)) return true;
    return false;
}

ClipRegion ClipRegion::intersected(const Rect& c) const
{
    ClipRegion out;
    for (const Rect& r : m_rects) {
        Rect i = intersect(r, c);
        if (!i.isEmpty()) {
            out.m_rects.push_back(i);
            out.m_bounds = unite(out.m_bounds, i);
        }
    }
    return out;
}

} // namespace zef::movies
