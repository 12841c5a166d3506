// Writing a whole compound file (version 3, 512-byte sectors).
//
// Layout: FAT sectors, DIFAT sectors, directory, mini FAT, mini stream, then each large stream;
// every chain is contiguous, so the FAT follows from the layout. Stream contents are passed
// to the sink piece by piece, never gathered into one buffer.
#include "platform/storage/cfb_internal.h"
#include "platform/storage/little_endian.h"

#include <bit>
#include <cstring>

namespace zef::storage::detail {

namespace {

constexpr uint32_t kShift = 9;
constexpr uint32_t kSector = 1u << kShift;
constexpr uint32_t kPerFat = kSector / 4;
constexpr uint32_t kPerDir = kSector / kDirEntrySize;

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

struct DirEntry {
    const Node* node = nullptr;
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    bool red = false;
    uint32_t start = kEndOfChain;
    uint64_t size = 0;
};

class Writer {
public:
    Writer(const Node& root, const Backing* backing, Sink& sink)
        : m_root(root), m_backing(backing), m_sink(sink)
    {
    }
    CfbError run(std::vector<Placement>* placements);

private:
    void collectEntries();
    uint32_t buildSiblingTree(const std::vector<uint32_t>& ids, size_t lo, size_t hi, int depth,
                              int height);
    bool put(const void* data, size_t n);
    bool putZeros(uint64_t n);
    bool putStream(const Node& node, uint32_t padTo);

    const Node& m_root;
    const Backing* m_backing;
    Sink& m_sink;
    std::vector<DirEntry> m_entries;
    bool m_ok = true;
};

void Writer::collectEntries()
{
    // Breadth first: the children of one storage get consecutive ids in sibling order.
    m_entries.push_back({&m_root});
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Node* n = m_entries[i].node;
        if (n->type == NodeType::Stream || n->children.empty()) continue;
        std::vector<uint32_t> ids;
        for (const auto& c : n->children) {
            ids.push_back(uint32_t(m_entries.size()));
            m_entries.push_back({c.get()});
        }
        int height = std::bit_width(ids.size());
        m_entries[i].child = buildSiblingTree(ids, 0, ids.size(), 0, height);
    }
}

// Builds a balanced binary search tree of sorted siblings, taking the middle as the root. All
// levels but the deepest are full, so colouring the deepest level red (below a black root)
// gives every path the same number of black entries: a valid red-black tree.
uint32_t Writer::buildSiblingTree(const std::vector<uint32_t>& ids, size_t lo, size_t hi, int depth,
                                  int height)
{
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    DirEntry& e = m_entries[ids[mid]];
    e.red = depth > 0 && depth == height - 1;
    e.left = buildSiblingTree(ids, lo, mid, depth + 1, height);
    m_entries[ids[mid]].right = buildSiblingTree(ids, mid + 1, hi, depth + 1, height);
    return ids[mid];
}

bool Writer::put(const void* data, size_t n)
{
    if (m_ok && n > 0) m_ok = m_sink.write(data, n);
    return m_ok;
}

bool Writer::putZeros(uint64_t n)
{
    static const uint8_t zeros[kSector] = {};
    while (n > 0 && m_ok) {
        size_t take = size_t(std::min<uint64_t>(n, kSector));
        put(zeros, take);
        n -= take;
    }
    return m_ok;
}

bool Writer::putStream(const Node& node, uint32_t padTo)
{
    uint64_t size = node.data.size();
    if (!node.data.forEachPiece(m_backing,
                                [this](const uint8_t* p, size_t n) { return put(p, n); }))
        return false;
    return putZeros(ceilDiv(size, padTo) * padTo - size);
}

CfbError Writer::run(std::vector<Placement>* placements)
{
    collectEntries();

    // Sizes of every part, in sectors.
    uint64_t miniSectors = 0, bigSectors = 0;
    for (DirEntry& e : m_entries) {
        if (e.node->type != NodeType::Stream) continue;
        e.size = e.node->data.size();
        if (e.size == 0) continue;
        if (e.size < kMiniStreamCutoff) {
            e.start = uint32_t(miniSectors);
            miniSectors += ceilDiv(e.size, kMiniSectorSize);
        } else {
            bigSectors += ceilDiv(e.size, kSector);
        }
    }
    const uint64_t dirSectors = ceilDiv(m_entries.size(), kPerDir);
    const uint64_t miniFatSectors = ceilDiv(miniSectors, kPerFat);
    const uint64_t miniStreamSectors = ceilDiv(miniSectors * kMiniSectorSize, kSector);
    const uint64_t data = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;
    uint64_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > kHeaderDifatCount
                           ? ceilDiv(fatSectors - kHeaderDifatCount, kPerFat - 1)
                           : 0;
        uint64_t need = ceilDiv(fatSectors + difatSectors + data, kPerFat);
        if (need <= fatSectors) break;
        fatSectors = need;
    }
    const uint64_t total = fatSectors + difatSectors + data;
    if (total > uint64_t(kMaxRegSect)) return CfbError::TooLarge;

    const uint32_t difatStart = uint32_t(fatSectors);
    const uint32_t dirStart = uint32_t(difatStart + difatSectors);
    const uint32_t miniFatStart = uint32_t(dirStart + dirSectors);
    const uint32_t miniStreamStart = uint32_t(miniFatStart + miniFatSectors);
    uint32_t next = uint32_t(miniStreamStart + miniStreamSectors);
    for (DirEntry& e : m_entries) {
        if (e.node->type == NodeType::Stream && e.size >= kMiniStreamCutoff) {
            e.start = next;
            next += uint32_t(ceilDiv(e.size, kSector));
        }
    }
    if (miniSectors > 0) {
        m_entries[0].start = miniStreamStart;
        m_entries[0].size = miniSectors * kMiniSectorSize;
    }

    // The FAT.
    std::vector<uint32_t> fat(size_t(fatSectors * kPerFat), kFreeSect);
    for (uint32_t s = 0; s < fatSectors; ++s)
        fat[s] = kFatSect;
    for (uint32_t s = difatStart; s < dirStart; ++s)
        fat[s] = kDifSect;
    auto chain = [&](uint32_t start, uint64_t count) {
        for (uint64_t i = 0; i + 1 < count; ++i)
            fat[size_t(start + i)] = uint32_t(start + i + 1);
        if (count) fat[size_t(start + count - 1)] = kEndOfChain;
    };
    chain(dirStart, dirSectors);
    chain(miniFatStart, miniFatSectors);
    chain(miniStreamStart, miniStreamSectors);
    for (const DirEntry& e : m_entries)
        if (e.node->type == NodeType::Stream && e.size >= kMiniStreamCutoff)
            chain(e.start, ceilDiv(e.size, kSector));

    // Header.
    uint8_t header[kSector] = {};
    std::memcpy(header, kSignature, 8);
    putLE16(header + 24, 0x003E);
    putLE16(header + 26, 3);
    putLE16(header + 28, 0xFFFE);
    putLE16(header + 30, uint16_t(kShift));
    putLE16(header + 32, 6);
    putLE32(header + 44, uint32_t(fatSectors));
    putLE32(header + 48, dirStart);
    putLE32(header + 56, kMiniStreamCutoff);
    putLE32(header + 60, miniFatSectors ? miniFatStart : kEndOfChain);
    putLE32(header + 64, uint32_t(miniFatSectors));
    putLE32(header + 68, difatSectors ? difatStart : kEndOfChain);
    putLE32(header + 72, uint32_t(difatSectors));
    for (uint32_t i = 0; i < kHeaderDifatCount; ++i)
        putLE32(header + 76 + 4 * i, i < fatSectors ? i : kFreeSect);
    put(header, kSector);

    uint8_t buf[kSector];
    auto putTable = [&](const std::vector<uint32_t>& table, uint64_t sectors) {
        for (uint64_t s = 0; s < sectors; ++s) {
            for (uint32_t k = 0; k < kPerFat; ++k) {
                size_t i = size_t(s * kPerFat + k);
                putLE32(buf + 4 * k, i < table.size() ? table[i] : kFreeSect);
            }
            put(buf, kSector);
        }
    };
    putTable(fat, fatSectors);

    // DIFAT: the FAT sectors beyond the header's 109, 127 to a sector, then the next link.
    uint32_t fatIndex = kHeaderDifatCount;
    for (uint64_t d = 0; d < difatSectors; ++d) {
        for (uint32_t k = 0; k + 1 < kPerFat; ++k, ++fatIndex)
            putLE32(buf + 4 * k, fatIndex < fatSectors ? fatIndex : kFreeSect);
        putLE32(buf + 4 * (kPerFat - 1),
                d + 1 < difatSectors ? uint32_t(difatStart + d + 1) : kEndOfChain);
        put(buf, kSector);
    }

    // Directory.
    for (uint64_t i = 0; i < dirSectors * kPerDir; ++i) {
        uint8_t* p = buf + (i % kPerDir) * kDirEntrySize;
        std::memset(p, 0, kDirEntrySize);
        if (i < m_entries.size()) {
            const DirEntry& e = m_entries[size_t(i)];
            std::u16string name = e.node->name;
            if (e.node->type == NodeType::Root && name.empty()) name = u"Root Entry";
            name.resize(std::min(name.size(), kMaxNameUnits));
            for (size_t c = 0; c < name.size(); ++c)
                putLE16(p + 2 * c, uint16_t(name[c]));
            putLE16(p + 64, uint16_t(2 * (name.size() + 1)));
            p[66] = uint8_t(e.node->type);
            p[67] = e.red ? 0 : 1;
            putLE32(p + 68, e.left);
            putLE32(p + 72, e.right);
            putLE32(p + 76, e.child);
            std::memcpy(p + 80, e.node->clsid.data(), 16);
            putLE32(p + 96, e.node->stateBits);
            putLE64(p + 100, e.node->created);
            putLE64(p + 108, e.node->modified);
            bool hasData = e.node->type == NodeType::Root ? miniSectors > 0 : e.size > 0;
            putLE32(p + 116,
                    hasData ? e.start : (e.node->type == NodeType::Storage ? 0 : kEndOfChain));
            putLE64(p + 120, e.size);
        } else {
            putLE32(p + 68, kNoStream);
            putLE32(p + 72, kNoStream);
            putLE32(p + 76, kNoStream);
        }
        if (i % kPerDir == kPerDir - 1) put(buf, kSector);
    }

    // Mini FAT.
    std::vector<uint32_t> miniFat(size_t(miniSectors), kFreeSect);
    for (const DirEntry& e : m_entries) {
        if (e.node->type != NodeType::Stream || e.size == 0 || e.size >= kMiniStreamCutoff)
            continue;
        uint64_t count = ceilDiv(e.size, kMiniSectorSize);
        for (uint64_t i = 0; i + 1 < count; ++i)
            miniFat[size_t(e.start + i)] = uint32_t(e.start + i + 1);
        miniFat[size_t(e.start + count - 1)] = kEndOfChain;
    }
    putTable(miniFat, miniFatSectors);

    // Mini stream, then the large streams.
    for (const DirEntry& e : m_entries)
        if (e.node->type == NodeType::Stream && e.size > 0 && e.size < kMiniStreamCutoff)
            if (!putStream(*e.node, kMiniSectorSize)) return CfbError::IoError;
    putZeros(miniStreamSectors * kSector - miniSectors * kMiniSectorSize);
    for (const DirEntry& e : m_entries)
        if (e.node->type == NodeType::Stream && e.size >= kMiniStreamCutoff)
            if (!putStream(*e.node, kSector)) return CfbError::IoError;
    if (!m_ok) return CfbError::IoError;

    if (placements) {
        placements->clear();
        const uint64_t miniBase = (uint64_t(miniStreamStart) + 1) * kSector;
        for (const DirEntry& e : m_entries) {
            if (e.node->type != NodeType::Stream || e.size == 0) continue;
            uint64_t offset = e.size < kMiniStreamCutoff
                                  ? miniBase + uint64_t(e.start) * kMiniSectorSize
                                  : (uint64_t(e.start) + 1) * kSector;
            placements->push_back({const_cast<Node*>(e.node), {offset, e.size}});
        }
    }
    return CfbError::Ok;
}

} // namespace

CfbError writeStructure(const Node& root, const Backing* backing, Sink& sink,
                        std::vector<Placement>* placements)
{
    Writer writer(root, backing, sink);
    return writer.run(placements);
}

} // namespace zef::storage::detail
