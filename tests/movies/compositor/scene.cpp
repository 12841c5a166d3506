#include "scene.h"

#include "platform/movies/input_map.h"
#include "platform/movies/tween_sample.h"

#include <cmath>
#include <cstdlib>

namespace zef::movies::testing {

namespace {

Handle rawDescription(int32_t w, int32_t h)
{
    ImageDescription d;
    d.cType = fourcc("raw ");
    d.width = int16_t(w);
    d.height = int16_t(h);
    d.depth = 32;
    d.dataSize = w * h * 4;
    return d.toHandle();
}

Track* rawTrack(Movie& movie, const Pixmap& pixels, int16_t layer, Fixed w, Fixed h,
                TimeValue start, TimeValue duration)
{
    Track* t = movie.newTrack(w, h, 0);
    movie.newTrackMedia(t, VideoMediaType, 600);
    t->setLayer(layer);
    const auto bytes = rawBytes(pixels);
    t->media()->addSample(bytes, duration, 1, rawDescription(pixels.width(), pixels.height()));
    t->insertMedia(start, 0, duration);
    return t;
}

} // namespace

std::vector<uint8_t> rawBytes(const Pixmap& p)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < p.height(); ++y) {
        for (int32_t x = 0; x < p.width(); ++x) {
            const uint32_t v = p.pixel(x, y);
            out.insert(out.end(), {alphaOf(v), redOf(v), greenOf(v), blueOf(v)});
        }
    }
    return out;
}

Scene::Scene(int32_t w, int32_t h, TimeValue duration) : width(w), height(h)
{
    background = rawTrack(movie, Pixmap(1, 1, argb(255, 0, 0, 0)), 998, Fixed(w) << 16,
                          Fixed(h) << 16, 0, duration);
}

Track* Scene::solid(uint32_t colour, int16_t layer, Rect place, TimeValue start, TimeValue duration)
{
    if (place.isEmpty()) place = Rect{0, 0, width, height};
    Track* t = rawTrack(movie, Pixmap(place.width(), place.height(), colour), layer,
                        Fixed(place.width()) << 16, Fixed(place.height()) << 16, start, duration);
    t->setMatrix(MatrixRecord::translation(Fixed(place.left) << 16, Fixed(place.top) << 16));
    return t;
}

Track* Scene::picture(const Pixmap& pixels, int16_t layer, TimeValue start, TimeValue duration)
{
    return rawTrack(movie, pixels, layer, Fixed(width) << 16, Fixed(height) << 16, start, duration);
}

Track* Scene::effect(const AtomContainer& description, OSType type, std::vector<Track*> sources,
                     int16_t layer, TimeValue start, TimeValue duration)
{
    Track* t = movie.newTrack(Fixed(width) << 16, Fixed(height) << 16, 0);
    movie.newTrackMedia(t, VideoMediaType, 600);
    t->setLayer(layer);
    const Handle bytes = description.flatten();
    t->media()->addSample(
        std::span<const uint8_t>(bytes.data(), bytes.size()), duration, 1,
        makeImageDescriptionForEffect(type, int16_t(width), int16_t(height)).toHandle());
    t->insertMedia(start, 0, duration);
    const FourCC names[2] = {kSourceA, kSourceB};
    for (size_t k = 0; k < sources.size() && k < 2; ++k)
        addTrackInput(*t, *sources[k], kTrackModifierTypeImage, names[k]);
    return t;
}

Track* Scene::tween(const AtomContainer& sample, Track* to, uint32_t modifierType, TimeValue start,
                    TimeValue duration)
{
    Track* t = movie.newTrack(Fixed(width) << 16, Fixed(height) << 16, 0);
    movie.newTrackMedia(t, TweenMediaType, 600);
    const Handle bytes = sample.flatten();
    t->media()->addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), duration, 1,
                          tweenSampleDescription());
    t->insertMedia(start, 0, duration);
    addTrackInput(*to, *t, modifierType);
    return t;
}

Pixmap Scene::evaluateAt(TimeValue t)
{
    Pixmap out;
    if (evaluate(context, movie, t, out) != noErr) out = Pixmap();
    return out;
}

bool near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
    }
    return true;
}

uint32_t mix(uint32_t a, uint32_t b, double w)
{
    auto ch = [&](int s) {
        return uint8_t(std::lround(((a >> s) & 255) * (1 - w) + ((b >> s) & 255) * w));
    };
    return argb(alphaOf(a), ch(16), ch(8), ch(0));
}

} // namespace zef::movies::testing
