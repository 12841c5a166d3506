#include "model/project.h"

#include "model/item.h"
#include "model/media_clip_opener.h"
#include "model/source_item.h"
#include "model/zef_exception.h"

#include <algorithm>
#include <sstream>

namespace zef {

namespace {

const char* const kTrackNames[] = {"Layer A : Main Composite", "Layer B : Overlay 1",
                                   "Layer C : Overlay 2", "Gallery", "Layer T : Titles"};
const char* const kTrackMenuNames[] = {"Layer A", "Layer B", "Layer C", "Gallery (X)", "Layer T"};

} // namespace

FProject::FProject(ProjectSettings* settings)
    : m_settings(settings), m_undo(std::make_unique<UndoHistory>(*this))
{
    for (int32_t i = 0; i < kTrackCount; ++i)
        m_tracks[size_t(i)] = std::make_unique<FDevice>(this, i);
    m_rate.install();
    m_defaultOpener = std::make_unique<MediaClipOpener>();
    m_opener = m_defaultOpener.get();
    m_composition = CProjectTemplate::builtInDefaults();
    loadDefaults();
}

void FProject::setClipOpener(ClipOpener* opener)
{
    m_opener = opener ? opener : m_defaultOpener.get();
}

FProject::~FProject()
{
    // Items report to the project while they are destroyed; take them out first.
    for (auto& t : m_tracks)
        while (!t->empty())
            t->take(t->size() - 1);
    m_rate.uninstall();
}

const char* FProject::trackName(int32_t track)
{
    return validTrack(track) ? kTrackNames[track] : "";
}

const char* FProject::trackMenuName(int32_t track)
{
    return validTrack(track) ? kTrackMenuNames[track] : "";
}

void FProject::addObserver(ProjectObserver* observer)
{
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void FProject::removeObserver(ProjectObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

FDevice& FProject::device(int32_t track)
{
    if (!validTrack(track)) throw ZEFException("Invalid track");
    return *m_tracks[size_t(track)];
}

const FDevice& FProject::device(int32_t track) const
{
    if (!validTrack(track)) throw ZEFException("Invalid track");
    return *m_tracks[size_t(track)];
}

void FProject::setComposition(const CProjectTemplate& composition)
{
    m_composition = composition;
    m_rate.setFrameRate(composition.frameRate);
}

void FProject::loadDefaults()
{
    CaptureDefaults c = m_settings ? m_settings->captureDefaults() : CaptureDefaults();
    captureRate = c.rate;
    captureTime = c.time;
    captureMode = c.mode;
    captureFileName = c.fileName;
    std::optional<CProjectTemplate> t;
    if (m_settings) t = m_settings->defaultTemplate();
    setComposition(t ? *t : CProjectTemplate::builtInDefaults());
}

// ---- placement

int32_t FProject::addItem(std::unique_ptr<ZEFItem> item, bool replaceSameFile, bool placeAtEnd,
                          std::unique_ptr<ZEFItem>* replaced)
{
    if (!item) throw ZEFException("No item to add");
    if (item->project() != this) throw ZEFException("The item belongs to another project");
    const int32_t track = item->track();
    FDevice& d = device(track);
    if (replaceSameFile) {
        if (auto* added = dynamic_cast<ZEFSourceItem*>(item.get())) {
            for (size_t i = 0; i < d.size(); ++i) {
                auto* s = dynamic_cast<ZEFSourceItem*>(d.at(i));
                if (!s || s->path() != added->path()) continue;
                notify([&](ProjectObserver& o) { o.closeDecksShowing(s); });
                auto old = d.take(i);
                if (ZEFItem* nx = d.at(i)) nx->releaseComposition();
                if (replaced) *replaced = std::move(old);
                break;
            }
        }
    }
    EditTime end = trackEnd(track);
    ZEFItem* added = item.get();
    int32_t index = int32_t(d.insert(d.size(), std::move(item)));
    // Placed after the last item; moving without push cannot disturb earlier items (a
    // pushing move earlier would shove the whole track towards 0).
    if (placeAtEnd) added->moveTo(end, false);
    modified = true;
    if (m_engine) m_engine->compositionChanged();
    notify([&](ProjectObserver& o) {
        o.refreshTrackList(track);
        o.repaintTrackRow(track);
    });
    updateRenderEnd();
    return index;
}

bool FProject::removeItemAt(int32_t track, int32_t index, bool ripple, bool refreshPreview)
{
    if (!validTrack(track)) return false;
    FDevice& d = device(track);
    if (index < 0 || size_t(index) >= d.size()) return false;
    ZEFItem* item = d.at(size_t(index));
    notify([&](ProjectObserver& o) { o.closeDecksShowing(item); });
    // An item that a file stored ending before it starts leaves no gap to close.
    const int64_t duration = std::max<int64_t>(0, item->duration().ticks());
    auto owned = d.take(size_t(index));
    owned.reset();
    if (ZEFItem* nx = d.at(size_t(index))) {
        nx->releaseComposition();
        if (ripple) nx->rippleShift(int32_t(std::clamp<int64_t>(-duration, INT32_MIN, INT32_MAX)));
    }
    modified = true;
    if (m_engine) m_engine->compositionChanged();
    notify([&](ProjectObserver& o) {
        o.refreshTrackList(track);
        o.repaintTrackRow(track);
        if (refreshPreview) o.refreshPreview();
    });
    updateRenderEnd();
    return true;
}

namespace {

void parkClips(ClipMediaPool& pool, const FDevice& track)
{
    for (size_t i = 0; i < track.size(); ++i)
        if (auto* clip = dynamic_cast<ZEFSourceItem*>(track.at(i))) pool.park(*clip);
}

} // namespace

FProject::ReuseClipMedia::ReuseClipMedia(FProject& project, int32_t track) : m_project(project)
{
    if (!project.m_mediaPool) {
        m_pool = std::make_unique<ClipMediaPool>();
        project.m_mediaPool = m_pool.get();
    }
    for (int32_t t = 0; t < kTrackCount; ++t)
        if (track == -1 || t == track) parkClips(*project.m_mediaPool, project.device(t));
}

FProject::ReuseClipMedia::~ReuseClipMedia()
{
    if (m_pool) m_project.m_mediaPool = nullptr;
}

void FProject::clearTrack(int32_t track)
{
    FDevice& d = device(track);
    // Clips read into the track next may take the media of those leaving it.
    if (m_mediaPool) parkClips(*m_mediaPool, d);
    while (!d.empty())
        removeItemAt(track, 0, false);
    notify([](ProjectObserver& o) { o.refreshPreview(); });
}

int32_t FProject::indexOf(const ZEFItem* item) const
{
    if (!item || !validTrack(item->track())) return -1;
    for (const auto& t : m_tracks)
        if (item->device() == t.get()) return t->indexOf(item);
    return -1;
}

ZEFItem* FProject::previousItem(const ZEFItem* item) const
{
    return indexOf(item) >= 0 ? item->previous() : nullptr;
}

ZEFItem* FProject::nextItem(const ZEFItem* item) const
{
    return indexOf(item) >= 0 ? item->next() : nullptr;
}

int32_t FProject::moveItem(int32_t fromTrack, int32_t fromIndex, int32_t toTrack, int32_t toIndex,
                           bool copy)
{
    if (fromIndex < 0 || !validTrack(fromTrack) || !validTrack(toTrack) || toIndex < -1) return -1;
    FDevice& from = device(fromTrack);
    if (size_t(fromIndex) >= from.size()) return -1;
    ZEFItem* source = from.at(size_t(fromIndex));
    const int64_t d = std::max<int64_t>(0, source->duration().ticks()); // as in removeItemAt
    const int32_t shift = int32_t(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));

    std::unique_ptr<ZEFItem> object;
    if (copy) {
        object = source->clone(nullptr);
        if (!object) return -1;
    } else {
        object = from.take(size_t(fromIndex));
        itemChanged(object.get(), false, true);
        if (ZEFItem* former = from.at(size_t(fromIndex))) {
            former->releaseComposition();
            former->rippleShift(-shift);
        }
    }

    object->setTrack(toTrack);
    FDevice& to = device(toTrack);
    if (toIndex == -1 || size_t(toIndex) > to.size()) toIndex = int32_t(to.size());
    EditTime time;
    if (size_t(toIndex) < to.size()) {
        // The item goes where the item at toIndex starts, which makes room. On Layer A the
        // previous item may overlap that place; the moved item then starts after it, so that
        // no overlap reaches past a neighbour.
        ZEFItem* there = to.at(size_t(toIndex));
        time = there->getStart();
        if (toIndex > 0) time = maxTime(time, to.at(size_t(toIndex - 1))->getEnd());
        int64_t room = int64_t(shift) + (time.ticks() - there->getStart().ticks());
        there->rippleShift(int32_t(std::clamp<int64_t>(room, INT32_MIN, INT32_MAX)));
    } else if (toIndex > 0) {
        time = to.at(size_t(toIndex - 1))->getEnd();
    }
    ZEFItem* moved = object.get();
    to.insert(size_t(toIndex), std::move(object));
    moved->moveTo(time, false);
    itemChanged(moved, false, true);
    notify([&](ProjectObserver& o) {
        o.repaintTrackRow(fromTrack);
        if (toTrack != fromTrack) o.repaintTrackRow(toTrack);
    });
    return toIndex;
}

int32_t FProject::reorderItem(int32_t track, int32_t fromIndex, int32_t toIndex, bool copy)
{
    if (fromIndex < 0 || !validTrack(track)) return -1;
    FDevice& d = device(track);
    if (size_t(fromIndex) >= d.size()) return -1;
    if (toIndex == -1 || size_t(toIndex) > d.size()) toIndex = int32_t(d.size());
    if (toIndex < 0) return -1;
    if (!copy && toIndex == fromIndex + 1) return -1;
    if (!copy && fromIndex < toIndex) --toIndex;
    int32_t index = moveItem(track, fromIndex, track, toIndex, copy);
    if (index < 0) return index;
    notify([&](ProjectObserver& o) {
        o.refreshTrackList(track);
        o.repaintTrackRow(track);
    });
    itemChanged(d.at(size_t(index)), false, true);
    return index;
}

// ---- queries

int32_t FProject::itemIndexAt(int32_t track, const EditTime& t) const
{
    if (!validTrack(track)) return -1;
    const FDevice& d = device(track);
    for (size_t i = 0; i < d.size(); ++i) {
        const ZEFItem* it = d.at(i);
        if (it->getStart() <= t && t < it->getEnd()) return int32_t(i);
    }
    return -1;
}

ZEFItem* FProject::itemAt(int32_t track, const EditTime& t) const
{
    int32_t i = itemIndexAt(track, t);
    return i < 0 ? nullptr : device(track).at(size_t(i));
}

int32_t FProject::firstEndingAfter(int32_t track, const EditTime& t) const
{
    if (!validTrack(track)) return -1;
    const FDevice& d = device(track);
    for (size_t i = 0; i < d.size(); ++i)
        if (!(d.at(i)->getEnd().snapped() < t)) return int32_t(i);
    return int32_t(d.size()) - 1;
}

std::optional<std::pair<ZEFItem*, ZEFItem*>> FProject::transitionAt(const EditTime& t) const
{
    const FDevice& d = device(kLayerA);
    for (size_t i = 0; i + 1 < d.size(); ++i) {
        ZEFItem* a = d.at(i);
        ZEFItem* b = d.at(i + 1);
        if (a->getStart() > t) break;
        if (b->getStart() < t && t < a->getEnd()) return std::make_pair(a, b);
    }
    return std::nullopt;
}

EditTime FProject::nextEditPoint(const EditTime& t, int32_t lastTrack) const
{
    std::optional<EditTime> best;
    for (int32_t track = 0; track <= std::min(lastTrack, int32_t(kTrackCount) - 1); ++track) {
        const FDevice& d = device(track);
        for (size_t i = 0; i < d.size(); ++i) {
            for (const EditTime& b : {d.at(i)->getStart(), d.at(i)->getEnd()})
                if (b > t && (!best || b < *best)) best = b;
        }
    }
    return best ? *best : t;
}

EditTime FProject::previousEditPoint(const EditTime& t, int32_t lastTrack) const
{
    std::optional<EditTime> best;
    for (int32_t track = 0; track <= std::min(lastTrack, int32_t(kTrackCount) - 1); ++track) {
        const FDevice& d = device(track);
        for (size_t i = 0; i < d.size(); ++i) {
            for (const EditTime& b : {d.at(i)->getStart(), d.at(i)->getEnd()})
                if (b < t && (!best || b > *best)) best = b;
        }
    }
    return best ? *best : t;
}

EditTime FProject::trackEnd(int32_t track) const
{
    if (track == -1) return projectEnd();
    const FDevice& d = device(track);
    return d.empty() ? EditTime() : d.last()->getEnd();
}

EditTime FProject::projectEnd() const
{
    EditTime end;
    for (int32_t track = 0; track < kTrackCount; ++track)
        end = maxTime(end, trackEnd(track));
    return end;
}

// ---- changes

void FProject::itemChanged(ZEFItem* item, bool reoffsetOnly, bool refreshList)
{
    if (!item) return;
    if (reoffsetOnly)
        item->reoffsetTracks();
    else
        item->releaseComposition();
    if (ZEFItem* nx = nextItem(item)) nx->releaseComposition();
    modified = true;
    const int32_t track = item->track();
    if (m_engine) {
        m_engine->compositionChanged();
        if (refreshList) m_engine->refreshTrack(track);
    }
    notify([&](ProjectObserver& o) {
        if (refreshList) o.refreshTrackList(track);
        o.repaintTrackRow(track);
        o.itemChanged(item);
    });
    updateRenderEnd();
}

void FProject::trackChanged(int32_t track)
{
    modified = true;
    if (m_engine) m_engine->compositionChanged();
    notify([&](ProjectObserver& o) { o.repaintTrackRow(track); });
    updateRenderEnd();
}

void FProject::keyframesChanged(int32_t track)
{
    if (m_engine) m_engine->keyframesChanged(track);
    trackChanged(track);
}

void FProject::releaseComposition(int32_t track)
{
    for (int32_t t = 0; t < kTrackCount; ++t) {
        if (track != -1 && t != track) continue;
        const FDevice& d = device(t);
        for (size_t i = 0; i < d.size(); ++i)
            d.at(i)->releaseComposition();
    }
    if (track == -1 && m_engine) m_engine->releaseState();
    modified = true;
}

void FProject::updateRenderEnd()
{
    if (!renderEndFollowsProject) return;
    EditTime end = projectEnd();
    if (end == renderEnd && end.rateNum() == renderEnd.rateNum()) return;
    renderEnd = end;
    notify([](ProjectObserver& o) { o.repaintRuler(); });
}

void FProject::setRenderRange(const EditTime& start, const EditTime& end, bool endFollowsProject)
{
    if (start == renderStart && end == renderEnd && endFollowsProject == renderEndFollowsProject)
        return;
    renderStart = start;
    renderEnd = end;
    renderEndFollowsProject = endFollowsProject;
    modified = true;
    notify([](ProjectObserver& o) { o.repaintRuler(); });
    updateRenderEnd();
}

void FProject::setTrackEnabled(int32_t track, bool on)
{
    FDevice& d = device(track);
    if (on && m_settings && m_settings->singleLayerPreview()) {
        for (int32_t t = 0; t < kTrackCount; ++t) {
            if (t == track) continue;
            FDevice& other = device(t);
            other.setEnabled(false);
            for (size_t i = 0; i < other.size(); ++i)
                other.at(i)->setTracksEnabled(false);
        }
    }
    d.setEnabled(on);
    for (size_t i = 0; i < d.size(); ++i)
        d.at(i)->setTracksEnabled(on);
    modified = true;
    notify([](ProjectObserver& o) {
        o.refreshTimeline();
        o.refreshPreview();
    });
}

void FProject::setEditFrameRate(movies::Fixed rate)
{
    if (EditRateContext::wholeRate(rate) < 1) throw ZEFException("Invalid frame rate");
    const bool changed = rate != m_composition.frameRate;
    m_composition.frameRate = rate;
    m_rate.setFrameRate(rate);
    renderStart.setRate(0, 1);
    renderStart = renderStart.snapped();
    renderEnd.setRate(0, 1);
    renderEnd = renderEnd.snapped();
    defaultDuration.setRate(0, 1);
    if (!changed) return;
    modified = true;
    notify([](ProjectObserver& o) {
        o.refreshClipDeck();
        o.refreshTimeline();
    });
}

void FProject::applyOutputSize()
{
    const int32_t w = m_composition.width, h = m_composition.height;
    if (m_engine && !m_engine->acceptOutputSize(w, h)) return;
    for (const auto& t : m_tracks)
        for (size_t i = 0; i < t->size(); ++i)
            t->at(i)->setTracksSize(w, h);
}

void FProject::refitClips()
{
    for (int32_t track = 0; track <= kGallery; ++track) {
        const FDevice& d = device(track);
        bool any = false;
        for (size_t i = 0; i < d.size(); ++i) {
            auto* s = dynamic_cast<ZEFSourceItem*>(d.at(i));
            if (!s || !s->fitToAspect()) continue;
            s->fitToProjectAspect();
            // Built again with the new placement, and so is the transition it feeds.
            s->releaseComposition();
            if (ZEFItem* next = nextItem(s)) next->releaseComposition();
            any = true;
        }
        if (any) trackChanged(track);
    }
    notify([](ProjectObserver& o) { o.refreshPreview(); });
}

void FProject::selectItem(ZEFItem* item, bool showTransition)
{
    notify([&](ProjectObserver& o) {
        o.showInList(item);
        o.setTimelineSelection(item);
        o.showInInfoDeck(item);
        o.showInParametersDeck(item, showTransition);
    });
    if (item && m_settings && m_settings->singleLayerPreview() && validTrack(item->track()))
        setTrackEnabled(item->track(), true);
}

void FProject::previewItem(ZEFItem* item)
{
    if (!item) return;
    item->activate();
    if (auto* s = dynamic_cast<ZEFSourceItem*>(item)) {
        std::optional<EditTime> now = previewPosition();
        if (now && s->sourceIn() <= *now && *now <= s->sourceOut()) return;
        previewSeek(s->sourceIn());
    } else {
        EditTime middle = item->duration();
        middle.scale(0.5);
        previewSeek(item->getStart() + middle);
    }
}

std::string FProject::windowTitle() const
{
    size_t slash = filePath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    return name + " - ZEF Rondavo";
}

void FProject::previewSeek(const EditTime& t)
{
    notify([&](ProjectObserver& o) { o.previewSeek(t); });
}

void FProject::previewShowComposition()
{
    notify([](ProjectObserver& o) { o.previewShowComposition(); });
}

void FProject::previewShowClip(ZEFSourceItem* item)
{
    notify([&](ProjectObserver& o) { o.previewShowClip(item); });
}

std::optional<EditTime> FProject::previewPosition() const
{
    for (ProjectObserver* o : m_observers)
        if (auto t = o->previewPosition()) return t;
    return std::nullopt;
}

void FProject::showError(const std::string& message)
{
    if (m_ui)
        m_ui->showMessage(message, "Error", Icon::Exclamation);
    else
        notify([&](ProjectObserver& o) { o.showError(message); });
}

UserInterface& FProject::ui() { return m_ui ? *m_ui : m_noUserInterface; }

// ---- document life

void FProject::reset(bool keepViews)
{
    m_undo->clear();
    if (m_engine) m_engine->releaseState();
    filePath = "untitled";
    m_fileExtension = std::string(".") + kProjectExtension;
    for (int32_t t = 0; t < kTrackCount; ++t)
        clearTrack(t);
    renderEndFollowsProject = true;
    if (!keepViews) {
        notify([](ProjectObserver& o) {
            o.closePreview();
            o.updateUndoButtons();
        });
        std::optional<CProjectTemplate> t;
        if (m_settings) t = m_settings->defaultTemplate();
        setComposition(t ? *t : CProjectTemplate::builtInDefaults());
    }
    modified = false;
}

void FProject::newProject()
{
    reset(false);
    loadDefaults();
    for (auto& t : m_tracks)
        t->keyframes().clear();
    oldPrefixes.clear();
    newPrefixes.clear();
    const std::string title = windowTitle();
    notify([&](ProjectObserver& o) {
        o.setWindowTitle(title);
        o.refreshClipDeck();
        o.refreshDecks();
        o.fitTimeline();
        o.refreshTimeline();
    });
    modified = false;
}

// ---- keyframes

movies::MatrixRecord FProject::matrixAt(int32_t track, const EditTime& t, bool* exact) const
{
    // The keyframes are kept sorted by time, so the scan from a virtual identity keyframe at
    // 0 to the first keyframe at or after t is a binary search.
    if (exact) *exact = false;
    const auto& keys = device(track).keyframes();
    const EditTime at = t.snapped();
    auto k = std::lower_bound(
        keys.begin(), keys.end(), at,
        [](const MatrixKeyframe& key, const EditTime& v) { return key.time.snapped() < v; });
    if (k != keys.end() && k->time.snapped() == at) {
        if (exact) *exact = true;
        return k->matrix;
    }
    int64_t t0 = 0;
    movies::MatrixRecord m0 = movies::MatrixRecord::identity();
    if (k != keys.begin()) {
        t0 = std::prev(k)->time.snapped().ticks();
        m0 = std::prev(k)->matrix;
    }
    if (k == keys.end()) return m0;
    const int64_t t1 = k->time.snapped().ticks();
    if (at.ticks() < t0) return m0;
    return interpolateKeyframes(t0, m0, t1, k->matrix, at.ticks());
}

int32_t FProject::insertKeyframe(int32_t track, const EditTime& t, const movies::MatrixRecord& m,
                                 bool insertBeforeEqual)
{
    auto& keys = device(track).keyframes();
    const EditTime at = t.snapped();
    size_t i = 0;
    for (; i < keys.size(); ++i) {
        const EditTime kt = keys[i].time.snapped();
        if (kt == at && !insertBeforeEqual) {
            keys[i].matrix = m;
            keyframesChanged(track);
            return int32_t(i);
        }
        if (kt >= at) break;
    }
    keys.insert(keys.begin() + std::ptrdiff_t(i), MatrixKeyframe{at, m});
    keyframesChanged(track);
    return int32_t(i);
}

bool FProject::deleteKeyframeAt(int32_t track, const EditTime& t)
{
    auto& keys = device(track).keyframes();
    const EditTime at = t.snapped();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].time.snapped() == at) {
            keys.erase(keys.begin() + std::ptrdiff_t(i));
            keyframesChanged(track);
            return true;
        }
    }
    return false;
}

int32_t FProject::moveKeyframe(int32_t track, int32_t index, const EditTime& t, bool beforeEqual)
{
    auto& keys = device(track).keyframes();
    if (index < 0 || size_t(index) >= keys.size()) return -1;
    movies::MatrixRecord m = keys[size_t(index)].matrix;
    keys.erase(keys.begin() + index);
    return insertKeyframe(track, t, m, beforeEqual);
}

std::optional<EditTime> FProject::previousKeyframe(int32_t track, const EditTime& t) const
{
    const EditTime at = t.snapped();
    std::optional<EditTime> best;
    for (const MatrixKeyframe& k : device(track).keyframes()) {
        const EditTime kt = k.time.snapped();
        if (kt < at && (!best || kt > *best)) best = kt;
    }
    return best;
}

std::optional<EditTime> FProject::nextKeyframe(int32_t track, const EditTime& t) const
{
    const EditTime at = t.snapped();
    std::optional<EditTime> best;
    for (const MatrixKeyframe& k : device(track).keyframes()) {
        const EditTime kt = k.time.snapped();
        if (kt > at && (!best || kt < *best)) best = kt;
    }
    return best;
}

bool FProject::hasKeyframeAt(int32_t track, const EditTime& t) const
{
    const EditTime at = t.snapped();
    for (const MatrixKeyframe& k : device(track).keyframes())
        if (k.time.snapped() == at) return true;
    return false;
}

// ---- consistency

std::string FProject::checkConsistency(bool neighbourRules) const
{
    std::ostringstream err;
    auto fail = [&](int32_t track, size_t i, const char* what) {
        err << "track " << track << " item " << i << ": " << what;
    };
    for (int32_t track = 0; track < kTrackCount && err.str().empty(); ++track) {
        const FDevice& d = device(track);
        if (d.index() != track) {
            err << "track " << track << " has index " << d.index();
            break;
        }
        for (size_t i = 0; i < d.size() && err.str().empty(); ++i) {
            const ZEFItem* it = d.at(i);
            const ZEFItem* nx = d.at(i + 1);
            const ZEFItem* after = nx ? d.at(i + 2) : nullptr;
            if (it->device() != &d || it->slot() != int32_t(i))
                fail(track, i, "placement out of step");
            else if (it->track() != track)
                fail(track, i, "track field differs");
            else if (it->owner())
                fail(track, i, "an item on a track has an owner");
            else if (it->project() != this)
                fail(track, i, "belongs to another project");
            else if (!it->transition() || it->transition()->owner() != it ||
                     it->transition()->transition())
                fail(track, i, "transition missing or not owned");
            else if (neighbourRules && it->getStart().ticks() < 0)
                fail(track, i, "starts before 0");
            else if (neighbourRules && it->getEnd() < it->getStart())
                fail(track, i, "ends before it starts");
            else if (neighbourRules && nx && track == kLayerA &&
                     (nx->getStart() < it->getStart() || nx->getEnd() < it->getEnd()))
                fail(track, i, "passes its successor");
            else if (neighbourRules && after && track == kLayerA &&
                     after->getStart() < it->getEnd())
                fail(track, i, "overlaps beyond its successor");
            else if (neighbourRules && nx && track != kLayerA && nx->getStart() < it->getEnd())
                fail(track, i, "overlaps its successor");
            for (size_t f = 0; f < it->filterCount() && err.str().empty(); ++f) {
                const ZEFEffectItem* filter = it->filter(f);
                if (filter->owner() != it || filter->transition() || filter->device())
                    fail(track, i, "filter not owned");
            }
        }
    }
    for (int32_t track = 0; track < kTrackCount && err.str().empty(); ++track) {
        const auto& keys = device(track).keyframes();
        for (size_t i = 1; i < keys.size(); ++i)
            if (keys[i].time.snapped() < keys[i - 1].time.snapped()) {
                err << "track " << track << " keyframe " << i << " out of order";
                break;
            }
    }
    return err.str();
}

} // namespace zef
