// The Clip Deck's window: the resizable deck that lists the items of one track as a clip
// strip and carries the editing commands (FMainControl) of the deck, the item menu and
// dropped files.
//
// Left, the five track buttons (the current track's picture highlighted, the track's name as
// tool tip) and the deck buttons ("Load Clip into List", the location entry, "Add Source
// Effect", "Delete Source/Clip", "Replace Clip"; "Add Title" on the title track), shown and
// enabled as FMainControl says. The rest is the clip strip (tavrel), driven through CTavrel:
// one column per item, six rows (name, "Source In Time", "Source Out Time", three rows of
// thumbnail). Gestures on the strip go to FMainControl's commands; no widget changes an item.
// Files dropped from the desktop's file manager are added to the current track.
//
// GUI thread only; the project must outlive the deck.
#pragma once

#include "app/clipdeck/clip_deck.h"
#include "app/shell/tavrel_wrapper.h"
#include "ui/controls/gui_dialog.h"

#include <array>
#include <memory>

namespace zef::ui {
class CXButton;
}

namespace zef::app {

// The desktop's clipboard: a picture block becomes an image others can paste.
class QtClipboard : public Clipboard {
public:
    bool open() override { return true; }
    bool putBitmap(std::vector<uint8_t> block) override;
    void close() override {}
};

class CClipDeckWindow : public ui::CGUIDialogWithCaption, public ClipDeckView {
    Q_OBJECT
public:
    static constexpr int kFirstTrackButton = 1137; // 1137-1141: Layer A ... title track
    static constexpr const char* kLoadClip = "Load Clip into List";
    static constexpr const char* kLocation = "Add Clip from Location";
    static constexpr const char* kAddSourceEffect = "Add Source Effect";
    static constexpr const char* kDeleteClip = "Delete Source/Clip";
    static constexpr const char* kReplaceClip = "Replace Clip";
    static constexpr const char* kAddTitle = "Add Title";

    CClipDeckWindow(FProject& project, QWidget* parent = nullptr);
    ~CClipDeckWindow() override;
    static QSize defaultSize() { return {640, 180}; }

    FMainControl& control() { return *m_control; }
    CTavrel& list() { return *m_list; }
    ui::CXButton* trackButton(int track) const;
    // A deck button by its text (the names above).
    ui::CXButton* deckButton(const char* name) const;

    // ClipDeckView
    void columnsChanged() override;
    void selectionChanged() override;
    void buttonsChanged() override;
    void beep() override;
    void busy(bool on) override;

signals:
    // A double click on an item that is not a title: its settings are wanted.
    void settingsRequested();

protected:
    void resizeEvent(QResizeEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dragMoveEvent(QDragMoveEvent*) override;
    void dropEvent(QDropEvent*) override;

private:
    ui::CXButton* addButton(const char* name, const char* image);
    void placeControls();
    void refillList();
    // The list's multiple selection, handed to the control (the focus column last).
    void takeListSelection();
    ZEFItem* itemOfColumn(int column) const;
    void addFromLocation();
    void popupSourceEffects();
    // Column events of the strip.
    void columnSelected(short column);
    void columnsDeleted(short column);
    void rightButtonDown(short column);
    void columnDoubleClicked(short column);
    void columnDragged(short from, short to);

    FProject& m_project;
    QtClipboard m_clipboard;
    std::unique_ptr<CTavrel> m_list;
    std::array<ui::CXButton*, 5> m_trackButtons{};
    std::vector<ui::CXButton*> m_deckButtons;
    std::unique_ptr<FMainControl> m_control;
    bool m_takingSelection = false;
    int m_busy = 0;
};

} // namespace zef::app
