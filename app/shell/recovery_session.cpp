#include "app/shell/recovery_session.h"

#include "app/shell/settings_store.h"
#include "model/project.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <cstring>
#include <filesystem>

namespace zef::app {

namespace {

QString when(int64_t ms)
{
    const QString format = QStringLiteral("d MMM yyyy hh:mm:ss");
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms), format);
}

QString fileNameOf(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName();
}

enum class Choice { Recover, OpenSaved, Discard };

Choice ask(QWidget* owner, const recovery::StaleSession& s)
{
    const bool untitled = s.info.projectFile.empty();
    const bool saved = !untitled && recovery::FileIdentity::of(s.info.projectFile).exists;
    const QString project = untitled ? QStringLiteral("an untitled project")
                                     : QStringLiteral("\"%1\"").arg(fileNameOf(s.info.projectFile));
    QString text = QStringLiteral("ZEF Rondavo did not close normally. The changes to %1 made "
                                  "until %2 were kept.\n\n")
                       .arg(project, when(s.info.savedAtMs));
    text += saved ? QStringLiteral("Recover them, open the saved file, or discard them?")
                  : QStringLiteral("Recover them, or discard them?");
    QMessageBox box(QMessageBox::Question, QStringLiteral("Recover Project"), text,
                    QMessageBox::NoButton, owner);
    QPushButton* recover = box.addButton(QMessageBox::Yes);
    recover->setText(QStringLiteral("&Recover"));
    if (saved) box.addButton(QMessageBox::Open)->setText(QStringLiteral("&Open Saved File"));
    box.addButton(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
    box.setDefaultButton(recover);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Open:
        return Choice::OpenSaved;
    case QMessageBox::Discard:
        return Choice::Discard;
    default:
        return Choice::Recover;
    }
}

} // namespace

CRecoverySession::CRecoverySession(FProject& project, SettingsStore& settings,
                                   const QString& stateFolder,
                                   std::function<Clock::time_point()> clock)
    : m_project(project), m_settings(settings), m_clock(std::move(clock))
{
    if (!m_clock) m_clock = [] { return Clock::now(); };
    m_store = std::make_unique<recovery::RecoveryStore>(
        stateFolder.isEmpty() ? recovery::defaultStateFolder() : stateFolder.toStdString());
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CRecoverySession::poll);
    m_project.addObserver(this);
}

CRecoverySession::~CRecoverySession()
{
    m_project.removeObserver(this);
    m_autosaver.reset();
}

bool CRecoverySession::start()
{
    if (m_autosaver) return true;
    if (!m_store->beginSession()) return false;
    m_autosaver = std::make_unique<recovery::Autosaver>(m_project, *m_store, m_clock);
    const RecoveryPreferences p = m_settings.recoveryPreferences();
    m_autosaver->setTiming({recovery::Autosaver::Milliseconds(p.autosaveDelay),
                            recovery::Autosaver::Milliseconds(p.autosaveMaxInterval)});
    return true;
}

bool CRecoverySession::offerRecovery(QWidget* owner,
                                     const std::function<int(const std::string&)>& openSaved)
{
    if (!active()) return false;
    std::vector<recovery::StaleSession> sessions = m_store->takeStaleSessions();
    for (recovery::StaleSession& s : sessions) {
        switch (ask(owner, s)) {
        case Choice::Recover:
            if (openAs(s.recoveryFile, s.info.projectFile) == 1) {
                m_store->adopt(s);
                return true;
            }
            QMessageBox(QMessageBox::Warning, QStringLiteral("Error"),
                        QStringLiteral("Cannot load project file"), QMessageBox::Ok, owner)
                .exec();
            break;
        case Choice::OpenSaved: {
            const std::string file = s.info.projectFile;
            m_store->discard(s);
            if (openSaved(file) == 1) return true;
            break;
        }
        case Choice::Discard:
            m_store->discard(s);
            break;
        }
    }
    return false;
}

CRecoverySession::Pause::Pause(CRecoverySession* session) : m_session(session)
{
    if (m_session) ++m_session->m_paused;
}

CRecoverySession::Pause::~Pause()
{
    if (m_session && --m_session->m_paused == 0) m_session->arm();
}

int CRecoverySession::openAs(const std::string& fileToRead, const std::string& projectFile)
{
    Pause pause(this);
    if (m_project.openProjectFile(fileToRead) != 1) return -1;
    m_project.assumeFileName(projectFile);
    m_project.modified = true;
    changed();
    return 1;
}

void CRecoverySession::settled()
{
    if (m_autosaver) m_autosaver->settle();
    m_timer.stop();
}

void CRecoverySession::end(bool keepRecovery)
{
    m_timer.stop();
    if (!m_autosaver) return;
    if (keepRecovery && m_project.modified) {
        m_autosaver->snapshotNow();
        m_autosaver->flush();
        m_autosaver.reset();
        return; // the lock goes with the store: the session is stale from now on
    }
    m_autosaver.reset();
    m_store->endSession();
}

void CRecoverySession::changed()
{
    if (!m_autosaver) return;
    m_autosaver->noteChange();
    arm();
}

void CRecoverySession::arm()
{
    if (m_timer.isActive() || !m_autosaver) return;
    const auto due = m_autosaver->dueAt();
    if (!due) return;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - m_clock());
    m_timer.start(int(std::clamp<int64_t>(wait.count(), 0, 24 * 3600 * 1000)));
}

void CRecoverySession::poll()
{
    if (!m_autosaver || m_paused > 0) return;
    m_autosaver->poll();
    if (const int e = m_autosaver->takeWriteError())
        emit message(QStringLiteral("Could not keep the project for recovery: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(e))));
    arm();
}

void CRecoverySession::beforeFileReplaced(const std::string& path)
{
    if (!active()) return;
    m_store->backUp(path, m_settings.recoveryPreferences().backupCount);
}

void CRecoverySession::fillBackupMenu(QMenu& menu,
                                      const std::function<void(const recovery::Backup&)>& restore)
{
    const std::vector<recovery::Backup> all =
        active() ? m_store->allBackups() : std::vector<recovery::Backup>{};
    std::string current;
    if (!m_project.untitled()) {
        std::error_code ec;
        current = std::filesystem::weakly_canonical(
                      std::filesystem::absolute(m_project.fileName(), ec), ec)
                      .string();
    }
    auto add = [&](QMenu& to, const recovery::Backup& b, int number) {
        const QString text = QStringLiteral("&%1 %2 (%3 KB)")
                                 .arg(number)
                                 .arg(when(b.savedAtMs))
                                 .arg((b.size + 1023) / 1024);
        to.addAction(text, this, [restore, b] { restore(b); });
    };
    int number = 0;
    for (const recovery::Backup& b : all)
        if (b.projectFile == current) add(menu, b, ++number);
    std::vector<std::string> others;
    for (const recovery::Backup& b : all)
        if (b.projectFile != current &&
            std::find(others.begin(), others.end(), b.projectFile) == others.end())
            others.push_back(b.projectFile);
    if (number > 0 && !others.empty()) menu.addSeparator();
    for (const std::string& project : others) {
        QMenu* sub = menu.addMenu(fileNameOf(project));
        sub->setToolTip(QString::fromStdString(project));
        int n = 0;
        for (const recovery::Backup& b : all)
            if (b.projectFile == project) add(*sub, b, ++n);
    }
    if (menu.isEmpty()) menu.addAction(QStringLiteral("(no backups)"))->setEnabled(false);
}

} // namespace zef::app
