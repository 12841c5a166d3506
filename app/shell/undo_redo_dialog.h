// CUndoRedoDialog: the drop-down list under the Undo Menu and Redo Menu buttons. It lists the
// labels newest at the top; moving the pointer selects every line from the top down to the one
// under it and the caption says what a release will do ("Undoes 3 action(s)", or "Cancel"
// outside the list); releasing the button undoes or redoes that many steps and closes the list.
// Near the top and bottom edges the list scrolls.
//
// GUI thread only. The history must outlive the dialog.
#pragma once

#include "model/undo.h"

#include <QTimer>
#include <QWidget>

namespace zef::app {

class CUndoRedoDialog : public QWidget {
    Q_OBJECT
public:
    static constexpr int kVisibleLines = 12;

    CUndoRedoDialog(UndoHistory& history, bool undo, QWidget* parent = nullptr);

    // Shows the list with its top-left corner at a screen position, grabbing the mouse.
    void popupAt(const QPoint& globalTopLeft);

    const UndoRedoChooser& chooser() const { return m_chooser; }
    QString captionText() const;
    int firstVisibleLine() const { return m_first; }
    // The line under a point of the widget, or -1 outside the list.
    int lineAt(const QPoint& p) const;
    QRect listRect() const;

signals:
    // After the undo or redo ran (count steps; 0 for Cancel) and the list closed.
    void finished(int count);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void hoverAt(const QPoint& p);
    void scrollStep();

    UndoRedoChooser m_chooser;
    bool m_undo;
    int m_lineHeight;
    int m_first = 0;
    int m_scrollDirection = 0;
    QPoint m_lastPointer{-1, -1};
    QTimer m_scroll;
    bool m_done = false;
};

} // namespace zef::app
