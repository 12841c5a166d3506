// Autosave: a while after the last change (and at most a set time after the first change not
// yet kept, however long the editing goes on), the open project is written to the session's
// recovery file. The project is written into memory on its own thread (the snapshot, which
// the user might feel); a worker thread writes the file. The project's own file, its
// modified flag and its undo history are never touched.
//
// Time comes from an injectable clock, so the schedule can be driven without waiting.
//
// Threads: every member is called on the project's thread. The worker holds no reference to
// the project; it only writes bytes it was handed. Destroying the Autosaver waits for the
// write in progress and drops one that has not started.
#pragma once

#include "app/recovery/recovery_store.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zef {
class FProject;
}

namespace zef::recovery {

class Autosaver {
public:
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::milliseconds;

    struct Timing {
        // After the last change. Zero switches autosave off.
        Milliseconds delay{3000};
        // After the first change not yet kept, at the latest.
        Milliseconds maxInterval{30000};
    };

    // Where a recovery write is. Snapshot is reported on the project's thread, the others on
    // the worker (for tests that watch or hold the worker).
    enum class Stage {
        Snapshot,  // the project was written into memory
        Written,   // the part file is complete, not yet renamed over the recovery file
        Committed, // the recovery file holds the snapshot
        Removed,   // the recovery file was removed (the project was saved, or not modified)
    };
    using StageHook = std::function<void(Stage, int64_t generation)>;

    // The store must be in its session and outlive the Autosaver. clock: Clock::now unless set.
    Autosaver(const FProject& project, RecoveryStore& store,
              std::function<Clock::time_point()> clock = {});
    ~Autosaver();
    Autosaver(const Autosaver&) = delete;
    Autosaver& operator=(const Autosaver&) = delete;

    void setTiming(const Timing& timing) { m_timing = timing; }
    const Timing& timing() const { return m_timing; }
    void setStageHook(StageHook hook);

    // The project changed (or may have).
    void noteChange();
    // When the next snapshot is due; none while nothing changed since the last one.
    std::optional<Clock::time_point> dueAt() const;
    // Takes the snapshot when it is due; returns whether it took one.
    bool poll();
    // Keeps the project now: a snapshot while it is modified, else the recovery file goes.
    void snapshotNow();
    // The project was saved, opened or started anew: its recovery file goes (after a write
    // in progress) and the changes noted so far are forgotten.
    void settle();
    // Waits until the worker has nothing left to do.
    void flush();

    // Snapshots taken so far; the generation of the last one.
    int64_t generation() const { return m_generation; }
    // The errno of the last failed write (0 when the last write succeeded), cleared by reading.
    int takeWriteError() { return m_writeError.exchange(0); }

private:
    struct Job {
        enum class Kind { Write, Remove } kind = Kind::Write;
        std::vector<uint8_t> bytes;
        RecoveryInfo info;
        int64_t generation = 0;
    };
    void submit(Job job);
    void run();
    void write(const Job& job);
    void report(Stage stage, int64_t generation);

    const FProject& m_project;
    RecoveryStore& m_store;
    std::function<Clock::time_point()> m_clock;
    Timing m_timing;
    std::optional<Clock::time_point> m_firstChange, m_lastChange;
    int64_t m_generation = 0;
    size_t m_lastSize = 0;
    bool m_recoveryMayExist = false;

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::optional<Job> m_pending; // a newer job replaces one not yet started
    std::vector<uint8_t> m_spare; // a written snapshot's buffer, for the next one
    bool m_busy = false;
    bool m_stop = false;
    StageHook m_hook;
    std::atomic<int> m_writeError{0};
    std::thread m_worker;
};

} // namespace zef::recovery
