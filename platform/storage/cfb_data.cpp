// Stream contents: reading from the backing file, changed pieces held in memory.
#include "platform/storage/cfb_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace zef::storage::detail {

bool MemoryBacking::readAt(uint64_t offset, void* dst, size_t n) const
{
    if (offset > m_bytes.size() || n > m_bytes.size() - offset) return false;
    if (n) std::memcpy(dst, m_bytes.data() + offset, n);
    return true;
}

bool FdBacking::readAt(uint64_t offset, void* dst, size_t n) const
{
    if (offset > m_size || n > m_size - offset) return false;
    auto* p = static_cast<uint8_t*>(dst);
    while (n > 0) {
        ssize_t got = ::pread(m_fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

void StreamData::setBacked(std::vector<Extent> extents, uint64_t size)
{
    m_extents = std::move(extents);
    m_extentStart.clear();
    uint64_t pos = 0;
    for (const Extent& e : m_extents) {
        m_extentStart.push_back(pos);
        pos += e.length;
    }
    m_size = size;
    m_backed = std::min(size, pos);
    m_chunks.clear();
    m_chunks.resize(size_t((size + kChunk - 1) / kChunk));
}

uint64_t StreamData::chunkLength(size_t index) const
{
    uint64_t start = uint64_t(index) * kChunk;
    return std::min(kChunk, m_size - start);
}

bool StreamData::readBacked(const Backing* backing, uint64_t pos, uint8_t* dst, size_t n) const
{
    if (n == 0) return true;
    if (!backing) return false;
    auto it = std::upper_bound(m_extentStart.begin(), m_extentStart.end(), pos);
    size_t i = size_t(it - m_extentStart.begin()) - 1;
    while (n > 0 && i < m_extents.size()) {
        uint64_t within = pos - m_extentStart[i];
        size_t take = size_t(std::min<uint64_t>(n, m_extents[i].length - within));
        if (!backing->readAt(m_extents[i].offset + within, dst, take)) return false;
        dst += take;
        pos += take;
        n -= take;
        ++i;
    }
    return n == 0;
}

bool StreamData::loadChunk(const Backing* backing, size_t index)
{
    std::vector<uint8_t>& chunk = m_chunks[index];
    if (!chunk.empty()) return true;
    uint64_t start = uint64_t(index) * kChunk;
    uint64_t len = chunkLength(index);
    std::vector<uint8_t> bytes;
    bytes.reserve(m_size > kChunk ? kChunk : len);
    bytes.resize(len);
    if (start < m_backed) {
        size_t fromFile = size_t(std::min(len, m_backed - start));
        if (!readBacked(backing, start, bytes.data(), fromFile)) return false;
    }
    chunk = std::move(bytes);
    return true;
}

bool StreamData::read(const Backing* backing, uint64_t pos, void* dst, size_t n) const
{
    if (pos > m_size || n > m_size - pos) return false;
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
        size_t index = size_t(pos / kChunk);
        uint64_t within = pos % kChunk;
        size_t take = size_t(std::min<uint64_t>(n, chunkLength(index) - within));
        const std::vector<uint8_t>& chunk = m_chunks[index];
        if (!chunk.empty()) {
            std::memcpy(out, chunk.data() + within, take);
        } else {
            size_t fromFile = pos < m_backed ? size_t(std::min<uint64_t>(take, m_backed - pos)) : 0;
            if (!readBacked(backing, pos, out, fromFile)) return false;
            std::memset(out + fromFile, 0, take - fromFile);
        }
        out += take;
        pos += take;
        n -= take;
    }
    return true;
}

bool StreamData::resize(const Backing* /*backing*/, uint64_t size)
{
    if (size == m_size) return true;
    size_t oldCount = m_chunks.size();
    size_t newCount = size_t((size + kChunk - 1) / kChunk);
    m_backed = std::min(m_backed, size);
    m_size = size;
    m_chunks.resize(newCount);
    // A loaded chunk always holds exactly its length: fix the old and the new last chunk.
    for (size_t i : {oldCount, newCount}) {
        if (i == 0 || i > newCount) continue;
        std::vector<uint8_t>& chunk = m_chunks[i - 1];
        if (!chunk.empty()) {
            uint64_t len = chunkLength(i - 1);
            if (len > chunk.capacity() && m_size > kChunk) chunk.reserve(kChunk);
            chunk.resize(size_t(len), 0);
        }
    }
    return true;
}

bool StreamData::write(const Backing* backing, uint64_t pos, const void* src, size_t n)
{
    if (n == 0) return true;
    if (pos + n > m_size && !resize(backing, pos + n)) return false;
    auto* in = static_cast<const uint8_t*>(src);
    while (n > 0) {
        size_t index = size_t(pos / kChunk);
        uint64_t within = pos % kChunk;
        size_t take = size_t(std::min<uint64_t>(n, chunkLength(index) - within));
        if (!loadChunk(backing, index)) return false;
        std::memcpy(m_chunks[index].data() + within, in, take);
        in += take;
        pos += take;
        n -= take;
    }
    return true;
}

bool StreamData::forEachPiece(const Backing* backing,
                              const std::function<bool(const uint8_t*, size_t)>& sink) const
{
    std::vector<uint8_t> scratch;
    for (size_t i = 0; i < m_chunks.size(); ++i) {
        size_t len = size_t(chunkLength(i));
        if (!m_chunks[i].empty()) {
            if (!sink(m_chunks[i].data(), len)) return false;
            continue;
        }
        scratch.resize(len);
        if (!read(backing, uint64_t(i) * kChunk, scratch.data(), len)) return false;
        if (!sink(scratch.data(), len)) return false;
    }
    return true;
}

bool StreamData::loadAll(const Backing* backing)
{
    for (size_t i = 0; i < m_chunks.size(); ++i)
        if (!loadChunk(backing, i)) return false;
    m_backed = 0;
    m_extents.clear();
    m_extentStart.clear();
    return true;
}

} // namespace zef::storage::detail
