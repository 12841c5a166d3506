// Where the editor's windows go: the main window and the six decks are separate top-level
// windows. This is the geometry of their arrangement without any window: the default layout,
// snapping while a window is moved or sized, which decks travel with the main window, and how
// stored positions are applied. The window code only feeds it rectangles and applies results.
//
// All rectangles are window rectangles (frame included) in screen coordinates. Not
// thread-safe; used on the GUI thread.
#pragma once

#include "platform/movies/geometry.h"

#include <array>
#include <cstdint>
#include <optional>

namespace zef::app {

using movies::Rect;

// The panels in the order the settings store numbers them ("Panel0" ... "Panel6").
enum PanelIndex : int32_t {
    kMainWindowPanel = 0,
    kInfoDeckPanel = 1,
    kParametersDeckPanel = 2,
    kVcrDeckPanel = 3,
    kTimelineDeckPanel = 4,
    kPreviewDeckPanel = 5,
    kClipDeckPanel = 6,
    kPanelsTotal = 7,
};

// The edge being dragged: 0 moves the whole window.
enum DragEdge : int32_t {
    kMoveWindow = 0,
    kEdgeLeft = 1,
    kEdgeRight = 2,
    kEdgeTop = 3,
    kEdgeTopLeft = 4,
    kEdgeTopRight = 5,
    kEdgeBottom = 6,
    kEdgeBottomLeft = 7,
    kEdgeBottomRight = 8,
};

struct PanelPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const PanelPoint&, const PanelPoint&) = default;
};

struct Panel {
    Rect rect;
    bool visible = true;
    bool resizable = false;
    // Set by computeAttachments: the panel travels with the main window at offset.
    bool attached = false;
    PanelPoint offset;
};

// The sizes the default layout is made from: each deck's own size.
struct DeckSizes {
    int32_t mainCaptionHeight = 22; // the main window's drawn caption
    int32_t mainClientHeight = 60;  // the main bar
    int32_t clipDeckWidth = 640;
    int32_t clipDeckHeight = 180; // D: the timeline and info decks are 2 × D high
    int32_t vcrDeckWidth = 560;   // W: the preview deck is 3/4 × W high
    int32_t vcrDeckHeight = 110;
    int32_t parametersDeckHeight = 440;
};

class DeckLayout {
public:
    static constexpr int32_t kSnapDistance = 5;

    // screen: the area windows may use (the desktop's available area).
    explicit DeckLayout(const Rect& screen = {});

    const Rect& screen() const { return m_screen; }
    void setScreen(const Rect& screen) { m_screen = screen; }
    Panel& panel(int32_t index) { return m_panels.at(size_t(index)); }
    const Panel& panel(int32_t index) const { return m_panels.at(size_t(index)); }

    // The default layout: the main window at the screen's top-left corner as wide as the Clip
    // Deck; below it the Clip Deck, the Timeline Deck and the Info Deck; to its right the
    // Preview Deck, the VCR Deck and the Parameters Deck. Visibility is left alone.
    static std::array<Rect, kPanelsTotal> defaultRects(const Rect& screen, const DeckSizes& sizes);
    void restoreDefault(const DeckSizes& sizes);

    // Lines up the dragged edges of rect (the panel `moving` being moved or sized) with the
    // screen's and other visible panels' edges within kSnapDistance; resizable panels are
    // candidates only with includeResizable. Returns whether anything was within reach.
    bool snap(int32_t edge, Rect& rect, int32_t moving, bool includeResizable) const;

    // Marks the main window and every visible panel joined to an attached one (an edge on an
    // edge, overlapping along it) as attached, and stores each one's offset from the main
    // window's top-left corner.
    void computeAttachments();
    // The main window moved to (x, y): it and every attached panel take their new places.
    void moveAttached(int32_t x, int32_t y);

private:
    Rect m_screen;
    std::array<Panel, kPanelsTotal> m_panels;
};

// A panel's stored place ("Left", "Top", "Right", "Bottom", "Visible"; absent values read 0
// and visible).
struct StoredPanel {
    Rect rect;
    bool visible = true;
};

// Where a panel goes at start-up: with a stored rectangle of positive size, a resizable panel
// takes it and another keeps its size at the stored top-left corner, shown or hidden as
// stored. Without one the panel stays where it is and is shown.
struct RestoredPanel {
    Rect rect;
    bool visible = true;
};
RestoredPanel restorePanel(const Rect& current, bool resizable, const StoredPanel& stored);

} // namespace zef::app
