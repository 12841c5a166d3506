// The timeline's ruler, without widgets: the tick interval and mark counts chosen from the
// interval table, the marks with their heights and labels, and the render-range bar.
#pragma once

#include "ui/timeline/timeline_geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef::ui {

// A row of the interval table: ticks between marks, marks per medium mark (m) and per major
// mark (M). m and M are real numbers (2.5 at 25 fps).
struct RulerInterval {
    int64_t ticks = 0;
    double medium = 0;
    double major = 0;
};

// The first row of the table whose bound holds the wanted interval (ticks), at the whole
// frame rate fps. Beyond the table's last row (36,000 ticks) the interval grows in whole
// multiples of it with the last row's counts.
RulerInterval rulerInterval(int64_t wanted, int32_t fps);

struct RulerMark {
    int64_t time = 0;
    int32_t x = 0;      // the ruler's x of the time
    int32_t height = 3; // 3, 5 or 7 pixels
    bool label = false;
};

// The marks of the view: one at every multiple of the interval (at least 4 pixels apart) from
// view start to view end, with the medium and major counters deciding heights and label
// candidates; a candidate is labelled when it lies at least the label spacing (1.5 times
// labelWidth pixels, rounded up by the table) after the previous label.
std::vector<RulerMark> rulerMarks(const TimelineGeometry& g, int32_t fps, int32_t labelWidth);

// The text of a label: the timecode of the time, or with timecode off its frame number.
std::string rulerLabel(int64_t time, bool timecode);

// The render-range bar: from the ruler x of the range's start to that of its end, each
// clamped to the view; empty when the range lies outside the view.
struct RenderBar {
    int32_t left = 0;
    int32_t right = 0;
    bool visible = false;
};
RenderBar renderBar(const TimelineGeometry& g, int64_t renderStart, int64_t renderEnd);

} // namespace zef::ui
