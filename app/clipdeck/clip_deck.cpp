#include "app/clipdeck/clip_deck.h"

#include "app/clipdeck/clip_file_types.h"

#include "model/device.h"
#include "model/item.h"
#include "model/media_clip_opener.h"
#include "model/zef_exception.h"
#include "platform/movies/fourcc.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace zef::app {

namespace {

constexpr movies::OSType kOwnManufacturer = movies::fourcc("krvI");
constexpr int32_t kMaxClipboardSide = 16384;

const char* copyOrMove(bool copy) { return copy ? "Copy" : "Mov"; }

void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// The view shows a wait cursor while it lives.
class Busy {
public:
    explicit Busy(ClipDeckView* view) : m_view(view)
    {
        if (m_view) m_view->busy(true);
    }
    ~Busy()
    {
        if (m_view) m_view->busy(false);
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    ClipDeckView* m_view;
};

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

} // namespace

FMainControl::FMainControl(FProject& project, ClipDeckView* view, Clipboard* clipboard,
                           CompositionFrames* frames)
    : m_project(project), m_view(view), m_clipboard(clipboard), m_frames(frames)
{
    m_project.addObserver(this);
    refill();
}

FMainControl::~FMainControl() { m_project.removeObserver(this); }

// ---- the list

void FMainControl::refill()
{
    m_columns.clear();
    const FDevice& d = m_project.device(m_currentTrack);
    const int32_t projectRate = m_project.rateContext().wholeRate();
    for (size_t i = 0; i < d.size(); ++i) {
        ZEFItem* item = d.at(i);
        DeckColumn c;
        c.item = item;
        c.name = item->name();
        c.displayName = item->displayName();
        const int32_t num = item->rateNumerator(), den = std::max(1, item->rateDenominator());
        c.rate = num > 0 ? int32_t((int64_t(num) + den / 2) / den) : projectRate;
        if (auto* clip = dynamic_cast<ZEFSourceItem*>(item)) {
            c.in = clip->sourceIn().toScale(m_timeBase);
            c.out = clip->sourceOut().toScale(m_timeBase);
            if (!clip->thumbnail().empty()) {
                c.thumbnail = &clip->thumbnail();
                c.thumbWidth = clip->thumbWidth();
                c.thumbHeight = clip->thumbHeight();
            }
        } else {
            c.in = 0;
            c.out = item->duration().toScale(m_timeBase);
        }
        m_columns.push_back(std::move(c));
    }
    // The selection stays where it was, as far as the list still reaches.
    const int32_t n = int32_t(m_columns.size());
    std::erase_if(m_selected, [n](int32_t c) { return c >= n; });
    if (m_focus >= n) m_focus = m_selected.empty() ? -1 : m_selected.back();
    if (m_view) m_view->columnsChanged();
}

void FMainControl::setListTimeBase(int32_t unitsPerSecond)
{
    if (unitsPerSecond <= 0 || unitsPerSecond == m_timeBase) return;
    m_timeBase = unitsPerSecond;
    refill();
}

void FMainControl::setSelectedColumns(std::vector<int32_t> columns)
{
    const int32_t n = int32_t(m_columns.size());
    int32_t focus = -1;
    std::vector<int32_t> kept;
    for (int32_t c : columns)
        if (c >= 0 && c < n) {
            kept.push_back(c);
            focus = c;
        }
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    m_selected = std::move(kept);
    m_focus = focus;
    if (m_view) m_view->selectionChanged();
}

ZEFItem* FMainControl::focusItem() const
{
    return m_focus >= 0 && size_t(m_focus) < m_columns.size() ? m_columns[size_t(m_focus)].item
                                                              : nullptr;
}

ZEFItem* FMainControl::currentItem() const
{
    return m_previewShowsComposition ? m_timelineSelection : focusItem();
}

void FMainControl::selectTrack(int32_t track)
{
    if (!FProject::validTrack(track) || track == m_currentTrack) return;
    m_currentTrack = track;
    m_selected.clear();
    m_focus = -1;
    refill();
    if (m_view) m_view->buttonsChanged();
    if (m_project.settings() && m_project.settings()->singleLayerPreview())
        m_project.setTrackEnabled(track, true);
    if (ZEFItem* first = m_project.device(track).at(0)) m_project.selectItem(first, false);
}

// ---- observing the project

void FMainControl::refreshTrackList(int32_t track)
{
    if (track == m_currentTrack) refill();
}

void FMainControl::refreshClipDeck() { refill(); }

void FMainControl::showInList(ZEFItem* item)
{
    const int32_t index =
        item && item->track() == m_currentTrack ? m_project.indexOf(item) : int32_t(-1);
    if (index < 0) {
        // The project's selected item is not in the list: the list shows none.
        if (m_focus != -1 || !m_selected.empty()) setSelectedColumns({});
        return;
    }
    if (size_t(index) >= m_columns.size() || m_columns[size_t(index)].item != item) refill();
    setSelectedColumns({index});
}

void FMainControl::setTimelineSelection(ZEFItem* item) { m_timelineSelection = item; }

void FMainControl::closeDecksShowing(ZEFItem* item)
{
    if (m_timelineSelection == item) m_timelineSelection = nullptr;
}

// ---- states

DeckButtonStates FMainControl::buttonStates() const
{
    DeckButtonStates s;
    const bool titles = m_currentTrack == kTitleTrack;
    s.clipButtonsShown = !titles;
    s.addTitleShown = titles;
    s.addSourceEffect = !titles;
    s.deleteSelected = !m_selected.empty();
    s.replaceClip = dynamic_cast<ZEFSourceItem*>(focusItem()) != nullptr;
    s.highlightedTrack = m_currentTrack;
    return s;
}

std::vector<CPluginQT> FMainControl::effectList() const
{
    const EffectLookup* catalogue = m_project.effectCatalogue();
    return catalogue ? catalogue->effectList() : std::vector<CPluginQT>{};
}

bool FMainControl::effectAt(int32_t n, CPluginQT& entry) const
{
    std::vector<CPluginQT> list = effectList();
    if (n < 0 || n >= kMaxMenuEffects || size_t(n) >= list.size()) return false;
    entry = list[size_t(n)];
    return true;
}

std::vector<EffectMenuEntry> FMainControl::generatorEffects() const
{
    std::vector<EffectMenuEntry> menu;
    std::vector<CPluginQT> list = effectList();
    for (size_t i = 0; i < list.size() && i < size_t(kMaxMenuEffects); ++i)
        if (list[i].sources == 0 && list[i].manufacturer != kOwnManufacturer)
            menu.push_back({int32_t(i), list[i].nameText()});
    return menu;
}

std::vector<EffectMenuEntry> FMainControl::sourceEffectMenu() const
{
    if (m_currentTrack == kTitleTrack) return {{-1, "Title"}};
    return generatorEffects();
}

ItemMenuStates FMainControl::itemMenuStates(bool contextMenu) const
{
    ItemMenuStates s;
    ZEFItem* item = currentItem();
    auto* clip = dynamic_cast<ZEFSourceItem*>(item);
    s.deleteFileFromDisk = clip != nullptr;
    s.splitAudioAndVideo = clip && clip->track() == kLayerA && clip->videoTrackCount() > 0 &&
                           clip->audioTrackCount() > 0;
    s.appliedFilters = item && (item->track() == kLayerA || item->track() == kLayerB);
    for (int32_t d = 0; d < 4; ++d)
        s.moveTo[size_t(d)] = item && item->track() != d;
    if (contextMenu && item) {
        const int32_t t = item->track();
        if (t == kTitleTrack || t == -2 || t > 3) {
            s.copyTo.fill(false);
            s.moveTo.fill(false);
        }
    }
    if (item) {
        const bool onTitles = item->track() == kTitleTrack;
        if (clip) {
            s.replaceKind = ItemMenuStates::Replace::AnotherFile;
            s.replaceEntries = {{-1, "Another File..."}};
            s.replaceEnabled = !onTitles;
        } else if (dynamic_cast<ZEFEffectItem*>(item)) {
            s.replaceKind = ItemMenuStates::Replace::Effects;
            s.replaceEntries = generatorEffects();
            s.replaceEnabled = !onTitles && !s.replaceEntries.empty();
        }
    }
    return s;
}

// ---- helpers

void FMainControl::beep()
{
    if (m_view) m_view->beep();
}

void FMainControl::showError(const std::string& message)
{
    if (!message.empty()) m_project.showError(message);
}

void FMainControl::attachMedia(ZEFItem* item)
{
    auto* clip = dynamic_cast<ZEFSourceItem*>(item);
    if (!clip || clip->isOpen() || clip->invalid()) return;
    // Opened beside the copy, so that a file gone meanwhile leaves the copy as it was copied
    // (it opens again when it is shown).
    Busy busy(m_view);
    ZEFSourceItem probe(&m_project, clip->track());
    probe.setPath(clip->path());
    probe.setVideoTrackIndex(clip->videoTrackIndex());
    probe.setAudioTrackIndex(clip->audioTrackIndex());
    try {
        probe.open(false, false, false, false);
    } catch (const ZEFException&) {
        return;
    }
    clip->adoptMedia(probe);
    clip->refreshThumbnail();
}

ZEFSourceItem* FMainControl::appendClip(int32_t track, const std::string& path)
{
    Busy busy(m_view);
    auto clip = std::make_unique<ZEFSourceItem>(&m_project, track);
    clip->setPath(path);
    try {
        clip->open(true, false, false, false);
    } catch (const ZEFException& e) {
        showError(e.message());
        return nullptr;
    }
    ZEFSourceItem* added = clip.get();
    m_project.addItem(std::move(clip), false, true);
    return added;
}

// ---- commands

bool FMainControl::runCommand(int32_t id)
{
    if (id >= kAddEffectCommand && id < kAddEffectCommand + kMaxMenuEffects)
        return addEffect(id - kAddEffectCommand);
    if (id >= kReplaceCommand && id < kReplaceCommand + kMaxMenuEffects)
        return replaceWith(id - kReplaceCommand);
    return false;
}

std::optional<std::string> FMainControl::chooseClipFile() const
{
    UserInterface* ui = m_project.userInterface();
    if (!ui) return std::nullopt;
    return ui->chooseFileToOpen(kClipFilterText, clipFilePatterns(), "");
}

bool FMainControl::addClipFromDialog()
{
    if (m_currentTrack == kTitleTrack || !m_project.userInterface()) return false;
    std::optional<std::string> path = chooseClipFile();
    return path && addClip(*path);
}

bool FMainControl::addClip(const std::string& path)
{
    const int32_t t = m_currentTrack;
    if (t == kTitleTrack) {
        beep();
        return false;
    }
    m_project.undoHistory().recordUndo(t, "Add file %s", path.c_str());
    ZEFSourceItem* clip = appendClip(t, path);
    if (!clip) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    m_project.trackChanged(t);
    m_project.selectItem(clip, false);
    return true;
}

bool FMainControl::addEffect(int32_t n)
{
    const int32_t t = m_currentTrack;
    if (t == kTitleTrack) return addTitle();
    CPluginQT entry;
    if (!effectAt(n, entry)) return false;
    const std::string name = entry.nameText();
    m_project.undoHistory().recordUndo(t, "Add %s", name.c_str());
    auto effect = std::make_unique<ZEFEffectItem>(&m_project, t);
    effect->setName(name);
    effect->assignEnd(effect->getStart() + m_project.defaultDuration);
    ZEFItem* added = effect.get();
    m_project.addItem(std::move(effect), false, true);
    m_project.selectItem(added, false);
    m_project.trackChanged(t);
    return true;
}

bool FMainControl::addTitle()
{
    // The snapshot is of the title track, where the title goes, so that undoing takes it out
    // whichever track the deck shows.
    m_project.undoHistory().recordUndo(kTitleTrack, "Add Title");
    auto title = std::make_unique<ZEFTitlerEffect>(&m_project);
    title->setName("Title");
    title->assignEnd(title->getStart() + m_project.defaultDuration);
    ZEFItem* added = title.get();
    m_project.addItem(std::move(title), false, true);
    m_project.selectItem(added, false);
    m_project.previewItem(added);
    m_project.trackChanged(kTitleTrack);
    return true;
}

bool FMainControl::removeSelected()
{
    if (m_selected.empty()) return false;
    const int32_t t = m_currentTrack;
    // The items are taken first: removing one shifts the columns after it.
    std::vector<ZEFItem*> items;
    for (int32_t c : m_selected)
        if (size_t(c) < m_columns.size()) items.push_back(m_columns[size_t(c)].item);
    if (items.empty()) return false;
    m_project.undoHistory().recordUndo(t, "Remove items from list");
    for (ZEFItem* item : items) {
        int32_t index = m_project.indexOf(item);
        if (index >= 0 && item->track() == t) m_project.removeItemAt(t, index, true, true);
    }
    m_selected.clear();
    m_focus = -1;
    refill();
    if (m_view) m_view->selectionChanged();
    return true;
}

bool FMainControl::replaceClipFromDialog()
{
    auto* clip = dynamic_cast<ZEFSourceItem*>(focusItem());
    if (!clip || !m_project.userInterface()) return false;
    std::optional<std::string> path = chooseClipFile();
    return path && replaceClip(clip, *path);
}

bool FMainControl::replaceClip(ZEFSourceItem* clip, const std::string& path)
{
    if (!clip || m_project.indexOf(clip) < 0) return false;
    const int32_t t = clip->track();
    m_project.undoHistory().recordUndo(t, "Replace clip %s with file %s", clip->name().c_str(),
                                       path.c_str());
    // The new file is opened beside the clip first: when it cannot be opened, the clip keeps
    // its path and its open media, and the entry goes again without restoring anything.
    Busy busy(m_view);
    ZEFSourceItem probe(&m_project, t);
    probe.setPath(path);
    probe.setVideoTrackIndex(clip->videoTrackIndex());
    probe.setAudioTrackIndex(clip->audioTrackIndex());
    try {
        probe.open(false, false, false, false);
    } catch (const ZEFException& e) {
        m_project.undoHistory().discardNewest();
        showError(e.message());
        return false;
    }
    clip->setPath(path);
    clip->adoptMedia(probe);
    const EditTime d = clip->mediaDuration();
    if (clip->sourceIn() > d)
        clip->assignSourceRange(EditTime::raw(0, clip->mediaRateNum(), clip->mediaRateDen()),
                                clip->sourceOut());
    if (clip->sourceOut() > d) clip->setSourceOut(d);
    clip->refreshThumbnail();
    m_project.itemChanged(clip, false, true);
    m_project.selectItem(clip, false);
    return true;
}

bool FMainControl::appliedFilters()
{
    ZEFItem* item = currentItem();
    if (!item || !m_appliedFilters || !itemMenuStates(false).appliedFilters) return false;
    m_appliedFilters(*item);
    return true;
}

bool FMainControl::replaceWith(int32_t n)
{
    ZEFItem* item = currentItem();
    if (!item || item->track() == kTitleTrack) return false;
    if (auto* clip = dynamic_cast<ZEFSourceItem*>(item)) {
        if (!m_project.userInterface()) return false;
        std::optional<std::string> path = chooseClipFile();
        return path && replaceClip(clip, *path);
    }
    return replaceEffect(dynamic_cast<ZEFEffectItem*>(item), n);
}

bool FMainControl::replaceEffect(ZEFEffectItem* effect, int32_t n)
{
    CPluginQT entry;
    if (!effect || m_project.indexOf(effect) < 0 || dynamic_cast<ZEFTitlerEffect*>(effect) ||
        !effectAt(n, entry))
        return false;
    const std::string newName = entry.nameText();
    m_project.undoHistory().recordUndo(effect->track(), "Item %s replaced with %s",
                                       effect->name().c_str(), newName.c_str());
    effect->setName(newName);
    effect->setEffectParameters(movies::Handle()); // the new effect starts with its defaults
    m_project.itemChanged(effect, false, false);
    if (effect->track() == m_currentTrack) refill();
    return true;
}

bool FMainControl::reorder(int32_t from, int32_t to, bool copy)
{
    const int32_t t = m_currentTrack;
    const int32_t n = int32_t(m_project.device(t).size());
    if (from < 0 || from >= n || to < 0 || to > n) return false;
    m_project.undoHistory().recordUndo(t, "%sing items", copyOrMove(copy));
    const int32_t at = m_project.reorderItem(t, from, to, copy);
    if (at < 0) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    if (copy) attachMedia(m_project.device(t).at(size_t(at)));
    refill();
    setSelectedColumns({at});
    return true;
}

bool FMainControl::copyOrMoveTo(int32_t track, bool copy)
{
    const bool fromList = fromListSelection;
    fromListSelection = false;
    if (track < 0 || track > kGallery) return false;
    std::vector<ZEFItem*> items;
    if (fromList) {
        for (int32_t c : m_selected)
            if (size_t(c) < m_columns.size()) items.push_back(m_columns[size_t(c)].item);
    } else if (ZEFItem* item = currentItem()) {
        items.push_back(item);
    }
    // Titles stay on the title track, and a move onto the item's own track is no move.
    std::erase_if(items, [&](ZEFItem* item) {
        return item->track() == kTitleTrack || !FProject::validTrack(item->track()) ||
               (!copy && item->track() == track);
    });
    if (items.empty()) return false;

    m_project.undoHistory().recordUndo(FUndoBuffer::kWholeProject, "%sing items", copyOrMove(copy));
    const int32_t sourceTrack = items.front()->track();
    bool changed = false;
    for (ZEFItem* item : items) {
        const int32_t index = m_project.indexOf(item);
        if (index < 0) continue;
        const int32_t at = m_project.moveItem(item->track(), index, track, -1, copy);
        if (at < 0) continue;
        changed = true;
        if (copy) attachMedia(m_project.device(track).at(size_t(at)));
    }
    if (!changed) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    refill();
    if (fromList && !copy && sourceTrack == m_currentTrack && !m_columns.empty())
        setSelectedColumns({int32_t(m_columns.size()) - 1});
    return true;
}

bool FMainControl::razor()
{
    const int32_t t = m_currentTrack;
    std::optional<EditTime> now = m_project.previewPosition();
    FDevice& d = m_project.device(t);
    ZEFItem* item = nullptr;
    int32_t index = -1;
    if (now) {
        for (size_t i = 0; i < d.size() && !item; ++i)
            if (d.at(i)->getStart() < *now && *now < d.at(i)->getEnd()) {
                item = d.at(i);
                index = int32_t(i);
            }
    }
    // A clip whose file is missing keeps its times: it cannot be cut.
    auto* clip = dynamic_cast<ZEFSourceItem*>(item);
    if (!item || (clip && clip->invalid())) {
        beep();
        return false;
    }
    const EditTime cut = *now;
    std::unique_ptr<ZEFItem> rest = item->clone(nullptr);
    if (!rest) {
        beep();
        return false;
    }
    attachMedia(rest.get());
    rest->trimStart(cut, kTrimFree, true);
    rest->refreshThumbnail();

    m_project.undoHistory().recordUndo(t, "Razor applied on %s", item->name().c_str());
    if (ZEFItem* next = d.at(size_t(index) + 1); next && next->getStart() < cut)
        next->rippleShift(
            int32_t(std::clamp<int64_t>((cut - next->getStart()).ticks(), INT32_MIN, INT32_MAX)));
    item->trimEnd(cut, kTrimFree, true);
    ZEFItem* added = rest.get();
    d.insert(size_t(index) + 1, std::move(rest));
    m_project.itemChanged(item, false, false);
    m_project.itemChanged(added, false, true);
    m_project.trackChanged(t);
    return true;
}

bool FMainControl::duplicate()
{
    ZEFItem* item = currentItem();
    if (!item) return false;
    const int32_t t = item->track();
    const int32_t index = m_project.indexOf(item);
    if (index < 0) return false;
    m_project.undoHistory().recordUndo(t, "Duplicating item %s", item->name().c_str());
    const int32_t at = m_project.reorderItem(t, index, index + 1, true);
    if (at < 0) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    attachMedia(m_project.device(t).at(size_t(at)));
    if (t == m_currentTrack) refill();
    return true;
}

bool FMainControl::splitAudioAndVideo()
{
    auto* c = dynamic_cast<ZEFSourceItem*>(currentItem());
    if (!c || c->track() != kLayerA || c->videoTrackCount() < 1 || c->audioTrackCount() < 1 ||
        m_project.indexOf(c) < 0)
        return false;
    // Two tracks change; one whole-project entry lets the split be undone.
    m_project.undoHistory().recordUndo(FUndoBuffer::kWholeProject, "Split Audio and Video");
    std::unique_ptr<ZEFItem> copy = c->clone(nullptr);
    auto* k = dynamic_cast<ZEFSourceItem*>(copy.get());
    if (!k) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    m_project.itemChanged(c, false, true);
    c->setAudioTrackIndex(c->audioTrackCount());
    if (c->videoTrackIndex() >= c->videoTrackCount()) c->setVideoTrackIndex(0);
    c->selectTracks();
    k->setVideoTrackIndex(k->videoTrackCount());
    if (k->audioTrackIndex() >= k->audioTrackCount()) k->setAudioTrackIndex(0);

    // The sound goes to the first overlay layer with room under the clip.
    const EditTime start = c->getStart(), end = c->getEnd();
    auto firstEndingAfter = [&](int32_t track) -> int32_t {
        const FDevice& d = m_project.device(track);
        for (size_t i = 0; i < d.size(); ++i)
            if (d.at(i)->getEnd() > start) return int32_t(i);
        return -1;
    };
    int32_t target = kLayerB;
    int32_t before = firstEndingAfter(kLayerB);
    if (before >= 0 && m_project.device(kLayerB).at(size_t(before))->getStart() < end) {
        target = kLayerC;
        before = firstEndingAfter(kLayerC);
        if (before >= 0) {
            ZEFItem* blocking = m_project.device(kLayerC).at(size_t(before));
            if (blocking->getStart() < end)
                blocking->rippleShift(int32_t(std::clamp<int64_t>(
                    (end - blocking->getStart()).ticks(), INT32_MIN, INT32_MAX)));
        }
    }
    k->setTrack(target);
    k->assignStart(start);
    k->assignEnd(end);
    FDevice& d = m_project.device(target);
    d.insert(before >= 0 ? size_t(before) : d.size(), std::move(copy));
    attachMedia(k);
    m_project.itemChanged(k, false, true);
    m_project.trackChanged(kLayerA);
    m_project.trackChanged(target);
    refill();
    return true;
}

bool FMainControl::deleteFileFromDisk()
{
    auto* clip = dynamic_cast<ZEFSourceItem*>(currentItem());
    UserInterface* ui = m_project.userInterface();
    if (!clip || !ui) return false;
    const std::string path = clip->path();
    if (ui->ask("Are you sure that you want to delete file " + path + "?", "Warning",
                Buttons::YesNo, Icon::Question) != Answer::Yes)
        return false;
    Busy busy(m_view);
    for (int32_t t = 0; t <= kGallery; ++t) {
        std::vector<ZEFItem*> doomed;
        const FDevice& d = m_project.device(t);
        for (size_t i = 0; i < d.size(); ++i)
            if (auto* s = dynamic_cast<ZEFSourceItem*>(d.at(i)); s && s->path() == path)
                doomed.push_back(s);
        for (ZEFItem* item : doomed)
            m_project.removeItemAt(t, m_project.indexOf(item), true, true);
    }
    std::error_code ec;
    if (!std::filesystem::remove(resolveClipPath(path), ec) || ec)
        showError("Couldn't delete file from disk");
    refill();
    return true;
}

std::vector<uint8_t> FMainControl::bitmapBlock(const movies::Pixmap& picture)
{
    const int32_t w = picture.width(), h = picture.height();
    const size_t rowBytes = size_t(w) * 4;
    std::vector<uint8_t> block(rowBytes * size_t(h) + 48, 0);
    uint8_t* p = block.data();
    put32(p + 0, 40);
    put32(p + 4, uint32_t(w));
    put32(p + 8, uint32_t(h));
    put16(p + 12, 1);
    put16(p + 14, 32);
    put32(p + 16, 0);
    put32(p + 20, uint32_t(rowBytes * size_t(h)));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = p + 40 + size_t(h - 1 - y) * rowBytes;
        const uint32_t* src = picture.row(y);
        for (int32_t x = 0; x < w; ++x)
            put32(row + size_t(x) * 4, src[x]); // blue, green, red, alpha
    }
    return block;
}

bool FMainControl::copyFrameToClipboard()
{
    const int32_t w = m_project.composition().width, h = m_project.composition().height;
    if (!m_clipboard || w <= 0 || h <= 0 || w > kMaxClipboardSide || h > kMaxClipboardSide)
        return false;
    const EditTime now = m_project.previewPosition().value_or(EditTime());
    if (!m_clipboard->open()) return false;
    bool copied = false;
    try {
        movies::Pixmap picture(w, h, movies::argb(255, 0, 0, 0));
        bool drawn = false;
        if (m_previewShowsComposition) {
            drawn = m_frames && m_frames->drawComposition(now, picture);
        } else if (auto* clip = dynamic_cast<ZEFSourceItem*>(currentItem())) {
            attachMedia(clip);
            if (clip->media())
                drawn = clip->media()->drawFrame(clip->timelineToSource(now, true),
                                                 reinterpret_cast<uint8_t*>(picture.data()), w, h);
        }
        if (drawn) copied = m_clipboard->putBitmap(bitmapBlock(picture));
    } catch (const std::bad_alloc&) { // also the toolbox's OutOfMemory
        copied = false;
    }
    m_clipboard->close();
    return copied;
}

bool FMainControl::dropFiles(const std::vector<std::string>& paths, int32_t t)
{
    if (t >= kTitleTrack || t < 0) {
        beep();
        return false;
    }
    if (paths.empty()) return false;
    m_project.undoHistory().recordUndo(t, "Dropped clips from explorer");
    ZEFSourceItem* first = nullptr;
    for (const std::string& path : paths) {
        ZEFSourceItem* clip = appendClip(t, path);
        if (!clip) break; // the rest is skipped
        if (!first) first = clip;
    }
    if (!first) {
        m_project.undoHistory().discardNewest();
        return false;
    }
    m_project.trackChanged(t);
    m_project.selectItem(first, false);
    return true;
}

} // namespace zef::app
