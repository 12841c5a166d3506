// The editor's state folder: one entry per running editor (a session) with its lock file and
// recovery file, and the rolling backups of saved projects.
//
//   <folder>/sessions/<id>.lock   the session's lock: holds the process id; the process keeps
//                                 an advisory lock on it while it runs
//   <folder>/sessions/<id>.zef    the session's latest recovery file (see recovery_file.h)
//   <folder>/sessions/<id>.part   a newer one, written but not yet renamed into place
//   <folder>/backups/<name>-<hash>/<ms>.zef
//                                 earlier versions of one project file (<ms>: when that
//                                 version was saved, milliseconds since the epoch), with
//                                 "project" naming the file they are versions of
//
// A session is stale when its process is gone: nobody holds the lock on its lock file (the
// system drops the lock of a process that dies, however it dies). Sessions are named by
// process id and start time, so a process id used again never meets an old entry.
//
// Thread safety: a RecoveryStore is used from one thread, except recoveryPath() and
// partPath(), which the autosave worker reads (they never change after beginSession).
#pragma once

#include "app/recovery/recovery_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef::recovery {

// A stale session that this process holds (its lock) while it decides what to do with it;
// letting it go (destroying it) leaves it for a later start.
class StaleSession {
public:
    StaleSession() = default;
    ~StaleSession();
    StaleSession(StaleSession&& other) noexcept;
    StaleSession& operator=(StaleSession&& other) noexcept;
    StaleSession(const StaleSession&) = delete;
    StaleSession& operator=(const StaleSession&) = delete;

    std::string id;
    // The newest complete recovery file the session left, and what it says.
    std::string recoveryFile;
    RecoveryInfo info;

private:
    friend class RecoveryStore;
    int m_lockFd = -1;
};

// One saved version kept in the backup folder.
struct Backup {
    std::string file;        // the backup's own path
    std::string projectFile; // the project file it is a version of
    int64_t savedAtMs = 0;   // when that version was saved
    int64_t size = 0;
};

class RecoveryStore {
public:
    explicit RecoveryStore(std::string folder);
    // Keeps the session's files (a session ends cleanly only through endSession).
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    const std::string& folder() const { return m_folder; }

    // ---- this process's session
    // Makes the folders and takes the session's lock file; false when the folder cannot be
    // used (the editor then runs without recovery).
    bool beginSession();
    bool inSession() const { return m_lockFd >= 0; }
    const std::string& sessionId() const { return m_id; }
    std::string recoveryPath() const;
    std::string partPath() const;
    // A clean end: the recovery files and then the lock file go.
    void endSession();

    // ---- sessions of processes that are gone
    // The stale sessions whose recovery still holds changes their project's file lacks,
    // newest first, each held by this process. Stale entries without such a recovery
    // (none written, unreadable, or superseded by a later save of the project) are removed.
    std::vector<StaleSession> takeStaleSessions();
    // Removes the session's files.
    void discard(StaleSession& session);
    // This session takes over the stale session's recovery file (it becomes recoveryPath())
    // and the stale entry goes. False when this process has no session or the rename fails.
    bool adopt(StaleSession& session);

    // ---- rolling backups
    // Keeps a copy of the project file at path (about to be replaced by a save) among its
    // backups and leaves the newest `keep` of them. A copy equal to the newest backup is not
    // made again. Nothing happens for keep <= 0. Returns whether the file is now backed up.
    bool backUp(const std::string& path, int keep);
    // The backups of one project file, newest first.
    std::vector<Backup> backups(const std::string& projectFile) const;
    // The backups of every project, newest first.
    std::vector<Backup> allBackups() const;

private:
    std::string sessionsFolder() const;
    std::string backupFolderFor(const std::string& projectFile) const;
    std::vector<Backup> backupsIn(const std::string& folder) const;
    void removeSessionFiles(const std::string& id);

    std::string m_folder;
    std::string m_id;
    int m_lockFd = -1;
};

} // namespace zef::recovery
