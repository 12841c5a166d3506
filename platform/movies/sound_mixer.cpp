#include "platform/movies/sound_mixer.h"

#include "platform/movies/audio_fade.h"
#include "platform/movies/input_map.h"
#include "platform/movies/sound_media_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zef::movies {

namespace {

// Output frames are processed in blocks of this many when a segment is resampled.
constexpr int64_t kBlockFrames = 4096;
// A segment that plays its media more than this many times faster is silent.
constexpr double kMaxRate = 16.0;

bool isSoundTrack(const Track& track)
{
    if (track.media()) return track.media()->type() == SoundMediaType;
    for (const Edit& e : track.edits())
        if (e.media && e.media->type() == SoundMediaType) return true;
    return false;
}

void keepFirst(OSErr& result, OSErr err)
{
    if (result == noErr) result = err;
}

// Calls f(modifier track) for each enabled track that the track's input map attaches as a
// volume modifier. Reads the map in place (nothing is allocated).
template <typename F> void forEachVolumeModifier(const Track& track, F&& f)
{
    const auto& media = track.media();
    if (!media) return;
    const AtomContainer& map = media->inputMap();
    const int16_t n = map.countChildrenOfType(kParentAtomIsContainer, kTrackModifierInput);
    for (int16_t k = 1; k <= n; ++k) {
        QTAtomID reference = 0;
        const QTAtom in =
            map.findChildByIndex(kParentAtomIsContainer, kTrackModifierInput, k, &reference);
        const QTAtom ty = map.findChildByID(in, kTrackModifierType, 1);
        uint32_t type = 0;
        if (!ty || map.getAtomUInt32BE(ty, &type) != noErr || type != kTrackModifierTypeVolume)
            continue;
        const Track* modifier = track.reference(kTrackReferenceModifier, reference);
        if (modifier && modifier->enabled()) f(*modifier);
    }
}

// Fade samples read so far, by media and sample number (samples never change once added).
class FadeCache {
public:
    // The fade of a sample, or null when the sample is not a readable fade.
    const FadeTween* get(const std::shared_ptr<Media>& media, int64_t index)
    {
        for (Entry& e : m_entries) {
            if (e.key != media.get() || e.index != index) continue;
            if (e.media.lock() == media) return e.valid ? &e.fade : nullptr;
            e.key = nullptr; // a media that went away, its address now reused
        }
        std::erase_if(m_entries, [](const Entry& e) { return e.key == nullptr; });
        if (m_entries.size() >= 64) m_entries.clear();
        Entry e;
        e.media = media;
        e.key = media.get();
        e.index = index;
        e.valid = media->getSampleData(index, m_bytes) == noErr &&
                  readFadeTween(m_bytes, e.fade) == noErr;
        m_entries.push_back(e);
        return e.valid ? &m_entries.back().fade : nullptr;
    }
    void clear() { m_entries.clear(); }

private:
    struct Entry {
        std::weak_ptr<Media> media;
        const Media* key = nullptr;
        int64_t index = 0;
        bool valid = false;
        FadeTween fade;
    };
    std::vector<Entry> m_entries;
    std::vector<uint8_t> m_bytes;
};

} // namespace

struct SoundMixer::Impl {
    Impl(int32_t rate, int32_t channels, ComponentManager* components)
        : reader(rate, channels, components)
    {
    }

    SoundMediaReader reader;
    std::vector<float> mix;   // the sum of the tracks
    std::vector<float> track; // one track's sound
    std::vector<float> gain;  // one track's level per frame
    std::vector<float> fetch; // media frames around a resampled block
    FadeCache fades;
};

SoundMixer::SoundMixer(int32_t rate, int32_t channels, ComponentManager* components)
    : m_rate(rate), m_channels(channels),
      m_valid(rate >= 1 && rate <= 768000 && channels >= 1 && channels <= 8),
      m_impl(std::make_unique<Impl>(m_valid ? rate : 1, m_valid ? channels : 1, components))
{
}

SoundMixer::~SoundMixer() = default;

void SoundMixer::reset()
{
    m_impl->reader.reset();
    m_impl->fades.clear();
}
size_t SoundMixer::decoderCount() const { return m_impl->reader.decoderCount(); }
int64_t SoundMixer::decoderSeeks() const { return m_impl->reader.decoderSeeks(); }

int64_t SoundMixer::frameIndex(TimeValue time, TimeScale scale) const
{
    if (scale <= 0) return 0;
    return floorDivWide(__int128(time) * m_rate, scale);
}

OSErr SoundMixer::mix(const Movie& movie, TimeValue start, TimeValue duration, TimeScale scale,
                      std::vector<int16_t>& out)
{
    if (scale == 0) scale = movie.timeScale();
    out.clear();
    if (!m_valid || scale < 0 || duration < 0) return paramErr;
    const int64_t first = frameIndex(start, scale);
    const int64_t end = floorDivWide((__int128(start) + duration) * m_rate, scale);
    if (__int128(end) - first > kMaxFrames) return paramErr;
    out.resize(size_t(end - first) * size_t(m_channels));
    return mixFrames(movie, first, end - first, out.data());
}

namespace {

// The sound of one track over output frames [first, first + count), with the per-frame level.
class TrackMixer {
public:
    TrackMixer(const Movie& movie, int32_t rate, int32_t channels, SoundMediaReader& reader,
               std::vector<float>& fetch)
        : m_movie(movie), m_rate(rate), m_channels(size_t(channels)), m_reader(reader),
          m_fetch(fetch)
    {
    }

    // Renders the track's segments into out (cleared by the caller); returns the first problem.
    OSErr render(const Track& track, int64_t first, int64_t count, float* out)
    {
        OSErr result = noErr;
        forEachEdit(
            track, first, count, [&](const Edit& e, TimeValue, int64_t n0, int64_t a, int64_t b) {
                if (e.isEmpty() || e.media->type() != SoundMediaType) return;
                keepFirst(result, renderEdit(e, n0, a, b, out + size_t(a - first) * m_channels));
            });
        return result;
    }

    // Multiplies gain (count values) by the fade tween track's values.
    void applyFade(const Track& fade, int64_t first, int64_t count, float* gain, FadeCache& fades)
    {
        const int64_t movieScale = m_movie.timeScale();
        forEachEdit(
            fade, first, count, [&](const Edit& e, TimeValue es, int64_t, int64_t a, int64_t b) {
                if (e.isEmpty() || e.media->type() != TweenMediaType) return;
                const Media& media = *e.media;
                const std::shared_ptr<Media>& shared = e.media;
                // Media time of frame n: mediaTime + (n × movieScale / rate − es) × md / d.
                const double k = double(e.mediaDuration) / (double(e.duration) * double(m_rate));
                // n × movieScale − es × rate is exact; in 64 bits when it fits (the usual case,
                // and much faster), else in 128 bits. Both give the same value for a frame.
                const __int128 origin = __int128(es) * m_rate;
                const bool narrow =
                    origin > -(INT64_C(1) << 61) && origin < (INT64_C(1) << 61) &&
                    std::max(std::abs(a), std::abs(b)) < (INT64_C(1) << 61) / movieScale;
                const int64_t origin64 = narrow ? int64_t(origin) : 0;
                // Frames of this segment read inside its media span (frame n0 may lie a fraction of
                // a frame before the segment's start).
                const double spanStart = double(e.mediaTime);
                const double spanLast = std::nextafter(double(e.mediaTime + e.mediaDuration), 0.0);
                auto mediaTimeOf = [&](int64_t n) {
                    const double x = narrow ? double(n * movieScale - origin64)
                                            : double(__int128(n) * movieScale - origin);
                    return std::clamp(spanStart + x * k, spanStart, spanLast);
                };
                int64_t j = media.sampleIndexAtTime(
                    std::max<TimeValue>(0, TimeValue(std::floor(mediaTimeOf(a)))));
                if (j < 0) return;
                double sStart = 0, sEnd = 0, v0 = 1, slope = 0;
                bool valid = false;
                auto load = [&](int64_t index) {
                    sStart = double(media.sampleStart(index));
                    sEnd = sStart + double(media.sample(index)->duration);
                    const FadeTween* t = fades.get(shared, index);
                    valid = t != nullptr;
                    if (!t) return;
                    v0 = double(t->start) / 65536.0;
                    slope = double(t->end - t->start) / 65536.0 / (sEnd - sStart);
                };
                load(j);
                for (int64_t n = a; n < b; ++n) {
                    const double m = mediaTimeOf(n);
                    while (m >= sEnd && j + 1 < media.sampleCount())
                        load(++j);
                    if (m >= sEnd || m < sStart) continue;
                    if (valid) gain[n - first] *= float(v0 + slope * (m - sStart));
                }
            });
    }

private:
    // Calls f(edit, editStart, edit's first output frame, a, b) for each segment that holds
    // output frames [a, b) of [first, first + count).
    template <typename F> void forEachEdit(const Track& track, int64_t first, int64_t count, F&& f)
    {
        const int64_t movieScale = m_movie.timeScale();
        const int64_t end = first + count;
        size_t index = 0;
        TimeValue es = 0;
        // Start at the segment holding the span's first time (segments before it end earlier).
        const TimeValue t0 = floorDivWide(__int128(first) * movieScale, m_rate);
        TrackPosition pos;
        if (t0 > 0 && track.lookup(t0, pos)) {
            index = pos.editIndex;
            es = pos.editStart;
        }
        const auto& edits = track.edits();
        for (; index < edits.size(); ++index) {
            const Edit& e = edits[index];
            const TimeValue ee = es + e.duration;
            const int64_t n0 = floorDivWide(__int128(es) * m_rate, movieScale);
            const int64_t n1 = floorDivWide(__int128(ee) * m_rate, movieScale);
            if (n0 >= end) break;
            const int64_t a = std::max(first, n0), b = std::min(end, n1);
            if (a < b) f(e, es, n0, a, b);
            es = ee;
        }
    }

    OSErr renderEdit(const Edit& e, int64_t n0, int64_t a, int64_t b, float* out)
    {
        const int64_t ms = e.media->timeScale();
        const __int128 num = __int128(e.mediaDuration) * m_movie.timeScale();
        const __int128 den = __int128(e.duration) * ms;
        // The media frame at the segment's first output frame.
        const int64_t s0 = floorDivWide(__int128(e.mediaTime) * m_rate, ms);
        // A segment whose rate rounds to 1.0 in 16.16 (its length was only rounded to the
        // movie's time scale) plays its media frame by frame.
        if (num == den || e.rate(m_movie.timeScale()) == kFixed1)
            return m_reader.render(e.media, s0 + (a - n0), b - a, out);
        const double step = double(num) / double(den);
        if (!(step > 0) || step > kMaxRate) return featureUnsupported;
        OSErr result = noErr;
        for (int64_t blockStart = a; blockStart < b; blockStart += kBlockFrames) {
            const int64_t blockEnd = std::min(b, blockStart + kBlockFrames);
            auto pos = [&](int64_t n) { return double(s0) + double(n - n0) * step; };
            const int64_t lo = int64_t(std::floor(pos(blockStart)));
            const int64_t hi = int64_t(std::floor(pos(blockEnd - 1))) + 2;
            m_fetch.assign(size_t(hi - lo) * m_channels, 0.0f);
            keepFirst(result, m_reader.render(e.media, lo, hi - lo, m_fetch.data()));
            float* dst = out + size_t(blockStart - a) * m_channels;
            for (int64_t n = blockStart; n < blockEnd; ++n, dst += m_channels) {
                const double q = pos(n) - double(lo);
                const int64_t i = std::clamp<int64_t>(int64_t(std::floor(q)), 0, hi - lo - 2);
                const float w = float(q - double(i));
                const float* p = m_fetch.data() + size_t(i) * m_channels;
                for (size_t c = 0; c < m_channels; ++c)
                    dst[c] = p[c] + (p[c + m_channels] - p[c]) * w;
            }
        }
        return result;
    }

    const Movie& m_movie;
    int32_t m_rate;
    size_t m_channels;
    SoundMediaReader& m_reader;
    std::vector<float>& m_fetch;
};

} // namespace

OSErr SoundMixer::mixFrames(const Movie& movie, int64_t first, int64_t count, int16_t* out)
{
    if (!m_valid || count < 0 || count > kMaxFrames || (count > 0 && !out) ||
        first > INT64_MAX / 2 || first < INT64_MIN / 2)
        return paramErr;
    const size_t ch = size_t(m_channels);
    const size_t values = size_t(count) * ch;
    Impl& m = *m_impl;
    m.reader.beginMix();
    m.mix.assign(values, 0.0f);
    OSErr result = noErr;
    const double movieGain = double(movie.volume()) / 256.0;
    TrackMixer tm(movie, m_rate, m_channels, m.reader, m.fetch);
    for (const auto& trackPtr : movie.tracks()) {
        const Track& track = *trackPtr;
        if (movieGain <= 0 || count == 0) break;
        if (!track.enabled() || track.volume() <= 0 || !isSoundTrack(track)) continue;
        const float base = float(movieGain * double(track.volume()) / 256.0);

        m.track.assign(values, 0.0f);
        keepFirst(result, tm.render(track, first, count, m.track.data()));

        bool varying = false;
        forEachVolumeModifier(track, [&](const Track& fade) {
            if (!varying) m.gain.assign(size_t(count), base);
            varying = true;
            tm.applyFade(fade, first, count, m.gain.data(), m.fades);
        });
        float* dst = m.mix.data();
        const float* src = m.track.data();
        if (varying) {
            for (int64_t i = 0; i < count; ++i) {
                const float g = m.gain[size_t(i)];
                for (size_t c = 0; c < ch; ++c)
                    *dst++ += *src++ * g;
            }
        } else {
            for (size_t i = 0; i < values; ++i)
                dst[i] += src[i] * base;
        }
    }
    for (size_t i = 0; i < values; ++i) {
        const float v = std::nearbyint(m.mix[i]);
        out[i] = int16_t(std::clamp(v, -32768.0f, 32767.0f));
    }
    return result;
}

OSErr mixMovieSound(const Movie& movie, TimeValue start, TimeValue duration, TimeScale scale,
                    int32_t rate, int32_t channels, std::vector<int16_t>& out,
                    ComponentManager* components)
{
    SoundMixer mixer(rate, channels, components);
    return mixer.mix(movie, start, duration, scale, out);
}

} // namespace zef::movies
