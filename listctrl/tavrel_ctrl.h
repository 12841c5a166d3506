// tavrel: the clip strip control. A horizontal strip of columns (name, two times, an optional
// source-type tag and a thumbnail) under a fixed strip of row names, scrolled sideways with a
// spin button, selected and multi-selected with the mouse and the keyboard, and dragged within
// the control or to other strips registered as friends. The control reports every gesture as
// an event and changes no data of its own accord: moving, copying and deleting after an event
// is its container's work.
//
// The automation interface is the dispatch interface _DTavrel: six properties and fifteen
// methods with fixed dispatch ids, callable directly or by id through invoke(); the events
// (_DTavrelEvents) are the control's Qt signals. The library knows nothing of any program
// that hosts it.
//
// GUI thread only.
#pragma once

#include "listctrl/tavrel_export.h"
#include "listctrl/tavrel_model.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace tavrel {

// Identity of the control, as containers find it.
inline constexpr const char* kTypeLibraryName = "TAVRELLib";
inline constexpr const char* kTypeLibraryGuid = "{1A490BA5-7E08-11D2-8E5D-00C0DFE7980D}";
inline constexpr const char* kDispatchGuid = "{1A490BA6-7E08-11D2-8E5D-00C0DFE7980D}";
inline constexpr const char* kEventsGuid = "{1A490BA7-7E08-11D2-8E5D-00C0DFE7980D}";
inline constexpr const char* kClassId = "{1A490BA8-7E08-11D2-8E5D-00C0DFE7980D}";
inline constexpr const char* kProgId = "TAVREL.TavrelCtrl.1";

// Dispatch ids of _DTavrel.
enum DispId : int {
    DISPID_ColumnOffset = 1,
    DISPID_TimeBase = 2,
    DISPID_Selection = 3,
    DISPID_DisableDragOnFirst = 4,
    DISPID_Flags = 5,
    DISPID_VisibleColumnCount = 6,
    DISPID_SetValue = 7,
    DISPID_AddRow = 8,
    DISPID_ResetColumns = 9,
    DISPID_DeleteColumn = 10,
    DISPID_GetItemData = 11,
    DISPID_SetItemData = 12,
    DISPID_GetColumnText = 13,
    DISPID_ProvideToolTip = 14,
    DISPID_SetColumnText = 15,
    DISPID_AddDragDropFriend = 16,
    DISPID_SetThumbnail = 17,
    DISPID_GetColumnCount = 18,
    DISPID_AddNewColumn = 19,
    DISPID_InsertColumn2 = 20,
    DISPID_GetItemSelection = 21,
};

// Dispatch ids of the events (_DTavrelEvents), the signals of CTavrelCtrl.
enum EventDispId : int {
    DISPID_OnColumnSelection = 1,
    DISPID_OnColumnDeleted = 2,
    DISPID_OnRButtonDown = 3,
    DISPID_OnColumnDblClk = 4,
    DISPID_OnColumnDrag = 5,
    DISPID_OnColumnDragFriend = 6,
    DISPID_OnSourceTypeChanged = 7,
};

enum class Dispatch { Method, PropertyGet, PropertyPut };

// The dispatch interface. Out-of-range column indexes are ignored by the setters and give a
// neutral result from the getters (0, -1 or a null string).
class TAVREL_EXPORT _DTavrel {
public:
    virtual ~_DTavrel() = default;

    virtual short GetColumnOffset() const = 0;
    virtual void SetColumnOffset(short offset) = 0;
    virtual long GetTimeBase() const = 0;
    virtual void SetTimeBase(long timeBase) = 0;
    virtual short GetSelection() const = 0;
    virtual void SetSelection(short selection) = 0;
    virtual bool GetDisableDragOnFirst() const = 0;
    virtual void SetDisableDragOnFirst(bool disable) = 0;
    virtual long GetFlags() const = 0;
    virtual void SetFlags(long flags) = 0;
    virtual short GetVisibleColumnCount() const = 0;
    virtual void SetVisibleColumnCount(short count) = 0;

    virtual void SetValue(short column, short row, long value) = 0;
    virtual short AddRow(const QString& name) = 0;
    virtual void ResetColumns() = 0;
    virtual short DeleteColumn(short column) = 0;
    virtual long GetItemData(short column) const = 0;
    virtual void SetItemData(short column, long data) = 0;
    virtual QString GetColumnText(short column) const = 0;
    virtual QString ProvideToolTip(short x, short y) const = 0;
    virtual void SetColumnText(short column, const QString& name, const QString& tip) = 0;
    // A window that takes drags from this control (it answers the drag message).
    virtual void AddDragDropFriend(QWidget* window) = 0;
    // width × height 32-bit pixels (0xAARRGGBB, rows bottom-up) read during the call; null
    // gives a black picture.
    virtual void SetThumbnail(short column, const void* image, short width, short height) = 0;
    virtual short GetColumnCount() const = 0;
    virtual short AddNewColumn(const QString& name, const QString& tip, long rate, bool filter) = 0;
    virtual short InsertColumn2(short column, const QString& name, const QString& tip, long rate,
                                bool filter) = 0;
    virtual short GetItemSelection(short column) const = 0;

    // Calls a member by its dispatch id; the member's result (if any) goes to *result.
    // Arguments in the member's order: shorts, longs and booleans as integers or booleans,
    // strings as QString, the friend window as QWidget* (QVariant::fromValue), the picture as
    // void* (QVariant::fromValue) or an integer address. A property put takes its value as the
    // only argument. False, and nothing called, for an unknown id, a wrong kind or missing
    // arguments.
    bool invoke(int dispid, Dispatch kind, const QVariantList& args = {},
                QVariant* result = nullptr);
};

// The message a dragging control sends to a friend window ("CTavrelCtrl Drag and Drop"):
// hover (0) or drop (1), the sending control, and where the mouse is. The friend answers with
// the index before which it would insert, or -1.
class TAVREL_EXPORT TavrelDragEvent : public QEvent {
public:
    TavrelDragEvent(int action, QWidget* sender, const QPoint& globalPos)
        : QEvent(registeredType()), action(action), sender(sender), globalPos(globalPos)
    {
    }
    static QEvent::Type registeredType();
    static constexpr int kHover = 0;
    static constexpr int kDrop = 1;

    int action;
    QWidget* sender;
    QPoint globalPos;
    int answer = -1;
};

class TavrelSpin;
class TavrelTip;
struct StripFonts;

class TAVREL_EXPORT CTavrelCtrl : public QWidget, public _DTavrel {
    Q_OBJECT
public:
    static constexpr int kSpinId = 100;

    explicit CTavrelCtrl(QWidget* parent = nullptr);
    ~CTavrelCtrl() override;

    // ---- _DTavrel
    short GetColumnOffset() const override { return m_model.columnOffset; }
    void SetColumnOffset(short offset) override;
    long GetTimeBase() const override { return m_model.timeBase; }
    void SetTimeBase(long timeBase) override;
    short GetSelection() const override { return m_model.selection(); }
    void SetSelection(short selection) override;
    bool GetDisableDragOnFirst() const override { return m_model.disableDragOnFirst; }
    void SetDisableDragOnFirst(bool disable) override;
    long GetFlags() const override { return m_model.flags; }
    void SetFlags(long flags) override;
    short GetVisibleColumnCount() const override { return m_model.visibleColumnCount; }
    void SetVisibleColumnCount(short count) override;

    void SetValue(short column, short row, long value) override;
    short AddRow(const QString& name) override;
    void ResetColumns() override;
    short DeleteColumn(short column) override;
    long GetItemData(short column) const override;
    void SetItemData(short column, long data) override;
    QString GetColumnText(short column) const override;
    QString ProvideToolTip(short x, short y) const override;
    void SetColumnText(short column, const QString& name, const QString& tip) override;
    void AddDragDropFriend(QWidget* window) override;
    void SetThumbnail(short column, const void* image, short width, short height) override;
    short GetColumnCount() const override { return short(m_model.columnCount()); }
    short AddNewColumn(const QString& name, const QString& tip, long rate, bool filter) override;
    short InsertColumn2(short column, const QString& name, const QString& tip, long rate,
                        bool filter) override;
    short GetItemSelection(short column) const override;

    // ---- state for the host and for tests
    const TavrelModel& model() const { return m_model; }
    TavrelModel::Geometry geometry() const { return m_model.geometry(width(), height()); }
    // Set by every property write (the container's "modified" flag); the host clears it.
    bool isModified() const { return m_modified; }
    void clearModified() { m_modified = false; }
    // The column pressed for a drag (-1 when idle), the drop target and the friend under a drag.
    int dragSource() const { return m_dragSource; }
    int dropTarget() const { return m_dropTarget; }
    QWidget* dropWindow() const { return m_dropWindow; }
    // The tool tip the mouse shows now: its text (empty: none), colour and area.
    QString tipText() const;
    QColor tipColour() const;
    QWidget* spinButton() const;
    // Where the control looks for the window under the mouse during a drag; by default the
    // application's widget at that point.
    void setWindowFinder(std::function<QWidget*(const QPoint& global)> finder);

signals:
    // _DTavrelEvents
    void OnColumnSelection(short column);
    void OnColumnDeleted(short column);
    void OnRButtonDown(short column);
    void OnColumnDblClk(short column);
    void OnColumnDrag(short source, short target);
    void OnColumnDragFriend(short source, short target, QWidget* window);
    // Declared for containers; the control never sends it.
    void OnSourceTypeChanged(short column, short newType);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    void changed(bool repaintNow = false);
    void moveSelection(int delta);
    void placeSpin(const TavrelModel::Geometry& g);
    void showTip(const QString& text, const QColor& colour, const QRect& area);
    void hideTip();
    void hoverTip(const QPoint& pos);
    void dragTo(const QPoint& pos, const QPoint& global, Qt::KeyboardModifiers mods);
    void setDropMarker(int index);
    QRegion markerRegion(int index) const;
    int friendDragMessage(TavrelDragEvent& e);
    QWidget* friendAt(QWidget* w) const;

    TavrelModel m_model;
    bool m_modified = false;
    int m_dragSource = -1;
    int m_dropTarget = -1;
    int m_marker = -1; // the column the drop marker is drawn before, or -1
    QPointer<QWidget> m_dropWindow;
    std::vector<QPointer<QWidget>> m_friends;
    std::function<QWidget*(const QPoint&)> m_windowFinder;
    TavrelSpin* m_spin = nullptr;
    TavrelTip* m_tip = nullptr;
    std::unique_ptr<StripFonts> m_fonts;
};

// Makes the control named by its class id or ProgID (kClassId, kProgId), as a container that
// knows the control only by name does; null for any other name.
TAVREL_EXPORT CTavrelCtrl* createTavrelControl(const QString& name, QWidget* parent = nullptr);

} // namespace tavrel
