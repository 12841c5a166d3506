// CMainFrame: the editor's small main window and the set of decks around it. The window draws
// its own caption (title, close and minimise buttons) and holds the main bar. It creates the six
// decks as separate top-level windows, places them in the default layout, snaps every window
// to the screen and to the others while it is moved or sized, moves the decks that touch it
// along when it moves, and keeps their places in the settings store and in the project.
//
// GUI thread only. The project, the settings store and the commands must outlive the frame.
#pragma once

#include "app/layout/deck_layout.h"
#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"

#include <QAction>
#include <QWidget>

#include <array>
#include <memory>

class QMenu;

namespace zef {
class FProject;
}
namespace zef::ui {
class CInfoDialog;
class CParametersContainer;
class CPreviewPanel;
class CTimelineView;
class DPreview;
} // namespace zef::ui

namespace zef::app {

class CMainBar;
class CClipDeckWindow;
class FMainControl;
class SettingsStore;

// The commands of the main window that the application carries out.
class MainFrameCommands {
public:
    virtual ~MainFrameCommands() = default;
    virtual void newProject() {}
    virtual void openProject() {}
    virtual void saveProject() {}
    virtual void saveProjectAs() {}
    virtual void openRecentFile(int /*index*/) {}
    // The entries of the "Restore from backup" menu.
    virtual void fillBackupMenu(QMenu& /*menu*/) {}
    virtual void helpIndex() {}
    virtual void about() {}
    // A "Preview Preferences" flag was toggled from the Settings menu.
    virtual void previewFlagToggled(const char* /*key*/, bool /*on*/) {}
    // The VCR Deck drives the tape deck (device mode) instead of the preview.
    virtual bool deviceMode() const { return false; }
    virtual void setDeviceMode(bool /*on*/) {}
    // The main window is asked to close: false keeps the program running.
    virtual bool mainWindowClosing() { return true; }
    // The main bar's Capture and Render buttons: the preview shows the capture source (the
    // capture device is opened) or the composition again (the device is closed).
    virtual void capturePreview() {}
    virtual void renderPreview() {}
};

class CMainFrame : public QWidget, public ui::PlacementHost, public ProjectObserver {
    Q_OBJECT
public:
    static constexpr int kCaptionHeight = 22;
    static constexpr int kClientHeight = 60;

    CMainFrame(FProject& project, SettingsStore& settings, MainFrameCommands& commands,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The decks, in panel order (1 = Info Deck ... 6 = Clip Deck); panel 0 is this window.
    QWidget* panelWindow(int index) const;
    ui::CInfoDialog& infoDeck() const { return *m_info; }
    ui::CParametersContainer& parametersDeck() const { return *m_parameters; }
    ui::CPreviewPanel& vcrDeck() const { return *m_vcr; }
    ui::CTimelineView& timelineDeck() const { return *m_timeline; }
    ui::DPreview& previewDeck() const { return *m_preview; }
    CClipDeckWindow& clipDeck() const { return *m_clipDeck; }
    FMainControl& clipControl() const;
    CMainBar& mainBar() const { return *m_bar; }
    const DeckLayout& layout() const { return m_layout; }
    FProject& project() const { return m_project; }
    SettingsStore& settings() const { return m_settings; }
    MainFrameCommands& commands() const { return m_commands; }
    // The "Recent &File" entries and the Settings menu ("Preview Performance").
    void fillRecentMenu(QMenu& menu);
    void fillSettingsMenu(QMenu& menu);

    // The default layout ("&Restore positions"): every window to its default place.
    void restoreLayout();
    // The places stored in the settings store, over the current ones.
    void loadPanels();
    void savePanels();
    // Shows the main window and every deck that is meant to be visible.
    void showAll();
    // The deck's window shown or hidden (the Windows menu).
    void setDeckVisible(int index, bool visible);
    DeckSizes deckSizes() const;

    // The window title shown in the drawn caption.
    QString title() const { return m_title; }
    QRect closeButtonRect() const;
    QRect minimiseButtonRect() const;

    // The accelerator table: every menu shortcut, for the keyboard routing of the decks.
    const QList<QAction*>& accelerators() const { return m_accelerators; }
    QMenu* windowsMenu() const { return m_windowsMenu; }

    // A capture in progress (painting is held back while it runs).
    void beginCapture() { ++m_captureCount; }
    void endCapture() { --m_captureCount; }
    int captureCount() const { return m_captureCount; }

    // PlacementHost
    void beginPlacement(QWidget* window, int edge) override;
    QRect placeRect(QWidget* window, int edge, const QRect& proposed) override;
    void endPlacement(QWidget* window) override;
    void visibilityChanged(QWidget* window) override;

    // ProjectObserver
    void setWindowTitle(const std::string& title) override;
    void undoButtonsChanged(const UndoButtonState& state) override;
    void applyPanelLayout(const PanelLayout& layout) override;
    void showError(const std::string& message) override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void changeEvent(QEvent*) override;
    void closeEvent(QCloseEvent*) override;

private:
    int indexOf(const QWidget* window) const;
    void readWindows();
    void applyRect(int index, const Rect& rect);
    void publishToProject();
    void buildMenus();
    QAction* accelerator(const QString& text, const QKeySequence& key);

    FProject& m_project;
    SettingsStore& m_settings;
    MainFrameCommands& m_commands;
    DeckLayout m_layout;
    CMainBar* m_bar = nullptr;
    ui::CInfoDialog* m_info = nullptr;
    ui::CParametersContainer* m_parameters = nullptr;
    ui::CPreviewPanel* m_vcr = nullptr;
    ui::CTimelineView* m_timeline = nullptr;
    ui::DPreview* m_preview = nullptr;
    CClipDeckWindow* m_clipDeck = nullptr;
    QString m_title;
    QList<QAction*> m_accelerators;
    QMenu* m_windowsMenu = nullptr;
    std::array<QAction*, kPanelsTotal> m_deckActions{};
    int m_captureCount = 0;
    bool m_applyingLayout = false;

    enum class Press { None, Caption, Close, Minimise } m_press = Press::None;
    bool m_buttonDown = false; // the close or minimise button drawn pressed
    QPoint m_pressGlobal;
    QPoint m_pressTopLeft;
};

} // namespace zef::app
