// The timeline's gestures, without widgets: hovering chooses a drag mode, a left button press
// starts the gesture (selecting the item and recording its undo entry), mouse moves after the
// 500 ms drag delay trim, move, scrub or drag keyframes through the project's operations, and
// the release finishes it (dropping the undo entry again when nothing changed).
//
// Labels recorded at button-down: "Trimming %s" (trims), "Moving %s" (moves), "Moving FX %s"
// (transition moves), "Trimming FX %s" (transition trims), "Moving Track %s, Keyframe #%d"
// (keyframe drags); scrubbing records none.
//
// Not thread-safe: the project's thread. The project and the host must outlive it; the window
// tells it when an item is deleted (itemGone) so that a gesture never holds a dead item.
#pragma once

#include "model/device.h"
#include "model/edit_time.h"
#include "ui/timeline/timeline_geometry.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace zef {
class FProject;
class ZEFItem;
} // namespace zef

namespace zef::ui {

class TimelineHost;

class TimelineDrag {
public:
    static constexpr int64_t kDragDelay = 500; // ms from button-down until moves count

    // Milliseconds of a steady clock.
    using Clock = std::function<int64_t()>;

    TimelineDrag(FProject& project, TimelineHost& host);
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // No button down: what lies under the mouse becomes the drag mode and hot item.
    const HoverHit& hover(const TimelineGeometry& g, int32_t x, int32_t y);
    // Left button down; true when the gesture holds the mouse from now on.
    bool buttonDown(const TimelineGeometry& g, int32_t x, int32_t y);
    // A move while the mouse is held; true when the project or the current time moved.
    bool move(const TimelineGeometry& g, int32_t x, int32_t y, bool ctrl);
    // Left button up: finishes the gesture.
    void buttonUp();
    // The item is about to be deleted: a gesture on it (or on its transition) ends at once,
    // keeping what it did.
    void itemGone(const ZEFItem* item);

    int32_t mode() const { return m_hit.mode; }
    ZEFItem* hotItem() const { return m_hit.item; }
    const HoverHit& hit() const { return m_hit; }
    bool captured() const { return m_captured; }
    bool changed() const { return m_changed; }
    // The time of the last move that passed the delay (shown in the tool tip).
    std::optional<int64_t> lastDragTime() const { return m_lastTime; }

private:
    using Spans = std::vector<std::pair<int64_t, int64_t>>;
    Spans spansOf(int32_t track) const;
    void reset();

    FProject& m_project;
    TimelineHost& m_host;
    Clock m_clock;
    HoverHit m_hit;
    bool m_captured = false;
    bool m_changed = false;
    bool m_recorded = false; // an undo entry was recorded at button-down
    bool m_activated = false;
    int32_t m_grab = 0;
    int64_t m_downTick = 0;
    std::optional<int64_t> m_lastTime;
    std::vector<SnapPoint> m_snaps;
    std::vector<MatrixKeyframe> m_keyframesBefore;
};

// The keyframe commands of the transport on a track at the preview's current time.
// "Go to previous keyframe" / "Go to next keyframe": seeks the preview to the nearest keyframe
// strictly before / after; false when there is none.
bool goToKeyframe(FProject& project, int32_t track, bool next);
// "Insert/Remove keyframe": removes the keyframe at that time, or inserts one with the
// placement the track has there (undo label "Insert/Remove keyframe").
void toggleKeyframe(FProject& project, int32_t track);

} // namespace zef::ui
