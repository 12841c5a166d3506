#include "app/recovery/recovery_file.h"

#include "platform/storage/compound_file.h"
#include "platform/storage/stream.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace zef::recovery {

namespace {

constexpr const char* kHeaderStream = "Header";
constexpr const char* kInfoStream = "Recovery";
constexpr int32_t kInfoVersion = 1;

void writeIdentity(storage::StreamWriter& w, const FileIdentity& id)
{
    w.flag(id.exists);
    w.int64(int64_t(id.device));
    w.int64(int64_t(id.inode));
    w.int64(id.size);
    w.int64(id.modifiedNs);
}

FileIdentity readIdentity(storage::StreamReader& r)
{
    FileIdentity id;
    id.exists = r.flag();
    id.device = uint64_t(r.int64());
    id.inode = uint64_t(r.int64());
    id.size = r.int64();
    id.modifiedNs = r.int64();
    return id;
}

int errnoOf(storage::CfbError e)
{
    switch (e) {
    case storage::CfbError::Ok:
        return 0;
    case storage::CfbError::AccessDenied:
        return EACCES;
    case storage::CfbError::FileNotFound:
        return ENOENT;
    default:
        return EIO;
    }
}

} // namespace

FileIdentity FileIdentity::of(const std::string& path)
{
    FileIdentity id;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return id;
    id.exists = true;
    id.device = uint64_t(st.st_dev);
    id.inode = uint64_t(st.st_ino);
    id.size = int64_t(st.st_size);
    id.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

std::string defaultStateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/zef-rondavo";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/zef-rondavo";
}

int writeRecoveryFile(const std::string& path, const std::vector<uint8_t>& projectStream,
                      const RecoveryInfo& info)
{
    storage::MemoryStream infoBytes;
    storage::StreamWriter w(infoBytes);
    w.int32(kInfoVersion);
    w.string(info.projectFile);
    writeIdentity(w, info.base);
    w.int64(info.savedAtMs);
    w.int32(info.pid);

    auto file = storage::CompoundFile::create(path);
    if (!file) return errnoOf(file.error);
    for (const auto& [name, bytes] :
         {std::pair{kHeaderStream, &projectStream}, std::pair{kInfoStream, &infoBytes.bytes()}}) {
        auto stream = file.value->root().createStream(name);
        if (!stream) return EIO;
        if (stream.value->write(bytes->data(), bytes->size()) != bytes->size()) return EIO;
    }
    return errnoOf(file.value->close());
}

bool readRecoveryInfo(const std::string& path, RecoveryInfo& info)
{
    auto file = storage::CompoundFile::open(path, storage::CompoundFile::Mode::Read);
    if (!file || !file.value->root().stat(kHeaderStream)) return false;
    auto stream = file.value->root().openStream(kInfoStream);
    if (!stream) return false;
    storage::StreamReader r(*stream.value);
    if (r.int32() != kInfoVersion) return false;
    RecoveryInfo read;
    read.projectFile = r.string();
    read.base = readIdentity(r);
    read.savedAtMs = r.int64();
    read.pid = r.int32();
    if (!r.ok()) return false;
    info = std::move(read);
    return true;
}

bool recoveryIsNewer(const RecoveryInfo& info)
{
    if (info.projectFile.empty()) return true;
    const FileIdentity now = FileIdentity::of(info.projectFile);
    return !now.exists || now == info.base;
}

} // namespace zef::recovery
