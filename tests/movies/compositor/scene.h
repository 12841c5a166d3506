// Small synthetic movies for the compositor tests: tracks of uncompressed pixels, effect tracks
// wired through input maps, tween tracks.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/movie.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <vector>

namespace zef::movies::testing {

// A movie of width × height whose black background track (a 1×1 'raw ' sample, layer 998)
// lasts `duration` ticks.
struct Scene {
    Scene(int32_t width, int32_t height, TimeValue duration = 1200);

    // A video track of the movie's size at layer showing a width × height 'raw ' sample of one
    // colour (0xAARRGGBB) from `start` for `duration`; placed by its matrix at `at`, scaled to
    // the given track size (0 = the sample's size).
    Track* solid(uint32_t colour, int16_t layer, Rect place = {}, TimeValue start = 0,
                 TimeValue duration = 1200);
    // A video track showing one 'raw ' picture (any pixels) over the whole movie.
    Track* picture(const Pixmap& pixels, int16_t layer, TimeValue start = 0,
                   TimeValue duration = 1200);
    // An effect track at layer whose one sample (description as given) lasts [start, start +
    // duration); sources are wired as srcA, srcB.
    Track* effect(const AtomContainer& description, OSType type, std::vector<Track*> sources,
                  int16_t layer = 0, TimeValue start = 0, TimeValue duration = 1200);
    // A tween track with one sample (a flattened tween atom container) from start to
    // start + duration, attached to `to` as a modifier of the given type.
    Track* tween(const AtomContainer& sample, Track* to, uint32_t modifierType, TimeValue start,
                 TimeValue duration);

    Pixmap evaluateAt(TimeValue t);

    Movie movie;
    int32_t width, height;
    Track* background = nullptr;
    EvaluationContext context;
};

// A 'raw ' sample of the picture: alpha, red, green, blue bytes per pixel.
std::vector<uint8_t> rawBytes(const Pixmap& p);

// Channels of a and b differ by at most tolerance.
bool near(uint32_t a, uint32_t b, int tolerance = 1);
// The pixel mix a·(1 − w) + b·w per channel (alpha from a).
uint32_t mix(uint32_t a, uint32_t b, double w);

} // namespace zef::movies::testing
