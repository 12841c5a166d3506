// CMainBar: the main window's bar ("ZefRondavo Status bar") of picture buttons that open the
// file, edit, decks, settings and help menus, undo and redo (with their drop-down lists), and
// switch the preview between the composition and capture; and its one-line message area.
//
// GUI thread only; lives inside the CMainFrame that creates it.
#pragma once

#include "engine/render.h"
#include "model/project_links.h"
#include "output/render_progress.h"
#include "ui/controls/gui_dialog.h"

#include <QString>

#include <optional>

namespace zef::ui {
class CXButton;
}

namespace zef::app {

class CMainFrame;
class CUndoRedoDialog;

class CMainBar : public ui::CGUIDialog, public output::ProgressDisplay {
    Q_OBJECT
public:
    // The picture buttons by control id.
    enum ButtonId {
        kFileOpenMenu = 100,
        kFileSaveMenu = 101,
        kHelpMenu = 102,
        kDecks = 103,
        kUndo = 105,
        kUndoMenu = 106,
        kRedo = 107,
        kRedoMenu = 108,
        kCapture = 109,
        kRender = 110,
        kEditMenu = 111,
        kSettings = 112,
    };

    explicit CMainBar(CMainFrame& frame);

    ui::CXButton* button(int id) const;
    // The message area: a printf-style text, ignored while a progress display owns the area.
    void showMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
    QString message() const { return m_message; }
    // A render's progress display takes the message area while it runs.
    void setProgressOwner(bool owns) { m_progressOwner = owns; }
    bool progressOwner() const { return m_progressOwner; }
    // output::ProgressDisplay: drawn below the buttons at once; a finished render leaves its
    // last text as the message.
    void showRenderStatus(const CFile2000Status* status) override;
    QRect progressRect() const { return QRect(0, 37, width(), height() - 37); }
    void setUndoButtons(const UndoButtonState& state);
    // The Render and Capture buttons drawn pressed while the preview shows that.
    void setPreviewMode(bool composition, bool capture);
    QRect messageRect() const;
    // The open undo or redo list, or null.
    CUndoRedoDialog* openList() const { return m_list; }

    // Pop-up menus open at a button's right edge, top.
    void popupMenu(int id);
    void openUndoList(bool undo);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    ui::CXButton* add(int id, int x, int width, const char* tip, const char* image);

    CMainFrame& m_frame;
    QString m_message;
    bool m_progressOwner = false;
    std::optional<CFile2000Status> m_status;
    CUndoRedoDialog* m_list = nullptr;
};

} // namespace zef::app
