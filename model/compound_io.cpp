#include "model/compound_io.h"

#include "platform/storage/compound_file.h"

#include <cerrno>

namespace zef {

using namespace storage;

CompoundRead readCompoundStream(const std::string& path, const std::string& streamName,
                                std::vector<uint8_t>& out)
{
    auto file = CompoundFile::open(path, CompoundFile::Mode::Read);
    if (!file) return CompoundRead::CannotOpenFile;
    auto stream = file.value->root().openStream(streamName);
    if (!stream) return CompoundRead::StreamMissing;
    int64_t size = stream.value->size();
    if (size < 0) return CompoundRead::CannotOpenFile;
    out.resize(size_t(size));
    if (stream.value->read(out.data(), out.size()) != out.size()) {
        out.clear();
        return CompoundRead::CannotOpenFile;
    }
    return CompoundRead::Ok;
}

int writeCompoundStreamAtomically(const std::string& path, const std::string& streamName,
                                  const std::vector<uint8_t>& bytes)
{
    // CompoundFile::create writes the new file beside the old one and renames it into place
    // on commit, so the old file survives any failure before that point.
    auto file = CompoundFile::create(path);
    if (!file) return file.error == CfbError::AccessDenied ? EACCES : EIO;
    auto stream = file.value->root().createStream(streamName);
    if (!stream) return EIO;
    if (stream.value->write(bytes.data(), bytes.size()) != bytes.size()) return EIO;
    stream.value.reset();
    CfbError e = file.value->close();
    if (e == CfbError::Ok) return 0;
    return e == CfbError::AccessDenied ? EACCES : e == CfbError::FileNotFound ? ENOENT : EIO;
}

} // namespace zef
