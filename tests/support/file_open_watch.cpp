#include "tests/support/file_open_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zef::testing {

FileOpenWatch::FileOpenWatch(const std::string& folder)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0) m_watch = inotify_add_watch(m_fd, folder.c_str(), IN_OPEN);
}

FileOpenWatch::~FileOpenWatch()
{
    if (m_fd >= 0) ::close(m_fd);
}

int64_t FileOpenWatch::takeOpens()
{
    if (!valid()) return -1;
    int64_t opens = 0;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) break; // EAGAIN: nothing more queued
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            // Events with a name are files inside the folder; the folder itself has none.
            if ((event.mask & IN_OPEN) && event.len > 0) ++opens;
            at += ssize_t(sizeof(inotify_event)) + ssize_t(event.len);
        }
    }
    return opens;
}

} // namespace zef::testing
