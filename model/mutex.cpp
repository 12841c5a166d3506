#include "model/mutex.h"

#include <system_error>

namespace zef {

void Mutex::lock()
{
    if (heldByCurrentThread()) throw ErrorLockingMutex();
    try {
        m_mutex.lock();
    } catch (const std::system_error&) {
        throw ErrorLockingMutex();
    }
    m_owner.store(std::this_thread::get_id());
}

bool Mutex::tryLockFor(std::chrono::milliseconds timeout)
{
    if (heldByCurrentThread()) throw ErrorLockingMutex();
    bool ok = false;
    try {
        ok = m_mutex.try_lock_for(timeout);
    } catch (const std::system_error&) {
        throw ErrorLockingMutex();
    }
    if (ok) m_owner.store(std::this_thread::get_id());
    return ok;
}

void Mutex::unlock()
{
    if (!heldByCurrentThread()) throw ErrorUnlockingMutex();
    m_owner.store(std::thread::id());
    m_mutex.unlock();
}

bool Mutex::heldByCurrentThread() const { return m_owner.load() == std::this_thread::get_id(); }

Lock::Lock(Mutex& mutex) : m_mutex(mutex)
{
    m_mutex.lock();
    m_locked = true;
}

Lock::Lock(Mutex& mutex, std::chrono::milliseconds timeout) : m_mutex(mutex)
{
    m_locked = m_mutex.tryLockFor(timeout);
}

Lock::~Lock()
{
    if (!m_locked) return;
    try {
        m_mutex.unlock();
    } catch (const Mutex::exception&) {
    }
}

void Lock::unlock()
{
    if (!m_locked) throw Mutex::ErrorUnlockingMutex();
    m_locked = false;
    m_mutex.unlock();
}

} // namespace zef
