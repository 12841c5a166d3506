// Internals of the compound file implementation: format constants, the in-memory tree, stream
// contents, and the reader and writer of the on-disk structure. Not for use outside
// platform/storage (and its tests and fuzzer).
#pragma once

#include "platform/storage/compound_file.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zef::storage::detail {

// ---- Format constants

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr uint32_t kMiniStreamCutoff = 4096;
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kDirEntrySize = 128;
inline constexpr uint32_t kHeaderDifatCount = 109;
inline constexpr size_t kMaxNameUnits = 31;
inline constexpr int kMaxDepth = 256;

enum class NodeType : uint8_t { Storage = 1, Stream = 2, Root = 5 };

// ---- Names

// Converts UTF-8 to UTF-16; false for malformed UTF-8.
bool utf8ToUtf16(std::string_view in, std::u16string& out);
// Converts UTF-16 to UTF-8; an unpaired surrogate is encoded like any other code point (three
// bytes), so that the conversion back gives the same units.
std::string utf16ToUtf8(std::u16string_view in);
// The format's order of sibling names: shorter first, then by upper-cased code units.
int compareNames(std::u16string_view a, std::u16string_view b);
// Checks and converts a name given by a caller. New names follow every rule; names to look up
// only need to be convertible and short enough, so that every entry of a file can be opened.
CfbError makeName(std::string_view utf8, std::u16string& out, bool forLookup);

// ---- Where stream contents come from

// Random access to the bytes of an existing compound file.
class Backing {
public:
    virtual ~Backing() = default;
    // Reads exactly n bytes at offset; false when they are not all there.
    virtual bool readAt(uint64_t offset, void* dst, size_t n) const = 0;
    virtual uint64_t size() const = 0;
};

class MemoryBacking final : public Backing {
public:
    explicit MemoryBacking(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    bool readAt(uint64_t offset, void* dst, size_t n) const override;
    uint64_t size() const override { return m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};

class FdBacking final : public Backing {
public:
    FdBacking(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    bool readAt(uint64_t offset, void* dst, size_t n) const override;
    uint64_t size() const override { return m_size; }

private:
    int m_fd; // not owned
    uint64_t m_size;
};

// A run of stream bytes that lie contiguously in the backing file.
struct Extent {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The contents of one stream: bytes not yet changed are read from extents in the backing file;
// changed parts are held in memory in pieces of kChunk bytes, so that a large stream is never
// copied as a whole and never reallocated as it grows.
class StreamData {
public:
    static constexpr uint64_t kChunk = 1 << 20;

    uint64_t size() const { return m_size; }
    // The contents come from the backing file: extents cover at least size bytes.
    void setBacked(std::vector<Extent> extents, uint64_t size);
    // Reads n bytes at pos (pos + n <= size).
    bool read(const Backing* backing, uint64_t pos, void* dst, size_t n) const;
    // Writes n bytes at pos, growing the stream as needed.
    bool write(const Backing* backing, uint64_t pos, const void* src, size_t n);
    bool resize(const Backing* backing, uint64_t size);
    // Calls sink with consecutive pieces of the whole contents; stops and returns false when
    // sink or a read fails.
    bool forEachPiece(const Backing* backing,
                      const std::function<bool(const uint8_t*, size_t)>& sink) const;
    // Holds every byte in memory (before the backing file is overwritten in place).
    bool loadAll(const Backing* backing);

private:
    bool readBacked(const Backing* backing, uint64_t pos, uint8_t* dst, size_t n) const;
    bool loadChunk(const Backing* backing, size_t index);
    uint64_t chunkLength(size_t index) const;

    uint64_t m_size = 0;
    uint64_t m_backed = 0; // bytes [0, m_backed) of unloaded chunks come from the extents
    std::vector<Extent> m_extents;
    std::vector<uint64_t> m_extentStart;        // stream position of each extent
    std::vector<std::vector<uint8_t>> m_chunks; // empty = not loaded
};

// ---- The tree

struct Node {
    NodeType type = NodeType::Stream;
    std::u16string name;
    std::array<uint8_t, 16> clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0;
    uint64_t modified = 0;
    Node* parent = nullptr;
    bool removed = false;
    std::vector<std::shared_ptr<Node>> children; // storages only; sorted by compareNames
    StreamData data;                             // streams only

    int depth() const;
};

// The shared state of one open compound file.
struct FileState {
    std::string path;
    int fd = -1; // owned and locked; -1 for memory files
    std::unique_ptr<Backing> backing;
    std::shared_ptr<Node> root;
    bool readOnly = true;
    bool isOpen = true;
    bool dirty = false;

    ~FileState();
};

// ---- Reading and writing the structure

// Reads and checks the whole structure of a compound file. Every allocation is bounded by the
// backing's size; loops, cross-linked chains and out-of-range references give Corrupt.
CfbError readStructure(const Backing& backing, std::shared_ptr<Node>& root);

// Receives the bytes of a file being written.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool write(const void* data, size_t n) = 0;
};

// Where a stream's contents ended up in a newly written file.
struct Placement {
    Node* node;
    Extent extent;
};

// Writes root and everything under it as a version 3 compound file. backing supplies stream
// contents not held in memory. placements (when given) receive every non-empty stream's place.
CfbError writeStructure(const Node& root, const Backing* backing, Sink& sink,
                        std::vector<Placement>* placements);

} // namespace zef::storage::detail
