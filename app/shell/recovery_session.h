// CRecoverySession: the editor's side of autosave, crash recovery and rolling backups. It
// marks the running editor's session in the state folder, watches the project for changes
// and lets the Autosaver keep it in the session's recovery file, asks at start-up about the
// sessions a crash left behind, keeps a copy of a project file before a save replaces it, and
// lists those copies for the "Restore from backup" menu.
//
// GUI thread only. The project and the settings store must outlive it.
#pragma once

#include "app/recovery/autosaver.h"
#include "app/recovery/recovery_store.h"
#include "model/project_links.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace zef {
class FProject;
}

namespace zef::app {

class SettingsStore;

class CRecoverySession : public QObject, public ProjectObserver {
    Q_OBJECT
public:
    using Clock = recovery::Autosaver::Clock;

    // stateFolder: empty for the user's state folder. clock: the steady clock unless set.
    CRecoverySession(FProject& project, SettingsStore& settings, const QString& stateFolder,
                     std::function<Clock::time_point()> clock = {});
    ~CRecoverySession() override;

    // Starts the session (lock file) and autosave; false when the state folder cannot be
    // used, and the editor then runs without recovery.
    bool start();
    bool active() const { return m_autosaver != nullptr; }
    recovery::RecoveryStore& store() { return *m_store; }
    // Null when not active.
    recovery::Autosaver* autosaver() const { return m_autosaver.get(); }

    // The question about each session a crash left behind, newest first: recover it, open its
    // project's saved file (through openSaved, which returns 1 when it opened), or discard it.
    // Stops at the first project that was opened; the sessions not asked about stay for the
    // next start. Returns whether a project was opened.
    bool offerRecovery(QWidget* owner, const std::function<int(const std::string&)>& openSaved);

    // Reads fileToRead (a recovery file or a backup) as the project whose file is projectFile
    // (empty: untitled); the project then shows as modified. 1, or -1 when it cannot be read.
    int openAs(const std::string& fileToRead, const std::string& projectFile);

    // The project was saved, opened or started anew: its recovery file is out of date.
    void settled();
    // While one lives, no snapshot is taken: a project being read is incomplete, and the
    // questions a read may ask run the event loop. A null session is allowed.
    class Pause {
    public:
        explicit Pause(CRecoverySession* session);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        CRecoverySession* m_session;
    };
    // A clean end: the session and its files go. keepRecovery: the project is kept in the
    // recovery file first and the session stays for the next start to offer (an end without
    // the user's say on unsaved changes).
    void end(bool keepRecovery);

    // The "Restore from backup" entries: the current project's versions, then every other
    // project's in a menu of its own. restore is called with the chosen backup.
    void fillBackupMenu(QMenu& menu, const std::function<void(const recovery::Backup&)>& restore);

    // ProjectObserver: every sign of a change starts the autosave's clock.
    void itemChanged(ZEFItem*) override { changed(); }
    void repaintTrackRow(int32_t) override { changed(); }
    void refreshTrackList(int32_t) override { changed(); }
    void repaintRuler() override { changed(); }
    void refreshTimeline() override { changed(); }
    void refreshClipDeck() override { changed(); }
    void refreshDecks() override { changed(); }
    void undoButtonsChanged(const UndoButtonState&) override { changed(); }
    void applyPanelLayout(const PanelLayout&) override { changed(); }
    void beforeFileReplaced(const std::string& path) override;

signals:
    // A recovery file could not be written (the text says why).
    void message(const QString& text);

private:
    void changed();
    void arm();
    void poll();

    FProject& m_project;
    SettingsStore& m_settings;
    std::function<Clock::time_point()> m_clock;
    std::unique_ptr<recovery::RecoveryStore> m_store;
    std::unique_ptr<recovery::Autosaver> m_autosaver;
    QTimer m_timer;
    int m_paused = 0;
};

} // namespace zef::app
