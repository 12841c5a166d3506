// Reading and checking the structure of a compound file.
//
// Everything read is checked before it is used: sector numbers against the real number of
// sectors in the file, chain lengths against the sizes they must hold, and every sector and
// directory entry may belong to one owner only (which also catches loops). Allocations are
// bounded by the size of the file.
#include "platform/storage/cfb_internal.h"

#include <algorithm>
#include <cstring>

namespace zef::storage::detail {

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return le32(p) | (uint64_t(le32(p + 4)) << 32); }

struct RawEntry {
    std::u16string name;
    uint8_t type = 0;
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::array<uint8_t, 16> clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0, modified = 0;
    uint32_t start = 0;
    uint64_t size = 0;
};

class Reader {
public:
    explicit Reader(const Backing& backing) : m_in(backing) {}
    CfbError run(std::shared_ptr<Node>& root);

private:
    CfbError readHeader();
    CfbError readFat();
    // Reads a sector, padding a short last sector of the file with padByte.
    bool readSector(uint32_t sector, uint8_t* dst, uint8_t padByte = 0);
    // Follows a FAT chain to its end; each sector must be unused so far.
    CfbError fatChain(uint32_t start, std::vector<uint32_t>& out);
    CfbError miniChain(uint32_t start, uint64_t needed, std::vector<uint32_t>& out);
    CfbError readDirectory();
    CfbError readMiniFat();
    CfbError buildTree(std::shared_ptr<Node>& root);
    CfbError streamExtents(const RawEntry& e, std::vector<Extent>& out);
    void addExtent(std::vector<Extent>& out, uint64_t offset, uint64_t length);

    const Backing& m_in;
    uint8_t m_header[512];
    uint32_t m_shift = 9;
    uint32_t m_sectorSize = 512;
    uint32_t m_version = 3;
    uint64_t m_sectorCount = 0; // sectors (full or partial) present in the file
    std::vector<uint32_t> m_fat;
    std::vector<uint8_t> m_used; // per sector: already part of some chain
    std::vector<uint32_t> m_miniFat;
    std::vector<uint8_t> m_miniUsed;
    std::vector<RawEntry> m_entries;
    std::vector<uint32_t> m_miniChain; // sectors of the mini stream
    uint64_t m_miniStreamSize = 0;
};

CfbError Reader::run(std::shared_ptr<Node>& root)
{
    if (CfbError e = readHeader(); e != CfbError::Ok) return e;
    if (CfbError e = readFat(); e != CfbError::Ok) return e;
    if (CfbError e = readDirectory(); e != CfbError::Ok) return e;
    if (CfbError e = readMiniFat(); e != CfbError::Ok) return e;
    return buildTree(root);
}

CfbError Reader::readHeader()
{
    uint64_t fileSize = m_in.size();
    if (fileSize < 8) return CfbError::NotCompoundFile;
    uint8_t sig[8];
    if (!m_in.readAt(0, sig, 8)) return CfbError::IoError;
    if (std::memcmp(sig, kSignature, 8) != 0) return CfbError::NotCompoundFile;
    if (fileSize < 512) return CfbError::Corrupt;
    if (!m_in.readAt(0, m_header, 512)) return CfbError::IoError;

    m_version = le16(m_header + 26);
    if (le16(m_header + 28) != 0xFFFE) return CfbError::Corrupt;
    m_shift = le16(m_header + 30);
    if (!(m_version == 3 && m_shift == 9) && !(m_version == 4 && m_shift == 12))
        return (m_version == 3 || m_version == 4) ? CfbError::Corrupt : CfbError::Unsupported;
    m_sectorSize = 1u << m_shift;
    if (le16(m_header + 32) != 6 || le32(m_header + 56) != kMiniStreamCutoff)
        return CfbError::Corrupt;
    if (fileSize < m_sectorSize) return CfbError::Corrupt; // header sector cut short
    m_sectorCount = (fileSize - m_sectorSize + m_sectorSize - 1) / m_sectorSize;
    // Sector numbers above kMaxRegSect do not exist.
    m_sectorCount = std::min<uint64_t>(m_sectorCount, uint64_t(kMaxRegSect) + 1);
    m_used.assign(size_t(m_sectorCount), 0);
    return CfbError::Ok;
}

bool Reader::readSector(uint32_t sector, uint8_t* dst, uint8_t padByte)
{
    if (sector >= m_sectorCount) return false;
    uint64_t offset = (uint64_t(sector) + 1) << m_shift;
    uint64_t avail = std::min<uint64_t>(m_sectorSize, m_in.size() - offset);
    if (!m_in.readAt(offset, dst, size_t(avail))) return false;
    std::memset(dst + avail, padByte, m_sectorSize - avail);
    return true;
}

CfbError Reader::readFat()
{
    uint32_t fatCount = le32(m_header + 44);
    uint32_t difatStart = le32(m_header + 68);
    uint32_t difatCount = le32(m_header + 72);
    if (fatCount > m_sectorCount || difatCount > m_sectorCount) return CfbError::Corrupt;

    // The FAT sector numbers: 109 in the header, then chained DIFAT sectors.
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(fatCount);
    for (uint32_t i = 0; i < kHeaderDifatCount && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(le32(m_header + 76 + 4 * i));
    std::vector<uint8_t> buf(m_sectorSize);
    const uint32_t perSector = m_sectorSize / 4;
    uint32_t next = difatStart;
    uint32_t difatRead = 0;
    while (fatSectors.size() < fatCount) {
        if (next >= m_sectorCount || m_used[next]) return CfbError::Corrupt;
        if (++difatRead > m_sectorCount) return CfbError::Corrupt;
        m_used[next] = 1;
        if (!readSector(next, buf.data(), 0xFF)) return CfbError::Corrupt;
        for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(le32(buf.data() + 4 * i));
        next = le32(buf.data() + 4 * (perSector - 1));
    }

    m_fat.resize(size_t(fatCount) * perSector);
    for (uint32_t i = 0; i < fatCount; ++i) {
        uint32_t s = fatSectors[i];
        if (s >= m_sectorCount || m_used[s]) return CfbError::Corrupt;
        m_used[s] = 1;
        if (!readSector(s, buf.data(), 0xFF)) return CfbError::Corrupt;
        for (uint32_t k = 0; k < perSector; ++k)
            m_fat[size_t(i) * perSector + k] = le32(buf.data() + 4 * k);
    }
    return CfbError::Ok;
}

CfbError Reader::fatChain(uint32_t start, std::vector<uint32_t>& out)
{
    out.clear();
    uint32_t s = start;
    while (s != kEndOfChain) {
        if (s >= m_sectorCount || s >= m_fat.size() || m_used[s]) return CfbError::Corrupt;
        m_used[s] = 1; // a second visit means a loop or a cross-link
        out.push_back(s);
        s = m_fat[s];
    }
    return CfbError::Ok;
}

CfbError Reader::miniChain(uint32_t start, uint64_t needed, std::vector<uint32_t>& out)
{
    out.clear();
    uint64_t miniCount = m_miniStreamSize / kMiniSectorSize;
    uint32_t s = start;
    while (s != kEndOfChain) {
        if (s >= miniCount || s >= m_miniFat.size() || m_miniUsed[s]) return CfbError::Corrupt;
        m_miniUsed[s] = 1;
        out.push_back(s);
        s = m_miniFat[s];
    }
    return out.size() < needed ? CfbError::Corrupt : CfbError::Ok;
}

CfbError Reader::readDirectory()
{
    std::vector<uint32_t> chain;
    if (CfbError e = fatChain(le32(m_header + 48), chain); e != CfbError::Ok) return e;
    if (chain.empty()) return CfbError::Corrupt;
    std::vector<uint8_t> buf(m_sectorSize);
    const uint32_t perSector = m_sectorSize / kDirEntrySize;
    m_entries.resize(chain.size() * perSector);
    for (size_t c = 0; c < chain.size(); ++c) {
        if (!readSector(chain[c], buf.data())) return CfbError::Corrupt;
        for (uint32_t k = 0; k < perSector; ++k) {
            const uint8_t* p = buf.data() + k * kDirEntrySize;
            RawEntry& e = m_entries[c * perSector + k];
            e.type = p[66];
            if (e.type == 0) continue;
            uint16_t nameBytes = le16(p + 64);
            if (nameBytes > 64 || (nameBytes & 1)) return CfbError::Corrupt;
            for (uint16_t i = 0; i + 2 < nameBytes; i += 2) { // the last unit is the terminator
                char16_t ch = char16_t(le16(p + i));
                if (ch == 0) break;
                e.name.push_back(ch);
            }
            e.left = le32(p + 68);
            e.right = le32(p + 72);
            e.child = le32(p + 76);
            std::memcpy(e.clsid.data(), p + 80, 16);
            e.stateBits = le32(p + 96);
            e.created = le64(p + 100);
            e.modified = le64(p + 108);
            e.start = le32(p + 116);
            e.size = le64(p + 120);
            // Old writers left the high half of the size undefined in version 3 files.
            if (m_version == 3) e.size &= 0xFFFFFFFFu;
        }
    }
    if (m_entries[0].type != uint8_t(NodeType::Root)) return CfbError::Corrupt;
    return CfbError::Ok;
}

CfbError Reader::readMiniFat()
{
    const RawEntry& root = m_entries[0];
    m_miniStreamSize = root.size;
    if (m_miniStreamSize > m_in.size()) return CfbError::Corrupt;
    if (m_miniStreamSize > 0) {
        if (CfbError e = fatChain(root.start, m_miniChain); e != CfbError::Ok) return e;
        if (uint64_t(m_miniChain.size()) * m_sectorSize < m_miniStreamSize)
            return CfbError::Corrupt;
    }
    uint32_t miniFatStart = le32(m_header + 60);
    std::vector<uint32_t> chain;
    if (miniFatStart != kEndOfChain && miniFatStart != kFreeSect) {
        if (CfbError e = fatChain(miniFatStart, chain); e != CfbError::Ok) return e;
    }
    std::vector<uint8_t> buf(m_sectorSize);
    const uint32_t perSector = m_sectorSize / 4;
    m_miniFat.reserve(chain.size() * perSector);
    for (uint32_t s : chain) {
        if (!readSector(s, buf.data(), 0xFF)) return CfbError::Corrupt;
        for (uint32_t k = 0; k < perSector; ++k)
            m_miniFat.push_back(le32(buf.data() + 4 * k));
    }
    m_miniUsed.assign(std::min<size_t>(m_miniFat.size(), size_t(m_miniStreamSize / 64)), 0);
    return CfbError::Ok;
}

void Reader::addExtent(std::vector<Extent>& out, uint64_t offset, uint64_t length)
{
    if (!out.empty() && out.back().offset + out.back().length == offset)
        out.back().length += length;
    else
        out.push_back({offset, length});
}

CfbError Reader::streamExtents(const RawEntry& e, std::vector<Extent>& out)
{
    out.clear();
    if (e.size == 0) return CfbError::Ok;
    if (e.size > m_in.size()) return CfbError::Corrupt;
    std::vector<uint32_t> chain;
    if (e.size < kMiniStreamCutoff) {
        uint64_t needed = (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
        if (CfbError err = miniChain(e.start, needed, chain); err != CfbError::Ok) return err;
        uint64_t left = e.size;
        for (uint64_t i = 0; i < needed; ++i) {
            uint64_t pos = uint64_t(chain[size_t(i)]) * kMiniSectorSize; // in the mini stream
            uint32_t sector = m_miniChain[size_t(pos >> m_shift)];
            uint64_t offset = ((uint64_t(sector) + 1) << m_shift) + (pos & (m_sectorSize - 1));
            uint64_t take = std::min<uint64_t>(left, kMiniSectorSize);
            addExtent(out, offset, take);
            left -= take;
        }
    } else {
        if (CfbError err = fatChain(e.start, chain); err != CfbError::Ok) return err;
        uint64_t needed = (e.size + m_sectorSize - 1) >> m_shift;
        if (chain.size() < needed) return CfbError::Corrupt;
        uint64_t left = e.size;
        for (uint64_t i = 0; i < needed; ++i) {
            uint64_t offset = (uint64_t(chain[size_t(i)]) + 1) << m_shift;
            uint64_t take = std::min<uint64_t>(left, m_sectorSize);
            addExtent(out, offset, take);
            left -= take;
        }
    }
    // The last sector of the file may be short; the data itself must be there.
    for (const Extent& x : out)
        if (x.offset + x.length > m_in.size()) return CfbError::Corrupt;
    return CfbError::Ok;
}

CfbError Reader::buildTree(std::shared_ptr<Node>& rootOut)
{
    const size_t count = m_entries.size();
    std::vector<uint8_t> seen(count, 0);
    seen[0] = 1;
    auto root = std::make_shared<Node>();
    root->type = NodeType::Root;
    root->name = m_entries[0].name;
    root->clsid = m_entries[0].clsid;
    root->stateBits = m_entries[0].stateBits;
    root->created = m_entries[0].created;
    root->modified = m_entries[0].modified;

    struct Pending {
        Node* storage;
        uint32_t child;
        int depth;
    };
    std::vector<Pending> storages{{root.get(), m_entries[0].child, 0}};
    std::vector<uint32_t> stack;
    while (!storages.empty()) {
        Pending p = storages.back();
        storages.pop_back();
        if (p.depth >= kMaxDepth) return CfbError::TooLarge;
        // Walk the sibling tree of this storage's children.
        stack.clear();
        if (p.child != kNoStream) stack.push_back(p.child);
        while (!stack.empty()) {
            uint32_t id = stack.back();
            stack.pop_back();
            if (id >= count || seen[id]) return CfbError::Corrupt;
            seen[id] = 1;
            const RawEntry& e = m_entries[id];
            if (e.type != uint8_t(NodeType::Storage) && e.type != uint8_t(NodeType::Stream))
                return CfbError::Corrupt;
            if (e.name.empty()) return CfbError::Corrupt;
            auto node = std::make_shared<Node>();
            node->type = NodeType(e.type);
            node->name = e.name;
            node->clsid = e.clsid;
            node->stateBits = e.stateBits;
            node->created = e.created;
            node->modified = e.modified;
            node->parent = p.storage;
            if (node->type == NodeType::Stream) {
                if (e.child != kNoStream) return CfbError::Corrupt;
                std::vector<Extent> extents;
                if (CfbError err = streamExtents(e, extents); err != CfbError::Ok) return err;
                node->data.setBacked(std::move(extents), e.size);
            } else {
                storages.push_back({node.get(), e.child, p.depth + 1});
            }
            p.storage->children.push_back(std::move(node));
            if (e.left != kNoStream) stack.push_back(e.left);
            if (e.right != kNoStream) stack.push_back(e.right);
        }
        auto& kids = p.storage->children;
        std::sort(kids.begin(), kids.end(),
                  [](const auto& a, const auto& b) { return compareNames(a->name, b->name) < 0; });
        for (size_t i = 1; i < kids.size(); ++i)
            if (compareNames(kids[i - 1]->name, kids[i]->name) == 0) return CfbError::Corrupt;
    }
    rootOut = std::move(root);
    return CfbError::Ok;
}

} // namespace

CfbError readStructure(const Backing& backing, std::shared_ptr<Node>& root)
{
    Reader reader(backing);
    return reader.run(root);
}

} // namespace zef::storage::detail
