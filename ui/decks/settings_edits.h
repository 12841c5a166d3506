// The edits of the settings pages, without windows. Each edit that the user can undo takes the
// snapshot of its undo entry (labelled with the item's name, the item's track as its scope)
// before it changes anything, and when the project changed records it, announces the change
// (the item's tracks rebuilt, the track's list refreshed) and returns true; an edit that ends
// up changing nothing records nothing and leaves the redo list as it was. The edits without an
// undo label only announce the change.
//
// Project thread only.
#pragma once

#include "model/edit_time.h"

#include <cstdint>
#include <string>

namespace zef {
class FProject;
class ZEFEffectItem;
class ZEFItem;
class ZEFSourceItem;
class ZEFTitlerEffect;
} // namespace zef

namespace zef::ui::edits {

// The factors a clip can be re-timed by: strictly between these.
constexpr double kMinScaleFactor = 0.01;
constexpr double kMaxScaleFactor = 10000.0;

// ---- clips
// moveTo (t, push); "Project start time changed on %s".
bool setClipStart(FProject& project, ZEFSourceItem& clip, const EditTime& t);
// 0 none, 1 by factor, 2 to duration; the clip is re-timed by the factor now in use.
// "Scale type changed on %s".
bool setScaleType(FProject& project, ZEFSourceItem& clip, int32_t type);
// Taken only when it differs from the current factor and lies strictly between the limits.
// "Scale factor changed on %s".
bool setScaleFactor(FProject& project, ZEFSourceItem& clip, double factor);
// The factor that makes the media last d (0.001 for media without duration).
// "Scale duration changed on %s".
bool setScaledDuration(FProject& project, ZEFSourceItem& clip, const EditTime& d);
// The media's duration at the clip's factor, as the scaled-duration field shows it.
EditTime scaledDuration(const ZEFSourceItem& clip);
// 0-based track of the media; the track count stands for "<<none>>". The media is opened again
// with the choice. "Video track selection changed on %s" / "Audio track selection changed on %s".
bool setVideoTrack(FProject& project, ZEFSourceItem& clip, int32_t index);
bool setAudioTrack(FProject& project, ZEFSourceItem& clip, int32_t index);
// The clip's volume (0 to 512; 256 is full); its media plays at trunc((v / 256)² × 256).
void setVolume(FProject& project, ZEFSourceItem& clip, int32_t volume);
// Renames the item; its track's list and timeline row show the new name.
void rename(FProject& project, ZEFItem& item, const std::string& name);

// ---- every item
void setGraphicsMode(FProject& project, ZEFItem& item, int32_t mode);
// The graphics mode's operand colour, packed red | green << 8 | blue << 16.
void setGraphicsModeColor(FProject& project, ZEFItem& item, uint32_t packed);

// ---- effects, transitions and titles
// moveTo (t, push); "Effect start changed on %s" ("Title start changed on %s" for a title).
bool setEffectStart(FProject& project, ZEFEffectItem& effect, const EditTime& t);
// end := start + d, stopping at the neighbours; "Effect duration changed on %s" ("Title
// duration changed on %s" for a title).
bool setEffectDuration(FProject& project, ZEFEffectItem& effect, const EditTime& d);
// The transition between `outgoing` (on Layer A) and the item after it: its start is the next
// item's start, its duration the overlap. "FX start changed on %s" moves the next item;
// "FX duration changed on %s" sets the outgoing item's end to the next item's start + d. Both
// are labelled with the transition's name.
EditTime transitionStart(const ZEFItem& outgoing);
EditTime transitionDuration(const ZEFItem& outgoing);
bool setTransitionStart(FProject& project, ZEFItem& outgoing, const EditTime& t);
bool setTransitionDuration(FProject& project, ZEFItem& outgoing, const EditTime& d);
// Gives the effect another effect by name (its parameters start at their defaults). No undo
// entry.
void setEffectType(FProject& project, ZEFEffectItem& effect, const std::string& name);
// The title is built again; with alsoFollowing, so are the titles after it that take their
// style from it (up to the first that has its own).
void titleChanged(FProject& project, ZEFTitlerEffect& title, bool alsoFollowing);

} // namespace zef::ui::edits
