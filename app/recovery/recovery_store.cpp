#include "app/recovery/recovery_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

namespace zef::recovery {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLock = ".lock";
constexpr const char* kRecovery = ".zef";
constexpr const char* kPart = ".part";
constexpr const char* kProjectNote = "project";
constexpr size_t kMaxStem = 100;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool endsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool startsWith(const std::string& s, const std::string& start)
{
    return s.compare(0, start.size(), start) == 0;
}

bool readWhole(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes a file whole under a temporary name and renames it into place.
bool writeWhole(const std::string& path, const std::string& bytes)
{
    const fs::path p(path);
    const std::string tmp = (p.parent_path() / ("." + p.filename().string() + ".tmp")).string();
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out.flush()) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::error_code ec;
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

uint64_t fnv1a(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

// The process id a lock file names, or 0.
int readPid(int fd)
{
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    return n > 0 ? std::atoi(buf) : 0;
}

// Whether the session whose lock file is open on fd has ended; on true this process holds
// the lock from now on.
bool lockIfGone(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    // A file system without advisory locks: ask whether the process is still there.
    const int pid = readPid(fd);
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

// ---- StaleSession

StaleSession::~StaleSession()
{
    if (m_lockFd >= 0) ::close(m_lockFd);
}

StaleSession::StaleSession(StaleSession&& o) noexcept
    : id(std::move(o.id)), recoveryFile(std::move(o.recoveryFile)), info(std::move(o.info)),
      m_lockFd(std::exchange(o.m_lockFd, -1))
{
}

StaleSession& StaleSession::operator=(StaleSession&& o) noexcept
{
    if (this != &o) {
        if (m_lockFd >= 0) ::close(m_lockFd);
        id = std::move(o.id);
        recoveryFile = std::move(o.recoveryFile);
        info = std::move(o.info);
        m_lockFd = std::exchange(o.m_lockFd, -1);
    }
    return *this;
}

// ---- the session

RecoveryStore::RecoveryStore(std::string folder) : m_folder(std::move(folder)) {}

RecoveryStore::~RecoveryStore()
{
    if (m_lockFd >= 0) ::close(m_lockFd);
}

std::string RecoveryStore::sessionsFolder() const { return m_folder + "/sessions"; }

std::string RecoveryStore::recoveryPath() const
{
    return sessionsFolder() + "/" + m_id + kRecovery;
}

std::string RecoveryStore::partPath() const { return sessionsFolder() + "/" + m_id + kPart; }

bool RecoveryStore::beginSession()
{
    if (m_lockFd >= 0) return true;
    std::error_code ec;
    fs::create_directories(sessionsFolder(), ec);
    fs::create_directories(m_folder + "/backups", ec);
    // The state folder holds copies of the user's work: private to the user.
    fs::permissions(m_folder, fs::perms::owner_all, ec);
    const int pid = int(::getpid());
    for (int attempt = 0; attempt < 10; ++attempt) {
        m_id = std::to_string(pid) + "-" + std::to_string(nowMs() + attempt);
        const std::string lock = sessionsFolder() + "/" + m_id + kLock;
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        ::flock(fd, LOCK_EX | LOCK_NB);
        const std::string text = std::to_string(pid) + "\n";
        if (::write(fd, text.data(), text.size()) != ssize_t(text.size())) {
            ::close(fd);
            ::unlink(lock.c_str());
            return false;
        }
        m_lockFd = fd;
        return true;
    }
    return false;
}

void RecoveryStore::removeSessionFiles(const std::string& id)
{
    const std::string dir = sessionsFolder();
    ::unlink((dir + "/" + id + kRecovery).c_str());
    ::unlink((dir + "/" + id + kPart).c_str());
    // Temporary files of a write that did not finish.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (startsWith(name, "." + id + ".") && endsWith(name, ".tmp")) fs::remove(e.path(), ec);
    }
    ::unlink((dir + "/" + id + kLock).c_str());
}

void RecoveryStore::endSession()
{
    if (m_lockFd < 0) return;
    removeSessionFiles(m_id);
    ::close(m_lockFd);
    m_lockFd = -1;
}

std::vector<StaleSession> RecoveryStore::takeStaleSessions()
{
    std::set<std::string> ids;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(sessionsFolder(), ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        for (const char* ext : {kLock, kRecovery, kPart})
            if (endsWith(name, ext)) ids.insert(name.substr(0, name.size() - std::strlen(ext)));
    }
    ids.erase(m_id);

    std::vector<StaleSession> out;
    for (const std::string& id : ids) {
        const std::string base = sessionsFolder() + "/" + id;
        // A recovery without a lock file (removed by hand) is taken like a stale session.
        const int fd = ::open((base + kLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        if (!lockIfGone(fd)) {
            ::close(fd);
            continue;
        }
        StaleSession s;
        s.id = id;
        s.m_lockFd = fd;
        // A part file is complete (it too was renamed into place); it is newer than the
        // recovery file unless a kill came between writing it and renaming it.
        for (const char* ext : {kRecovery, kPart}) {
            RecoveryInfo info;
            if (readRecoveryInfo(base + ext, info) &&
                (s.recoveryFile.empty() || info.savedAtMs >= s.info.savedAtMs)) {
                s.recoveryFile = base + ext;
                s.info = std::move(info);
            }
        }
        if (s.recoveryFile.empty() || !recoveryIsNewer(s.info)) {
            discard(s);
            continue;
        }
        out.push_back(std::move(s));
    }
    std::sort(out.begin(), out.end(), [](const StaleSession& a, const StaleSession& b) {
        return a.info.savedAtMs > b.info.savedAtMs;
    });
    return out;
}

void RecoveryStore::discard(StaleSession& s)
{
    if (s.id.empty()) return;
    removeSessionFiles(s.id);
    if (s.m_lockFd >= 0) ::close(s.m_lockFd);
    s.m_lockFd = -1;
}

bool RecoveryStore::adopt(StaleSession& s)
{
    if (m_lockFd < 0 || s.recoveryFile.empty()) return false;
    if (std::rename(s.recoveryFile.c_str(), recoveryPath().c_str()) != 0) return false;
    s.recoveryFile = recoveryPath();
    discard(s);
    return true;
}

// ---- backups

std::string RecoveryStore::backupFolderFor(const std::string& projectFile) const
{
    const std::string full = absolutePath(projectFile);
    std::string stem = fs::path(full).stem().string().substr(0, kMaxStem);
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016llx", (unsigned long long)fnv1a(full));
    return m_folder + "/backups/" + stem + "-" + hash;
}

std::vector<Backup> RecoveryStore::backupsIn(const std::string& folder) const
{
    std::vector<Backup> out;
    std::string project;
    if (!readWhole(folder + "/" + kProjectNote, project)) return out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (!endsWith(name, kRecovery) || name[0] == '.') continue;
        const std::string digits = name.substr(0, name.size() - std::strlen(kRecovery));
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
        Backup b;
        b.file = e.path().string();
        b.projectFile = project;
        b.savedAtMs = std::stoll(digits);
        b.size = int64_t(e.file_size(ec));
        out.push_back(std::move(b));
    }
    std::sort(out.begin(), out.end(),
              [](const Backup& a, const Backup& b) { return a.savedAtMs > b.savedAtMs; });
    return out;
}

std::vector<Backup> RecoveryStore::backups(const std::string& projectFile) const
{
    return backupsIn(backupFolderFor(projectFile));
}

std::vector<Backup> RecoveryStore::allBackups() const
{
    std::vector<Backup> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m_folder + "/backups", ec)) {
        if (!e.is_directory(ec)) continue;
        std::vector<Backup> some = backupsIn(e.path().string());
        out.insert(out.end(), some.begin(), some.end());
    }
    std::sort(out.begin(), out.end(),
              [](const Backup& a, const Backup& b) { return a.savedAtMs > b.savedAtMs; });
    return out;
}

bool RecoveryStore::backUp(const std::string& path, int keep)
{
    if (keep <= 0) return false;
    std::string bytes;
    const FileIdentity id = FileIdentity::of(path);
    if (!id.exists || !readWhole(path, bytes)) return false;
    const std::string folder = backupFolderFor(path);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string note = folder + "/" + kProjectNote;
    const std::string full = absolutePath(path);
    std::string known;
    if ((!readWhole(note, known) || known != full) && !writeWhole(note, full)) return false;

    std::vector<Backup> list = backupsIn(folder);
    std::string newest;
    const bool same = !list.empty() && list.front().size == int64_t(bytes.size()) &&
                      readWhole(list.front().file, newest) && newest == bytes;
    if (!same) {
        // Named by when this version was saved; a name in use moves on by a millisecond.
        int64_t ms = id.modifiedNs / 1000000;
        while (fs::exists(folder + "/" + std::to_string(ms) + kRecovery, ec))
            ++ms;
        if (!writeWhole(folder + "/" + std::to_string(ms) + kRecovery, bytes)) return false;
        list = backupsIn(folder);
    }
    for (size_t i = size_t(keep); i < list.size(); ++i)
        fs::remove(list[i].file, ec);
    return true;
}

} // namespace zef::recovery
