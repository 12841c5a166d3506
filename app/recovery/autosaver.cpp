#include "app/recovery/autosaver.h"

#include "model/project.h"
#include "platform/storage/stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace zef::recovery {

Autosaver::Autosaver(const FProject& project, RecoveryStore& store,
                     std::function<Clock::time_point()> clock)
    : m_project(project), m_store(store), m_clock(std::move(clock))
{
    if (!m_clock) m_clock = [] { return Clock::now(); };
    m_worker = std::thread([this] { run(); });
}

Autosaver::~Autosaver()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.reset();
    }
    m_wake.notify_all();
    m_worker.join();
}

void Autosaver::setStageHook(StageHook hook)
{
    std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
}

void Autosaver::report(Stage stage, int64_t generation)
{
    StageHook hook;
    {
        std::lock_guard lock(m_mutex);
        hook = m_hook;
    }
    if (hook) hook(stage, generation);
}

// ---- the schedule (project's thread)

void Autosaver::noteChange()
{
    if (m_timing.delay.count() <= 0) return;
    const Clock::time_point now = m_clock();
    if (!m_firstChange) m_firstChange = now;
    m_lastChange = now;
}

std::optional<Autosaver::Clock::time_point> Autosaver::dueAt() const
{
    if (!m_firstChange) return std::nullopt;
    return std::min(*m_lastChange + m_timing.delay, *m_firstChange + m_timing.maxInterval);
}

bool Autosaver::poll()
{
    const auto due = dueAt();
    if (!due || m_clock() < *due) return false;
    const int64_t before = m_generation;
    snapshotNow();
    return m_generation != before;
}

void Autosaver::snapshotNow()
{
    m_firstChange.reset();
    m_lastChange.reset();
    if (!m_store.inSession()) return;
    if (!m_project.modified) {
        if (m_recoveryMayExist) settle();
        return;
    }
    // The buffer of an earlier snapshot, or room for one as large as the last, so that
    // writing the project allocates nothing.
    std::vector<uint8_t> room;
    {
        std::lock_guard lock(m_mutex);
        room.swap(m_spare);
    }
    room.clear();
    room.reserve(m_lastSize + m_lastSize / 8 + 4096);
    storage::MemoryStream stream(std::move(room));
    if (m_project.writeProject(stream) != 0) return;

    Job job;
    job.bytes = stream.takeBytes();
    m_lastSize = job.bytes.size();
    if (!m_project.untitled()) {
        std::error_code ec;
        const std::filesystem::path file = std::filesystem::absolute(m_project.fileName(), ec);
        job.info.projectFile = ec ? m_project.fileName() : file.string();
    }
    job.info.base = FileIdentity::of(job.info.projectFile);
    job.info.savedAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    job.info.pid = int32_t(::getpid());
    job.generation = ++m_generation;
    report(Stage::Snapshot, job.generation);
    submit(std::move(job));
    m_recoveryMayExist = true;
}

void Autosaver::settle()
{
    m_firstChange.reset();
    m_lastChange.reset();
    Job job;
    job.kind = Job::Kind::Remove;
    job.generation = m_generation;
    submit(std::move(job));
    m_recoveryMayExist = false;
}

void Autosaver::submit(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(job);
    }
    m_wake.notify_one();
}

void Autosaver::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_pending && !m_busy; });
}

// ---- the worker

void Autosaver::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending; });
        if (m_stop) break;
        Job job = std::move(*m_pending);
        m_pending.reset();
        m_busy = true;
        lock.unlock();
        if (job.kind == Job::Kind::Write) {
            write(job);
            lock.lock();
            m_spare.swap(job.bytes);
            lock.unlock();
        } else {
            ::unlink(m_store.recoveryPath().c_str());
            ::unlink(m_store.partPath().c_str());
            report(Stage::Removed, job.generation);
        }
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}

void Autosaver::write(const Job& job)
{
    // The part file is written whole and renamed into place, and so is the recovery file: a
    // kill at any moment leaves the last complete snapshot (or this one) readable.
    const std::string part = m_store.partPath();
    const std::string target = m_store.recoveryPath();
    if (int e = writeRecoveryFile(part, job.bytes, job.info); e != 0) {
        m_writeError = e;
        return;
    }
    report(Stage::Written, job.generation);
    if (std::rename(part.c_str(), target.c_str()) != 0) {
        m_writeError = errno ? errno : EIO;
        return;
    }
    const std::string folder = std::filesystem::path(target).parent_path().string();
    if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    m_writeError = 0;
    report(Stage::Committed, job.generation);
}

} // namespace zef::recovery
