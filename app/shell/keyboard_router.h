// The editor's keyboard routing, applied to every key press before it reaches a window:
// - Ctrl shortcuts of the main window's menus work from every deck;
// - outside edit fields, Space starts or stops playback (unless a push button has the focus),
//   Home and End go to the start and end, Left and Right step a frame (with Shift half a
//   second, with Ctrl to the previous or next edit point);
// - while a capture runs, windows are not repainted.
// In an edit field the editing keys (typing, Ctrl+A/C/X/V/Z/Y) stay with the field.
//
// GUI thread only; installed on the application by CZefApp.
#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

namespace zef::app {

class CMainFrame;

class KeyboardRouter : public QObject {
    Q_OBJECT
public:
    explicit KeyboardRouter(CMainFrame& frame, QObject* parent = nullptr);

    // A widget where typed text goes: line and text edits, spin boxes, editable combo boxes,
    // timecode fields.
    static bool isEditField(const QWidget* w);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool route(QWidget* focus, QKeyEvent* e);
    bool applyAccelerator(QWidget* focus, QKeyEvent* e);

    CMainFrame& m_frame;
};

} // namespace zef::app
