// Counts the files of one folder that are opened, by anyone, while a watch lives (the
// kernel's inotify open events). Tells whether an operation touched media files at all,
// whatever path in the code opened them.
#pragma once

#include <cstdint>
#include <string>

namespace zef::testing {

class FileOpenWatch {
public:
    // Watches the files directly inside folder; valid() is false when the kernel refuses.
    explicit FileOpenWatch(const std::string& folder);
    ~FileOpenWatch();
    FileOpenWatch(const FileOpenWatch&) = delete;
    FileOpenWatch& operator=(const FileOpenWatch&) = delete;

    bool valid() const { return m_fd >= 0 && m_watch >= 0; }
    // Opens of files of the folder since the last call (or since the watch began).
    int64_t takeOpens();

private:
    int m_fd = -1;
    int m_watch = -1;
};

} // namespace zef::testing
