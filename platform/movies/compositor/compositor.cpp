// Evaluating a movie's picture: which tracks draw, their modifiers, and drawing each kind of
// sample.
#include "platform/movies/compositor/compositor.h"

#include "platform/movies/big_endian.h"
#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/composite/warp.h"
#include "platform/movies/compositor/compositor_impl.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/input_map.h"
#include "platform/movies/text/text_sample.h"
#include "platform/movies/tween_sample.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace zef::movies {

namespace {

constexpr int kMaxSourceDepth = 8; // effects over effects; stops cycles of input maps
constexpr uint32_t kOpaqueBlack = 0xFF000000u;
// Largest picture a track may need in scratch memory (256 MiB of pixels).
constexpr int64_t kMaxScratchPixels = int64_t(1) << 26;

bool isCopyMode(int32_t mode)
{
    return mode == GraphicsMode::kNone || mode == GraphicsMode::kSrcCopy ||
           mode == GraphicsMode::kDitherCopy;
}

uint32_t packColour(const RGBColor& c)
{
    return (uint32_t(c.red >> 8) << 16) | (uint32_t(c.green >> 8) << 8) | uint32_t(c.blue >> 8);
}

int32_t fixedToPixels(Fixed v) { return int32_t((int64_t(v) + 0x8000) >> 16); }

// What one track draws at one time, and how it is placed.
struct Plan {
    const Track* track = nullptr;
    TrackPosition pos;
    SampleKind kind = SampleKind::FileVideo;
    const Sample* sample = nullptr;
    ImageDescription desc;
    int32_t width = 0; // the track's size in pixels
    int32_t height = 0;
    MatrixRecord transform;     // track coordinates → canvas pixels
    std::optional<Region> clip; // canvas pixels; none = the whole canvas
    int32_t mode = GraphicsMode::kSrcCopy;
    uint32_t opColour = 0x808080;
    std::shared_ptr<const RawPicture> raw;
    bool opaqueCover = false; // draws every canvas pixel opaquely
    // The matrix modifier tracks that place this track's picture: its own and those of the
    // effects it is a source of, which it leaves to them.
    std::vector<const Track*> placedBy;
};

// The corners of the track rectangle through a scale-and-translate transform.
bool mappedRect(const Plan& p, double& x0, double& y0, double& x1, double& y1)
{
    if (!p.transform.isScaleTranslate()) return false;
    x0 = 0;
    y0 = 0;
    x1 = p.width;
    y1 = p.height;
    if (!p.transform.transformPoint(x0, y0) || !p.transform.transformPoint(x1, y1)) return false;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    return true;
}

// Whether the track rectangle maps exactly onto the canvas with nothing cut away.
bool mapsOntoCanvas(const Plan& p, const Pixmap& canvas)
{
    double x0, y0, x1, y1;
    if (p.clip || !mappedRect(p, x0, y0, x1, y1)) return false;
    constexpr double e = 1e-6;
    return std::abs(x0) < e && std::abs(y0) < e && std::abs(x1 - canvas.width()) < e &&
           std::abs(y1 - canvas.height()) < e;
}

bool coversCanvas(const Plan& p, const Rect& canvas)
{
    double x0, y0, x1, y1;
    if (!mappedRect(p, x0, y0, x1, y1)) return false;
    if (x0 > canvas.left || y0 > canvas.top || x1 < canvas.right || y1 < canvas.bottom)
        return false;
    return !p.clip || p.clip->contains(canvas);
}

// The tween sample of a modifier track at t and the position inside it (0..1).
bool tweenAt(const Track& modifier, TimeValue t, std::vector<uint8_t>& scratch, TweenValue& out,
             double& fraction)
{
    TrackPosition pos;
    if (!modifier.lookup(t, pos) || !pos.media || pos.media->type() != TweenMediaType) return false;
    if (pos.media->getSampleData(pos.sampleIndex, scratch) != noErr) return false;
    auto value = readTweenSample(scratch);
    if (!value) return false;
    out = *value;
    fraction =
        pos.sampleDuration > 0
            ? std::clamp(double(pos.mediaTime - pos.sampleStart) / pos.sampleDuration, 0.0, 1.0)
            : 0.0;
    return true;
}

// A region of track coordinates in canvas pixels.
Region mapRegion(const Region& r, const MatrixRecord& m)
{
    Region out;
    for (const Rect& rect : r.rects())
        out = out.united(Region(m.transformRect(rect)));
    return out;
}

std::optional<Region> intersectClips(const std::optional<Region>& a, const std::optional<Region>& b)
{
    if (!a) return b;
    if (!b) return a;
    return a->intersected(*b);
}

class Evaluator {
public:
    Evaluator(EvaluationContext::Impl& ctx, const Movie& movie, TimeValue t)
        : m_ctx(ctx), m_movie(movie), m_time(t)
    {
    }

    // Works out what the track draws into a canvas of canvasRect; false when nothing.
    // placedOutside: the matrix modifiers that effects fed by this track apply to its picture
    // already.
    bool prepare(const Track& track, const MatrixRecord& parent,
                 const std::optional<Region>& parentClip, const Rect& canvasRect, Plan& p,
                 const std::vector<const Track*>& placedOutside = {});
    // Draws a prepared track onto the canvas; false when its sample could not be drawn.
    bool draw(const Plan& p, Pixmap& canvas, int depth);

private:
    bool drawFileVideo(const Plan& p, Pixmap& canvas);
    bool drawRaw(const Plan& p, Pixmap& canvas);
    bool drawEffect(const Plan& p, Pixmap& canvas, int depth);
    bool drawText(const Plan& p, Pixmap& canvas);
    bool drawCodec(const Plan& p, Pixmap& canvas);
    // Draws picture (standing for the part of the track rectangle given, by default all of it)
    // through the plan's placement.
    bool place(const Pixmap& picture, const Plan& p, Pixmap& canvas, int32_t mode,
               std::optional<Rect> part = std::nullopt);
    // Draws a source track of the effect planned by effect, with its own modifiers, into a
    // picture of the effect's size.
    void drawSource(const Track* source, const Plan& effect, Pixmap& picture, int depth);

    EvaluationContext::Impl& m_ctx;
    const Movie& m_movie;
    TimeValue m_time;
    std::vector<uint8_t> m_scratch;
};

bool Evaluator::prepare(const Track& track, const MatrixRecord& parent,
                        const std::optional<Region>& parentClip, const Rect& canvasRect, Plan& p,
                        const std::vector<const Track*>& placedOutside)
{
    p = Plan();
    p.track = &track;
    if (!track.lookup(m_time, p.pos) || !p.pos.media || p.pos.sampleIndex < 0) return false;
    const Media& media = *p.pos.media;
    p.sample = media.sample(p.pos.sampleIndex);
    if (!p.sample) return false;
    p.width = fixedToPixels(track.width());
    p.height = fixedToPixels(track.height());

    if (media.type() == TextMediaType) {
        p.kind = SampleKind::Text;
    } else if (media.type() == VideoMediaType) {
        if (p.sample->data.kind == SampleData::Kind::FileStream) {
            p.kind = SampleKind::FileVideo;
        } else {
            auto desc = media.imageDescription(p.sample->descriptionIndex);
            if (!desc) return false;
            p.desc = std::move(*desc);
            if (p.desc.cType == fourcc("raw "))
                p.kind = SampleKind::Raw;
            else if (m_ctx.effects->find(p.desc.cType))
                p.kind = SampleKind::Effect;
            else
                p.kind = SampleKind::Codec;
        }
        if (p.width <= 0 || p.height <= 0) {
            // A track without a size shows its pictures at their own size.
            if (p.kind == SampleKind::FileVideo && p.sample->data.file) {
                for (const TrackInfo& info : p.sample->data.file->tracks()) {
                    if (info.streamIndex == p.sample->data.stream) {
                        p.width = info.width;
                        p.height = info.height;
                    }
                }
            } else {
                p.width = p.desc.width;
                p.height = p.desc.height;
            }
        }
    } else {
        return false;
    }
    if (p.width <= 0 || p.height <= 0 || int64_t(p.width) * p.height > kMaxScratchPixels)
        return false;
    if (p.kind == SampleKind::Codec && int64_t(p.desc.width) * p.desc.height > kMaxScratchPixels)
        return false;

    // Modifiers: matrix and clip tweens named by the track's input map. A matrix modifier
    // that an effect fed by this track applies too is one placement of the picture, made by
    // that effect: a picture that passes through effects sharing its motion (a clip's
    // filters, a transition) is placed once.
    p.transform = track.matrix();
    p.placedBy = placedOutside;
    std::optional<Region> trackClip = track.clipRegion();
    if (const auto& own = track.media(); own && own->hasInputMap()) {
        std::vector<InputMapEntry> entries;
        readInputMap(own->inputMap(), entries);
        for (const InputMapEntry& e : entries) {
            if (e.inputType != kTrackModifierTypeMatrix && e.inputType != kTrackModifierTypeClip)
                continue;
            const Track* modifier = inputTrack(track, e);
            if (e.inputType == kTrackModifierTypeMatrix && modifier) {
                if (std::find(placedOutside.begin(), placedOutside.end(), modifier) !=
                    placedOutside.end())
                    continue;
                p.placedBy.push_back(modifier);
            }
            TweenValue tween;
            double fraction = 0;
            if (!modifier || !tweenAt(*modifier, m_time, m_scratch, tween, fraction)) continue;
            if (e.inputType == kTrackModifierTypeMatrix && tween.type == kTweenTypeMatrix) {
                p.transform.concat(interpolateMatrix(tween.matrixStart, tween.matrixEnd, fraction));
            } else if (e.inputType == kTrackModifierTypeClip && tween.crop) {
                trackClip = intersectClips(trackClip, Region(*tween.crop));
            }
        }
    }
    p.transform.concat(parent);
    if (trackClip) p.clip = mapRegion(*trackClip, p.transform);
    p.clip = intersectClips(p.clip, parentClip);
    if (p.clip && p.clip->contains(canvasRect)) p.clip.reset();

    if (const auto& own = track.media()) {
        p.mode = own->graphicsMode();
        p.opColour = packColour(own->opColor());
    }
    if (!isSupportedGraphicsMode(p.mode)) p.mode = GraphicsMode::kSrcCopy;

    // Decoded video is opaque unless its stream carries alpha (stills such as PNG may).
    bool opaque = false;
    if (p.kind == SampleKind::FileVideo && p.sample->data.file) {
        opaque = true;
        for (const TrackInfo& info : p.sample->data.file->tracks()) {
            if (info.streamIndex == p.sample->data.stream && info.imageDescription.depth == 32)
                opaque = false;
        }
    }
    if (p.kind == SampleKind::Raw) {
        p.raw = m_ctx.rawPicture(media, p.pos.sampleIndex, p.desc);
        if (!p.raw) return false;
        opaque = p.raw->opaque;
    }
    p.opaqueCover = opaque && isCopyMode(p.mode) && coversCanvas(p, canvasRect);
    return true;
}

bool Evaluator::place(const Pixmap& picture, const Plan& p, Pixmap& canvas, int32_t mode,
                      std::optional<Rect> part)
{
    MatrixRecord m =
        MatrixRecord::mapRect(picture.bounds(), part.value_or(Rect{0, 0, p.width, p.height}));
    m.concat(p.transform);
    std::optional<ClipRegion> clip;
    if (p.clip) clip.emplace(*p.clip);
    return drawWarped(picture, canvas, m, mode, p.opColour, clip ? &*clip : nullptr) ==
           PixelStatus::Ok;
}

bool Evaluator::draw(const Plan& p, Pixmap& canvas, int depth)
{
    switch (p.kind) {
    case SampleKind::FileVideo:
        return drawFileVideo(p, canvas);
    case SampleKind::Raw:
        return drawRaw(p, canvas);
    case SampleKind::Effect:
        return drawEffect(p, canvas, depth);
    case SampleKind::Text:
        return drawText(p, canvas);
    case SampleKind::Codec:
        return drawCodec(p, canvas);
    }
    return false;
}

bool Evaluator::drawFileVideo(const Plan& p, Pixmap& canvas)
{
    const SampleData& d = p.sample->data;
    VideoDecoder* dec = m_ctx.decoder(d.file, d.stream);
    if (!dec) return false;
    const int64_t fileTime = d.fileTime + (p.pos.mediaTime - p.pos.sampleStart);
    auto drawInto = [&](Pixmap& dst) {
        return m_ctx.approximate ? dec->drawNear(fileTime, dst) : dec->drawAt(fileTime, dst);
    };
    if (isCopyMode(p.mode) && mapsOntoCanvas(p, canvas)) return drawInto(canvas);

    // Shrunk pictures are converted at about their shown size, which costs less than
    // converting the whole frame and shrinking it afterwards.
    int32_t w = p.width, h = p.height;
    double x0, y0, x1, y1;
    if (mappedRect(p, x0, y0, x1, y1)) {
        const int32_t sw = std::max(1, int32_t(std::ceil(x1 - x0)));
        const int32_t sh = std::max(1, int32_t(std::ceil(y1 - y0)));
        if (sw < w && sh < h) {
            w = sw;
            h = sh;
        }
    }
    ScratchPixmap picture(m_ctx, w, h);
    if (!drawInto(*picture)) return false;
    return place(*picture, p, canvas, p.mode);
}

bool Evaluator::drawRaw(const Plan& p, Pixmap& canvas)
{
    const Pixmap& pixels = p.raw->pixels;
    double x0, y0, x1, y1;
    if (pixels.width() == 1 && pixels.height() == 1 && isCopyMode(p.mode) &&
        mappedRect(p, x0, y0, x1, y1)) {
        // One pixel stretched over a rectangle: the pixels whose centres fall inside it.
        const Rect r{int32_t(std::ceil(x0 - 0.5)), int32_t(std::ceil(y0 - 0.5)),
                     int32_t(std::ceil(x1 - 0.5)), int32_t(std::ceil(y1 - 0.5))};
        const uint32_t value = pixels.pixel(0, 0);
        if (!p.clip) {
            canvas.fill(r, value);
        } else {
            const Region cut = p.clip->intersected(r);
            for (const Rect& c : cut.rects())
                canvas.fill(c, value);
        }
        return true;
    }
    return place(pixels, p, canvas, p.mode);
}

void Evaluator::drawSource(const Track* source, const Plan& effect, Pixmap& picture, int depth)
{
    Plan sp;
    if (!source || depth > kMaxSourceDepth ||
        !prepare(*source, MatrixRecord::identity(), std::nullopt, picture.bounds(), sp,
                 effect.placedBy)) {
        picture.fill(0);
        return;
    }
    if (!sp.opaqueCover) picture.fill(0);
    if (!draw(sp, picture, depth)) {
        ++m_ctx.stats.failedTracks;
        if (sp.opaqueCover) picture.fill(0); // nothing of the earlier picture may show
    }
}

bool Evaluator::drawEffect(const Plan& p, Pixmap& canvas, int depth)
{
    if (p.pos.media->getSampleData(p.pos.sampleIndex, m_scratch) != noErr) return false;
    AtomContainer description;
    EffectDescriptionInfo info;
    if (AtomContainer::parse(m_scratch, description) != noErr ||
        readEffectDescription(description, info) != noErr)
        return false;
    const EffectDescriptor* effect = m_ctx.effects->find(info.effectType);
    if (!effect) return false;
    std::optional<ParameterSet> params = decodeParameters(*effect, info.parameters);
    if (!params) params = ParameterSet::defaults(*effect);

    // The sources named by the description, found in the effect track's input map.
    std::vector<InputMapEntry> entries;
    if (const auto& own = p.track->media()) readInputMap(own->inputMap(), entries);
    const Track* sources[2] = {nullptr, nullptr};
    for (int32_t i = 0; i < effect->sources; ++i) {
        const FourCC name = size_t(i) < info.sources.size() ? info.sources[size_t(i)]
                            : i == 0                        ? kSourceA
                                                            : kSourceB;
        for (const InputMapEntry& e : entries) {
            if (e.inputType == kTrackModifierTypeImage && e.sourceName == name)
                sources[i] = inputTrack(*p.track, e);
        }
    }

    const bool direct = isCopyMode(p.mode) && !p.clip && p.transform.isIdentity() &&
                        p.width == canvas.width() && p.height == canvas.height();
    std::optional<ScratchPixmap> own;
    if (!direct) own.emplace(m_ctx, p.width, p.height);
    Pixmap& target = direct ? canvas : **own;

    std::optional<ScratchPixmap> a, b;
    if (effect->sources >= 1) {
        a.emplace(m_ctx, p.width, p.height);
        drawSource(sources[0], p, **a, depth + 1);
    }
    if (effect->sources >= 2) {
        b.emplace(m_ctx, p.width, p.height);
        drawSource(sources[1], p, **b, depth + 1);
    }
    EffectFrame frame;
    frame.progress = p.pos.sampleDuration > 0
                         ? double(p.pos.mediaTime - p.pos.sampleStart) / p.pos.sampleDuration
                         : 0.0;
    frame.time = m_time;
    frame.timeScale = m_movie.timeScale();
    frame.srcA = a ? &**a : nullptr;
    frame.srcB = b ? &**b : nullptr;
    frame.dst = &target;
    if (renderEffect(*effect, *params, frame) != PixelStatus::Ok) return false;
    return direct || place(target, p, canvas, p.mode);
}

bool Evaluator::drawText(const Plan& p, Pixmap& canvas)
{
    if (p.pos.media->getSampleData(p.pos.sampleIndex, m_scratch) != noErr) return false;
    std::optional<TextSample> sample = decodeTextSample(m_scratch);
    if (!sample) return false;
    const Media& own = p.track->media() ? *p.track->media() : *p.pos.media;
    if (const auto* offset = own.textProperty(kTextDropShadowOffsetAtom);
        offset && offset->size() == 4) {
        sample->dropShadowOffsetX = int16_t(getBE16(offset->data()));
        sample->dropShadowOffsetY = int16_t(getBE16(offset->data() + 2));
    }
    if (const auto* tr = own.textProperty(kTextDropShadowTransparencyAtom)) {
        uint32_t v = tr->size() == 2   ? getBE16(tr->data())
                     : tr->size() == 4 ? getBE32(tr->data())
                                       : 256;
        if (v <= 255) sample->dropShadowTransparency = uint16_t(v);
    }
    const double progress = p.pos.sampleDuration > 0
                                ? double(p.pos.mediaTime - p.pos.sampleStart) / p.pos.sampleDuration
                                : 0.0;
    auto layer = m_ctx.textRenderer().renderLayer(*sample, progress, p.width, p.height,
                                                  p.pos.sampleDuration);
    if (!layer || layer->pixels.isEmpty()) return true;
    // Text is keyed: only the glyphs (and their shadow) cover what lies below.
    const int32_t mode = isCopyMode(p.mode) ? GraphicsMode::kStraightAlpha : p.mode;
    if (mode == GraphicsMode::kStraightAlpha && !p.clip && p.transform.isIdentity()) {
        compositeLayer(*layer, canvas);
        return true;
    }
    // Only the part of the box the glyphs cover is drawn and placed, with a transparent margin
    // wide enough for the resampling filter's reach: what lies further out is transparent and
    // changes nothing, and a title shrunk into a preview would otherwise filter the whole box.
    const Rect box{0, 0, p.width, p.height};
    Rect covered =
        intersect(Rect{layer->origin.x, layer->origin.y, layer->origin.x + layer->pixels.width(),
                       layer->origin.y + layer->pixels.height()},
                  box);
    if (covered.isEmpty()) return true;
    const MatrixRecord& t = p.transform;
    const double sx = std::hypot(t.m[0][0], t.m[0][1]) / 65536.0;
    const double sy = std::hypot(t.m[1][0], t.m[1][1]) / 65536.0;
    const double reach = 2.0 / std::max(1.0 / 64, std::min({sx, sy, 1.0}));
    const int32_t margin = int32_t(std::ceil(reach)) + 2;
    covered = intersect(Rect{covered.left - margin, covered.top - margin, covered.right + margin,
                             covered.bottom + margin},
                        box);
    ScratchPixmap picture(m_ctx, covered.width(), covered.height());
    picture->fill(0);
    compositeLayer(*layer, *picture, Point{covered.left, covered.top});
    return place(*picture, p, canvas, mode, covered);
}

bool Evaluator::drawCodec(const Plan& p, Pixmap& canvas)
{
    if (p.desc.width <= 0 || p.desc.height <= 0) return false;
    if (p.pos.media->getSampleData(p.pos.sampleIndex, m_scratch) != noErr) return false;
    ScratchPixmap picture(m_ctx, p.desc.width, p.desc.height);
    picture->fill(0);
    const Handle description = p.pos.media->sampleDescription(p.sample->descriptionIndex);
    if (!decompressSample(m_ctx, p.desc, {description.data(), description.size()}, m_scratch,
                          int32_t(p.pos.sampleIndex), *picture))
        return false;
    return place(*picture, p, canvas, p.mode);
}

} // namespace

namespace {

OSErr evaluateMovie(EvaluationContext::Impl& ctx, const Movie& movie, TimeValue time, Pixmap& out)
{
    ctx.stats.drawnTracks = ctx.stats.skippedHidden = ctx.stats.failedTracks = 0;

    const Rect box = movie.box();
    if (box.isEmpty()) {
        out.resize(0, 0);
        return noErr;
    }
    if (out.width() != box.width() || out.height() != box.height())
        out.resize(box.width(), box.height());
    const Rect canvasRect = out.bounds();

    MatrixRecord toCanvas = movie.matrix();
    toCanvas.concat(MatrixRecord::translation(Fixed(-box.left) << 16, Fixed(-box.top) << 16));
    std::optional<Region> clip;
    if (movie.clipRegion()) clip = mapRegion(*movie.clipRegion(), toCanvas);
    if (movie.displayClipRegion()) {
        Region display = *movie.displayClipRegion();
        display.offset(-box.left, -box.top);
        clip = intersectClips(clip, display);
    }

    // Tracks that only show through an effect: image sources of enabled effect tracks.
    const std::vector<Track*> ordered = movie.enabledTracksByLayer();
    std::set<const Track*> sources;
    for (const Track* t : ordered) {
        if (!t->media() || !t->media()->hasInputMap()) continue;
        std::vector<InputMapEntry> entries;
        readInputMap(t->media()->inputMap(), entries);
        for (const InputMapEntry& e : entries) {
            if (e.inputType == kTrackModifierTypeImage) {
                if (const Track* s = inputTrack(*t, e)) sources.insert(s);
            }
        }
    }

    auto drawsItself = [&](const Track* t) {
        const auto& media = t->media();
        return media && (media->type() == VideoMediaType || media->type() == TextMediaType) &&
               !sources.count(t);
    };
    Evaluator evaluator(ctx, movie, time);
    std::vector<Plan> plans;
    plans.reserve(ordered.size());
    bool covered = false;
    for (size_t i = 0; i < ordered.size() && !covered; ++i) {
        if (!drawsItself(ordered[i])) continue;
        Plan p;
        if (!evaluator.prepare(*ordered[i], toCanvas, clip, canvasRect, p)) continue;
        covered = p.opaqueCover;
        plans.push_back(std::move(p));
        if (covered) {
            // Everything behind is hidden.
            for (size_t k = i + 1; k < ordered.size(); ++k)
                if (drawsItself(ordered[k])) ++ctx.stats.skippedHidden;
        }
    }
    if (!covered) out.fill(kOpaqueBlack);
    for (auto it = plans.rbegin(); it != plans.rend(); ++it) {
        if (evaluator.draw(*it, out, 0)) {
            ++ctx.stats.drawnTracks;
        } else {
            ++ctx.stats.failedTracks;
            if (it->opaqueCover) out.fill(kOpaqueBlack); // the background was not drawn
        }
    }
    return noErr;
}

} // namespace

OSErr evaluate(EvaluationContext& context, const Movie& movie, TimeValue time, Pixmap& out)
{
    if (time < 0) return paramErr;
    EvaluationContext::Impl& ctx = *context.m_impl;
    ++ctx.evaluations;
    try {
        const OSErr err = evaluateMovie(ctx, movie, time, out);
        ctx.releaseIdleDecoders();
        return err;
    } catch (const std::bad_alloc&) {
        ctx.releaseIdleDecoders();
        return memFullErr;
    }
}

} // namespace zef::movies
