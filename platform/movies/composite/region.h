// A clip region: a set of pixels given as a list of rectangles, kept as disjoint rectangles so
// that drawing through it touches each pixel once even when the given rectangles overlap.
#pragma once

#include "platform/movies/geometry.h"
#include "platform/movies/region.h"

#include <span>
#include <vector>

namespace zef::movies {

class ClipRegion {
public:
    ClipRegion() = default;
    explicit ClipRegion(const Rect& r);
    explicit ClipRegion(std::span<const Rect> rects);
    // The pixels of a movie or track region (already disjoint, so taken as they are).
    explicit ClipRegion(const Region& region);

    bool isEmpty() const { return m_rects.empty(); }
    // Disjoint rectangles sorted by top, then left.
    const std::vector<Rect>& rects() const { return m_rects; }
    Rect bounds() const { return m_bounds; }
    bool contains(int32_t x, int32_t y) const;

    // The region cut to r.
    ClipRegion intersected(const Rect& r) const;

    // Calls fn(left, right) for each run [left, right) of row y inside both the region and
    // [x0, x1), in increasing x.
    template <typename Fn> void forEachRun(int32_t y, int32_t x0, int32_t x1, Fn&& fn) const
    {
        if (y < m_bounds.top || y >= m_bounds.bottom) return;
        for (const Rect& r : m_rects) {
            if (r.top > y) break;
            if (y >= r.bottom) continue;
            int32_t l = r.left > x0 ? r.left : x0;
            int32_t rt = r.right < x1 ? r.right : x1;
            if (l < rt) fn(l, rt);
        }
    }

private:
    std::vector<Rect> m_rects;
    Rect m_bounds;
};

} // namespace zef::movies
