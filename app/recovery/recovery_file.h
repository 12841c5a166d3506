// Recovery files: a project file in the normal format (its stream "Header") with a second
// stream "Recovery" that says which project it belongs to and which saved version of that
// project's own file it was taken over. A recovery file opens like any project file.
//
// Every function here is safe to call from any thread; none touches a project.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zef::recovery {

// One version of a file on disk. A save writes a new file and renames it over the old one,
// so every save gives the file another identity, whatever the clock says.
struct FileIdentity {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch

    static FileIdentity of(const std::string& path);
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What the stream "Recovery" holds.
struct RecoveryInfo {
    // The project's file name with its extension; empty for an untitled project.
    std::string projectFile;
    // The project's own file when the snapshot was taken (exists = false when there was none).
    FileIdentity base;
    // When the snapshot was taken: milliseconds since the epoch.
    int64_t savedAtMs = 0;
    // The process that took it.
    int32_t pid = 0;
};

// The editor's state folder: $XDG_STATE_HOME/zef-rondavo, else ~/.local/state/zef-rondavo.
std::string defaultStateFolder();

// Writes a recovery file holding the project stream and the info. The file is written whole
// under a temporary name and renamed into place. Returns 0 or an errno-style code.
int writeRecoveryFile(const std::string& path, const std::vector<uint8_t>& projectStream,
                      const RecoveryInfo& info);

// Reads the info of a recovery file; false when the file cannot be opened, lacks either
// stream or its info cannot be read.
bool readRecoveryInfo(const std::string& path, RecoveryInfo& info);

// Whether a recovery made over `info.base` still holds changes that the project's own file
// lacks: true for an untitled project and for one whose file is gone; false once the file was
// saved again (or replaced) after the snapshot.
bool recoveryIsNewer(const RecoveryInfo& info);

} // namespace zef::recovery
