#include "ui/timeline/timeline_ruler.h"

#include "model/edit_time.h"

#include <algorithm>
#include <cmath>

namespace zef::ui {

namespace {

constexpr int64_t kLastTableInterval = 36000;
constexpr int32_t kMinimumTickPixels = 4;

} // namespace

RulerInterval rulerInterval(int64_t wanted, int32_t fps)
{
    fps = std::max(1, fps);
    const double f = fps;
    const int64_t frame = std::max<int64_t>(1, 600 / fps);
    const struct {
        int64_t ticks;
        double medium, major;
    } table[] = {
        {frame, 5, f},
        {std::max<int64_t>(1, 1200 / fps), 5, f * 0.5},
        {std::max<int64_t>(1, 3000 / fps), f * 0.2, f},
        {std::max<int64_t>(1, 6000 / fps), f * 0.1, f * 0.5},
        {600, 5, 10},
        {1200, 5, 15},
        {3000, 6, 12},
        {6000, 6, 12},
        {12000, 3, 15},
        {kLastTableInterval, 5, 10},
    };
    for (const auto& row : table)
        if (wanted <= row.ticks) return {row.ticks, row.medium, row.major};
    const int64_t multiple = (wanted + kLastTableInterval - 1) / kLastTableInterval;
    return {multiple * kLastTableInterval, 5, 10};
}

std::vector<RulerMark> rulerMarks(const TimelineGeometry& g, int32_t fps, int32_t labelWidth)
{
    std::vector<RulerMark> marks;
    const double ppt = g.pixelsPerTick();
    if (ppt <= 0) return marks;
    const int64_t spacing =
        rulerInterval(int64_t(std::floor(labelWidth * 1.5 / ppt + 0.5)), fps).ticks;
    const RulerInterval iv =
        rulerInterval(int64_t(std::floor(kMinimumTickPixels / ppt + 0.5)), fps);
    const double m = iv.medium > 0 ? iv.medium : 1, big = iv.major > 0 ? iv.major : 1;

    const TimelineView& v = g.view();
    int64_t k = v.start >= 0 ? (v.start + iv.ticks - 1) / iv.ticks : -((-v.start) / iv.ticks);
    const int64_t last = v.end >= 0 ? v.end / iv.ticks : -((-v.end + iv.ticks - 1) / iv.ticks);
    if (last < k) return marks;
    marks.reserve(size_t(last - k + 1));

    double medium = std::fmod(double(k), m);
    double major = std::fmod(double(k), big);
    if (medium == 0) medium = m;
    if (major == 0) major = big;
    bool labelled = false;
    int64_t lastLabel = 0;
    for (; k <= last; ++k) {
        RulerMark mark;
        mark.time = k * iv.ticks;
        mark.x = g.rulerX(mark.time);
        bool candidate = false;
        if (medium >= m) {
            medium -= m;
            candidate = true;
        }
        if (major >= big) {
            major -= big;
            mark.height = 7;
        } else if (medium == 0) {
            mark.height = 5;
        }
        if (major == 0) mark.height = 7;
        if (candidate && (!labelled || mark.time - lastLabel >= spacing)) {
            mark.label = true;
            labelled = true;
            lastLabel = mark.time;
        }
        medium += 1;
        major += 1;
        marks.push_back(mark);
    }
    return marks;
}

std::string rulerLabel(int64_t time, bool timecode)
{
    const EditTime t = EditTime::raw(time);
    return timecode ? t.format() : std::to_string(t.toFrames());
}

RenderBar renderBar(const TimelineGeometry& g, int64_t renderStart, int64_t renderEnd)
{
    const TimelineView& v = g.view();
    RenderBar bar;
    if (renderEnd < v.start || renderStart > v.end || renderEnd < renderStart) return bar;
    bar.left = g.rulerX(std::clamp(renderStart, v.start, v.end));
    bar.right = g.rulerX(std::clamp(renderEnd, v.start, v.end));
    bar.visible = true;
    return bar;
}

} // namespace zef::ui
