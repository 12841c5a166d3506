// The interfaces through which the project reaches the code that shows it (decks, timeline,
// preview), the composition engine and the settings store. Every method has a harmless
// default so that an implementer overrides only what it shows. All calls come from the
// thread that edits the project.
#pragma once

#include "model/edit_time.h"
#include "model/project_template.h"
#include "platform/movies/geometry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace zef {

class ZEFItem;
class ZEFSourceItem;

// What the composition engine attached to one item: its built tracks and bookkeeping.
// Destroying it disposes the tracks.
class CompositionState {
public:
    virtual ~CompositionState() = default;
    virtual void setSize(int32_t width, int32_t height) = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setOffset(const EditTime& start) = 0;
};

// What the main bar shows for undo and redo. A disabled button keeps the text it had.
struct UndoButtonState {
    std::string undoText = "Undo";
    std::string redoText = "Redo";
    bool undoEnabled = false;
    bool redoEnabled = false;
    friend bool operator==(const UndoButtonState&, const UndoButtonState&) = default;
};

// The decks whose place on the screen a project file keeps.
enum ProjectPanel : int32_t {
    kPanelClipDeck = 0,
    kPanelInfoDeck,
    kPanelParametersDeck,
    kPanelVcrDeck,
    kPanelTimelineDeck,
    kPanelPreviewDeck,
    kPanelCount,
};

// A deck's rectangle in screen coordinates and whether it is shown.
struct PanelPlacement {
    movies::Rect rect;
    bool visible = true;
    friend bool operator==(const PanelPlacement&, const PanelPlacement&) = default;
};
using PanelLayout = std::array<PanelPlacement, kPanelCount>;

// The views of the project: decks, timeline, preview and the main window.
class ProjectObserver {
public:
    virtual ~ProjectObserver() = default;

    // An item changed (the settings pages refill from it).
    virtual void itemChanged(ZEFItem* /*item*/) {}
    virtual void repaintTrackRow(int32_t /*track*/) {}
    // The track's list in the Clip Deck.
    virtual void refreshTrackList(int32_t /*track*/) {}
    virtual void repaintRuler() {}
    virtual void refreshTimeline() {}
    // The timeline is to show the whole project again: a project was made or opened, or an
    // undo or redo step restored a snapshot. A refreshTimeline follows.
    virtual void fitTimeline() {}
    virtual void refreshClipDeck() {}
    // Info, Parameters and the panels.
    virtual void refreshDecks() {}
    // Info, Parameters and Preview decks and the timeline selection let go of the item.
    virtual void closeDecksShowing(ZEFItem* /*item*/) {}
    // Selection: the Clip Deck list, the timeline, the Info and Parameters decks.
    virtual void showInList(ZEFItem* /*item*/) {}
    virtual void setTimelineSelection(ZEFItem* /*item*/) {}
    virtual void showInInfoDeck(ZEFItem* /*item*/) {}
    // With transition set, the page of the item's transition effect is shown.
    virtual void showInParametersDeck(ZEFItem* /*item*/, bool /*transition*/) {}
    // Preview: the source, the position, refresh.
    virtual void previewShowComposition() {}
    virtual void previewShowClip(ZEFSourceItem* /*item*/) {}
    virtual void previewSeek(const EditTime& /*t*/) {}
    virtual std::optional<EditTime> previewPosition() const { return std::nullopt; }
    virtual void refreshPreview() {}
    virtual void closePreview() {}
    virtual void setWindowTitle(const std::string& /*title*/) {}
    virtual void updateUndoButtons() {}
    // The undo and redo buttons of the main bar, after every change of either list.
    virtual void undoButtonsChanged(const UndoButtonState& /*state*/) {}
    // The Info and Parameters decks show nothing (before undo and redo).
    virtual void clearInfoAndParameters() {}
    // Moves, shows and hides the decks as a loaded project (or restored snapshot) says.
    virtual void applyPanelLayout(const PanelLayout& /*layout*/) {}
    // A failure message for the user (shown in a box titled "Error", exclamation icon).
    virtual void showError(const std::string& /*message*/) {}
    // A save is about to replace the file at path (a complete file name): the last moment to
    // keep a copy of the version it holds.
    virtual void beforeFileReplaced(const std::string& /*path*/) {}
};

// The composition engine as the project uses it.
class CompositionEngine {
public:
    virtual ~CompositionEngine() = default;
    virtual void compositionChanged() {}
    virtual void refreshTrack(int32_t /*track*/) {}
    // The keyframes of a track changed: what the engine built from them is out of date.
    virtual void keyframesChanged(int32_t /*track*/) {}
    // Drops the engine's own state (its movie and layer tracks).
    virtual void releaseState() {}
    // Asked before the item tracks are resized; false keeps the old size.
    virtual bool acceptOutputSize(int32_t /*width*/, int32_t /*height*/) { return true; }
    // Draws the clip's frame at source time t into a width × height × 4 buffer; false when
    // nothing was drawn.
    virtual bool drawClipFrame(ZEFSourceItem& /*item*/, const EditTime& /*t*/, uint8_t* /*pixels*/,
                               int32_t /*width*/, int32_t /*height*/)
    {
        return false;
    }
};

struct CaptureDefaults {
    int32_t rate = 11; // frame-rate index; 11 = 29.97
    int32_t time = 10; // seconds of a timed capture
    int32_t mode = 0;
    std::string fileName = "Capture.avi";
};

// The settings the project reads: capture defaults, the default composition template and
// the preview preference "SingleLayerPreview".
class ProjectSettings {
public:
    virtual ~ProjectSettings() = default;
    virtual CaptureDefaults captureDefaults() const { return {}; }
    // The default template, or none (then the built-in one is used).
    virtual std::optional<CProjectTemplate> defaultTemplate() const { return std::nullopt; }
    virtual bool singleLayerPreview() const { return false; }
};

} // namespace zef
