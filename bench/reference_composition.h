// The reference composition of the benchmarks, built with toolbox calls the way the composition
// builder lays out a timeline (zefbench.cpp describes it). The sources are made once with the
// ffmpeg program into bench-media/ next to the bench folder of the build tree.
#pragma once

#include "platform/movies/movie.h"

#include <memory>
#include <string>
#include <vector>

namespace zefbench {

using namespace zef::movies;

// Prints "zefbench: <what>" and ends the program.
[[noreturn]] void fail(const std::string& what);
// fail() unless err is noErr.
void check(OSErr err, const char* what);

struct Source {
    std::unique_ptr<Movie> movie;
    Track* video = nullptr;
    Track* sound = nullptr;
};

struct Composition {
    std::unique_ptr<Movie> movie;
    std::vector<Source> sources; // kept open: the movie refers to their media
};

// The 22-second composition at width × height.
Composition buildReference(int width, int height);

} // namespace zefbench
