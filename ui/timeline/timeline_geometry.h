// The timeline's geometry, without widgets: how time maps to pixels of the timeline window,
// where the rows, items, keyframes and the current-time marker lie, what is under the mouse,
// which edges a drag snaps to, and how zooming and scrolling change the view.
//
// Coordinates are client pixels of the timeline window (origin top left); rectangles are
// [left, right) × [top, bottom). Times are ticks (600 a second). Everything here is a plain
// function of its arguments, usable without a display.
#pragma once

#include "platform/movies/geometry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zef {
class FProject;
class ZEFItem;
} // namespace zef

namespace zef::ui {

// The row keys: a track index, or the transition row. Track A stands twice (a double-height
// row); the gallery ("External") has no row.
constexpr int32_t kTransitionRow = 99;
constexpr std::array<int32_t, 6> kRowTable{kTransitionRow, 0, 0, 1, 2, 4};
constexpr int32_t kRowCount = int32_t(kRowTable.size());

constexpr int32_t kLeftMargin = 30;  // the item area starts here
constexpr int32_t kRowsTop = 21;     // the first row's drawn top
constexpr int32_t kRowHeight = 21;   // a drawn row
constexpr int32_t kRulerTop = 2;     // the ruler strip: 2 to 19
constexpr int32_t kRulerBottom = 19; // marks end here
constexpr int32_t kRulerClickBottom = 18;
constexpr int32_t kSnapDistance = 3; // pixels
constexpr int64_t kNarrowestSpan = 600;
constexpr int64_t kFitMinimumSpan = 18000; // a reset view shows at least 30 s
constexpr int64_t kScrollMinimumLength = 3000;

// The short names of the tracks in messages: "A", "B", "C", "External", "Title".
const char* timelineTrackName(int32_t track);
// The first row holding the key, or -1.
int32_t firstRowOf(int32_t key);
// Whether the track has a row on the timeline.
bool trackShown(int32_t track);

// What the timeline shows: view start and end in ticks.
struct TimelineView {
    int64_t start = 0;
    int64_t end = 6000;
    int64_t span() const { return end - start; }
    friend bool operator==(const TimelineView&, const TimelineView&) = default;
};

// The timeline window's geometry for a client size and a view.
class TimelineGeometry {
public:
    TimelineGeometry(int32_t width, int32_t height, const TimelineView& view);

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    const TimelineView& view() const { return m_view; }
    // (w − 4 − 30) / (view end − view start); a view of no span counts as one tick.
    double pixelsPerTick() const { return m_ppt; }

    // trunc((t − view start) × pixels per tick + 0.5): the offset of a time from the left
    // edge of the item area.
    int32_t offsetOf(int64_t t) const;
    // Items, keyframes, snap points and the marker: offset + 30. The ruler: offset + 29.
    int32_t timeToX(int64_t t) const { return offsetOf(t) + kLeftMargin; }
    int32_t rulerX(int64_t t) const { return offsetOf(t) + kLeftMargin - 1; }
    // (x − 30) / pixels per tick to the nearest tick (halves up), + view start.
    int64_t xToTime(int32_t x) const;
    bool inView(int64_t t) const { return t >= m_view.start && t <= m_view.end; }

    // left 30, top 21, right w − 4, bottom h − 4.
    movies::Rect itemArea() const;
    // The drawn rectangle of row i: top 21 + 21i, 21 high (42 for track A's first row).
    movies::Rect drawnRow(int32_t row) const;
    // The row box of a key (hit tests and item shapes): top 19 + 21i of its first row, 23
    // high (44 for track A). Empty for a key without a row.
    movies::Rect rowBox(int32_t key) const;
    // The key of the row under a point, or -1.
    int32_t rowAt(int32_t x, int32_t y) const;
    // The rows area (x 30 to w − 4, y 21 to 21 + 6 × 21).
    movies::Rect rowsArea() const;
    // The track-enable button of a track: in the last row holding the track, 25 × 18 at
    // (2, 22 + 21i); empty for a track without a row.
    movies::Rect enableButton(int32_t track) const;
    // The current-time marker for time t: (a + 28, 3)–(a + 33, h − 3) with a the offset.
    movies::Rect markerRect(int64_t t) const;
    // A keyframe's hot spot in its track's row: (x − 1, top + 2)–(x + 2, top + 8).
    movies::Rect keyframeSpot(int32_t track, int64_t t) const;

private:
    int32_t m_width;
    int32_t m_height;
    TimelineView m_view;
    double m_ppt;
};

// The eight-point shape of an item in its row box: P0 top-left, P1 top-right, P2, P3 down the
// right side (the middle third), P4 bottom-right, P5 bottom-left, P6, P7 up the left side.
// An overlap with the previous item moves P0 and P7 to where it ends; one with the next item
// moves P3 and P4 to where it starts, so a transition shows as a diagonal hand-over.
struct ItemShape {
    std::array<movies::Point, 8> p;
};
ItemShape itemShape(const movies::Rect& rowBox, int32_t x0, int32_t x1,
                    std::optional<int32_t> previousEnd = std::nullopt,
                    std::optional<int32_t> nextStart = std::nullopt);
// The item's shape from the project (its neighbours on the track decide the overlaps).
ItemShape itemShape(const TimelineGeometry& g, const FProject& project, const ZEFItem& item);
// Whether a point lies in the shape (the bands and diagonals in integer thousandths).
bool pointInShape(const ItemShape& s, int32_t x, int32_t y);

// Drag modes: what a gesture does.
enum DragMode : int32_t {
    kDragNone = 0,
    kDragTrimStart = 1,
    kDragTrimEnd = 2,
    kDragMove = 3,
    kDragScrub = 4,
    kDragKeyframe = 5,
    kDragTransitionMove = 6,
    kDragTransitionTrimStart = 7,
    kDragTransitionTrimEnd = 8,
};

// What lies under the mouse while no button is down.
struct HoverHit {
    int32_t mode = kDragNone;
    ZEFItem* item = nullptr; // for transitions: the first item of the pair
    int32_t keyframeTrack = -1;
    int32_t keyframeIndex = -1;
};
// The keyframes of the row come first, then (transition row) the transitions of track A, or
// the items of the track: trims on the first two and last two pixels, a move inside the shape.
HoverHit hoverHitTest(const TimelineGeometry& g, const FProject& project, int32_t x, int32_t y);

// An edge a drag snaps to: the pixel one left of the edge and its time.
struct SnapPoint {
    int32_t x = 0;
    int64_t time = 0;
};
// Both edges of every item on the shown tracks other than excludedTrack, in track order.
std::vector<SnapPoint> snapPoints(const TimelineGeometry& g, const FProject& project,
                                  int32_t excludedTrack);
// The time of a drag at mouse x: (x − grab − 30) in ticks; snapped when x − grab comes within
// 3 pixels of a snap point, or (moves, duration given) when the dragged item's end does, so
// that the end lands on the edge. Never below 0.
int64_t dragTime(const TimelineGeometry& g, const std::vector<SnapPoint>& snaps, int32_t x,
                 int32_t grab, std::optional<int64_t> movedDuration = std::nullopt);

// Zooming. In: half the span (rounded), at least one second, from the same start. Out: the
// start goes back by a span (not below 0) and the end forward by one. To project: 0 to the
// project's end (at least one second).
TimelineView zoomIn(const TimelineView& v);
TimelineView zoomOut(const TimelineView& v);
TimelineView zoomToProject(int64_t projectEnd);
// The view of a reset with fit: 0 to the project end, at least 30 s.
TimelineView fitView(int64_t projectEnd);

// The scroll bar, in whole seconds: positions 0 to last, the page is the span.
struct ScrollBarState {
    int32_t last = 0;     // the last position: project seconds − span seconds, not below 0
    int32_t page = 0;     // span seconds
    int32_t pageStep = 0; // two thirds of the page
    int32_t position = 0; // view start in seconds, clamped to the project
};
ScrollBarState scrollBarState(const TimelineView& v, int64_t projectEnd);
// The view scrolled to a position: start there, the span cut to whole seconds. The same view
// when the position is where the view starts.
TimelineView scrollTo(const TimelineView& v, int32_t position);

} // namespace zef::ui
