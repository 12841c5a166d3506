#include "model/source_item.h"

#include "model/device.h"
#include "model/project.h"
#include "model/user_interface.h"
#include "model/zef_exception.h"
#include "platform/storage/stream.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

namespace zef {

namespace {

int32_t clampDelta(int64_t delta)
{
    return int32_t(std::clamp<int64_t>(delta, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

std::string baseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int32_t bigEndian16(const movies::Handle& h, size_t offset)
{
    return int16_t(uint16_t(h.data()[offset] << 8 | h.data()[offset + 1]));
}

constexpr size_t kImageDescriptionSize = 86;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

} // namespace

std::string substitutePrefix(const std::string& path, const std::string& from,
                             const std::string& to)
{
    std::string rest = path.substr(std::min(from.size(), path.size()));
    // A path of a drive-letter system moved to a folder here takes this system's separators.
    if (!to.empty() && to.front() == '/') std::replace(rest.begin(), rest.end(), '\\', '/');
    return to + rest;
}

ZEFSourceItem::ZEFSourceItem(FProject* project, int32_t track, ZEFItem* owner)
    : ZEFItem(project, track, owner)
{
    m_matrices[0] = movies::MatrixRecord::identity();
    m_matrices[1] = movies::MatrixRecord::identity();
}

ZEFSourceItem::~ZEFSourceItem() { close(); }

bool ZEFSourceItem::activate()
{
    if (!m_media) {
        // A clip left invalid tries its file again: it may be back (a drive mounted again).
        const bool wasInvalid = m_invalid;
        try {
            open(false, false, false, false);
        } catch (const ZEFException&) {
            return false;
        }
        if (!m_media) return false;
        if (wasInvalid) {
            refreshThumbnail();
            // Its built tracks showed no media: they are made again. The stored project is
            // the same as before, so the modified flag stays as it was.
            const bool modified = m_project && m_project->modified;
            reportChange(false, true);
            if (m_project) m_project->modified = modified;
        }
    }
    if (m_project) m_project->previewShowClip(this);
    return true;
}

EditTime ZEFSourceItem::mediaDuration() const
{
    if (m_invalid) return m_sourceOut;
    if (m_mediaRateNum > 0 && m_mediaRateDen > 0)
        return EditTime::raw(int64_t(m_frameCount) * m_mediaRateDen * 600 / m_mediaRateNum,
                             m_mediaRateNum, m_mediaRateDen);
    if (m_audioRate > 0) return EditTime::raw(int64_t(m_audioSampleCount) * 600 / m_audioRate);
    return EditTime();
}

EditTime ZEFSourceItem::sourceToTimeline(const EditTime& t) const
{
    EditTime r = t - m_sourceIn;
    r.scale(factor());
    r += m_start;
    // The result is a timeline time: snapped to the project's edit rate.
    return EditTime(r.ticks(), 0, 1, r.extra());
}

EditTime ZEFSourceItem::timelineToSource(const EditTime& t, bool clamp) const
{
    EditTime r = t - m_start;
    r.scale(1.0 / factor());
    r.setRate(m_mediaRateNum, m_mediaRateDen);
    r += m_sourceIn;
    if (clamp) {
        if (r.ticks() < 0) r.setTicks(0);
        EditTime d = mediaDuration();
        if (r > d) r.setTicks(d.ticks());
    }
    return r;
}

EditTime ZEFSourceItem::earliestStart() const
{
    if (isStill()) return EditTime();
    EditTime in = m_sourceIn;
    in.scale(factor());
    return EditTime::raw(std::max<int64_t>(0, m_start.ticks() - in.ticks()));
}

bool ZEFSourceItem::latestEnd(EditTime& out) const
{
    if (isStill()) return false;
    EditTime rest = mediaDuration() - m_sourceIn;
    rest.scale(factor());
    out = EditTime::raw(m_start.ticks() + rest.ticks());
    return true;
}

DeckRequest ZEFSourceItem::createDeck(bool forTransition)
{
    if (forTransition && m_transition)
        return {DeckRequest::EffectSettings, m_transition.get(), 200};
    return {DeckRequest::ClipSettings, this, 199};
}

EditTime ZEFSourceItem::trimStart(EditTime t, int32_t mode, bool clamp)
{
    if (m_invalid) return m_start;
    EditTime oldStart = m_start;
    EditTime result = ZEFItem::trimStart(t, mode, clamp);
    if (clamp) {
        if (isStill()) {
            retimeStill();
        } else if (m_start != oldStart) {
            EditTime d = m_start - oldStart;
            d.scale(1.0 / factor());
            int64_t in = std::max<int64_t>(0, m_sourceIn.ticks() + d.ticks());
            m_sourceIn = EditTime(in, m_mediaRateNum, m_mediaRateDen, m_sourceIn.extra());
        }
    }
    return result;
}

EditTime ZEFSourceItem::trimEnd(EditTime t, int32_t mode, bool clamp)
{
    if (m_invalid) return m_end;
    EditTime oldEnd = m_end;
    EditTime result = ZEFItem::trimEnd(t, mode, clamp);
    if (clamp) {
        if (isStill()) {
            retimeStill();
        } else if (m_end != oldEnd) {
            EditTime d = m_end - oldEnd;
            d.scale(1.0 / factor());
            EditTime out(m_sourceOut.ticks() + d.ticks(), m_mediaRateNum, m_mediaRateDen,
                         m_sourceOut.extra());
            EditTime limit = mediaDuration();
            if (out > limit) out = EditTime::raw(limit.ticks(), m_mediaRateNum, m_mediaRateDen);
            m_sourceOut = out;
        }
    }
    return result;
}

// After a trim with clamp, a still shows its one frame for the whole new duration.
void ZEFSourceItem::retimeStill()
{
    m_sourceIn = EditTime::raw(0, m_mediaRateNum, m_mediaRateDen);
    m_sourceOut = mediaDuration();
    if (m_sourceOut.ticks() > 0)
        m_scaleFactor = float(double((m_end - m_start).ticks()) / double(m_sourceOut.ticks()));
    if (m_scaleType == 0) m_scaleType = 2;
}

// Gives the item the duration of its source range at its factor; later items follow.
void ZEFSourceItem::retime(EditTime oldDuration)
{
    EditTime d = m_sourceOut - m_sourceIn;
    d.scale(factor());
    m_end.setTicks(m_start.ticks() + d.ticks());
    if (ZEFItem* nx = next()) nx->rippleShift(clampDelta(d.ticks() - oldDuration.ticks()));
    reportChange(false, true);
}

void ZEFSourceItem::setSourceIn(const EditTime& t)
{
    if (m_invalid) return;
    EditTime oldDuration = m_end - m_start;
    m_sourceIn = EditTime(t.ticks(), m_mediaRateNum, m_mediaRateDen, t.extra());
    retime(oldDuration);
    refreshThumbnail();
}

void ZEFSourceItem::setSourceOut(const EditTime& t)
{
    if (m_invalid) return;
    EditTime oldDuration = m_end - m_start;
    m_sourceOut = EditTime(t.ticks(), m_mediaRateNum, m_mediaRateDen, t.extra());
    retime(oldDuration);
}

void ZEFSourceItem::setScaleFactor(float f)
{
    if (!(f > 0.0f) || !std::isfinite(f)) throw ZEFException("Invalid scale factor");
    if (f == m_scaleFactor || m_invalid) return;
    EditTime oldDuration = m_end - m_start;
    m_scaleFactor = f;
    retime(oldDuration);
}

// ---- media

void ZEFSourceItem::setMediaInfo(const MediaInfo& info)
{
    m_mediaRateNum = info.rateNum;
    m_mediaRateDen = info.rateDen > 0 ? info.rateDen : 1;
    m_frameCount = info.frameCount;
    m_audioRate = info.audioRate;
    m_audioSampleCount = info.audioSampleCount;
    m_videoTrackCount = info.videoTrackCount;
    m_audioTrackCount = info.audioTrackCount;
    m_thumbWidth = std::clamp(info.thumbWidth, 0, 1024);
    m_thumbHeight = std::clamp(info.thumbHeight, 0, 1024);
    m_imageDescription = info.imageDescription;
    m_soundDescription = info.soundDescription;
}

MediaInfo ZEFSourceItem::mediaInfo() const
{
    MediaInfo info;
    info.rateNum = m_mediaRateNum;
    info.rateDen = m_mediaRateDen;
    info.frameCount = m_frameCount;
    info.audioRate = m_audioRate;
    info.audioSampleCount = m_audioSampleCount;
    info.videoTrackCount = m_videoTrackCount;
    info.audioTrackCount = m_audioTrackCount;
    info.thumbWidth = m_thumbWidth;
    info.thumbHeight = m_thumbHeight;
    info.imageDescription = m_imageDescription;
    info.soundDescription = m_soundDescription;
    return info;
}

void ZEFSourceItem::setMedia(std::unique_ptr<ClipMedia> media, const MediaInfo& info)
{
    m_media = std::move(media);
    m_viaQuickTime = !m_media || m_media->viaMovieToolbox();
    m_invalid = false;
    setMediaInfo(info);
}

void ZEFSourceItem::close() { m_media.reset(); }

void ZEFSourceItem::adoptMedia(ZEFSourceItem& other)
{
    m_media = std::move(other.m_media);
    m_viaQuickTime = other.m_viaQuickTime;
    m_invalid = other.m_invalid;
    m_mediaRateNum = other.m_mediaRateNum;
    m_mediaRateDen = other.m_mediaRateDen;
    m_frameCount = other.m_frameCount;
    m_audioRate = other.m_audioRate;
    m_audioSampleCount = other.m_audioSampleCount;
    m_videoTrackCount = other.m_videoTrackCount;
    m_audioTrackCount = other.m_audioTrackCount;
    m_thumbWidth = other.m_thumbWidth;
    m_thumbHeight = other.m_thumbHeight;
    m_imageDescription = other.m_imageDescription;
    m_soundDescription = other.m_soundDescription;
    if (!m_media) return;
    selectTracks();
    m_media->setVolume(m_volume);
    applyCrop();
}

void ZEFSourceItem::open(bool setDefaults, bool failIfMissing, bool interactive, bool substitute)
{
    m_invalid = false;
    m_viaQuickTime = true;
    close();
    MediaInfo info;
    bool notAMovie = false;
    std::unique_ptr<ClipMedia> media;
    if (ClipOpener* opener = m_project ? m_project->clipOpener() : nullptr)
        media = opener->open(m_path, m_videoTrackIndex, m_audioTrackIndex, info, notAMovie);

    if (!media) {
        m_invalid = true;
        m_mediaRateNum = 0;
        m_mediaRateDen = 1;
        m_audioRate = 0;
        if (failIfMissing) throw ZEFException("", 1);
        if (interactive && substitute && m_project) {
            // The first remembered prefix the path begins with is replaced; a replacement that
            // leaves the path as it is would only repeat this failure, so it is not made.
            const auto& from = m_project->oldPrefixes;
            const auto& to = m_project->newPrefixes;
            for (size_t i = 0; i < from.size() && i < to.size(); ++i) {
                if (from[i].empty() || m_path.compare(0, from[i].size(), from[i]) != 0) continue;
                std::string substituted = substitutePrefix(m_path, from[i], to[i]);
                if (substituted == m_path) break;
                m_path = substituted;
                throw ZEFException("", 3);
            }
        }
        if (interactive) {
            // Without a user to ask (or while snapshots are restored) the clip is kept.
            UserInterface* ui =
                m_project && !m_project->quietMediaOpen() ? m_project->userInterface() : nullptr;
            if (!ui) return;
            Answer a =
                ui->askWithDefault(cannotOpenQuestion(m_path), "ZEF Rondavo",
                                   Buttons::AbortRetryIgnore, Icon::Information, Answer::Ignore);
            if (a == Answer::Abort) throw ZEFException("", 1);
            if (a == Answer::Retry) throw ZEFException("", 2);
            return; // Ignore (or the box closed): kept, invalid
        }
        if (notAMovie) throw ZEFException("Cannot open file " + m_path + "\nUnsupported format.");
        throw ZEFException("Cannot open file " + m_path);
    }

    if (info.rateNum == 0 && info.audioRate == 0) throw ZEFException("Invalid file", 1);
    setMedia(std::move(media), info);
    selectTracks();
    m_media->setVolume(m_volume);
    applyCrop();

    if (setDefaults) {
        fitToProjectAspect();
        if (m_frameCount > 1) {
            m_scaleType = 0;
        } else if (m_frameCount == 1) {
            m_scaleType = 2;
            int32_t rate = m_project ? m_project->rateContext().wholeRate()
                                     : EditRateContext::current().wholeRate();
            m_scaleFactor = float(2 * rate);
        }
        m_sourceIn = EditTime::raw(0, m_mediaRateNum, m_mediaRateDen);
        setSourceOut(mediaDuration());
        setName(baseName(m_path));
        refreshThumbnail();
    }
}

std::string cannotOpenQuestion(const std::string& path)
{
    return "Cannot open file\n" + path +
           "\n\nPress Abort to delete the clip\nPress Retry if you want to locate the file for "
           "yourself";
}

void learnPathSubstitution(const std::string& oldPath, const std::string& newPath,
                           std::vector<std::string>& oldPrefixes,
                           std::vector<std::string>& newPrefixes)
{
    // Either separator matches the other, so that a folder moved from a drive-letter system
    // ("C:\old\clips\a.mov" found as "/media/new/clips/a.mov") gives the folder pair.
    auto same = [](char a, char b) { return a == b || (isSeparator(a) && isSeparator(b)); };
    size_t common = 0;
    while (common < oldPath.size() && common < newPath.size() &&
           same(oldPath[oldPath.size() - 1 - common], newPath[newPath.size() - 1 - common]))
        ++common;
    std::string from = oldPath.substr(0, oldPath.size() - common);
    std::string to = newPath.substr(0, newPath.size() - common);
    // An empty old prefix would match every path, and one equal to its replacement changes
    // nothing; neither is worth remembering. Nor is a pair already known.
    if (from.empty() || from == to) return;
    for (size_t i = 0; i < oldPrefixes.size() && i < newPrefixes.size(); ++i)
        if (oldPrefixes[i] == from && newPrefixes[i] == to) return;
    oldPrefixes.push_back(std::move(from));
    newPrefixes.push_back(std::move(to));
}

void ZEFSourceItem::openOnLoad()
{
    ClipMediaPool* pool = m_project ? m_project->clipMediaPool() : nullptr;
    if (!pool || !pool->lend(*this)) openFileOnLoad();
    if (m_invalid) return;
    EditTime d = mediaDuration();
    if (m_sourceIn > d) m_sourceIn = EditTime::raw(0, m_mediaRateNum, m_mediaRateDen);
    if (m_sourceOut > d) setSourceOut(d);
    if (m_media) m_media->setVolume(m_volume);
    applyCrop();
    // A thumbnail that came with reused media is kept when it shows the first frame.
    const bool current = m_thumbnailAt && *m_thumbnailAt == m_sourceIn &&
                         m_thumbnail.size() == size_t(m_thumbWidth) * size_t(m_thumbHeight) * 4;
    if (!current) refreshThumbnail();
}

void ZEFSourceItem::openFileOnLoad()
{
    const bool quiet = !m_project || m_project->quietMediaOpen();
    bool substitute = !quiet;
    // Substitutions may chain (one result beginning with another remembered prefix) but must
    // not go round in circles or grow without end: a path already tried, or more
    // substitutions than there are remembered pairs, stops substituting and the last path
    // before it is asked about instead.
    std::set<std::string> tried{m_path};
    size_t substitutions = 0;
    for (;;) {
        const std::string before = m_path;
        try {
            open(false, false, true, substitute);
            break;
        } catch (const ZEFException& e) {
            if (e.code() == 3) {
                if (!tried.insert(m_path).second ||
                    ++substitutions > m_project->oldPrefixes.size()) {
                    m_path = before;
                    substitute = false;
                }
                continue;
            }
            if (e.code() != 2) throw;
            // Locate the file; cancelling drops the clip (the exception goes on).
            UserInterface* ui = m_project ? m_project->userInterface() : nullptr;
            if (!ui) throw;
            std::optional<std::string> chosen = ui->chooseFileToOpen("All Files (*)", "*", "");
            if (!chosen) throw;
            learnPathSubstitution(m_path, *chosen, m_project->oldPrefixes, m_project->newPrefixes);
            m_path = *chosen;
            tried = {m_path};
            substitutions = 0;
            substitute = true;
        }
    }
}

void ZEFSourceItem::fitToProjectAspect()
{
    if (m_imageDescription.size() < kImageDescriptionSize) return;
    double imageWidth = bigEndian16(m_imageDescription, 32);
    double imageHeight = bigEndian16(m_imageDescription, 34);
    double cropWidth = movies::fixedToDouble(m_cropRect[2] - m_cropRect[0]);
    double cropHeight = movies::fixedToDouble(m_cropRect[3] - m_cropRect[1]);
    CProjectTemplate out =
        m_project ? m_project->composition() : CProjectTemplate::builtInDefaults();
    if (imageWidth <= 0 || imageHeight <= 0 || cropWidth <= 0 || cropHeight <= 0 ||
        out.width <= 0 || out.height <= 0)
        return;
    double h = (cropWidth * imageWidth) / (cropHeight * imageHeight);
    double g = double(out.width) / double(out.height);
    movies::Rect target{0, 0, 1000, 1000};
    if (g > h) {
        int32_t l = int32_t((1.0 - h / g) * 1000);
        target.left = l / 2;
        target.right = 1000 - (l - l / 2);
    } else {
        int32_t l = int32_t((1.0 - g / h) * 1000);
        target.top = l / 2;
        target.bottom = 1000 - (l - l / 2);
    }
    movies::MatrixRecord m = movies::MatrixRecord::mapRect({0, 0, 1000, 1000}, target);
    m_matrices[0] = m;
    m_matrices[1] = m;
    m_fitToAspect = true;
}

bool ZEFSourceItem::refreshThumbnail()
{
    m_thumbnail.assign(size_t(m_thumbWidth) * size_t(m_thumbHeight) * 4, 0);
    m_thumbnailAt.reset();
    if (m_thumbnail.empty() || !m_media) return false;
    const bool drawn =
        (m_project && m_project->engine() &&
         m_project->engine()->drawClipFrame(*this, m_sourceIn, m_thumbnail.data(), m_thumbWidth,
                                            m_thumbHeight)) ||
        m_media->drawFrame(m_sourceIn, m_thumbnail.data(), m_thumbWidth, m_thumbHeight);
    if (drawn) m_thumbnailAt = m_sourceIn;
    return drawn;
}

// ---- media pool

struct ClipMediaPool::Shelf {
    struct Parked {
        std::unique_ptr<ClipMedia> media;
        MediaInfo info;
        std::vector<uint8_t> thumbnail;
        std::optional<EditTime> thumbnailAt;
    };
    // By path, video track index and audio track index.
    std::map<std::tuple<std::string, int32_t, int32_t>, std::vector<Parked>> parked;
};

ClipMediaPool::ClipMediaPool() : m_shelf(std::make_unique<Shelf>()) {}

ClipMediaPool::~ClipMediaPool() = default;

void ClipMediaPool::park(ZEFSourceItem& clip)
{
    if (!clip.m_media) return;
    Shelf::Parked p;
    p.info = clip.mediaInfo();
    p.media = std::move(clip.m_media);
    p.thumbnail = std::move(clip.m_thumbnail);
    p.thumbnailAt = std::exchange(clip.m_thumbnailAt, std::nullopt);
    clip.m_thumbnail.clear();
    m_shelf->parked[{clip.m_path, clip.m_videoTrackIndex, clip.m_audioTrackIndex}].push_back(
        std::move(p));
}

bool ClipMediaPool::lend(ZEFSourceItem& clip)
{
    auto it = m_shelf->parked.find({clip.m_path, clip.m_videoTrackIndex, clip.m_audioTrackIndex});
    if (it == m_shelf->parked.end() || it->second.empty()) return false;
    std::vector<Shelf::Parked>& same = it->second;
    // Media of one file are alike; the one whose thumbnail shows the clip's first frame is
    // taken first, and the newest parked otherwise.
    auto pick = std::find_if(same.begin(), same.end(), [&](const Shelf::Parked& p) {
        return p.thumbnailAt && *p.thumbnailAt == clip.m_sourceIn;
    });
    if (pick == same.end()) pick = same.end() - 1;
    Shelf::Parked p;
    if (same.size() == 1) p.media = pick->media->share();
    if (p.media) {
        p.info = pick->info;
        p.thumbnail = pick->thumbnail;
        p.thumbnailAt = pick->thumbnailAt;
    } else {
        p = std::move(*pick);
        same.erase(pick);
    }
    clip.setMedia(std::move(p.media), p.info);
    clip.selectTracks();
    clip.m_thumbnail = std::move(p.thumbnail);
    clip.m_thumbnailAt = p.thumbnailAt;
    return true;
}

void ZEFSourceItem::selectTracks()
{
    if (m_media) m_media->selectTracks(m_videoTrackIndex, m_audioTrackIndex);
}

std::optional<movies::Rect> ZEFSourceItem::cropPixels(bool full) const
{
    if (m_imageDescription.size() < kImageDescriptionSize) return std::nullopt;
    const int64_t w = bigEndian16(m_imageDescription, 32);
    const int64_t h = bigEndian16(m_imageDescription, 34);
    if (full) return movies::Rect{0, 0, int32_t(w), int32_t(h)};
    // A 16.16 fraction of a size, rounded to nearest.
    auto part = [](int64_t size, movies::Fixed f) {
        return int32_t((size * int64_t(f) + 0x8000) >> 16);
    };
    return movies::Rect{part(w, m_cropRect[0]), part(h, m_cropRect[1]), part(w, m_cropRect[2]),
                        part(h, m_cropRect[3])};
}

void ZEFSourceItem::applyCrop(bool full)
{
    if (!m_media) return;
    if (std::optional<movies::Rect> r = cropPixels(full)) m_media->setDisplayClip(*r);
}

// ---- copies and records

std::unique_ptr<ZEFItem> ZEFSourceItem::clone(ZEFItem* owner) const
{
    auto c = std::make_unique<ZEFSourceItem>(m_project, m_track, owner);
    c->m_name = m_name;
    c->m_start = m_start;
    c->m_end = m_end;
    c->m_graphicsMode = m_graphicsMode;
    c->m_graphicsModeColor = m_graphicsModeColor;
    c->m_path = m_path;
    c->m_sourceIn = m_sourceIn;
    c->m_sourceOut = m_sourceOut;
    c->m_scaleFactor = m_scaleFactor;
    c->m_scaleType = m_scaleType;
    c->m_videoTrackIndex = m_videoTrackIndex;
    c->m_audioTrackIndex = m_audioTrackIndex;
    c->m_auxHandle = m_auxHandle;
    c->m_imageDescription = m_imageDescription;
    c->m_soundDescription = m_soundDescription;
    c->m_mediaRateNum = m_mediaRateNum;
    c->m_audioRate = m_audioRate;
    c->m_mediaRateDen = m_mediaRateDen;
    c->m_fitToAspect = m_fitToAspect;
    c->m_videoTrackCount = m_videoTrackCount;
    c->m_audioTrackCount = m_audioTrackCount;
    c->m_placementMode = m_placementMode;
    c->m_matrices = m_matrices;
    c->m_cropRect = m_cropRect;
    c->m_invalid = m_invalid;
    c->m_frameCount = m_frameCount;
    c->m_audioSampleCount = m_audioSampleCount;
    c->m_thumbWidth = m_thumbWidth;
    c->m_thumbHeight = m_thumbHeight;
    c->m_volume = m_volume;
    c->m_viaQuickTime = m_viaQuickTime;
    if (!owner) cloneAttachments(*c);
    return c;
}

namespace {

void saveMatrix(storage::StreamWriter& out, const movies::MatrixRecord& m)
{
    for (const auto& row : m.m)
        for (int32_t v : row)
            out.int32(v);
}

movies::MatrixRecord loadMatrix(storage::StreamReader& in)
{
    movies::MatrixRecord m;
    for (auto& row : m.m)
        for (int32_t& v : row)
            v = in.int32();
    return m;
}

} // namespace

void ZEFSourceItem::save(storage::StreamWriter& out) const
{
    ZEFItem::save(out);
    m_sourceIn.save(out);
    m_sourceOut.save(out);
    out.string(m_path);
    out.micro(m_scaleFactor);
    out.int32(m_scaleType);
    out.int32(m_videoTrackIndex);
    out.int32(m_audioTrackIndex);
    saveMatrix(out, m_matrices[0]);
    saveMatrix(out, m_matrices[1]);
    out.int32(m_volume);
    for (movies::Fixed v : m_cropRect)
        out.int32(v);
    out.int32(m_placementMode);
    out.flag(m_fitToAspect);
}

void ZEFSourceItem::load(storage::StreamReader& in, int32_t version)
{
    ZEFItem::load(in, version);
    m_sourceIn.load(in, version);
    m_sourceOut.load(in, version);
    m_path = in.string();
    m_scaleFactor = float(in.micro());
    m_scaleType = in.int32();
    m_videoTrackIndex = in.int32();
    m_audioTrackIndex = in.int32();
    m_matrices[0] = loadMatrix(in);
    m_matrices[1] = loadMatrix(in);
    m_volume = in.int32();
    for (movies::Fixed& v : m_cropRect)
        v = in.int32();
    m_placementMode = in.int32();
    m_fitToAspect = version >= kFitToAspectSinceVersion ? in.flag() : false;
    if (!in.ok()) return;
    openOnLoad();
}

} // namespace zef
