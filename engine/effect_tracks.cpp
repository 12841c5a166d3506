#include "engine/effect_tracks.h"

#include "engine/item_tracks.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/audio_fade.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/input_map.h"
#include "platform/movies/tween_sample.h"

#include <algorithm>

namespace zef {

using namespace movies;

namespace {

constexpr OSType kGain = fourcc("gain");
constexpr OSType kDissolve = fourcc("dslv");
constexpr OSType kBuiltInManufacturer = fourcc("appl");
const char* const kReferenceFailed = "Cannot add track reference to input map";
const char* const kInputMapUnreadable = "Cannot create atom container for effect track";
const char* const kEffectFailed = "Cannot add effect to temporary file";

Handle descriptionBytes(const AtomContainer& c) { return c.flatten(); }

// Adds input to the input map of track, which must be readable.
void wireInput(Track& track, const Track& input, uint32_t inputType, FourCC sourceName = 0)
{
    std::vector<InputMapEntry> entries;
    if (!track.media() || readInputMap(track.media()->inputMap(), entries) != noErr)
        throw ZEFException(kInputMapUnreadable);
    if (addTrackInput(track, input, inputType, sourceName) != noErr)
        throw ZEFException(kReferenceFailed);
}

} // namespace

int16_t clipLayer(int32_t track)
{
    switch (track) {
    case 1:
        return -3;
    case 2:
        return -4;
    default:
        return 0;
    }
}

bool effectImplemented(const BuildContext& ctx, OSType type, OSType manufacturer)
{
    if (type == 0) return false;
    const EffectRegistry& registry = ctx.registry ? *ctx.registry : builtInEffects();
    if (registry.find(type, manufacturer) || registry.find(type)) return true;
    if (ctx.components) {
        ComponentDescription looking;
        looking.componentType = fourcc("imdc");
        looking.componentSubType = type;
        return ctx.components->findNextComponent(0, looking) != 0;
    }
    return false;
}

OSErr appendEffectSample(const BuildContext& ctx, Track& track, OSType type, OSType manufacturer,
                         const Handle& description, TimeValue trackStart, TimeValue duration)
{
    if (!effectImplemented(ctx, type, manufacturer)) return cantOpenHandler;
    if (description.isNull()) return paramErr;
    const std::shared_ptr<Media>& media = track.media();
    if (!media) return invalidMedia;
    ImageDescription desc =
        makeImageDescriptionForEffect(type, int16_t(ctx.width), int16_t(ctx.height));
    if (OSErr err = media->beginEdits(); err != noErr) return err;
    TimeValue sampleTime = 0;
    OSErr err =
        media->addSample(description.bytes(), duration, 1, desc.toHandle(), true, &sampleTime);
    OSErr endErr = media->endEdits();
    if (err == noErr) err = endErr;
    if (err == noErr) err = track.insertMedia(trackStart, sampleTime, duration, kFixed1);
    return err;
}

OSErr appendEffectSample(const BuildContext& ctx, Track& track, OSType type, OSType manufacturer,
                         int32_t sources, TimeValue trackStart, TimeValue duration)
{
    return appendEffectSample(ctx, track, type, manufacturer,
                              descriptionBytes(makeEffectDescription(type, sources)), trackStart,
                              duration);
}

void addImageInput(Track& effect, const Track& source, FourCC sourceName)
{
    wireInput(effect, source, kTrackModifierTypeImage, sourceName);
}

void attachModifier(Track& track, const Track& modifier, uint32_t modifierType)
{
    wireInput(track, modifier, modifierType);
}

MatrixRecord pixelMatrix(const MatrixRecord& m, int32_t width, int32_t height)
{
    MatrixRecord out = m;
    out.m[2][0] = Fixed((int64_t(m.m[2][0]) * width + 500) / 1000);
    out.m[2][1] = Fixed((int64_t(m.m[2][1]) * height + 500) / 1000);
    return out;
}

OSErr addMatrixTween(Media& media, const MatrixRecord& start,
                     const std::optional<MatrixRecord>& end, TimeValue duration, int32_t width,
                     int32_t height)
{
    const MatrixRecord a = pixelMatrix(start, width, height);
    const MatrixRecord b = end ? pixelMatrix(*end, width, height) : a;
    Handle sample = makeMatrixTween(a, b).flatten();
    return media.addSample(sample.bytes(), duration, 1, tweenSampleDescription());
}

Rect cropPixels(const std::array<Fixed, 4>& crop, int32_t width, int32_t height)
{
    auto scale = [](Fixed f, int32_t size) { return int32_t((int64_t(f) * size) >> 16); };
    Rect r;
    r.left = scale(crop[0], width);
    r.top = scale(crop[1], height);
    r.right = scale(crop[2], width);
    r.bottom = scale(crop[3], height);
    return r;
}

OSErr addRegionTween(Media& media, const std::array<Fixed, 4>& crop, TimeValue duration,
                     int32_t width, int32_t height)
{
    Rect frame;
    frame.right = width;
    frame.bottom = height;
    Handle sample = makeRegionTween(frame, cropPixels(crop, width, height)).flatten();
    return media.addSample(sample.bytes(), duration, 1, tweenSampleDescription());
}

OSErr addFadeTweens(Media& media, TimeValue fadeIn, TimeValue body, TimeValue fadeOut)
{
    const struct {
        Fixed from, to;
        TimeValue duration;
    } parts[] = {{0, kFixed1, fadeIn}, {kFixed1, kFixed1, body}, {kFixed1, 0, fadeOut}};
    for (const auto& p : parts) {
        if (p.duration <= 0) continue;
        Handle sample = makeFadeTweenSample(p.from, p.to);
        if (OSErr err = media.addSample(sample.bytes(), p.duration, 1, fadeTweenDescription());
            err != noErr)
            return err;
    }
    return noErr;
}

Track* newBuilderTrack(const BuildContext& ctx, OSType mediaType, int16_t layer)
{
    Track* track = ctx.movie->newTrack(Fixed(ctx.width) << 16, Fixed(ctx.height) << 16, 0);
    if (!track || ctx.movie->newTrackMedia(track, mediaType, 600) != noErr) {
        if (track) ctx.movie->disposeTrack(track);
        throw ZEFException("Cannot create video track inside temporary movie file");
    }
    track->setLayer(layer);
    if (mediaType == VideoMediaType) track->media()->setGraphicsMode(ditherCopy, RGBColor{});
    return track;
}

ImageDescription rawImageDescription(int16_t width, int16_t height)
{
    ImageDescription d;
    d.cType = fourcc("raw ");
    d.temporalQuality = 512;
    d.spatialQuality = 512;
    d.width = width;
    d.height = height;
    d.frameCount = 1;
    d.depth = 32;
    d.clutID = -1;
    return d;
}

OSErr appendColourSample(Track& track, uint8_t red, uint8_t green, uint8_t blue,
                         TimeValue trackStart, TimeValue duration)
{
    const std::shared_ptr<Media>& media = track.media();
    if (!media) return invalidMedia;
    const uint8_t pixel[4] = {255, red, green, blue};
    TimeValue sampleTime = 0;
    if (OSErr err = media->addSample(pixel, duration, 1, rawImageDescription(1, 1).toHandle(), true,
                                     &sampleTime);
        err != noErr)
        return err;
    return track.insertMedia(trackStart, sampleTime, duration, kFixed1);
}

bool readThroughMediaGraph(const ZEFItem& item)
{
    const auto* source = dynamic_cast<const ZEFSourceItem*>(&item);
    return source && !source->viaMovieToolbox();
}

bool isPreviewableTransition(OSType type)
{
    static const OSType kTypes[] = {fourcc("blnd"), fourcc("ckey"), fourcc("dslv"), fourcc("matt"),
                                    fourcc("mplo"), fourcc("push"), fourcc("slid"), fourcc("smp2"),
                                    fourcc("smp3"), fourcc("smp4"), fourcc("smpt"), fourcc("xplo"),
                                    fourcc("zoom")};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

bool buildTransition(const BuildContext& ctx, ZEFItem& incoming, Track& outgoingLast,
                     Track& incomingLast, TrackRecord* record)
{
    ZEFItem* outgoing = incoming.previous();
    if (!outgoing) return false;
    const TimeValue overlapStart = incoming.getStart().ticks();
    const TimeValue overlapEnd = outgoing->getEnd().ticks();
    if (overlapEnd <= overlapStart) return false;
    if (ctx.preview && record && record->transitionTrack()) return false;

    Movie& movie = *ctx.movie;
    const bool wasActive = movie.isActive();
    movie.setActive(false);
    const int16_t layer = clipLayer(incoming.track());
    Track* effect = newBuilderTrack(ctx, VideoMediaType, layer);
    if (record) {
        record->setTransitionTrack(effect);
        record->append(effect);
    }
    addImageInput(*effect, outgoingLast, kSourceA);
    addImageInput(*effect, incomingLast, kSourceB);

    // Head: the outgoing clip's visible part before the overlap.
    TimeValue headStart = outgoing->getStart().ticks();
    if (ZEFItem* before = outgoing->previous())
        headStart = std::max<TimeValue>(headStart, before->getEnd().ticks());
    if (headStart < overlapStart) {
        if (outgoing->filterCount() > 0 || readThroughMediaGraph(*outgoing)) {
            if (appendEffectSample(ctx, *effect, kGain, kBuiltInManufacturer, 1, headStart,
                                   overlapStart - headStart) != noErr)
                throw ZEFException(kEffectFailed);
        } else {
            // A one-tick pass-through at 0 gives the effect media its first sample; it is
            // placed into the track only where it cannot push the copied head later.
            const TimeValue gainAt = headStart >= 1 ? 0 : -1;
            if (gainAt == 0) {
                if (appendEffectSample(ctx, *effect, kGain, kBuiltInManufacturer, 1, 0, 1) != noErr)
                    throw ZEFException(kEffectFailed);
            }
            if (effect->insertSegmentFrom(outgoingLast, headStart, overlapStart - headStart,
                                          headStart) != noErr)
                throw ZEFException(kEffectFailed);
        }
    }

    // Overlap: the transition effect.
    ZEFEffectItem* transition = outgoing->transition();
    OSType type = transition ? transition->effectInfo().effectType : 0;
    OSType manufacturer = transition ? transition->effectInfo().manufacturer : 0;
    Handle description = transition ? transition->effectDescription() : Handle();
    if (!isPreviewableTransition(type) && ctx.preview && ctx.transitionsAsCrossFades) {
        type = kDissolve;
        manufacturer = kBuiltInManufacturer;
        description = makeEffectDescription(kDissolve, 2).flatten();
    } else if (description.isNull()) {
        description = makeEffectDescription(type, 2).flatten();
    }
    if (appendEffectSample(ctx, *effect, type, manufacturer, description, overlapStart,
                           overlapEnd - overlapStart) != noErr)
        throw ZEFException(kEffectFailed);

    // Tail: the incoming clip's visible part after the overlap.
    ZEFItem* next = incoming.next();
    const TimeValue tailEnd = next ? next->getStart().ticks() : incoming.getEnd().ticks();
    if (tailEnd - overlapEnd >= 1) {
        if (incoming.filterCount() == 0 && !readThroughMediaGraph(incoming)) {
            if (effect->insertSegmentFrom(incomingLast, overlapEnd, tailEnd - overlapEnd,
                                          overlapEnd) != noErr)
                throw ZEFException(kEffectFailed);
        } else {
            Track* tail = newBuilderTrack(ctx, VideoMediaType,
                                          std::min<int16_t>(kTransitionTailLayer, layer));
            if (record) record->append(tail);
            addImageInput(*tail, incomingLast, kSourceA);
            if (appendEffectSample(ctx, *tail, kGain, kBuiltInManufacturer, 1, overlapEnd,
                                   tailEnd - overlapEnd) != noErr)
                throw ZEFException(kEffectFailed);
            if (Track* motion = ctx.motion.at(size_t(std::clamp(incoming.track(), 0, 2))))
                attachModifier(*tail, *motion, kTrackModifierTypeMatrix);
        }
    }

    if (Track* motion = ctx.motion.at(size_t(std::clamp(incoming.track(), 0, 2))))
        attachModifier(*effect, *motion, kTrackModifierTypeMatrix);
    movie.setActive(wasActive);
    return true;
}

// Each name fills its 256 characters, zero-padded.
const std::array<GraphicsModeEntry, 12> kGraphicsModeTable = {{
    {-1, "None", 0},
    {32, "Blend", 1},
    {37, "Add max", 0},
    {39, "Add min", 0},
    {36, "Transparent", 1},
    {256, "Straight alpha", 0},
    {257, "Pre-multiplied white alpha", 0},
    {258, "Pre-multiplied black alpha", 0},
    {260, "Straight alpha blend", 1},
    {261, "Pre-multiplied color alpha", 1},
    {1, "Source OR", 0},
    {4, "Invert Colors", 0},
}};

int32_t graphicsModeRow(int32_t mode)
{
    for (size_t i = 0; i < kGraphicsModeTable.size(); ++i)
        if (kGraphicsModeTable[i].mode == mode) return int32_t(i);
    return -1;
}

RGBColor itemColour(uint32_t packed)
{
    return RGBColor{widenChannel(uint8_t(packed & 0xFF)),
                    widenChannel(uint8_t((packed >> 8) & 0xFF)),
                    widenChannel(uint8_t((packed >> 16) & 0xFF))};
}

} // namespace zef
