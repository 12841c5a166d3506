// The reference composition of the benchmarks and of the export tests, built with toolbox calls
// the way the composition builder lays out a timeline. 22 s at 30 fps:
//   layer A: clip a 0–12 s, clip b 10–22 s, a 2-second Cross Fade between them (effect track
//            with srcA/srcB; head and tail segments copied into the effect track);
//   layer B: clip c 2–8 s at half size moving from the top-left to the bottom-right corner
//            (matrix tween track attached as a modifier);
//   title:   "Hello World", white, 48 points, centred, 1–5 s (text track, layer -20);
//   sound:   both clips' sound with fade tweens (volume modifiers) that cross-fade them;
//   base:    the black background (1×1 'raw ' sample, layer 998) and the placeholder text
//            track (layer 1000), both lasting ten hours.
// The source clips (H.264, a key frame every 250 frames, 30 fps, at the composition's size,
// with 48 kHz stereo AAC tones) are made once with the ffmpeg program into a media folder the
// caller names, so a build tree makes them once.
#pragma once

#include "platform/movies/movie.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zef::movies::reference {

// A source clip could not be made or opened, or a toolbox call failed while building.
class BuildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Source {
    std::unique_ptr<Movie> movie;
    Track* video = nullptr;
    Track* sound = nullptr;
};

struct Composition {
    std::unique_ptr<Movie> movie;
    std::vector<Source> sources; // kept open: the movie refers to their media
};

constexpr TimeValue kDuration = 22 * 600; // the composition's length (movie time scale 600)

// The 22-second composition at width × height (positive, even). Throws BuildError.
Composition build(int width, int height, const std::string& mediaDir);

// Cuts the composition's movie down to [start, start + duration) (movie time), as a render
// limits its movie to the render range: what lay at start is shown at time 0. Throws BuildError.
void cut(Movie& movie, TimeValue start, TimeValue duration);

} // namespace zef::movies::reference
