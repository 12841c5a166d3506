// The clip strip's data and rules, without a widget: the columns and rows, the six properties,
// the time text, the geometry of rows, columns and slots, hit tests, the selection rules of
// clicks and keys, and where a drag scrolls or drops. CTavrelCtrl (tavrel_ctrl.h) paints this
// model and feeds it the mouse and the keyboard; tests drive it directly.
//
// Rectangles follow the control's drawing convention: left and top inclusive, right and
// bottom exclusive (a Box of l = 0, r = 10 covers x = 0 .. 9).
//
// Not thread-safe; lives with its control on the GUI thread.
#pragma once

#include "listctrl/tavrel_export.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace tavrel {

inline constexpr int kMaxRows = 10;
inline constexpr int kMaxText = 259;             // characters of a name or tip
inline constexpr int kMaxThumbnailPixels = 6400; // width × height of a thumbnail
inline constexpr int kRowNameWidth = 25;         // the strip of row names at the left
inline constexpr int kEmptyDropSlots = 3; // empty slots after the last column that take a drop
inline constexpr int kScrollMargin = 4;   // a drag this close to the right edge scrolls

// The source-type tags shown in row 3 when Flags has kSourceTypeMode.
inline constexpr int32_t kSourceTypeMode = 1;

struct TAVREL_EXPORT TavrelColumn {
    int32_t itemData = 0;
    int32_t rate = 0;                // frames per second of the times; 0: column 0's rate
    std::array<int32_t, 3> values{}; // in-time, out-time (TimeBase units), source type
    QString name;
    QString tip;
    int16_t thumbWidth = 0;
    int16_t thumbHeight = 0;
    bool hasThumbnail = false;
    bool filter = false;
    bool selected = false;
    // 32-bit pixels 0xAARRGGBB, rows bottom-up, thumbWidth × thumbHeight of them.
    std::vector<uint32_t> thumbnail;
};

struct Box {
    int l = 0, t = 0, r = 0, b = 0;
    int width() const { return r - l; }
    int height() const { return b - t; }
    bool contains(int x, int y) const { return x >= l && x < r && y >= t && y < b; }
    friend bool operator==(const Box&, const Box&) = default;
};

// "%02d:%02d:%02d" of minutes (not wrapped at 60), seconds and the frame rounded to nearest;
// "--:--:--" for a negative value (and for a time base that is not positive). A rate that is
// not positive prints frame 00.
TAVREL_EXPORT QString timeText(int64_t value, int32_t rate, int32_t timeBase);

// The text and the selected colour of a source-type tag; empty for other values.
struct SourceTag {
    const char* text = "";
    uint32_t selectedColour = 0; // 0xRRGGBB
};
TAVREL_EXPORT SourceTag sourceTag(int32_t value);

// What a drag over the control does at a point.
struct DragStep {
    enum Kind { ScrollLeft, ScrollRight, Refuse, Target } kind = Refuse;
    int target = -1; // for Target: the index before which the drop inserts
};

class TAVREL_EXPORT TavrelModel {
public:
    // ---- properties
    int16_t columnOffset = 0;
    int32_t timeBase = 600;
    bool disableDragOnFirst = false;
    int32_t flags = 0;
    int16_t visibleColumnCount = 3;

    int16_t selection() const { return m_selection; }
    // The Selection property: clamped to -1 .. count - 1, scrolled into view, the selected
    // flags reset to it.
    void setSelection(int selection);

    // ---- rows and columns
    const std::vector<QString>& rows() const { return m_rows; }
    int rowCount() const { return int(m_rows.size()); }
    // Appends a row name; -1 (and nothing added) when there are kMaxRows already.
    int addRow(const QString& name);

    int columnCount() const { return int(m_columns.size()); }
    bool validColumn(int index) const { return index >= 0 && index < columnCount(); }
    const TavrelColumn& column(int index) const { return m_columns[size_t(index)]; }
    TavrelColumn* columnAt(int index)
    {
        return validColumn(index) ? &m_columns[size_t(index)] : nullptr;
    }

    // Value row (0 in-time, 1 out-time, 2 source type) of a column; false when the column
    // does not exist or the row is not below the number of rows.
    bool setValue(int column, int row, int32_t value);
    void resetColumns();
    // Removes a column; returns its index, or -1 for a bad index.
    int deleteColumn(int column);
    int addNewColumn(const QString& name, const QString& tip, int32_t rate, bool filter);
    // Inserts before index (appends when index is out of range); returns the new index.
    int insertColumn(int index, const QString& name, const QString& tip, int32_t rate, bool filter);
    bool setColumnText(int column, const QString& name, const QString& tip);
    // Copies width × height pixels (rows bottom-up; null: zeros). Clears the thumbnail first;
    // more than kMaxThumbnailPixels, or a negative size, leaves the column without one.
    // False when nothing was stored.
    bool setThumbnail(int column, const uint32_t* pixels, int width, int height);
    bool isSelected(int column) const { return validColumn(column) && column_(column).selected; }
    // The rate a column's times print with: its own, else column 0's.
    int32_t rateOf(int column) const;
    // The time text of value row (0 or 1) of a column.
    QString columnTime(int column, int valueRow) const;

    // ---- geometry of a control whose client rectangle is width × height
    struct Geometry {
        Box inner;             // the client shrunk by one pixel
        int rowHeight = 0;     // f
        int nominalWidth = 0;  // trunc(f × 3.5)
        int visible = 1;       // VisibleColumnCount
        int step = 0;          // the drawn column width
        bool drawable = false; // rows exist and the inner height is above 9 pixels
    };
    // Computes the geometry and stores VisibleColumnCount (at least 1) from it.
    Geometry layout(int width, int height);
    // The geometry with the current VisibleColumnCount (nothing stored).
    Geometry geometry(int width, int height) const;
    // Visible slot k: from l + 24 + k × step for step pixels, top t to bottom b + 1.
    static Box slotBox(const Geometry& g, int k);
    // The frame of column index (drop marker, selection frame).
    Box columnBox(const Geometry& g, int index) const;
    // The thumbnail area of visible slot k (rows 3 to the bottom, inside the slot's edges).
    static Box thumbnailBox(const Geometry& g, int k, int rows);
    // The column under a point: existing columns only, or with the empty slots after them
    // (giving at most the column count, the append position); -1 for none.
    int hitTest(const Geometry& g, int x, int y, bool withEmptySlots) const;
    // The row under a point of the row-name strip, or -1.
    int rowAt(const Geometry& g, int y) const;
    // The eight corners of the drop marker before column index.
    std::array<std::pair<int, int>, 8> dropMarker(const Geometry& g, int index) const;

    // ---- selection rules
    // Left button on column hit (-1: none) with Shift or Ctrl.
    void leftClick(int hit, bool shift, bool ctrl);
    // Right button on column hit: an unselected column becomes the only selection.
    void rightClick(int hit);
    // Page Up (+1), Page Down (-1) and the spin button: Selection moves by delta, clamped,
    // scrolled into view, flags reset. Returns whether Selection changed.
    bool moveSelection(int delta);
    // The lowest index a drag may start from.
    int firstDraggable() const { return disableDragOnFirst && columnCount() >= 2 ? 1 : 0; }
    // What a drag over the control at client x, y does (the scrolling is done here).
    DragStep dragOver(const Geometry& g, int x, int y, int clientWidth);
    // The same for a drag from another control (a friend): scrolls, or answers the target.
    DragStep friendDragOver(const Geometry& g, int x, int y, int clientWidth);

private:
    const TavrelColumn& column_(int index) const { return m_columns[size_t(index)]; }
    void resetFlags();
    void scrollIntoView();
    bool scrollsRight(int x, int clientWidth) const;

    std::vector<TavrelColumn> m_columns;
    std::vector<QString> m_rows;
    int16_t m_selection = -1;
};

} // namespace tavrel
