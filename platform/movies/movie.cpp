#include "platform/movies/movie.h"

#include "platform/movies/movie_file.h"

#include <algorithm>

namespace zef::movies {

namespace {

constexpr TimeValue kMaxTime = INT64_C(1) << 60;

// a * b / c rounded toward negative infinity (c > 0), without intermediate overflow.
TimeValue mulDivFloor(TimeValue a, TimeValue b, TimeValue c)
{
    const __int128 p = __int128(a) * b;
    __int128 q = p / c;
    if ((p % c != 0) && ((p < 0) != (c < 0))) --q;
    return TimeValue(q);
}

// a * b / c rounded to nearest (a, b >= 0, c > 0).
TimeValue mulDivRound(TimeValue a, TimeValue b, TimeValue c)
{
    return TimeValue((__int128(a) * b + c / 2) / c);
}

// Converts a list of consecutive durations to another scale keeping the total exact: each
// boundary is converted (rounded) and the segments are the differences. Segments that become
// zero long are dropped.
void rescaleEdits(std::vector<Edit>& edits, TimeValue num, TimeValue den)
{
    std::vector<Edit> out;
    TimeValue oldPos = 0;
    TimeValue newPos = 0;
    for (Edit& e : edits) {
        oldPos += e.duration;
        const TimeValue end = mulDivRound(oldPos, num, den);
        e.duration = end - newPos;
        newPos = end;
        if (e.duration > 0) out.push_back(std::move(e));
    }
    edits = std::move(out);
}

} // namespace

Fixed Edit::rate(TimeScale movieScale) const
{
    if (!media || duration <= 0) return 0;
    // (mediaDuration / mediaScale) / (duration / movieScale) in 16.16
    const __int128 num = __int128(mediaDuration) * movieScale * 65536;
    const __int128 den = __int128(duration) * media->timeScale();
    const __int128 r = (num + den / 2) / den;
    return r > INT32_MAX ? INT32_MAX : Fixed(r);
}

// ---- Track ----

void Track::setDimensions(Fixed width, Fixed height)
{
    m_width = width;
    m_height = height;
    touch();
}

void Track::touch() { ++m_movie->m_changes; }

Rect Track::bounds() const
{
    const Rect r{0, 0, m_width >> 16, m_height >> 16};
    if (r.isEmpty()) return Rect{};
    return m_matrix.transformRect(r);
}

OSErr Track::report(OSErr err) const { return m_movie->report(err); }

void Track::changed()
{
    touch();
    m_starts.assign(1, 0);
    m_starts.reserve(m_edits.size() + 1);
    for (const Edit& e : m_edits)
        m_starts.push_back(m_starts.back() + e.duration);
}

TimeValue Track::duration() const { return starts().back(); }

TimeValue Track::offset() const
{
    return !m_edits.empty() && m_edits.front().isEmpty() ? m_edits.front().duration : 0;
}

OSErr Track::setOffset(TimeValue offset)
{
    if (offset < 0 || offset > kMaxTime) return report(paramErr);
    if (!m_edits.empty() && m_edits.front().isEmpty()) {
        m_edits.front().duration = offset;
    } else if (offset > 0) {
        Edit gap;
        gap.duration = offset;
        m_edits.insert(m_edits.begin(), gap);
    }
    normalize();
    return report(noErr);
}

void Track::normalize()
{
    std::vector<Edit> out;
    out.reserve(m_edits.size());
    for (Edit& e : m_edits) {
        if (e.duration <= 0) continue;
        if (e.isEmpty() && !out.empty() && out.back().isEmpty()) {
            out.back().duration += e.duration;
        } else {
            out.push_back(std::move(e));
        }
    }
    m_edits = std::move(out);
    changed();
}

size_t Track::splitAt(TimeValue t)
{
    const std::vector<TimeValue>& s = starts();
    auto it = std::lower_bound(s.begin(), s.end(), t);
    const size_t idx = size_t(it - s.begin());
    if (it != s.end() && *it == t) return idx; // already a boundary (or the end)
    const size_t k = idx - 1;                  // the segment holding t
    Edit first = m_edits[k];
    Edit second = m_edits[k];
    const TimeValue d = t - s[k];
    first.duration = d;
    second.duration = m_edits[k].duration - d;
    if (first.media) {
        first.mediaDuration = mulDivFloor(d, m_edits[k].mediaDuration, m_edits[k].duration);
        second.mediaTime = first.mediaTime + first.mediaDuration;
        second.mediaDuration = m_edits[k].mediaDuration - first.mediaDuration;
    }
    m_edits[k] = std::move(first);
    m_edits.insert(m_edits.begin() + k + 1, std::move(second));
    changed();
    return k + 1;
}

void Track::appendEdit(Edit e)
{
    if (e.duration <= 0) return;
    if (e.isEmpty() && !m_edits.empty() && m_edits.back().isEmpty()) {
        m_edits.back().duration += e.duration;
        m_starts.back() += e.duration;
        return;
    }
    m_starts.push_back(m_starts.back() + e.duration);
    m_edits.push_back(std::move(e));
}

OSErr Track::insertEdits(TimeValue at, std::vector<Edit> edits)
{
    TimeValue total = 0;
    for (const Edit& e : edits)
        total += e.duration;
    if (at < 0 || at > kMaxTime || total > kMaxTime || duration() > kMaxTime - total - at)
        return invalidTime;
    const TimeValue end = duration();
    if (at >= end) { // appending, the common case while a movie is built: O(1) per segment
        if (at > end) {
            Edit gap;
            gap.duration = at - end;
            appendEdit(std::move(gap));
        }
        for (Edit& e : edits)
            appendEdit(std::move(e));
        return noErr;
    }
    const size_t idx = splitAt(at);
    m_edits.insert(m_edits.begin() + idx, std::make_move_iterator(edits.begin()),
                   std::make_move_iterator(edits.end()));
    normalize();
    return noErr;
}

OSErr Track::insertMedia(TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                         Fixed rate)
{
    if (!m_media) return report(invalidMedia);
    if (rate <= 0) return report(paramErr);
    if (mediaDuration <= 0 || mediaDuration > kMaxTime) return report(invalidDuration);
    const TimeValue trackDuration =
        std::max<TimeValue>(1, TimeValue((__int128(mediaDuration) * m_movie->timeScale() * 65536 +
                                          __int128(m_media->timeScale()) * rate / 2) /
                                         (__int128(m_media->timeScale()) * rate)));
    if (mediaTime == -1) return insertEmptySegment(trackStart, trackDuration);
    if (mediaTime < 0 || mediaTime > m_media->duration() ||
        mediaDuration > m_media->duration() - mediaTime)
        return report(timeNotInMedia);
    Edit e;
    e.duration = trackDuration;
    e.media = m_media;
    e.mediaTime = mediaTime;
    e.mediaDuration = mediaDuration;
    return report(insertEdits(trackStart, {std::move(e)}));
}

OSErr Track::insertEmptySegment(TimeValue trackStart, TimeValue duration)
{
    if (duration <= 0) return report(invalidDuration);
    Edit gap;
    gap.duration = duration;
    return report(insertEdits(trackStart, {gap}));
}

OSErr Track::insertSegmentFrom(const Track& source, TimeValue sourceIn, TimeValue sourceDuration,
                               TimeValue destIn)
{
    if (sourceIn < 0 || destIn < 0) return report(invalidTime);
    if (sourceDuration <= 0 || sourceDuration > kMaxTime || sourceIn > kMaxTime)
        return report(invalidDuration);

    // Cut the pieces out of a copy of the source's list.
    std::vector<Edit> pieces;
    const TimeValue srcEnd = source.duration();
    const TimeValue inEnd = std::min(srcEnd, sourceIn + sourceDuration);
    if (sourceIn < srcEnd) {
        Track copy(source.m_movie, 0);
        copy.m_edits = source.m_edits;
        copy.changed();
        const size_t a = copy.splitAt(sourceIn);
        const size_t b = copy.splitAt(inEnd);
        pieces.assign(copy.m_edits.begin() + a, copy.m_edits.begin() + b);
    }
    const TimeValue covered = std::max<TimeValue>(0, inEnd - sourceIn);
    if (covered < sourceDuration) {
        Edit gap;
        gap.duration = sourceDuration - covered;
        pieces.push_back(gap);
    }
    if (source.m_movie->timeScale() != m_movie->timeScale())
        rescaleEdits(pieces, m_movie->timeScale(), source.m_movie->timeScale());
    if (pieces.empty()) return report(invalidDuration);
    return report(insertEdits(destIn, std::move(pieces)));
}

OSErr Track::deleteSegment(TimeValue start, TimeValue duration)
{
    if (start < 0) return report(invalidTime);
    if (duration <= 0) return report(invalidDuration);
    const TimeValue end = this->duration();
    if (start >= end) return report(noErr);
    const TimeValue stop = duration >= end - start ? end : start + duration;
    const size_t a = splitAt(start);
    const size_t b = splitAt(stop);
    m_edits.erase(m_edits.begin() + a, m_edits.begin() + b);
    normalize();
    return report(noErr);
}

OSErr Track::scaleSegment(TimeValue start, TimeValue oldDuration, TimeValue newDuration)
{
    if (start < 0) return report(invalidTime);
    if (oldDuration <= 0 || newDuration <= 0 || newDuration > kMaxTime)
        return report(invalidDuration);
    if (start > duration() || oldDuration > duration() - start) return report(timeNotInTrack);
    if (duration() - oldDuration > kMaxTime - newDuration) return report(invalidDuration);
    const size_t a = splitAt(start);
    const size_t b = splitAt(start + oldDuration);
    std::vector<Edit> part(std::make_move_iterator(m_edits.begin() + a),
                           std::make_move_iterator(m_edits.begin() + b));
    rescaleEdits(part, newDuration, oldDuration);
    if (part.size() == b - a && b == m_edits.size()) {
        // The tail was scaled and nothing vanished: renew the start table from a only.
        for (size_t k = 0; k < part.size(); ++k) {
            m_edits[a + k] = std::move(part[k]);
            m_starts[a + k + 1] = m_starts[a + k] + m_edits[a + k].duration;
        }
        return report(noErr);
    }
    m_edits.erase(m_edits.begin() + a, m_edits.begin() + b);
    m_edits.insert(m_edits.begin() + a, std::make_move_iterator(part.begin()),
                   std::make_move_iterator(part.end()));
    normalize();
    return report(noErr);
}

bool Track::lookup(TimeValue t, TrackPosition& out) const
{
    const std::vector<TimeValue>& s = starts();
    if (t < 0 || t >= s.back()) return false;
    const size_t k = size_t(std::upper_bound(s.begin(), s.end(), t) - s.begin()) - 1;
    const Edit& e = m_edits[k];
    out = TrackPosition{};
    out.editIndex = k;
    out.editStart = s[k];
    out.editEnd = s[k + 1];
    out.nextTime = out.editEnd;
    if (e.isEmpty()) return true;
    out.media = e.media.get();
    out.rate = e.rate(m_movie->timeScale());
    out.mediaTime = e.mediaTime + mulDivFloor(t - s[k], e.mediaDuration, e.duration);
    out.sampleIndex = e.media->sampleIndexAtTime(out.mediaTime);
    if (out.sampleIndex >= 0) {
        out.sampleStart = e.media->sampleStart(out.sampleIndex);
        out.sampleDuration = e.media->sample(out.sampleIndex)->duration;
        if (e.mediaDuration > 0) {
            // The first track time whose media time reaches the sample's end.
            const TimeValue toEnd = out.sampleStart + out.sampleDuration - e.mediaTime;
            const TimeValue dt = -mulDivFloor(-toEnd, e.duration, e.mediaDuration); // ceiling
            out.nextTime = std::min(out.editEnd, s[k] + dt);
        }
    }
    return true;
}

OSErr Track::addReference(const Track& target, OSType type, int32_t* index)
{
    if (!m_movie->owns(&target)) return report(invalidTrack);
    if (&target == this || type == 0) return report(paramErr);
    std::vector<uint32_t>& list = m_references[type];
    auto it = std::find(list.begin(), list.end(), target.id());
    if (it == list.end()) {
        list.push_back(target.id());
        it = list.end() - 1;
        touch();
    }
    if (index) *index = int32_t(it - list.begin()) + 1;
    return report(noErr);
}

Track* Track::reference(OSType type, int32_t index) const
{
    auto it = m_references.find(type);
    if (it == m_references.end() || index < 1 || size_t(index) > it->second.size()) return nullptr;
    const uint32_t id = it->second[size_t(index - 1)];
    return id ? m_movie->trackByID(id) : nullptr;
}

int32_t Track::referenceCount(OSType type) const
{
    auto it = m_references.find(type);
    return it == m_references.end() ? 0 : int32_t(it->second.size());
}

// ---- Movie ----

Movie::Movie(TimeScale timeScale)
    : m_timeScale(timeScale > 0 && timeScale <= Media::kMaxTimeScale ? timeScale : 600)
{
}

Movie::~Movie() = default;

OSErr Movie::setTimeScale(TimeScale scale)
{
    if (scale <= 0 || scale > Media::kMaxTimeScale) return report(paramErr);
    if (scale == m_timeScale) return report(noErr);
    for (auto& t : m_tracks) {
        rescaleEdits(t->m_edits, scale, m_timeScale);
        t->normalize();
    }
    m_timeScale = scale;
    ++m_changes;
    return report(noErr);
}

TimeValue Movie::duration() const
{
    TimeValue d = 0;
    for (const auto& t : m_tracks)
        d = std::max(d, t->duration());
    return d;
}

Track* Movie::addTrackWithID(uint32_t id)
{
    m_tracks.push_back(std::unique_ptr<Track>(new Track(this, id)));
    m_nextTrackID = std::max(m_nextTrackID, id + 1);
    ++m_changes;
    return m_tracks.back().get();
}

Track* Movie::newTrack(Fixed width, Fixed height, int16_t volume)
{
    Track* t = addTrackWithID(m_nextTrackID);
    t->setDimensions(width, height);
    t->setVolume(volume);
    report(noErr);
    return t;
}

OSErr Movie::newTrackMedia(Track* track, OSType mediaType, TimeScale timeScale)
{
    if (!owns(track)) return report(invalidTrack);
    if (mediaType == 0 || timeScale <= 0 || timeScale > Media::kMaxTimeScale)
        return report(paramErr);
    auto media = std::make_shared<Media>(mediaType, timeScale);
    media->setStorage(m_storage);
    track->m_media = std::move(media);
    ++m_changes;
    return report(noErr);
}

OSErr Movie::disposeTrack(Track* track)
{
    if (!owns(track)) return report(invalidTrack);
    const uint32_t id = track->id();
    for (auto& t : m_tracks) {
        for (auto& [type, ids] : t->m_references)
            std::replace(ids.begin(), ids.end(), id, 0u);
    }
    m_tracks.erase(std::find_if(m_tracks.begin(), m_tracks.end(),
                                [&](const auto& p) { return p.get() == track; }));
    ++m_changes;
    return report(noErr);
}

std::unique_ptr<Movie> Movie::snapshot() const
{
    auto copy = std::make_unique<Movie>(m_timeScale);
    for (const auto& t : m_tracks) {
        Track* c = copy->addTrackWithID(t->m_id);
        c->m_layer = t->m_layer;
        c->m_enabled = t->m_enabled;
        c->m_volume = t->m_volume;
        c->m_width = t->m_width;
        c->m_height = t->m_height;
        c->m_matrix = t->m_matrix;
        c->m_clip = t->m_clip;
        c->m_media = t->m_media;
        c->m_edits = t->m_edits;
        c->m_references = t->m_references;
        c->m_starts = t->m_starts;
    }
    copy->m_nextTrackID = m_nextTrackID;
    copy->m_active = m_active;
    copy->m_matrix = m_matrix;
    copy->m_clip = m_clip;
    copy->m_displayClip = m_displayClip;
    copy->m_volume = m_volume;
    copy->m_playHints = m_playHints;
    return copy;
}

Track* Movie::indTrack(size_t index) const
{
    if (index < 1 || index > m_tracks.size()) return nullptr;
    return m_tracks[index - 1].get();
}

Track* Movie::trackByID(uint32_t id) const
{
    for (const auto& t : m_tracks) {
        if (t->id() == id) return t.get();
    }
    return nullptr;
}

namespace {

bool hasCharacteristic(const Track& t, OSType characteristic)
{
    if (!t.media()) return false;
    const OSType type = t.media()->type();
    if (characteristic == VisualMediaCharacteristic)
        return type == VideoMediaType || type == TextMediaType;
    if (characteristic == AudioMediaCharacteristic) return type == SoundMediaType;
    return false;
}

} // namespace

Track* Movie::indTrackWithCharacteristic(size_t index, OSType characteristic,
                                         bool enabledOnly) const
{
    size_t n = 0;
    for (const auto& t : m_tracks) {
        if ((enabledOnly && !t->enabled()) || !hasCharacteristic(*t, characteristic)) continue;
        if (++n == index) return t.get();
    }
    return nullptr;
}

size_t Movie::countTracksWithCharacteristic(OSType characteristic, bool enabledOnly) const
{
    size_t n = 0;
    for (const auto& t : m_tracks) {
        if ((!enabledOnly || t->enabled()) && hasCharacteristic(*t, characteristic)) ++n;
    }
    return n;
}

std::vector<Track*> Movie::enabledTracksByLayer() const
{
    std::vector<Track*> out;
    for (const auto& t : m_tracks) {
        if (t->enabled()) out.push_back(t.get());
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Track* a, const Track* b) { return a->layer() < b->layer(); });
    return out;
}

bool Movie::owns(const Track* track) const
{
    if (!track) return false;
    return std::any_of(m_tracks.begin(), m_tracks.end(),
                       [&](const auto& p) { return p.get() == track; });
}

OSErr Movie::deleteSegment(TimeValue start, TimeValue duration)
{
    if (start < 0) return report(invalidTime);
    if (duration <= 0) return report(invalidDuration);
    for (auto& t : m_tracks) {
        if (OSErr err = t->deleteSegment(start, duration)) return err;
    }
    return report(noErr);
}

Rect Movie::naturalBounds() const
{
    Rect b{};
    for (const auto& t : m_tracks) {
        if (t->enabled()) b = unite(b, t->bounds());
    }
    if (m_clip) b = intersect(b, m_clip->bounds());
    return b;
}

Rect Movie::box() const
{
    const Rect natural = naturalBounds();
    if (natural.isEmpty()) return Rect{};
    return m_matrix.transformRect(natural);
}

void Movie::setBox(const Rect& box)
{
    const Rect natural = naturalBounds();
    if (natural.isEmpty()) {
        m_matrix = MatrixRecord::translation(box.left << 16, box.top << 16);
    } else {
        m_matrix = MatrixRecord::mapRect(natural, box);
    }
    ++m_changes;
}

void Movie::setPlayHints(uint32_t flags, uint32_t mask)
{
    m_playHints = (m_playHints & ~mask) | (flags & mask);
}

OSErr Movie::callProgress(int16_t message, Fixed fraction)
{
    if (!m_progress) return noErr;
    return m_progress(*this, message, fraction);
}

OSErr Movie::report(OSErr err) const
{
    m_lastError = err;
    if (err != noErr && m_errorProc) m_errorProc(err);
    return err;
}

ImageDescription makeImageDescriptionForEffect(OSType effectType, int16_t width, int16_t height)
{
    ImageDescription d;
    d.cType = effectType;
    d.width = width;
    d.height = height;
    d.depth = 32;
    d.frameCount = 1;
    d.clutID = -1;
    return d;
}

} // namespace zef::movies
