#include "engine/movie_builder.h"

#include "engine/clip_samples.h"
#include "engine/item_tracks.h"
#include "model/device.h"
#include "model/item.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/input_map.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/text/text_sample.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>

namespace zef {

using namespace movies;

namespace {

// A clip's layout matrix maps the frame, counted in thousandths of its width and height, onto
// the place the clip's picture takes in it. The same placement for the clip's video track,
// whose box is the frame in pixels.
MatrixRecord placementInPixels(const MatrixRecord& layout, int32_t width, int32_t height)
{
    const double scale[3] = {1000.0 / width, 1000.0 / height, 1.0};
    MatrixRecord out = layout;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j)
            out.m[size_t(i)][size_t(j)] =
                int32_t(std::lround(layout.m[size_t(i)][size_t(j)] * scale[i] / scale[j]));
    for (int i = 0; i < 2; ++i)
        out.m[size_t(i)][2] = int32_t(std::lround(layout.m[size_t(i)][2] * scale[i]));
    return out;
}

// The crop rectangle (16.16 fractions of the picture) where the layout places it in the frame,
// as fractions of the frame.
std::array<Fixed, 4> placedCrop(const std::array<Fixed, 4>& crop, const MatrixRecord& layout)
{
    auto corner = [&](Fixed fx, Fixed fy) {
        double x = fx / 65536.0 * 1000.0, y = fy / 65536.0 * 1000.0;
        layout.transformPoint(x, y);
        return std::pair{x / 1000.0, y / 1000.0};
    };
    auto [x0, y0] = corner(crop[0], crop[1]);
    auto [x1, y1] = corner(crop[2], crop[3]);
    auto fixed = [](double v) { return Fixed(std::lround(std::clamp(v, 0.0, 1.0) * 65536.0)); };
    return {fixed(std::min(x0, x1)), fixed(std::min(y0, y1)), fixed(std::max(x0, x1)),
            fixed(std::max(y0, y1))};
}

int64_t steadyMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Keeps what an item got built on the item, also when building stops half-way.
struct RecordGuard {
    ZEFItem& item;
    std::unique_ptr<TrackRecord> record;
    ~RecordGuard()
    {
        if (record) item.setComposition(std::move(record));
    }
};

void checkerboardSample(Track& track, int32_t width, int32_t height, TimeValue duration)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    uint8_t* p = pixels.data();
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t grey = ((x ^ y) & 8) ? 160 : 255;
            *p++ = 255;
            *p++ = grey;
            *p++ = grey;
            *p++ = grey;
        }
    TimeValue at = 0;
    track.media()->addSample(pixels, duration, 1,
                             rawImageDescription(int16_t(width), int16_t(height)).toHandle(), true,
                             &at);
    track.insertMedia(0, at, duration);
}

// The part of a clip read through the media graph that gets samples: the item inside the
// render range.
std::pair<TimeValue, TimeValue> graphClipSpan(const FProject& project, const ZEFItem& item)
{
    return {std::max(item.getStart().ticks(), project.renderStart.ticks()),
            std::min(item.getEnd().ticks(), project.renderEnd.ticks())};
}

// The frame and audio samples of a clip read through the media graph for [from, from + span);
// the audio goes to a new sound track.
void buildGraphClip(const BuildContext& ctx, ZEFSourceItem& item, Track& video, Track*& sound,
                    Track*& fade, TimeValue from, TimeValue span, Fixed editRate)
{
    if (item.videoTrackCount() > item.videoTrackIndex() &&
        addClipFrames(video, item, from, span, editRate) != noErr)
        throw ZEFException("Cannot create video track inside temporary movie file");
    if (item.audioTrackCount() <= item.audioTrackIndex() || span < kClipAudioPacketTicks) return;
    Movie& movie = *ctx.movie;
    sound = movie.newTrack(0, 0, 256);
    if (!sound || movie.newTrackMedia(sound, SoundMediaType, 600) != noErr) {
        if (sound) movie.disposeTrack(sound);
        if (fade) movie.disposeTrack(fade);
        sound = fade = nullptr;
        throw ZEFException("Cannot create audio track inside temporary source movie file");
    }
    if (addClipAudio(*sound, item, from, span) != noErr) {
        movie.disposeTrack(sound);
        if (fade) movie.disposeTrack(fade);
        sound = fade = nullptr;
    }
}

} // namespace

FMovieBuilder::FMovieBuilder(FProject& project, const EffectRegistry& registry,
                             ComponentManager* components, std::function<int64_t()> clock)
    : m_project(project), m_registry(registry), m_components(components),
      m_clock(clock ? std::move(clock) : steadyMilliseconds)
{
}

FMovieBuilder::~FMovieBuilder()
{
    if (m_project.engine() == this) m_project.setEngine(nullptr);
}

Track* FMovieBuilder::find(uint32_t id) const
{
    return m_preview && id ? m_preview->trackByID(id) : nullptr;
}

Track* FMovieBuilder::motionTrack(int32_t layer) const
{
    return layer >= 0 && layer < 3 ? find(m_previewSlots.motion[size_t(layer)]) : nullptr;
}

BuildContext FMovieBuilder::context(Movie& movie, bool preview, const Slots& slots) const
{
    BuildContext ctx;
    ctx.movie = &movie;
    ctx.preview = preview;
    ctx.width = m_project.composition().width;
    ctx.height = m_project.composition().height;
    ctx.registry = &m_registry;
    ctx.components = m_components;
    ctx.transitionsAsCrossFades = m_prefs.previewTransitionsAsCrossFades;
    for (size_t i = 0; i < 3; ++i)
        ctx.motion[i] = movie.trackByID(slots.motion[i]);
    return ctx;
}

// The motion samples make the placement at every time the project's matrixAt of the layer.
// Keyframes before 0 lead into the movie (without them a virtual identity keyframe at 0 does);
// of keyframes at one time the first holds at that time, for one tick, and the last leads on to
// the next time; after the last keyframe its matrix holds.
void FMovieBuilder::fillMotion(Track& track, int32_t layer)
{
    const int32_t w = m_project.composition().width, h = m_project.composition().height;
    struct Key {
        TimeValue t;
        MatrixRecord m;
    };
    std::vector<Key> keys;
    for (const MatrixKeyframe& k : m_project.device(layer).keyframes())
        keys.push_back({k.time.snapped().ticks(), k.matrix});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key& a, const Key& b) { return a.t < b.t; });

    Media& media = *track.media();
    media.beginEdits();
    Key from{0, MatrixRecord::identity()}; // the keyframe the placement comes from
    size_t i = 0;
    for (; i < keys.size() && keys[i].t < 0; ++i)
        from = keys[i];
    TimeValue at = 0;                  // the time up to which samples were added
    std::optional<MatrixRecord> exact; // the placement at exactly `at`, when it differs
    // Samples over [at, until): from the placement at `at` towards `to` (held when none).
    auto fill = [&](TimeValue until, const std::optional<Key>& to) {
        auto along = [&](TimeValue t) {
            return to ? interpolateKeyframes(from.t, from.m, to->t, to->m, t) : from.m;
        };
        const std::optional<MatrixRecord> end = to ? std::optional(to->m) : std::nullopt;
        if (exact && *exact != along(at)) {
            addMatrixTween(media, *exact, std::nullopt, 1, w, h);
            ++at;
        }
        exact.reset();
        if (until > at) addMatrixTween(media, along(at), end, until - at, w, h);
        at = std::max(at, until);
    };
    while (i < keys.size()) {
        size_t last = i;
        while (last + 1 < keys.size() && keys[last + 1].t == keys[i].t)
            ++last;
        if (keys[i].t > at) fill(keys[i].t, keys[i]);
        exact = keys[i].m;
        from = keys[last];
        i = last + 1;
    }
    fill(at + std::max<TimeValue>(kBackgroundDuration - at, 600), std::nullopt);
    media.endEdits();
    track.insertMedia(0, 0, media.duration());
}

void FMovieBuilder::buildBaseTracks(Movie& movie, bool isPreview)
{
    Slots slots;
    BuildContext ctx = context(movie, isPreview, slots);
    Track* black = newBuilderTrack(ctx, VideoMediaType, kBlackLayer);
    if (appendColourSample(*black, 0, 0, 0, 0, kBackgroundDuration) != noErr)
        throw ZEFException("Cannot create video track inside temporary movie file");
    Track* checker = nullptr;
    if (isPreview) {
        checker = newBuilderTrack(ctx, VideoMediaType, kCheckerboardLayer);
        checkerboardSample(*checker, ctx.width, ctx.height, kBackgroundDuration);
    }
    Track* text = newBuilderTrack(ctx, TextMediaType, kPlaceholderLayer);
    if (isPreview) {
        TextSample s;
        s.text = " ";
        s.size = 30;
        s.backColor = {0, 0, 0};
        s.textBox = Rect{0, 0, ctx.width, ctx.height};
        s.displayFlags = TextDisplayFlags::keyedText;
        TimeValue at = 0;
        text->media()->addSample(encodeTextSample(s), kBackgroundDuration, 1, Handle(16), true,
                                 &at);
        text->insertMedia(0, at, kBackgroundDuration);
    }
    for (int32_t layer = 0; layer < 3; ++layer) {
        Track* motion = newBuilderTrack(ctx, TweenMediaType, 0);
        fillMotion(*motion, layer);
        slots.motion[size_t(layer)] = motion->id();
    }
    if (!isPreview) m_renderSlots = slots;
    if (isPreview && &movie == m_preview.get()) {
        m_black = black->id();
        m_checkerboard = checker->id();
        m_placeholder = text->id();
        m_previewSlots = slots;
    }
}

void FMovieBuilder::rebuildMotion(int32_t layer)
{
    Track* track = motionTrack(layer);
    if (!track) return;
    // A new media in place: the tracks that use this one as their modifier keep it.
    if (track->duration() > 0) track->deleteSegment(0, track->duration());
    m_preview->newTrackMedia(track, TweenMediaType, 600);
    fillMotion(*track, layer);
}

void FMovieBuilder::keyframesChanged(int32_t track)
{
    if (track >= kLayerA && track <= kLayerC) {
        rebuildMotion(track);
        if (motionTrack(track)) m_motionChanged = true;
    } else if (track == kTitleTrack) {
        releaseLayer(track);
    }
}

Movie& FMovieBuilder::ensurePreviewMovie()
{
    if (!m_preview) {
        m_preview = std::make_shared<Movie>(600);
        m_preview->setActive(true);
        m_previewWidth = m_project.composition().width;
        m_previewHeight = m_project.composition().height;
        buildBaseTracks(*m_preview, true);
        m_blackOn = true;
        if (m_window) m_window->attachMovie(m_preview.get());
    }
    return *m_preview;
}

void FMovieBuilder::releaseState()
{
    if (m_preview && m_window) m_window->detachMovie();
    m_preview.reset();
    m_previewSlots = Slots{};
    m_black = m_checkerboard = m_placeholder = 0;
}

bool FMovieBuilder::acceptOutputSize(int32_t width, int32_t height)
{
    if (m_preview && (width != m_previewWidth || height != m_previewHeight)) resetPreview(true);
    return true;
}

void FMovieBuilder::resetPreview(bool reattach)
{
    for (int32_t t = 0; t < kTrackCount; ++t) {
        const FDevice& d = m_project.device(t);
        for (size_t i = 0; i < d.size(); ++i)
            d.at(i)->releaseComposition();
    }
    releaseState();
    if (reattach) ensurePreviewMovie();
}

void FMovieBuilder::releaseLayer(int32_t layer)
{
    const FDevice& d = m_project.device(layer);
    for (size_t i = 0; i < d.size(); ++i)
        d.at(i)->releaseComposition();
}

void FMovieBuilder::setPreferences(const PreviewPreferences& prefs)
{
    const PreviewPreferences old = m_prefs;
    m_prefs = prefs;
    std::array<bool, 3> rebuild{};
    if (old.disableGraphicModesOnPreview != prefs.disableGraphicModesOnPreview)
        rebuild[1] = rebuild[2] = true;
    if (old.previewTransitionsAsCrossFades != prefs.previewTransitionsAsCrossFades)
        rebuild[0] = true;
    if (old.disableFiltersOnPreview != prefs.disableFiltersOnPreview) rebuild = {true, true, true};
    for (int32_t layer = 0; layer < 3; ++layer)
        if (rebuild[size_t(layer)]) releaseLayer(layer);
}

bool FMovieBuilder::buildLayer(int32_t layer, Movie* movie)
{
    if (!movie) return buildLayerInto(layer, ensurePreviewMovie(), true, m_previewSlots);
    return buildLayerInto(layer, *movie, movie == m_preview.get(),
                          movie == m_preview.get() ? m_previewSlots : m_renderSlots);
}

bool FMovieBuilder::buildLayerInto(int32_t layer, Movie& movie, bool preview, const Slots& slots)
{
    if (layer == kTitleTrack) return buildTitles(context(movie, preview, slots));
    if (layer < 0 || layer > 2) return false;
    BuildContext ctx = context(movie, preview, slots);
    bool built = false;
    Track* last = nullptr;
    const FDevice& d = m_project.device(layer);
    for (size_t i = 0; i < d.size(); ++i)
        built |= buildItem(ctx, *d.at(i), last);
    return built;
}

bool FMovieBuilder::buildItem(const BuildContext& ctx, ZEFItem& item, Track*& inOut)
{
    Track* transitionInput = inOut;
    if (ctx.preview && item.isBuilt()) {
        auto* record = dynamic_cast<TrackRecord*>(item.composition());
        if (!record || !record->stampedSpan() ||
            *record->stampedSpan() == graphClipSpan(m_project, item)) {
            inOut = record ? record->lastTrack() : nullptr;
            return false;
        }
        // Samples stamped with the times of another span: built again, and with them the
        // transition of the next item, whose input they are.
        item.releaseComposition();
        if (ZEFItem* next = item.next()) next->releaseComposition();
    }
    const int32_t L = item.track();
    const int16_t layer = clipLayer(L);
    const bool filters = !(ctx.preview && m_prefs.disableFiltersOnPreview);
    const bool modes = L != 0 && !(ctx.preview && m_prefs.disableGraphicModesOnPreview);
    const TimeValue start = item.getStart().ticks();
    const TimeValue duration = item.duration().ticks();

    RecordGuard guard{item, nullptr};
    if (ctx.preview) {
        guard.record = std::make_unique<TrackRecord>(m_preview);
        guard.record->setBuiltStart(start);
    }
    TrackRecord* record = guard.record.get();

    const size_t filterCount = filters ? item.filterCount() : 0;
    std::vector<Track*> video;
    for (size_t k = 0; k <= filterCount; ++k) {
        Track* t = newBuilderTrack(ctx, VideoMediaType, layer);
        if (record) record->append(t);
        if (k > 0) addImageInput(*t, *video.back(), kSourceA);
        video.push_back(t);
    }
    Track* first = video.front();

    // A clip laid out in part of the frame (its own aspect kept, or placed by the user).
    const MatrixRecord* layout = nullptr;
    if (auto* source = dynamic_cast<ZEFSourceItem*>(&item)) {
        Track* sound = nullptr;
        buildSource(ctx, *source, *first, sound, record);
        if (!source->matrix(0).isIdentity() && ctx.width > 0 && ctx.height > 0) {
            layout = &source->matrix(0);
            first->setMatrix(placementInPixels(*layout, ctx.width, ctx.height));
        }
    } else if (auto* effect = dynamic_cast<ZEFEffectItem*>(&item)) {
        const CPluginQT& info = effect->effectInfo();
        Handle description = effect->effectDescription();
        OSErr err = cantOpenHandler;
        if (info.effectType != 0 && duration > 0)
            err = description.isNull()
                      ? appendEffectSample(ctx, *first, info.effectType, info.manufacturer,
                                           info.sources, start, duration)
                      : appendEffectSample(ctx, *first, info.effectType, info.manufacturer,
                                           description, start, duration);
        if (err != noErr && duration > 0) appendColourSample(*first, 0, 0, 0, start, duration);
    }

    // Crop. The clip's own track is cropped in its picture's coordinates, which its placement
    // carries into the frame; filter tracks draw whole frames, so a laid-out clip's filters are
    // cropped where the crop lies in the frame (and never outside the clip's place).
    if (auto* source = dynamic_cast<ZEFSourceItem*>(&item); source && duration > 0) {
        const std::array<Fixed, 4> full{0, 0, kFixed1, kFixed1};
        const auto& crop = source->cropRect();
        auto cropTween = [&](const std::array<Fixed, 4>& rect) {
            Track* cropTrack = newBuilderTrack(ctx, TweenMediaType, 0);
            if (record) record->append(cropTrack);
            if (addRegionTween(*cropTrack->media(), rect, duration, ctx.width, ctx.height) !=
                    noErr ||
                cropTrack->insertMedia(start, 0, duration) != noErr)
                throw ZEFException("Cannot add effect to temporary file");
            return cropTrack;
        };
        if (crop != full) {
            Track* cropTrack = cropTween(crop);
            for (size_t k = 0; k < video.size(); ++k)
                if (k == 0 || !layout)
                    attachModifier(*video[k], *cropTrack, kTrackModifierTypeClip);
        }
        if (layout && video.size() > 1) {
            Track* placed = cropTween(placedCrop(crop, *layout));
            for (size_t k = 1; k < video.size(); ++k)
                attachModifier(*video[k], *placed, kTrackModifierTypeClip);
        }
    }

    // Filters.
    for (size_t j = 0; j < filterCount && duration > 0; ++j) {
        ZEFEffectItem* f = item.filter(j);
        const CPluginQT& info = f->effectInfo();
        OSErr err = f->effectDescription().isNull()
                        ? appendEffectSample(ctx, *video[j + 1], info.effectType, info.manufacturer,
                                             info.sources, start, duration)
                        : appendEffectSample(ctx, *video[j + 1], info.effectType, info.manufacturer,
                                             f->effectDescription(), start, duration);
        if (err != noErr) throw ZEFException("Cannot add effect to temporary file");
    }

    // Motion.
    if (L >= 0 && L < 3)
        if (Track* motion = ctx.motion[size_t(L)])
            for (Track* t : video)
                attachModifier(*t, *motion, kTrackModifierTypeMatrix);

    // Graphics mode.
    Track* last = video.back();
    if (modes && item.graphicsMode() != -1)
        last->media()->setGraphicsMode(item.graphicsMode(), itemColour(item.graphicsModeColor()));

    inOut = last;
    if (record) record->setLastTrack(last);
    bool built = true;
    if (transitionInput) built |= buildTransition(ctx, item, *transitionInput, *last, record);
    return built;
}

MovieFromFileResult FMovieBuilder::openSource(const std::string& path)
{
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    const int64_t modified = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    auto it = m_media.find(path);
    if (known && it != m_media.end() && it->second.size == int64_t(st.st_size) &&
        it->second.modified == modified && it->second.inode == uint64_t(st.st_ino) &&
        it->second.device == uint64_t(st.st_dev)) {
        MovieFromFileResult r;
        if (newMovieFromMediaFile(it->second.file, 600, r.movie) == noErr) {
            r.status = MediaOpenStatus::ok;
            r.file = it->second.file;
            return r;
        }
    }
    MovieFromFileResult r = openMovieFromFile(path, 600);
    if (known && r.status == MediaOpenStatus::ok && r.file)
        m_media[path] = OpenedMedia{r.file, int64_t(st.st_size), modified, uint64_t(st.st_ino),
                                    uint64_t(st.st_dev)};
    else
        m_media.erase(path);
    // Files no movie uses any more go when many are kept.
    if (m_media.size() > 256)
        std::erase_if(m_media, [](const auto& e) { return e.second.file.use_count() == 1; });
    return r;
}

void FMovieBuilder::buildSource(const BuildContext& ctx, ZEFSourceItem& item, Track& video,
                                Track*& sound, TrackRecord* record)
{
    const TimeValue start = item.getStart().ticks();
    const TimeValue duration = item.duration().ticks();
    ZEFItem* prev = item.previous();
    ZEFItem* next = item.next();
    const TimeValue fadeIn = prev ? std::max<TimeValue>(0, prev->getEnd().ticks() - start) : 0;
    const TimeValue fadeOut =
        next ? std::max<TimeValue>(0, item.getEnd().ticks() - next->getStart().ticks()) : 0;
    Movie& movie = *ctx.movie;

    Track* fade = nullptr;
    if (item.volume() >= 1 && duration > 0) {
        // The fade starts 50 ticks before the clip; a clip nearer to 0 gets a shorter lead,
        // so the fade-out still ends with the clip.
        const TimeValue lead = std::clamp<TimeValue>(start, 0, 50);
        fade = newBuilderTrack(ctx, TweenMediaType, 0);
        addFadeTweens(*fade->media(), fadeIn + lead, duration - fadeIn - fadeOut, fadeOut);
        if (fade->media()->duration() > 0) fade->insertMedia(0, 0, fade->media()->duration());
        fade->setOffset(start - lead);
    }

    if (item.viaMovieToolbox() && duration > 0) {
        MovieFromFileResult opened = openSource(item.path());
        Movie* src = opened.movie.get();
        Track* srcVideo = src ? src->indTrackWithCharacteristic(size_t(item.videoTrackIndex() + 1),
                                                                VisualMediaCharacteristic, true)
                              : nullptr;
        Track* srcAudio = src ? src->indTrackWithCharacteristic(size_t(item.audioTrackIndex() + 1),
                                                                AudioMediaCharacteristic, true)
                              : nullptr;
        const TimeValue in = item.sourceIn().ticks();
        const TimeValue span = item.sourceOut().ticks() - in;
        const bool scaled = item.scaleType() != 0;
        if (srcVideo && item.isStill()) {
            const int64_t rate = (int64_t(m_project.composition().frameRate) + 0x1111) >> 16;
            const TimeValue frame = rate > 0 ? std::max<TimeValue>(1, 600 / rate) : 20;
            for (TimeValue at = start; at + frame <= start + duration; at += frame) {
                video.insertSegmentFrom(*srcVideo, 0, 20, at);
                if (frame != 20) video.scaleSegment(at, 20, frame);
            }
        } else if (srcVideo && span > 0) {
            TimeValue from = in, length = span, at = start;
            const TimeValue offset = srcVideo->offset();
            if (offset > in) {
                from = offset;
                length -= offset - in;
                at += offset - in;
            }
            const TimeValue trackEnd = srcVideo->duration();
            length = std::min(length, trackEnd - from);
            if (length > 0) {
                video.insertSegmentFrom(*srcVideo, from, length, at);
                if (scaled && duration != length) video.scaleSegment(at, length, duration);
            }
        } else if (!srcVideo &&
                   (item.track() == 0 || item.videoTrackIndex() < item.videoTrackCount())) {
            appendColourSample(video, 0, 0, 0, start, duration);
        }
        if (srcAudio && span > 0) {
            sound = movie.newTrack(0, 0, 256);
            if (!sound || movie.newTrackMedia(sound, SoundMediaType,
                                              srcAudio->media() ? srcAudio->media()->timeScale()
                                                                : 600) != noErr) {
                if (sound) movie.disposeTrack(sound);
                if (fade) movie.disposeTrack(fade);
                throw ZEFException("Cannot create audio track inside temporary source movie file");
            }
            sound->insertSegmentFrom(*srcAudio, in, span, start);
            if (scaled && duration != span) sound->scaleSegment(start, span, duration);
        }
    }

    if (!item.viaMovieToolbox()) {
        const auto [from, to] = graphClipSpan(m_project, item);
        if (record) record->setStampedSpan(from, to);
        if (to > from && duration > 0)
            buildGraphClip(ctx, item, video, sound, fade, from, to - from,
                           m_project.composition().frameRate);
    }

    if (sound && fade) {
        const int32_t v = item.volume();
        sound->setVolume(int16_t(std::min<int64_t>(int64_t(v) * v / 256, INT16_MAX)));
        attachModifier(*sound, *fade, kTrackModifierTypeVolume);
        if (record) {
            record->append(sound);
            record->append(fade);
            record->setSoundTrack(sound);
        }
    } else {
        if (fade) movie.disposeTrack(fade);
        if (sound) movie.disposeTrack(sound);
        sound = nullptr;
    }
}

bool FMovieBuilder::buildTitles(const BuildContext& ctx)
{
    const FDevice& d = m_project.device(kTitleTrack);
    bool built = false;
    for (size_t i = 0; i < d.size(); ++i) {
        auto* title = dynamic_cast<ZEFTitlerEffect*>(d.at(i));
        if (!title || title->text().empty()) continue;
        if (ctx.preview && title->isBuilt()) continue;
        TitleStyle style = title->style();
        if (i > 0 && style.usePrevious) {
            // The nearest earlier title with text that uses its own style (or the first).
            for (size_t j = i; j-- > 0;) {
                auto* earlier = dynamic_cast<ZEFTitlerEffect*>(d.at(j));
                if (!earlier || earlier->text().empty()) continue;
                if (!earlier->style().usePrevious || j == 0) {
                    style = earlier->style();
                    break;
                }
            }
        }
        buildTitle(ctx, *title, style);
        built = true;
    }
    return built;
}

namespace {

bool fits16(int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

// An 8-bit colour of the title style record in the toolbox's 16-bit components: × 257, so that
// 255 is full intensity (65535) and every value comes back unchanged in 8 bits.
TextColor titleColor(const TitleColor& c)
{
    return {uint16_t(c.red * 257), uint16_t(c.green * 257), uint16_t(c.blue * 257)};
}

} // namespace

void FMovieBuilder::buildTitle(const BuildContext& ctx, ZEFTitlerEffect& title,
                               const TitleStyle& style)
{
    const TimeValue start = title.getStart().ticks();
    const TimeValue duration = title.duration().ticks();
    if (duration <= 0) return;
    RecordGuard guard{title, nullptr};
    if (ctx.preview) {
        guard.record = std::make_unique<TrackRecord>(m_preview);
        guard.record->setBuiltStart(start);
    }
    Track* track = newBuilderTrack(ctx, TextMediaType, kTitleLayer);
    if (guard.record) guard.record->append(track);

    const MatrixRecord m =
        pixelMatrix(m_project.matrixAt(kTitleTrack, title.getStart()), ctx.width, ctx.height);
    const Rect box = m.transformRect(Rect{0, 0, ctx.width, ctx.height});
    TextSample s;
    s.text = title.text();
    if (s.text.size() > 65535) throw ZEFException("The text of a title is longer than 65535 bytes");
    if (!fits16(box.left) || !fits16(box.top) || !fits16(box.right) || !fits16(box.bottom))
        throw ZEFException("The text box of a title lies outside the range of -32768 to 32767 "
                           "pixels");
    s.fontNumber = uint16_t(std::clamp<int32_t>(style.font, 0, TextSample::kMaxFontNumber));
    const int64_t size = ctx.width > 0 ? int64_t(style.size) * box.width() / ctx.width : 0;
    s.size = uint16_t(std::clamp<int64_t>(size, 0, TextSample::kMaxSize));
    s.face = style.style;
    s.textColor = titleColor(style.textColor);
    s.backColor = titleColor(style.backColor);
    s.justification = style.justification;
    s.textBox = box;
    s.displayFlags = style.displayFlags | 0x6000;
    s.scrollDelay =
        style.delayEnabled ? uint32_t(std::max<int64_t>(0, duration * style.scrollDelay / 100)) : 0;
    TimeValue at = 0;
    if (track->media()->addSample(encodeTextSample(s), duration, 1, Handle(16), true, &at) !=
            noErr ||
        track->insertMedia(start, at, duration) != noErr)
        throw ZEFException("Cannot create video track inside temporary movie file");
    // The shadow lies a share of the font size as drawn (the size the box scaled it to) away.
    auto shadowOffset = [&](int16_t percent) {
        return uint16_t(
            int16_t(std::clamp<int64_t>(int64_t(s.size) * percent / 100, INT16_MIN, INT16_MAX)));
    };
    uint8_t offset[4];
    putBE16(offset, shadowOffset(style.shadowX));
    putBE16(offset + 2, shadowOffset(style.shadowY));
    track->media()->setTextProperty(fourcc("drpo"), offset);
    uint8_t opacity[2];
    putBE16(opacity, uint16_t(style.shadowOpacity));
    track->media()->setTextProperty(fourcc("drpt"), opacity);
    if (ctx.preview) track->setEnabled(m_project.device(kTitleTrack).enabled());
}

bool FMovieBuilder::update()
{
    if (!m_preview) return false;
    if (m_window && (!m_window->showingComposition() || m_window->mouseCaptured())) return false;
    const int64_t now = m_clock();
    if (m_updatedOnce && now - m_lastUpdate < kUpdateInterval) return false;
    m_updatedOnce = true;
    m_lastUpdate = now;

    const bool blackOn = m_project.device(0).enabled();
    bool changed = blackOn != m_blackOn || m_motionChanged;
    m_blackOn = blackOn;
    m_motionChanged = false;
    if (Track* black = blackTrack()) black->setEnabled(blackOn);
    if (Track* checker = checkerboardTrack()) checker->setEnabled(!blackOn);

    bool built = false;
    for (int32_t layer = 0; layer < 3; ++layer)
        if (m_project.device(layer).enabled()) built |= buildLayer(layer, nullptr);
    if (m_project.device(kTitleTrack).enabled()) built |= buildLayer(kTitleTrack, nullptr);
    ++m_passes;
    if (!built && !changed) return false;
    m_preview->setActive(true);
    if (m_window) m_window->redraw();
    return true;
}

std::unique_ptr<Movie> FMovieBuilder::buildRenderMovie()
{
    auto movie = std::make_unique<Movie>(600);
    buildRenderMovie(*movie);
    return movie;
}

void FMovieBuilder::buildRenderMovie(Movie& movie)
{
    // A track that is switched off takes no part in the render, as in the preview.
    buildBaseTracks(movie, false);
    for (int32_t layer : {kLayerA, kLayerB, kLayerC, kTitleTrack})
        if (m_project.device(layer).enabled()) buildLayer(layer, &movie);
}

} // namespace zef
