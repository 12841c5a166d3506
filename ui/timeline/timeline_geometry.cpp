#include "ui/timeline/timeline_geometry.h"

#include "model/item.h"
#include "model/project.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zef::ui {

const char* timelineTrackName(int32_t track)
{
    static constexpr const char* kNames[] = {"A", "B", "C", "External", "Title"};
    return track >= 0 && track < 5 ? kNames[track] : "";
}

int32_t firstRowOf(int32_t key)
{
    for (int32_t i = 0; i < kRowCount; ++i)
        if (kRowTable[size_t(i)] == key) return i;
    return -1;
}

bool trackShown(int32_t track) { return track != kTransitionRow && firstRowOf(track) >= 0; }

// ---- geometry

TimelineGeometry::TimelineGeometry(int32_t width, int32_t height, const TimelineView& view)
    : m_width(width), m_height(height), m_view(view)
{
    const int64_t span = std::max<int64_t>(1, view.span());
    m_ppt = double(width - 4 - kLeftMargin) / double(span);
}

int32_t TimelineGeometry::offsetOf(int64_t t) const
{
    const double v = double(t - m_view.start) * m_ppt + 0.5;
    return int32_t(std::clamp(std::trunc(v), -1e9, 1e9));
}

int64_t TimelineGeometry::xToTime(int32_t x) const
{
    if (m_ppt <= 0) return m_view.start;
    return int64_t(std::floor(double(x - kLeftMargin) / m_ppt + 0.5)) + m_view.start;
}

movies::Rect TimelineGeometry::itemArea() const
{
    return {kLeftMargin, kRowsTop, m_width - 4, m_height - 4};
}

movies::Rect TimelineGeometry::drawnRow(int32_t row) const
{
    const int32_t top = kRowsTop + kRowHeight * row;
    const int32_t height = row == 1 ? 2 * kRowHeight : kRowHeight;
    return {kLeftMargin, top, m_width - 4, top + height};
}

movies::Rect TimelineGeometry::rowBox(int32_t key) const
{
    const int32_t i = firstRowOf(key);
    if (i < 0) return {};
    const int32_t top = 19 + kRowHeight * i;
    return {kLeftMargin, top, m_width - 4, top + (i == 1 ? 44 : 23)};
}

int32_t TimelineGeometry::rowAt(int32_t x, int32_t y) const
{
    if (x < kLeftMargin - 1 || x >= m_width - 4 || y < 19 || y >= m_height - 4) return -1;
    const int32_t i = (y - 19) / kRowHeight;
    return i < kRowCount ? kRowTable[size_t(i)] : -1;
}

movies::Rect TimelineGeometry::rowsArea() const
{
    return {kLeftMargin, kRowsTop, m_width - 4, kRowsTop + kRowHeight * kRowCount};
}

movies::Rect TimelineGeometry::enableButton(int32_t track) const
{
    if (!trackShown(track)) return {};
    int32_t row = -1;
    for (int32_t i = 0; i < kRowCount; ++i)
        if (kRowTable[size_t(i)] == track) row = i; // the last row of the track wins
    const int32_t top = 22 + kRowHeight * row;
    return {2, top, 2 + 25, top + 18};
}

movies::Rect TimelineGeometry::markerRect(int64_t t) const
{
    const int32_t a = offsetOf(t);
    return {a + 28, 3, a + 33, m_height - 3};
}

movies::Rect TimelineGeometry::keyframeSpot(int32_t track, int64_t t) const
{
    const movies::Rect box = rowBox(track);
    const int32_t x = timeToX(t);
    return {x - 1, box.top + 2, x + 2, box.top + 8};
}

// ---- item shapes

ItemShape itemShape(const movies::Rect& box, int32_t x0, int32_t x1,
                    std::optional<int32_t> previousEnd, std::optional<int32_t> nextStart)
{
    const int32_t y0 = box.top + 1, y1 = box.bottom;
    const int32_t a = (y1 - y0) / 3;
    ItemShape s;
    s.p = {{{x0, y0},
            {x1, y0},
            {x1, y0 + a},
            {x1, y1 - a},
            {x1, y1},
            {x0, y1},
            {x0, y1 - a + 1},
            {x0, y0 + a + 1}}};
    if (previousEnd && *previousEnd > x0) s.p[0].x = s.p[7].x = *previousEnd;
    if (nextStart && *nextStart < x1) s.p[3].x = s.p[4].x = *nextStart;
    return s;
}

ItemShape itemShape(const TimelineGeometry& g, const FProject& project, const ZEFItem& item)
{
    std::optional<int32_t> prevEnd, nextStart;
    if (const ZEFItem* p = project.previousItem(&item)) prevEnd = g.timeToX(p->getEnd().ticks());
    if (const ZEFItem* n = project.nextItem(&item)) nextStart = g.timeToX(n->getStart().ticks());
    return itemShape(g.rowBox(item.track()), g.timeToX(item.getStart().ticks()),
                     g.timeToX(item.getEnd().ticks()), prevEnd, nextStart);
}

bool pointInShape(const ItemShape& s, int32_t x, int32_t y)
{
    const auto& p = s.p;
    if (p[0].y < y && y <= p[7].y) return p[0].x < x && x < p[1].x;
    if (p[6].y <= y && y < p[5].y) return p[5].x < x && x < p[4].x;
    if (!(p[7].y <= y && y < p[6].y)) return false;
    if (p[7].x <= x && x <= p[3].x) return true;
    if (x > p[3].x) {
        if (p[2].y == p[3].y) return false;
        const int64_t slope = int64_t(p[2].x - p[3].x) * 1000 / (p[2].y - p[3].y);
        return p[2].x - x >= std::llabs(slope) * (y - p[2].y) / 1000;
    }
    if (p[6].y == p[7].y) return false;
    const int64_t slope = int64_t(p[6].x - p[7].x) * 1000 / (p[6].y - p[7].y);
    return x - p[6].x >= std::llabs(slope) * (p[6].y - y) / 1000;
}

// ---- hover

HoverHit hoverHitTest(const TimelineGeometry& g, const FProject& project, int32_t x, int32_t y)
{
    HoverHit hit;
    const int32_t key = g.rowAt(x, y);
    if (key < 0) return hit;

    if (FProject::validTrack(key)) {
        const auto& keys = project.device(key).keyframes();
        for (size_t i = 0; i < keys.size(); ++i) {
            const int64_t t = keys[i].time.ticks();
            if (!g.inView(t) || !g.keyframeSpot(key, t).contains(x, y)) continue;
            hit.mode = kDragKeyframe;
            hit.keyframeTrack = key;
            hit.keyframeIndex = int32_t(i);
            return hit;
        }
    }

    if (key == kTransitionRow) {
        const FDevice& a = project.device(kLayerA);
        for (size_t i = 0; i + 1 < a.size(); ++i) {
            ZEFItem* item = a.at(i);
            const ZEFItem* next = a.at(i + 1);
            // Only an overlap is a transition; items that merely touch have none to grab.
            if (!(next->getStart() < item->getEnd())) continue;
            const int32_t xs = g.timeToX(next->getStart().ticks());
            const int32_t xe = g.timeToX(item->getEnd().ticks());
            int32_t mode = kDragNone;
            if (xs >= xe - 3) {
                if (x >= xs - 2 && x <= xe + 1) mode = kDragTransitionMove;
            } else if (x >= xs && x < xs + 2) {
                mode = kDragTransitionTrimStart;
            } else if (x > xe - 3 && x <= xe - 1) {
                mode = kDragTransitionTrimEnd;
            } else if (x >= xs + 2 && x <= xe - 3) {
                mode = kDragTransitionMove;
            }
            if (mode != kDragNone) {
                hit.mode = mode;
                hit.item = item;
                return hit;
            }
        }
        return hit;
    }

    const FDevice& d = project.device(key);
    for (size_t i = 0; i < d.size(); ++i) {
        ZEFItem* item = d.at(i);
        const int32_t xs = g.timeToX(item->getStart().ticks());
        const int32_t xe = g.timeToX(item->getEnd().ticks());
        int32_t mode = kDragNone;
        if (x >= xs && x < xs + 2)
            mode = kDragTrimStart;
        else if (x > xe - 3 && x <= xe - 1)
            mode = kDragTrimEnd;
        else if (x >= xs + 2 && x <= xe - 3 && pointInShape(itemShape(g, project, *item), x, y))
            mode = kDragMove;
        if (mode != kDragNone) {
            hit.mode = mode;
            hit.item = item;
            return hit;
        }
    }
    return hit;
}

// ---- snapping

std::vector<SnapPoint> snapPoints(const TimelineGeometry& g, const FProject& project,
                                  int32_t excludedTrack)
{
    std::vector<SnapPoint> points;
    for (int32_t track = 0; track < kTrackCount; ++track) {
        // The gallery is not on the timeline: its clips are no edges the user can see.
        if (track == excludedTrack || !trackShown(track)) continue;
        const FDevice& d = project.device(track);
        for (size_t i = 0; i < d.size(); ++i) {
            const int64_t s = d.at(i)->getStart().ticks(), e = d.at(i)->getEnd().ticks();
            points.push_back({g.timeToX(s) - 1, s});
            points.push_back({g.timeToX(e) - 1, e});
        }
    }
    return points;
}

int64_t dragTime(const TimelineGeometry& g, const std::vector<SnapPoint>& snaps, int32_t x,
                 int32_t grab, std::optional<int64_t> movedDuration)
{
    int64_t t = g.xToTime(x - grab);
    int32_t dp = 0;
    if (movedDuration)
        dp = int32_t(std::trunc(double(*movedDuration) * g.pixelsPerTick() + 0.5)) - grab;
    for (const SnapPoint& s : snaps) {
        if (std::abs(x - grab - s.x) <= kSnapDistance) {
            t = s.time;
            break;
        }
        if (movedDuration && std::abs(dp + x - s.x) <= kSnapDistance) {
            t = s.time - *movedDuration;
            break;
        }
    }
    return std::max<int64_t>(0, t);
}

// ---- zoom and scroll

TimelineView zoomIn(const TimelineView& v)
{
    const int64_t half = (v.span() + (v.span() >= 0 ? 1 : -1)) / 2; // half away from zero
    const int64_t span = std::max(kNarrowestSpan, half);
    return {v.start, v.start + span};
}

TimelineView zoomOut(const TimelineView& v)
{
    const int64_t span = v.span();
    return {std::max<int64_t>(0, v.start - span), v.end + span};
}

TimelineView zoomToProject(int64_t projectEnd)
{
    // An empty project has no end to zoom to: the narrowest view instead of none.
    return {0, std::max(kNarrowestSpan, projectEnd)};
}

TimelineView fitView(int64_t projectEnd) { return {0, std::max(kFitMinimumSpan, projectEnd)}; }

ScrollBarState scrollBarState(const TimelineView& v, int64_t projectEnd)
{
    const int64_t length = std::max(kScrollMinimumLength, projectEnd);
    ScrollBarState s;
    s.page = int32_t(v.span() / 600);
    s.pageStep = s.page * 2 / 3;
    s.last = int32_t(std::max<int64_t>(0, length / 600 - s.page));
    s.position = int32_t(std::clamp<int64_t>(v.start, 0, length) / 600);
    return s;
}

TimelineView scrollTo(const TimelineView& v, int32_t position)
{
    if (position == v.start / 600) return v;
    // The span shrinks to whole seconds, but never to nothing.
    const int64_t seconds = std::max<int64_t>(1, v.span() / 600);
    const int64_t start = int64_t(std::max(0, position)) * 600;
    return {start, start + seconds * 600};
}

} // namespace zef::ui
