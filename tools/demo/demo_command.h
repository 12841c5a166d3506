// The command line of the demo maker:
//   zefdemo [--size WxH] [--media DIR] [--reference] [--dv-tape PAL|NTSC [--dv-sink PATH]]
//           OUT.zef
#pragma once

#include "tools/demo/demo_project.h"

#include <string>
#include <vector>

namespace zef::demo {

struct DemoCommand {
    DemoOptions options;
    std::string mediaDir; // given sources; empty: make them
    std::string output;   // the project file
};

constexpr const char* kDemoUsage =
    "usage: zefdemo [--size WxH] [--media DIR] [--reference] [--dv-tape PAL|NTSC "
    "[--dv-sink PATH]] OUT.zef";

// Parses the arguments after the program name. False with *error set for a bad command: an
// unknown option, a missing value, a size that is not WxH with both even and in 16 .. 4096
// (H.264 needs even sizes), no output or more than one, an output not ending in ".zef", a DV
// tape other than PAL or NTSC, an empty sink or a sink without --dv-tape.
bool parseDemoCommand(const std::vector<std::string>& args, DemoCommand& out, std::string* error);

// "640x480" → 640, 480; false for anything else (signs, spaces, trailing text, overflow).
bool parseSize(const std::string& text, int32_t& width, int32_t& height);

} // namespace zef::demo
