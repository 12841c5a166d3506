#include "ui/timeline/timeline_drag.h"

#include "model/item.h"
#include "model/project.h"
#include "ui/timeline/timeline_host.h"

#include <chrono>

namespace zef::ui {

namespace {

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool sameKeyframes(const std::vector<MatrixKeyframe>& a, const std::vector<MatrixKeyframe>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(a[i].time == b[i].time) || a[i].matrix.m != b[i].matrix.m) return false;
    return true;
}

EditTime previewTime(const FProject& project)
{
    return project.previewPosition().value_or(EditTime());
}

} // namespace

TimelineDrag::TimelineDrag(FProject& project, TimelineHost& host)
    : m_project(project), m_host(host), m_clock(steadyMs)
{
}

void TimelineDrag::reset()
{
    m_hit = HoverHit{};
    m_captured = false;
    m_changed = false;
    m_recorded = false;
    m_activated = false;
    m_grab = 0;
    m_downTick = 0;
    m_lastTime.reset();
    m_snaps.clear();
    m_keyframesBefore.clear();
}

const HoverHit& TimelineDrag::hover(const TimelineGeometry& g, int32_t x, int32_t y)
{
    if (!m_captured) m_hit = hoverHitTest(g, m_project, x, y);
    return m_hit;
}

TimelineDrag::Spans TimelineDrag::spansOf(int32_t track) const
{
    Spans spans;
    const FDevice& d = m_project.device(track);
    spans.reserve(d.size());
    for (size_t i = 0; i < d.size(); ++i)
        spans.emplace_back(d.at(i)->getStart().ticks(), d.at(i)->getEnd().ticks());
    return spans;
}

bool TimelineDrag::buttonDown(const TimelineGeometry& g, int32_t x, int32_t y)
{
    if (m_captured) return true;
    m_grab = 0;
    m_changed = false;
    m_recorded = false;
    m_activated = false;
    m_lastTime.reset();
    ZEFItem* hot = m_hit.item;
    const int32_t mode = m_hit.mode;
    if (mode != kDragNone && hot) {
        m_project.selectItem(hot, mode == kDragTransitionMove);
        m_captured = true;
        UndoHistory& undo = m_project.undoHistory();
        const char* name = hot->name().c_str();
        switch (mode) {
        case kDragTrimStart:
        case kDragTrimEnd:
            undo.recordUndo(hot->track(), "Trimming %s", name);
            break;
        case kDragMove:
            undo.recordUndo(hot->track(), "Moving %s", name);
            m_grab = x - g.timeToX(hot->getStart().ticks());
            break;
        default: {
            const char* fx = hot->transition() ? hot->transition()->name().c_str() : "";
            if (mode == kDragTransitionMove) {
                undo.recordUndo(hot->track(), "Moving FX %s", fx);
                m_grab = x - g.timeToX(hot->getEnd().ticks());
            } else {
                undo.recordUndo(hot->track(), "Trimming FX %s", fx);
            }
            break;
        }
        }
        m_recorded = true;
        m_snaps = snapPoints(g, m_project, hot->track());
    } else if (y < kRulerClickBottom && x > kLeftMargin) {
        m_captured = true;
        m_project.previewSeek(EditTime(std::max<int64_t>(0, g.xToTime(x))));
        m_hit = HoverHit{};
        m_hit.mode = kDragScrub;
        m_snaps.clear();
        m_project.previewShowComposition();
    } else if (mode == kDragKeyframe && FProject::validTrack(m_hit.keyframeTrack)) {
        m_captured = true;
        m_snaps.clear();
        // Dropping a keyframe on another one replaces it: the drag must be undoable.
        m_keyframesBefore = m_project.device(m_hit.keyframeTrack).keyframes();
        m_project.undoHistory().recordUndo(m_hit.keyframeTrack, "Moving Track %s, Keyframe #%d",
                                           timelineTrackName(m_hit.keyframeTrack),
                                           m_hit.keyframeIndex + 1);
        m_recorded = true;
    }
    m_downTick = m_clock();
    return m_captured;
}

bool TimelineDrag::move(const TimelineGeometry& g, int32_t x, int32_t /*y*/, bool ctrl)
{
    if (!m_captured) return false;
    if (m_clock() - m_downTick < kDragDelay) return false;
    ZEFItem* item = m_hit.item;
    std::optional<int64_t> moved;
    if (m_hit.mode == kDragMove && item) moved = item->duration().ticks();
    const int64_t t = dragTime(g, m_snaps, x, m_grab, moved);
    m_lastTime = t;
    const EditTime at(t);

    switch (m_hit.mode) {
    case kDragKeyframe:
        m_hit.keyframeIndex = m_project.moveKeyframe(m_hit.keyframeTrack, m_hit.keyframeIndex, at,
                                                     /*beforeEqual=*/true);
        m_project.previewSeek(at);
        m_changed = true;
        return true;
    case kDragScrub:
        m_project.previewSeek(at);
        return true;
    default:
        break;
    }
    if (!item) return false;

    ZEFItem* next = m_project.nextItem(item);
    const int32_t track = item->track();
    const Spans before = spansOf(track);
    const bool push = ctrl;
    switch (m_hit.mode) {
    case kDragTrimEnd:
    case kDragTrimStart: {
        const bool start = m_hit.mode == kDragTrimStart;
        if ((start ? item->getStart() : item->getEnd()) == at) break;
        if (!m_activated) {
            item->activate();
            m_activated = true;
        }
        const int32_t trimMode = push ? kTrimPush : kTrimStop;
        if (start)
            item->trimStart(at, trimMode, true);
        else
            item->trimEnd(at, trimMode, true);
        break;
    }
    case kDragTransitionTrimEnd:
        if (item->getEnd() != at) item->trimEnd(at, kTrimStop, true);
        break;
    case kDragTransitionTrimStart:
        if (next && next->getStart() != at) next->trimStart(at, kTrimStop, true);
        break;
    case kDragTransitionMove:
        if (next && item->getEnd() != at) {
            const EditTime length = item->getEnd() - next->getStart();
            const EditTime e = item->trimEnd(at, kTrimPush, true);
            const EditTime s = next->trimStart(e - length, kTrimPush, true);
            if (s + length != item->getEnd()) item->trimEnd(s + length, kTrimPush, true);
        }
        break;
    case kDragMove:
        if (item->getStart() != at) item->moveTo(at, push);
        break;
    default:
        break;
    }
    if (spansOf(track) == before) return false;
    if (m_hit.mode != kDragMove) m_host.refreshTrackList(track);
    m_changed = true;
    return true;
}

void TimelineDrag::buttonUp()
{
    if (!m_captured) {
        reset();
        return;
    }
    ZEFItem* item = m_hit.item;
    const int32_t mode = m_hit.mode;
    if (item) {
        m_project.previewShowComposition();
        if (mode == kDragMove) {
            const EditTime now = previewTime(m_project);
            if (now < item->getStart() || now > item->getEnd()) {
                EditTime half = item->duration();
                half.scale(0.5);
                m_project.previewSeek(item->getStart() + half);
            }
        }
        if (m_changed) {
            if (mode == kDragTrimStart) item->refreshThumbnail();
            m_host.refreshTrackList(item->track());
            m_project.selectItem(item, mode == kDragTransitionMove);
        }
    }
    if (mode == kDragKeyframe && m_changed && m_lastTime) {
        const int32_t track = m_hit.keyframeTrack;
        const EditTime at(*m_lastTime);
        // The final move replaces a keyframe standing at that very time (and announces the
        // track's new keyframes).
        m_project.moveKeyframe(track, m_hit.keyframeIndex, at, /*beforeEqual=*/false);
        m_project.previewSeek(at);
        if (sameKeyframes(m_project.device(track).keyframes(), m_keyframesBefore))
            m_changed = false;
        if (m_host.currentTrack() != track) m_host.setCurrentTrack(track);
    }
    if (!m_changed && m_recorded) m_project.undoHistory().discardNewest();
    reset();
}

void TimelineDrag::itemGone(const ZEFItem* item)
{
    if (!item) return;
    if (m_hit.item == item || (m_hit.item && m_project.nextItem(m_hit.item) == item &&
                               m_hit.mode >= kDragTransitionMove)) {
        // The deletion (an undo, a new project) has taken over what the gesture recorded.
        reset();
    }
}

// ---- keyframe commands

bool goToKeyframe(FProject& project, int32_t track, bool next)
{
    if (!FProject::validTrack(track)) return false;
    const EditTime now = previewTime(project);
    const std::optional<EditTime> to =
        next ? project.nextKeyframe(track, now) : project.previousKeyframe(track, now);
    if (!to) return false;
    project.previewSeek(*to);
    return true;
}

void toggleKeyframe(FProject& project, int32_t track)
{
    if (!FProject::validTrack(track)) return;
    const EditTime now = previewTime(project);
    project.undoHistory().recordUndo(track, "Insert/Remove keyframe");
    if (project.hasKeyframeAt(track, now))
        project.deleteKeyframeAt(track, now);
    else
        project.insertKeyframe(track, now, project.matrixAt(track, now), false);
}

} // namespace zef::ui
