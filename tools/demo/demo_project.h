// The demo project: a 22-second composition that uses every kind of timeline item.
//
//   layer A  clip a 0–12 s, clip b 10–22 s, a 2-second "Cross Fade" between them;
//            clip b carries a "Colour Tint" filter (left out of the reference composition);
//   layer B  clip c 2–8 s at half size, moved by keyframes from the top-left corner (2 s) to
//            the bottom-right corner (8 s);
//   titles   "Hello World", white, centred, 1–5 s;
//   output   the composition size (640×480 by default), 30 fps, 'MooV' H.264 + AAC to
//            out/demo.mov, render range 0–22 s; or, printed to DV tape, 25 fps (PAL) or 30 fps
//            (NTSC) through the print-to-tape component 'Pelt', its DV stream into a sink.
//
// The reference composition is the one the benchmarks build with toolbox calls; with it the
// demo renders the same work, so that the editor's render and the benchmark's can be compared.
#pragma once

#include "model/edit_time.h"
#include "model/project.h"

#include <cstdint>
#include <string>

namespace zef::demo {

// Timeline times in ticks (600 per second).
constexpr int64_t kTicks = 600;
constexpr int64_t kClipAStart = 0, kClipAEnd = 12 * kTicks;
constexpr int64_t kClipBStart = 10 * kTicks, kClipBEnd = 22 * kTicks;
constexpr int64_t kClipCStart = 2 * kTicks, kClipCEnd = 8 * kTicks;
constexpr int64_t kTitleStart = 1 * kTicks, kTitleEnd = 5 * kTicks;
constexpr int64_t kRenderEnd = 22 * kTicks;
constexpr const char* kTitleText = "Hello World";
constexpr const char* kFilterName = "Colour Tint";
constexpr const char* kTransitionName = "Cross Fade";
constexpr const char* kOutputFile = "out/demo.mov";
constexpr const char* kTapeOutputFile = "demo.DV";

struct DemoOptions {
    int32_t width = 640;
    int32_t height = 480;
    bool reference = false; // leave out what the reference composition lacks (the filter)
    // "PAL" or "NTSC": print to DV tape through 'Pelt' (output "demo.DV", new DV files at every
    // print) with its raw DV stream written to dvSink (relative: from where the render runs).
    std::string dvTape;
    std::string dvSink = "tape.dv";
};

struct DemoSources {
    std::string a, b, c; // absolute paths
};

// The clips in a folder of given sources: for each of a, b and c the first that exists of
// "<n>_<height>.mp4", "<n>.mp4", "<n>.mov", then "<n>.<extension>" for the containers the
// media graph reads ("b.mkv"). Throws std::runtime_error naming what is missing.
DemoSources findGivenSources(const std::string& dir, int32_t height);
// Makes the clips at the composition size in dir, unless valid ones are there already.
DemoSources makeDemoSources(const std::string& dir, int32_t width, int32_t height);

// Fills the project (which must be empty and have an effect catalogue) with the demo
// composition. Throws ZEFException when a clip cannot be opened or an effect is not in the
// catalogue, std::invalid_argument for a size outside 16 .. 4096.
void buildDemoProject(FProject& project, const DemoSources& sources, const DemoOptions& options);

// Writes the project to path (which must end in ".zef", any case) through the project's own
// save, then opens the file again into a second project and checks that it holds the same
// items, keyframes, composition and render range. Throws std::runtime_error when the file
// cannot be written or does not read back the same.
void saveDemoProject(FProject& project, const std::string& path);

// What a project holds, as text: one line per item (track, kind, name, times, path or text,
// filters, transition) and per keyframe, then the composition and the render range. Two
// projects with the same summary hold the same composition.
std::string summarizeProject(const FProject& project);

} // namespace zef::demo
