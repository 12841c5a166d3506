// A mutex and a scoped lock over it, as used to serialise fetches from one clip's readers.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace zef {

// A non-recursive mutex. Failures of the underlying primitive throw one of the nested
// exception classes, all derived from Mutex::exception. Safe to use from any thread.
class Mutex {
public:
    class exception : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    class ErrorCreatingMutex : public exception {
    public:
        ErrorCreatingMutex() : exception("error creating mutex") {}
    };
    class ErrorDestroyingMutex : public exception {
    public:
        ErrorDestroyingMutex() : exception("error destroying mutex") {}
    };
    class ErrorLockingMutex : public exception {
    public:
        ErrorLockingMutex() : exception("error locking mutex") {}
    };
    class ErrorUnlockingMutex : public exception {
    public:
        ErrorUnlockingMutex() : exception("error unlocking mutex") {}
    };

    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Blocks until the mutex is held; throws ErrorLockingMutex when the calling thread holds
    // it already (which would deadlock) or the system refuses.
    void lock();
    // Waits at most timeout; returns false on time-out.
    bool tryLockFor(std::chrono::milliseconds timeout);
    // Throws ErrorUnlockingMutex when the calling thread does not hold the mutex.
    void unlock();
    bool heldByCurrentThread() const;

private:
    std::timed_mutex m_mutex;
    std::atomic<std::thread::id> m_owner{};
};

// Holds a Mutex for its lifetime. The timed form may come back without the mutex: check
// locked(). Not copyable; unlocks on destruction (errors there are swallowed, because a
// destructor must not throw).
class Lock {
public:
    explicit Lock(Mutex& mutex);
    Lock(Mutex& mutex, std::chrono::milliseconds timeout);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool locked() const { return m_locked; }
    explicit operator bool() const { return m_locked; }
    // Releases the mutex early; throws ErrorUnlockingMutex when it is not held.
    void unlock();

private:
    Mutex& m_mutex;
    bool m_locked = false;
};

} // namespace zef
