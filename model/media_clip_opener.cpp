#include "model/media_clip_opener.h"

#include "platform/movies/pixmap.h"
#include "platform/movies/video_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>

namespace zef {

FrameRate exactFrameRate(int64_t timeScale, int64_t shortest)
{
    if (timeScale <= 0 || shortest <= 0) return {};
    const int64_t g = std::gcd(timeScale, shortest);
    int64_t num = timeScale / g;
    int64_t den = shortest / g;
    if (num <= kMaxRateNum && den <= kMaxRateDen) return {int32_t(num), int32_t(den)};

    // The closest ratio within the bounds: the last convergent (or semiconvergent) of the
    // continued fraction of num / den that still fits.
    int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    int64_t n = num, d = den;
    FrameRate best{int32_t(std::clamp<int64_t>(num / den, 1, kMaxRateNum)), 1};
    while (d != 0) {
        const int64_t a = n / d;
        int64_t p2 = a * p1 + p0, q2 = a * q1 + q0;
        if (p2 > kMaxRateNum || q2 > kMaxRateDen) {
            // The largest step towards the next convergent that still fits.
            int64_t k =
                std::min(p1 ? (kMaxRateNum - p0) / p1 : a, q1 ? (kMaxRateDen - q0) / q1 : a);
            if (k > 0 && k * 2 >= a) {
                const int64_t ps = k * p1 + p0, qs = k * q1 + q0;
                const double want = double(num) / double(den);
                if (std::abs(double(ps) / double(qs) - want) <
                    std::abs(double(best.num) / double(best.den) - want))
                    best = {int32_t(ps), int32_t(qs)};
            }
            break;
        }
        if (p2 > 0 && q2 > 0) best = {int32_t(p2), int32_t(q2)};
        p0 = p1, q0 = q1, p1 = p2, q1 = q2;
        const int64_t r = n - a * d;
        n = d, d = r;
    }
    return best;
}

FrameRate graphFrameRate(double r)
{
    if (!(r > 0) || !std::isfinite(r) || r > 1e6) return {};
    if (int64_t(r * 10) % 10 != 0) return {int32_t(std::llround(r * 1000)), 1000};
    return {int32_t(std::max<int64_t>(1, std::llround(r))), 1};
}

int32_t audioRateOf(uint32_t rate)
{
    switch (rate) {
    case 0x2B110000u:
        return 11025;
    case 0x2B7745D1u:
        return 11127;
    case 0x56220000u:
        return 22050;
    case 0x56EE8BA3u:
        return 22254;
    case 0xAC440000u:
        return 44100;
    case 0xBB800000u:
        return 48000;
    default:
        return int32_t(rate >> 16);
    }
}

std::pair<int32_t, int32_t> thumbnailSize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return {0, 0};
    const int64_t w = width, h = height;
    if (w >= h)
        return {kThumbnailSide, int32_t(std::max<int64_t>(1, (h * kThumbnailSide + w / 2) / w))};
    return {int32_t(std::max<int64_t>(1, (w * kThumbnailSide + h / 2) / h)), kThumbnailSide};
}

std::string resolveClipPath(const std::string& path)
{
    if (path.empty() || path.front() == '/') return path;
    const bool drive = path.size() >= 2 && path[1] == ':';
    const bool share = path.rfind("\\\\", 0) == 0;
    if (drive || share) return path;
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return path;
    return (cwd / path).string();
}

// ---- MovieClipMedia

MovieClipMedia::MovieClipMedia(std::shared_ptr<const movies::MediaFile> file, FrameRate rate)
    : m_file(std::move(file)), m_rate(rate), m_enabled(m_file->tracks().size(), false)
{
}

void MovieClipMedia::selectTracks(int32_t videoTrackIndex, int32_t audioTrackIndex)
{
    int32_t visual = 0, audible = 0;
    m_videoTrack = m_audioTrack = -1;
    const auto& tracks = m_file->tracks();
    for (size_t i = 0; i < tracks.size(); ++i) {
        bool on = false;
        if (tracks[i].visual && visual++ == videoTrackIndex) {
            on = true;
            if (tracks[i].mediaType == movies::kVideoMediaType) m_videoTrack = int32_t(i);
        }
        if (tracks[i].audible && audible++ == audioTrackIndex) {
            on = true;
            if (tracks[i].mediaType == movies::kSoundMediaType) m_audioTrack = int32_t(i);
        }
        m_enabled[i] = on;
    }
}

std::unique_ptr<ClipMedia> MovieClipMedia::share() const
{
    return std::make_unique<MovieClipMedia>(m_file, m_rate);
}

int64_t MovieClipMedia::mediaTimeAt(const EditTime& t) const
{
    if (m_videoTrack < 0 || m_rate.num <= 0 || m_rate.den <= 0) return -1;
    const movies::TrackInfo& track = m_file->tracks()[size_t(m_videoTrack)];
    if (track.duration <= 0) return -1;
    // The nearest frame of the clip's rate, then the middle of that frame in media units.
    const int64_t num = m_rate.num, den = m_rate.den;
    const int64_t ticks = std::max<int64_t>(0, t.ticks());
    const int64_t frame = (ticks * num + den * 300) / (den * kTicksPerSecond);
    const __int128 mid = (__int128(2 * frame + 1) * track.timeScale * den) / (2 * num);
    return int64_t(std::min<__int128>(mid, track.duration - 1));
}

bool MovieClipMedia::drawFrame(const EditTime& t, uint8_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width <= 0 || height <= 0) return false;
    const int64_t mediaTime = mediaTimeAt(t);
    if (mediaTime < 0) return false;
    // A decoder only for this picture: clips keep no decoder (and its frame buffers) open
    // between thumbnails.
    movies::VideoDecoder::Options options;
    options.threads = 1;
    options.cacheFrames = 1;
    options.cacheBytes = 0;
    movies::VideoDecoder decoder(m_file, size_t(m_videoTrack), options);
    if (!decoder.isValid()) return false;
    movies::Pixmap picture(width, height);
    if (!decoder.drawAt(mediaTime, picture)) return false;
    std::memcpy(pixels, picture.data(), size_t(width) * size_t(height) * 4);
    return true;
}

// ---- MediaClipOpener

MediaInfo MediaClipOpener::mediaInfoOf(const movies::MediaFile& file, int32_t videoTrackIndex,
                                       int32_t audioTrackIndex)
{
    MediaInfo info;
    for (const movies::TrackInfo& t : file.tracks()) {
        if (t.visual) ++info.videoTrackCount;
        if (t.audible) ++info.audioTrackCount;
    }
    const int32_t v =
        videoTrackIndex >= 0 ? file.findTrack(movies::kVideoMediaType, videoTrackIndex) : -1;
    if (v >= 0) {
        const movies::TrackInfo& t = file.tracks()[size_t(v)];
        const int64_t shortest = t.shortestFirstDuration();
        const FrameRate rate = exactFrameRate(t.timeScale, shortest);
        if (rate.num > 0) {
            info.rateNum = rate.num;
            info.rateDen = rate.den;
            info.frameCount = int32_t(std::clamp<int64_t>(t.duration / shortest, 1, INT32_MAX));
            movies::Handle description = t.imageDescription.toHandle();
            if (description.size() >= movies::ImageDescription::kBaseSize) {
                info.imageDescription = std::move(description);
                auto [w, h] = thumbnailSize(t.imageDescription.width, t.imageDescription.height);
                info.thumbWidth = w;
                info.thumbHeight = h;
            }
        }
    }
    const int32_t a =
        audioTrackIndex >= 0 ? file.findTrack(movies::kSoundMediaType, audioTrackIndex) : -1;
    if (a >= 0) {
        const movies::TrackInfo& t = file.tracks()[size_t(a)];
        movies::Handle description = t.soundDescription.toHandle();
        if (description.size() >= movies::SoundDescription::kV0Size) {
            info.audioRate = audioRateOf(t.soundDescription.sampleRate);
            info.audioSampleCount = int32_t(std::clamp<int64_t>(t.sampleCount, 0, INT32_MAX));
            info.soundDescription = std::move(description);
        }
    }
    return info;
}

MediaInfo MediaClipOpener::mediaInfoOf(const GraphMediaInfo& graph)
{
    MediaInfo info;
    info.videoTrackCount = graph.hasVideo ? 1 : 0;
    info.audioTrackCount = graph.hasAudio ? 1 : 0;
    if (graph.hasVideo) {
        const FrameRate rate = graphFrameRate(graph.framesPerSecond);
        info.rateNum = rate.num;
        info.rateDen = rate.den;
        info.frameCount = std::max(0, graph.frameCount);
        info.imageDescription = graph.image.toHandle();
        auto [w, h] = thumbnailSize(graph.image.width, graph.image.height);
        info.thumbWidth = w;
        info.thumbHeight = h;
    }
    if (graph.hasAudio) {
        info.audioRate = audioRateOf(graph.sound.sampleRate);
        info.audioSampleCount = std::max(0, graph.audioSampleCount);
        info.soundDescription = graph.sound.toHandle();
    }
    return info;
}

std::unique_ptr<ClipMedia> MediaClipOpener::open(const std::string& path, int32_t videoTrackIndex,
                                                 int32_t audioTrackIndex, MediaInfo& info,
                                                 bool& notAMovie)
{
    notAMovie = false;
    const std::string file = resolveClipPath(path);
    if (m_graph && m_viaGraph.count(file)) {
        GraphMediaInfo graph;
        if (std::unique_ptr<ClipMedia> media = m_graph->open(file, graph)) {
            info = mediaInfoOf(graph);
            return media;
        }
        m_viaGraph.erase(file); // changed meanwhile: the toolbox may take it now
    }
    movies::MediaOpenResult opened = movies::MediaFile::open(file);
    if (opened.status == movies::MediaOpenStatus::ok && opened.file) {
        info = mediaInfoOf(*opened.file, videoTrackIndex, audioTrackIndex);
        auto media =
            std::make_unique<MovieClipMedia>(opened.file, FrameRate{info.rateNum, info.rateDen});
        media->selectTracks(videoTrackIndex, audioTrackIndex);
        return media;
    }
    notAMovie = opened.status == movies::MediaOpenStatus::notAMovie;
    if (m_graph) {
        GraphMediaInfo graph;
        if (std::unique_ptr<ClipMedia> media = m_graph->open(file, graph)) {
            info = mediaInfoOf(graph);
            m_viaGraph.insert(file);
            return media;
        }
    }
    return nullptr;
}

} // namespace zef
