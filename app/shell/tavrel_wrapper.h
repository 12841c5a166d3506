// CTavrel: the editor's hold on the clip strip control. It makes the control from its class
// id and calls it only through the dispatch interface, by dispatch id, the way a container
// that knows nothing but the interface does. The control's events arrive as its signals
// (events()).
//
// GUI thread only; the control is a child of the parent given and lives as long as it.
#pragma once

#include <QString>

class QWidget;

namespace tavrel {
class CTavrelCtrl;
}

namespace zef::app {

class CTavrel {
public:
    static constexpr int kControlId = 1055;

    explicit CTavrel(QWidget* parent);

    QWidget* widget() const;
    // The control as the source of its events.
    tavrel::CTavrelCtrl* events() const { return m_control; }

    long GetTimeBase() const;
    void SetTimeBase(long timeBase);
    short GetSelection() const;
    void SetSelection(short selection);
    // Also read and written by the editor, so that a refill keeps the strip where it was.
    short GetColumnOffset() const;
    void SetColumnOffset(short offset);
    short GetVisibleColumnCount() const;

    void SetValue(short column, short row, long value);
    short AddRow(const QString& name);
    void ResetColumns();
    void SetColumnText(short column, const QString& name, const QString& tip);
    // width × height 32-bit pixels, rows bottom-up (null: none).
    void SetThumbnail(short column, const void* image, short width, short height);
    short GetColumnCount() const;
    short AddNewColumn(const QString& name, const QString& tip, long rate, bool filter);
    short GetItemSelection(short column) const;

private:
    tavrel::CTavrelCtrl* m_control;
};

} // namespace zef::app
