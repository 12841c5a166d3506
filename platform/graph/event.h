// A manual-reset event: set by one thread, waited for by another, reset by hand. The render
// filters signal it from the streaming thread when what the editor armed them for is in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zef::graph {

class Event {
public:
    void set()
    {
        {
            std::lock_guard lock(m_lock);
            m_set = true;
        }
        m_changed.notify_all();
    }
    void reset()
    {
        std::lock_guard lock(m_lock);
        m_set = false;
    }
    bool isSet() const
    {
        std::lock_guard lock(m_lock);
        return m_set;
    }
    // True when the event is set within the time.
    bool wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return m_set; });
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set = false;
};

} // namespace zef::graph
