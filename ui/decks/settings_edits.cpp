#include "ui/decks/settings_edits.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace zef::ui::edits {

namespace {

// The track whose snapshot covers the item (a transition's or filter's owner's).
int32_t scopeOf(const ZEFItem& item)
{
    const ZEFItem* root = &item;
    while (root->owner())
        root = root->owner();
    return root->track();
}

ZEFItem& rootOf(ZEFItem& item)
{
    ZEFItem* root = &item;
    while (root->owner())
        root = root->owner();
    return *root;
}

// The snapshot of the item's track before an edit, labelled "<what> on <name>".
std::unique_ptr<FUndoBuffer> snapshot(const FProject& project, const ZEFItem& item,
                                      const char* what, const std::string& name)
{
    return std::make_unique<FUndoBuffer>(project, scopeOf(item), std::string(what) + " on " + name);
}

void announce(FProject& project, ZEFItem& item) { project.itemChanged(&rootOf(item), false, true); }

// The edit's result: recorded with its snapshot and announced when something changed; nothing
// is recorded (and the redo list is kept) when not.
bool finish(FProject& project, ZEFItem& item, std::unique_ptr<FUndoBuffer> entry, bool changed)
{
    if (!changed) return false;
    project.undoHistory().record(std::move(entry));
    announce(project, item);
    return true;
}

struct Span {
    EditTime start, end;
    bool operator==(const Span&) const = default;
};
Span spanOf(const ZEFItem& item) { return {item.getStart(), item.getEnd()}; }

// Every item of the track with its times, to tell whether an edit moved anything.
std::vector<Span> trackSpans(const FProject& project, int32_t track)
{
    std::vector<Span> spans;
    const FDevice& d = project.device(track);
    for (size_t i = 0; i < d.size(); ++i)
        spans.push_back(spanOf(*d.at(i)));
    return spans;
}

// Re-times the clip at the factor now in use (its source range applied again).
void retime(ZEFSourceItem& clip) { clip.setSourceOut(clip.sourceOut()); }

// Opens the clip's media again with its choice of tracks.
void reopen(FProject& project, ZEFSourceItem& clip)
{
    try {
        clip.open(false, false, false, false);
    } catch (const ZEFException& e) {
        if (e.hasMessage()) project.showError(e.message());
    }
    clip.refreshThumbnail();
}

// Whether moveTo would leave the item where it is.
bool sameStart(const ZEFItem& item, const EditTime& t)
{
    return std::max<int64_t>(t.ticks(), 0) == item.getStart().ticks();
}

} // namespace

bool setClipStart(FProject& project, ZEFSourceItem& clip, const EditTime& t)
{
    if (sameStart(clip, t)) return false;
    const auto before = trackSpans(project, clip.track());
    auto entry = snapshot(project, clip, "Project start time changed", clip.name());
    clip.moveTo(t, true);
    return finish(project, clip, std::move(entry), trackSpans(project, clip.track()) != before);
}

bool setScaleType(FProject& project, ZEFSourceItem& clip, int32_t type)
{
    if (type < 0 || type > 2 || type == clip.scaleType()) return false;
    auto entry = snapshot(project, clip, "Scale type changed", clip.name());
    clip.setScaleType(type);
    retime(clip);
    return finish(project, clip, std::move(entry), true);
}

bool setScaleFactor(FProject& project, ZEFSourceItem& clip, double factor)
{
    if (!(factor > kMinScaleFactor && factor < kMaxScaleFactor)) return false;
    if (float(factor) == clip.scaleFactor()) return false;
    auto entry = snapshot(project, clip, "Scale factor changed", clip.name());
    clip.setScaleFactor(float(factor));
    return finish(project, clip, std::move(entry), true);
}

bool setScaledDuration(FProject& project, ZEFSourceItem& clip, const EditTime& d)
{
    const int64_t media = clip.mediaDuration().ticks();
    const double factor = media > 0 ? double(d.ticks()) / double(media) : 0.001;
    if (!(factor > 0) || float(factor) == clip.scaleFactor()) return false;
    auto entry = snapshot(project, clip, "Scale duration changed", clip.name());
    clip.setScaleFactor(float(factor));
    return finish(project, clip, std::move(entry), true);
}

EditTime scaledDuration(const ZEFSourceItem& clip)
{
    EditTime d = clip.mediaDuration();
    d.scale(double(clip.scaleFactor()));
    return d;
}

bool setVideoTrack(FProject& project, ZEFSourceItem& clip, int32_t index)
{
    if (index < 0 || index == clip.videoTrackIndex()) return false;
    auto entry = snapshot(project, clip, "Video track selection changed", clip.name());
    clip.setVideoTrackIndex(index);
    reopen(project, clip);
    return finish(project, clip, std::move(entry), true);
}

bool setAudioTrack(FProject& project, ZEFSourceItem& clip, int32_t index)
{
    if (index < 0 || index == clip.audioTrackIndex()) return false;
    auto entry = snapshot(project, clip, "Audio track selection changed", clip.name());
    clip.setAudioTrackIndex(index);
    reopen(project, clip);
    return finish(project, clip, std::move(entry), true);
}

void setVolume(FProject& project, ZEFSourceItem& clip, int32_t volume)
{
    volume = std::clamp(volume, 0, 512);
    if (volume == clip.volume()) return;
    clip.setVolume(volume);
    // The slider's scale is heard squared: a quarter of the way sounds a sixteenth as loud.
    const double v = volume / 256.0;
    if (ClipMedia* media = clip.media()) media->setVolume(int32_t(v * v * 256.0));
    project.itemChanged(&clip, false, false);
}

void rename(FProject& project, ZEFItem& item, const std::string& name)
{
    if (name == item.name()) return;
    item.ZEFItem::setName(name);
    project.itemChanged(&rootOf(item), true, true);
}

void setGraphicsMode(FProject& project, ZEFItem& item, int32_t mode)
{
    if (mode == item.graphicsMode()) return;
    item.setGraphicsMode(mode);
    project.itemChanged(&rootOf(item), false, false);
}

void setGraphicsModeColor(FProject& project, ZEFItem& item, uint32_t packed)
{
    if (packed == item.graphicsModeColor()) return;
    item.setGraphicsModeColor(packed);
    project.itemChanged(&rootOf(item), false, false);
}

bool setEffectStart(FProject& project, ZEFEffectItem& effect, const EditTime& t)
{
    if (sameStart(effect, t)) return false;
    const bool title = dynamic_cast<ZEFTitlerEffect*>(&effect) != nullptr;
    const auto before = trackSpans(project, effect.track());
    auto entry = snapshot(project, effect, title ? "Title start changed" : "Effect start changed",
                          effect.name());
    effect.moveTo(t, true);
    return finish(project, effect, std::move(entry), trackSpans(project, effect.track()) != before);
}

bool setEffectDuration(FProject& project, ZEFEffectItem& effect, const EditTime& d)
{
    if (effect.getStart() + d == effect.getEnd()) return false;
    const bool title = dynamic_cast<ZEFTitlerEffect*>(&effect) != nullptr;
    const auto before = trackSpans(project, effect.track());
    auto entry =
        snapshot(project, effect, title ? "Title duration changed" : "Effect duration changed",
                 effect.name());
    effect.trimEnd(effect.getStart() + d, kTrimStop, false);
    return finish(project, effect, std::move(entry), trackSpans(project, effect.track()) != before);
}

EditTime transitionStart(const ZEFItem& outgoing)
{
    const ZEFItem* next = outgoing.next();
    return next ? next->getStart() : outgoing.getEnd();
}

EditTime transitionDuration(const ZEFItem& outgoing)
{
    const ZEFItem* next = outgoing.next();
    if (!next || next->getStart() >= outgoing.getEnd()) return EditTime();
    return outgoing.getEnd() - next->getStart();
}

bool setTransitionStart(FProject& project, ZEFItem& outgoing, const EditTime& t)
{
    ZEFItem* next = outgoing.next();
    ZEFEffectItem* fx = outgoing.transition();
    if (!next || !fx || sameStart(*next, t)) return false;
    const auto before = trackSpans(project, outgoing.track());
    auto entry = snapshot(project, outgoing, "FX start changed", fx->name());
    next->moveTo(t, false);
    const bool changed = trackSpans(project, outgoing.track()) != before;
    if (changed) announce(project, *next);
    return finish(project, outgoing, std::move(entry), changed);
}

bool setTransitionDuration(FProject& project, ZEFItem& outgoing, const EditTime& d)
{
    ZEFItem* next = outgoing.next();
    ZEFEffectItem* fx = outgoing.transition();
    if (!next || !fx || next->getStart() + d == outgoing.getEnd()) return false;
    const auto before = trackSpans(project, outgoing.track());
    auto entry = snapshot(project, outgoing, "FX duration changed", fx->name());
    outgoing.trimEnd(next->getStart() + d, kTrimStop, true);
    return finish(project, outgoing, std::move(entry),
                  trackSpans(project, outgoing.track()) != before);
}

void setEffectType(FProject& project, ZEFEffectItem& effect, const std::string& name)
{
    if (name == effect.name()) return;
    effect.setName(name);
    effect.setEffectParameters(movies::Handle()); // the new effect starts with its defaults
    announce(project, effect);
}

void titleChanged(FProject& project, ZEFTitlerEffect& title, bool alsoFollowing)
{
    project.itemChanged(&title, false, false);
    if (!alsoFollowing) return;
    for (ZEFItem* it = title.next(); it; it = it->next()) {
        auto* t = dynamic_cast<ZEFTitlerEffect*>(it);
        if (!t || !t->style().usePrevious) break;
        project.itemChanged(t, false, false);
    }
}

} // namespace zef::ui::edits
