// Compound files: a small file system of named storages (folders) and streams (files) inside one
// file, in the public compound file binary format. Projects and templates are compound files.
//
// Format support: version 3 (512-byte sectors) and version 4 (4,096-byte sectors) files are
// read; files are always written as version 3. Streams under 4,096 bytes live in the mini
// stream, larger ones in regular sectors; files with more than 109 FAT sectors use DIFAT sectors.
//
// Model: opening a file reads its structure (FAT, directory) into memory and checks it; stream
// contents stay in the file and are read on demand. A written stream keeps its changed parts in
// memory (1 MiB pieces) until commit(), which writes a complete new file next to the old one and
// renames it over the old one, so a failed commit leaves the old file intact. After a commit the
// stream contents are read from the new file again and the memory is released. When no new
// file can be made in the folder (no write permission there), the file is rewritten in place,
// with every stream loaded into memory first.
//
// Ownership: CompoundFile owns the structure. Storage values and CompoundStream objects are
// handles that share it; they stay safe to use after the CompoundFile is gone or the entry was
// removed, but then every operation fails (CfbError::Removed, short reads and writes).
//
// Locking: an open file holds an advisory lock (flock): shared for Read, exclusive for
// ReadWrite and for a created file once it is written. A conflicting open fails with
// CfbError::Locked.
//
// Saving and loading one stream:
//   auto file = CompoundFile::create(path);                    // file.error when !file
//   auto header = file.value->root().createStream("Header");  // header.value->write(...)
//   CfbError done = file.value->close();                      // writes the file
//
//   auto file = CompoundFile::open(path, CompoundFile::Mode::Read);
//   auto header = file.value->root().openStream("Header");    // NotFound when missing
//
// Thread safety: none. A CompoundFile and all its handles must be used from one thread at a time.
#pragma once

#include "platform/storage/stream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zef::storage {

enum class CfbError {
    Ok = 0,
    FileNotFound,    // the file or a folder of its path does not exist
    AccessDenied,    // the system refused to open or write the file
    Locked,          // another open of the file holds a conflicting lock
    NotCompoundFile, // the file does not start with the compound file signature
    Corrupt,         // the structure is damaged, truncated or inconsistent
    Unsupported,     // a format variant this reader does not handle
    NameTooLong,     // more than 31 UTF-16 code units
    InvalidName,     // empty, not UTF-8, or containing '/', '\\', ':' or '!'
    AlreadyExists,   // an entry of that name (compared ignoring case) is there already
    NotFound,        // no entry of that name
    WrongType,       // a stream where a storage was expected, or the reverse
    ReadOnly,        // the file was opened for reading only
    Removed,         // the entry was removed or its file closed
    TooLarge,        // a stream beyond 2 GiB or storages nested more than 256 deep
    IoError,         // reading or writing the disk failed (disk full and the like)
};

// A short English description of the error, e.g. "not a compound file".
const char* errorMessage(CfbError error);

// An operation's value together with its error; value is meaningful only when ok().
template <class T> struct CfbResult {
    T value{};
    CfbError error = CfbError::Ok;
    bool ok() const { return error == CfbError::Ok; }
    explicit operator bool() const { return ok(); }
};

namespace detail {
struct Node;
struct FileState;
} // namespace detail

// One entry of a storage as listed by Storage::entries().
struct EntryInfo {
    enum class Type { Storage, Stream };
    std::string name; // UTF-8
    Type type = Type::Stream;
    int64_t size = 0; // bytes of a stream; 0 for storages
};

// A stream inside a compound file. Reads and writes go through the Stream interface; seeking
// past the end is allowed and writing there fills the gap with zeros. A stream cannot grow
// beyond maxSize. Writes on a read-only file or a removed entry return 0.
class CompoundStream final : public Stream {
public:
    static constexpr int64_t maxSize = int64_t(0x80000000); // 2 GiB, the version 3 limit

    CompoundStream(std::shared_ptr<detail::FileState> file, std::shared_ptr<detail::Node> node);
    ~CompoundStream() override;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    bool seek(int64_t position) override;
    int64_t tell() const override { return m_pos; }
    int64_t size() const override;

    // Cuts or extends (with zeros) the stream; the position is kept.
    CfbError setSize(int64_t size);
    std::string name() const;
    // False once the entry was removed or the file closed.
    bool valid() const;

private:
    std::shared_ptr<detail::FileState> m_file;
    std::shared_ptr<detail::Node> m_node;
    int64_t m_pos = 0;
};

// A storage (the root or a nested one): a handle, cheap to copy. Names are UTF-8, at most 31
// UTF-16 code units, unique within their storage when compared ignoring case. New names may not
// contain '/', '\\', ':' or '!'; names listed from a file written elsewhere may, and open as
// listed (an unpaired UTF-16 surrogate is listed in its three-byte encoding).
class Storage {
public:
    Storage() = default; // an empty handle; every operation fails with Removed
    Storage(std::shared_ptr<detail::FileState> file, std::shared_ptr<detail::Node> node);

    bool valid() const;
    std::string name() const;

    // Children in the format's order (shorter names first, then by upper-case code units).
    std::vector<EntryInfo> entries() const;
    std::optional<EntryInfo> stat(std::string_view name) const;

    CfbResult<Storage> createStorage(std::string_view name);
    CfbResult<Storage> openStorage(std::string_view name) const;
    // With replace, an existing stream of that name is emptied and returned (a storage of that
    // name is still an error: AlreadyExists).
    CfbResult<std::unique_ptr<CompoundStream>> createStream(std::string_view name,
                                                            bool replace = false);
    CfbResult<std::unique_ptr<CompoundStream>> openStream(std::string_view name) const;
    // Removes a stream, or a storage with everything in it. Open handles to it become invalid.
    CfbError remove(std::string_view name);
    CfbError rename(std::string_view from, std::string_view to);

private:
    std::shared_ptr<detail::FileState> m_file;
    std::shared_ptr<detail::Node> m_node;
};

// A compound file on disk (or, read-only, in memory).
class CompoundFile {
public:
    enum class Mode { Read, ReadWrite };

    // Creates a new, empty compound file at path, replacing any file there. The file is written
    // by the first commit (or close, or destruction); until then a file already at path stays as
    // it was, so a failed save never leaves an empty or half-written file behind. A folder in
    // which no file can be made, or a file that another open holds, fails here.
    static CfbResult<std::unique_ptr<CompoundFile>> create(const std::string& path);
    static CfbResult<std::unique_ptr<CompoundFile>> open(const std::string& path, Mode mode);
    // Reads a compound file held in memory; the result is read-only.
    static CfbResult<std::unique_ptr<CompoundFile>> openMemory(std::vector<uint8_t> bytes);

    // Commits pending changes (errors are lost then; call commit() to see them) and closes.
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    Storage root();
    bool readOnly() const;
    bool modified() const;

    // Writes every change to disk (a new file renamed over the old one, then synced). Nothing
    // to do returns Ok at once; a read-only file returns ReadOnly.
    CfbError commit();
    // Writes the current contents as a complete compound file to out (from its position).
    CfbError saveTo(Stream& out);
    // Commits, releases the lock and closes; every handle becomes invalid.
    CfbError close();

private:
    explicit CompoundFile(std::shared_ptr<detail::FileState> file);
    std::shared_ptr<detail::FileState> m_file;
};

} // namespace zef::storage
