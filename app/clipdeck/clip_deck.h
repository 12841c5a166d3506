// The Clip Deck's control (FMainControl): the list of the current track's items, its
// selection, and the editing commands of the deck buttons, the item menu and dropped files.
// The GUI shows what it computes (columns, button and menu states) and forwards gestures;
// every command records its undo entry before it changes the project and drops it again when
// nothing changed.
//
// Not thread-safe: lives on the project's thread. It observes the project for its whole life
// (the project must outlive it). Services given to it must outlive it too.
#pragma once

#include "model/edit_time.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/pixmap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zef::app {

// The system clipboard as the deck uses it.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool open() = 0;
    // Hands over a device-independent bitmap block; false when the clipboard refuses it
    // (the block is then freed by the deck).
    virtual bool putBitmap(std::vector<uint8_t> block) = 0;
    virtual void close() = 0;
};

// The composition's pictures (the engine's preview movie).
class CompositionFrames {
public:
    virtual ~CompositionFrames() = default;
    // The composition's frame at timeline time t, drawn into picture (already of the output
    // size); false when there is none.
    virtual bool drawComposition(const EditTime& t, movies::Pixmap& picture) = 0;
};

// What the deck's window shows; every call has a harmless default.
class ClipDeckView {
public:
    virtual ~ClipDeckView() = default;
    virtual void columnsChanged() {}
    virtual void selectionChanged() {}
    // The track buttons and the shown or enabled deck buttons.
    virtual void buttonsChanged() {}
    virtual void beep() {}
    // Media files are being opened (a wait cursor); calls nest.
    virtual void busy(bool /*on*/) {}
};

// One column of the list: an item of the current track.
struct DeckColumn {
    ZEFItem* item = nullptr;
    std::string name;
    std::string displayName;
    int32_t rate = 0; // whole frames per second
    // In the list's time base: a clip's source in and out; 0 and the duration otherwise.
    int64_t in = 0;
    int64_t out = 0;
    const std::vector<uint8_t>* thumbnail = nullptr; // clips only; null when there is none
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
};

// The deck buttons for the current track.
struct DeckButtonStates {
    bool clipButtonsShown = true; // "Load Clip into List", the location entry, "Replace Clip"
    bool addTitleShown = false;   // "Add Title" (title track only)
    bool addSourceEffect = true;  // enabled for tracks 0-3
    bool deleteSelected = false;  // a column is selected
    bool replaceClip = false;     // the selected column's item is a clip
    int32_t highlightedTrack = 0; // the track button drawn highlighted
};

// An entry of an effect menu: the index in the project's effect list (the command is 40300 +
// index to add, 40400 + index to replace), or -1 for "Title" / "Another File...".
struct EffectMenuEntry {
    int32_t index = -1;
    std::string name;
    friend bool operator==(const EffectMenuEntry&, const EffectMenuEntry&) = default;
};

// The item menu's entries that can be disabled, for the current item.
struct ItemMenuStates {
    bool deleteFileFromDisk = false;
    bool splitAudioAndVideo = false;
    bool appliedFilters = false;
    std::array<bool, 4> copyTo{true, true, true, true}; // Layer A, B, C, Gallery (X)
    std::array<bool, 4> moveTo{};
    enum class Replace { Nothing, Effects, AnotherFile } replaceKind = Replace::Nothing;
    bool replaceEnabled = false;
    std::vector<EffectMenuEntry> replaceEntries;
    // Always enabled: "Delete Selected Item(s)", "Add Title", "Add Clip", "Razor at Current
    // Time", "Duplicate Selected Item", "Copy frame to clipboard".
};

class FMainControl : public ProjectObserver {
public:
    static constexpr int32_t kAddEffectCommand = 40300;
    static constexpr int32_t kReplaceCommand = 40400;
    static constexpr int32_t kMaxMenuEffects = 100;

    // clipboard, frames and view may be null (copying a frame then does nothing).
    FMainControl(FProject& project, ClipDeckView* view = nullptr, Clipboard* clipboard = nullptr,
                 CompositionFrames* frames = nullptr);
    ~FMainControl() override;
    FMainControl(const FMainControl&) = delete;
    FMainControl& operator=(const FMainControl&) = delete;

    // ---- the list
    int32_t currentTrack() const { return m_currentTrack; }
    // Makes track i current (a track button); nothing for the current or an invalid track.
    void selectTrack(int32_t track);
    const std::vector<DeckColumn>& columns() const { return m_columns; }
    // Units per second of the columns' times (the list's TimeBase); 600 unless set.
    void setListTimeBase(int32_t unitsPerSecond);
    // The selected columns, ascending; the focus column is the one the user clicked last.
    const std::vector<int32_t>& selectedColumns() const { return m_selected; }
    int32_t focusColumn() const { return m_focus; }
    // Selects the columns (invalid indices are left out); the last one gets the focus.
    void setSelectedColumns(std::vector<int32_t> columns);
    ZEFItem* focusItem() const;
    // The item the item menu acts on: the timeline's selection while the preview shows the
    // composition, else the list's focus item.
    ZEFItem* currentItem() const;
    // Set when the item menu is opened from the list: the next copy or move acts on all
    // selected columns, and clears the flag.
    bool fromListSelection = false;

    // ---- states the GUI shows
    DeckButtonStates buttonStates() const;
    // contextMenu: the menu opened on an item (copy and move are then disabled for items of
    // the title track).
    ItemMenuStates itemMenuStates(bool contextMenu) const;
    // The "Add Source Effect" pop-up: generator effects of the effect list (no sources, not
    // the editor's own), or only "Title" on the title track.
    std::vector<EffectMenuEntry> sourceEffectMenu() const;

    // ---- commands. Each returns whether the project changed.
    // A command by its id: kAddEffectCommand + n adds effect n of the effect list,
    // kReplaceCommand + n replaces the current item with effect n (for a clip: another file);
    // n below kMaxMenuEffects. False for other ids.
    bool runCommand(int32_t id);
    // The file dialog of "Add Clip" and "Replace Clip", filtered on the clip file kinds.
    std::optional<std::string> chooseClipFile() const;
    // "Load Clip into List": asks for a file, then addClip.
    bool addClipFromDialog();
    bool addClip(const std::string& path);
    // A typed location (the location entry).
    bool addClipFromLocation(const std::string& location) { return addClip(location); }
    // Effect n of the effect list (on the title track: a title).
    bool addEffect(int32_t n);
    bool addTitle();
    // "Delete Source/Clip": the selected columns' items, later items closing the gaps.
    bool removeSelected();
    // "Replace Clip": asks for a file for the focus column's clip.
    bool replaceClipFromDialog();
    bool replaceClip(ZEFSourceItem* clip, const std::string& path);
    // "Replace with" entry: for an effect item effect n; for a clip the file dialog.
    bool replaceWith(int32_t n);
    bool replaceEffect(ZEFEffectItem* effect, int32_t n);
    // Columns dragged from column `from` to column `to`; copy when Ctrl was held.
    bool reorder(int32_t from, int32_t to, bool copy);
    // "Copy Item(s) to" / "Move Item(s) to" track 0-3.
    bool copyOrMoveTo(int32_t track, bool copy);
    // "Razor at Current Time" on the current track at the preview's time.
    bool razor();
    bool duplicate();
    bool splitAudioAndVideo();
    // Asks, then removes every clip of that file from tracks 0-3 and deletes the file.
    bool deleteFileFromDisk();
    // Puts the current frame on the clipboard at the output size.
    bool copyFrameToClipboard();
    // Files dropped on the deck (onto the current track), or onto a track's row of the
    // timeline. The title track takes no files (a beep).
    bool dropFiles(const std::vector<std::string>& paths)
    {
        return dropFiles(paths, m_currentTrack);
    }
    bool dropFiles(const std::vector<std::string>& paths, int32_t track);
    // "Applied Filters...": the current item's filters dialog, where the item menu offers it
    // (the dialog records its own undo entry). False when it is not offered or nobody shows it.
    bool appliedFilters();
    // Who shows the filters dialog (the Parameters Deck).
    void setAppliedFiltersHandler(std::function<void(ZEFItem&)> handler)
    {
        m_appliedFilters = std::move(handler);
    }

    // The clipboard block of a picture: the 40-byte bitmap header (size 40, width, height,
    // 1 plane, 32 bits, no compression, image size width × height × 4, then zeros), the
    // rows bottom-up as a bitmap of positive height stores them, and 8 spare bytes.
    static std::vector<uint8_t> bitmapBlock(const movies::Pixmap& picture);

    // ---- ProjectObserver
    void refreshTrackList(int32_t track) override;
    void refreshClipDeck() override;
    void showInList(ZEFItem* item) override;
    void setTimelineSelection(ZEFItem* item) override;
    void closeDecksShowing(ZEFItem* item) override;
    void previewShowComposition() override { m_previewShowsComposition = true; }
    void previewShowClip(ZEFSourceItem*) override { m_previewShowsComposition = false; }

private:
    void refill();
    void beep();
    void showError(const std::string& message);
    // Opens the file as a new clip of track t and appends it; the clip, or null after
    // showing why it could not be opened.
    ZEFSourceItem* appendClip(int32_t track, const std::string& path);
    // A copied clip has no media of its own yet: opens it quietly and draws its thumbnail.
    void attachMedia(ZEFItem* item);
    std::vector<CPluginQT> effectList() const;
    std::vector<EffectMenuEntry> generatorEffects() const;
    bool effectAt(int32_t n, CPluginQT& entry) const;

    FProject& m_project;
    ClipDeckView* m_view;
    Clipboard* m_clipboard;
    CompositionFrames* m_frames;
    int32_t m_currentTrack = 0;
    int32_t m_timeBase = 600;
    std::vector<DeckColumn> m_columns;
    std::vector<int32_t> m_selected;
    int32_t m_focus = -1;
    ZEFItem* m_timelineSelection = nullptr;
    bool m_previewShowsComposition = true;
    std::function<void(ZEFItem&)> m_appliedFilters;
};

} // namespace zef::app
