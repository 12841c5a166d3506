// CZefApp: brings the editor up and down. It creates the services (effects, components, the
// composition engine, the template list, the settings store, the project) and the main window
// with its decks, opens the project named on the command line or starts a new one, carries
// out the file commands of the main window, and at exit saves what belongs to the user.
//
// One per program run, on the GUI thread. A QApplication must exist before it.
#pragma once

#include "app/shell/main_frame.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zef {
class ICaptureDevicePlugin;
class FProject;
class FEffectCatalogue;
class FMovieBuilder;
class FrameDelivery;
class GraphClipReaders;
class MediaClipOpener;
class TapeDeck;
class TemplateList;
namespace graph {
class FilterClassRegistry;
class DeviceList;
} // namespace graph
namespace movies {
class ComponentManager;
class EffectRegistry;
} // namespace movies
namespace recovery {
struct Backup;
}
} // namespace zef

namespace zef::app {

class CRecoverySession;
class CaptureWindows;
struct HostContext;
class FCaptureControl;
class CTapeDeckView;
class KeyboardRouter;
class QtUserInterface;
class SettingsStore;

class CZefApp : public QObject, public MainFrameCommands {
    Q_OBJECT
public:
    struct Options {
        // The settings store's file; empty: the user's store.
        QString settingsFile;
        // Where the "User" templates are kept; empty: beside the settings store.
        QString userFolder;
        // Writes the desktop's file association for the user at start-up.
        bool writeFileAssociation = true;
        // Where the session, recovery and backup files are kept; empty: the user's state
        // folder.
        QString stateFolder;
        // The clock of the autosave schedule; empty: the steady clock.
        std::function<std::chrono::steady_clock::time_point()> clock;
    };

    CZefApp();
    explicit CZefApp(Options options);
    ~CZefApp() override;

    // Start-up in order. False when the program must end; its message has been shown.
    bool startUp(const QStringList& arguments);
    // Exit in order: the user templates are saved, the preview stops, the project is emptied.
    void exit();

    // The project path a command-line argument names: surrounding double quotes dropped and
    // the extension cut off ("/p/My.Show.zef" → "/p/My.Show").
    static std::string projectPathFromArgument(std::string argument);
    // Opens a project the way the command line and the recent-file list do; 1, 0 or -1 as
    // openProject, and on -1 the "Cannot load project file" message has been shown.
    int openFromArgument(const std::string& argument);

    FProject& project() { return *m_project; }
    CMainFrame& mainFrame() { return *m_frame; }
    SettingsStore& settings() { return *m_settings; }
    TemplateList& templates() { return *m_templates; }
    FMovieBuilder& builder() { return *m_builder; }
    QtUserInterface& userInterface() { return *m_ui; }
    // The capture plug-in's instance, made when the main window is created.
    ICaptureDevicePlugin* captureDevice() const { return m_capture.get(); }
    // Capturing with either engine.
    FCaptureControl& captureControl() { return *m_captureControl; }
    bool mediaReady() const { return m_mediaReady; }
    // Autosave, recovery and backups; null before start-up.
    CRecoverySession* recovery() const { return m_recovery.get(); }
    // Reads a backup as the project it is a version of (after asking to save changes); the
    // project then shows as modified.
    void restoreBackup(const recovery::Backup& backup);

    // Device control: the device-control filters listed at start-up, the tape deck (open on
    // the "Transport Preferences" device, else on the software tape deck) and the VCR Deck's
    // device mode, in which the Preview Deck shows the deck's output.
    const graph::DeviceList& deviceList() const { return *m_devices; }
    TapeDeck* tapeDeck() const { return m_tapeDeck.get(); }
    // Re-opens the deck on a device of the list and a port (device mode is left and entered
    // again around it); false when the device cannot be opened.
    bool openTapeDeck(int32_t deviceIndex, int32_t port);

    // MainFrameCommands
    bool deviceMode() const override;
    void setDeviceMode(bool on) override;
    void newProject() override;
    void openProject() override;
    void saveProject() override;
    void saveProjectAs() override;
    void openRecentFile(int index) override;
    void fillBackupMenu(QMenu& menu) override;
    void helpIndex() override;
    void about() override;
    void previewFlagToggled(const char* key, bool on) override;
    bool mainWindowClosing() override;
    void capturePreview() override;
    // Opens the capture device for a plug-in (hosted, without the preview layout); true when
    // it is open. Any thread.
    bool handleCapturing();
    void renderPreview() override;

private:
    // Asks to save a changed project before another one replaces it; false on Cancel.
    bool saveChangesFirst();
    void projectSaved(int result);
    // A project was opened or started anew.
    void projectReplaced();
    void applyPreviewPreferences();
    void loadTemplates();
    void registerPlugins();
    QString userFolder() const;

    Options m_options;
    bool m_mediaReady = false;
    bool m_exited = false;
    bool m_closeConfirmed = false;
    std::unique_ptr<movies::EffectRegistry> m_registry;
    std::unique_ptr<movies::ComponentManager> m_components;
    std::unique_ptr<FEffectCatalogue> m_catalogue;
    std::unique_ptr<TemplateList> m_templates;
    std::unique_ptr<SettingsStore> m_settings;
    // The media graph's filter classes and the readers of clips the toolbox does not open;
    // they outlive the project, whose clips use them.
    std::unique_ptr<graph::FilterClassRegistry> m_graphClasses;
    std::unique_ptr<GraphClipReaders> m_graphReaders;
    std::unique_ptr<MediaClipOpener> m_clipOpener;
    std::unique_ptr<graph::DeviceList> m_devices;
    std::unique_ptr<TapeDeck> m_tapeDeck;
    std::unique_ptr<CTapeDeckView> m_tapeView;
    std::unique_ptr<FProject> m_project;
    std::unique_ptr<FrameDelivery> m_delivery; // what RenderFrame and RenderAudio reach
    std::unique_ptr<HostContext> m_host;       // what the CALLBACK_… exports reach
    std::unique_ptr<FMovieBuilder> m_builder;
    std::unique_ptr<QtUserInterface> m_ui;
    std::unique_ptr<ICaptureDevicePlugin> m_capture;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CaptureWindows> m_captureWindows;
    std::unique_ptr<FCaptureControl> m_captureControl;
    std::unique_ptr<KeyboardRouter> m_router;
    QTimer m_idle;
    std::string m_lastBuildError;
    std::unique_ptr<CRecoverySession> m_recovery; // destroyed first: it observes the project
};

} // namespace zef::app
