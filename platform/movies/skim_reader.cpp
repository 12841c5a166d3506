#include "platform/movies/skim_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zef::movies::av {

namespace {
constexpr int kBufferSize = 64 * 1024;
}

std::unique_ptr<SkimmingFormat> SkimmingFormat::open(const std::string& path)
{
    initialise();
    std::unique_ptr<SkimmingFormat> f(new SkimmingFormat());
    f->m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (f->m_fd < 0 || ::fstat(f->m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    f->m_size = st.st_size;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    if (!buffer) throw std::bad_alloc();
    f->m_io = avio_alloc_context(buffer, kBufferSize, 0, f.get(), &readPacket, nullptr, &seek);
    if (!f->m_io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    f->m_fmt = avformat_alloc_context();
    if (!f->m_fmt) throw std::bad_alloc();
    f->m_fmt->pb = f->m_io;
    f->m_fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&f->m_fmt, path.c_str(), nullptr, nullptr) < 0) {
        f->m_fmt = nullptr; // freed by the failed open
        return nullptr;
    }
    // No stream probing: the movie demuxer's header tells all that stamps need, and probing
    // would decode frames.
    return f;
}

SkimmingFormat::~SkimmingFormat()
{
    avformat_close_input(&m_fmt);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0) ::close(m_fd);
}

void SkimmingFormat::skimIndexedSamples()
{
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (unsigned s = 0; s < m_fmt->nb_streams; ++s) {
        AVStream* st = m_fmt->streams[s];
        int n = avformat_index_get_entries_count(st);
        for (int i = 0; i < n; ++i)
            if (const AVIndexEntry* e = avformat_index_get_entry(st, i); e && e->size > 0)
                ranges.emplace_back(e->pos, e->pos + e->size);
    }
    std::sort(ranges.begin(), ranges.end());
    m_ranges.clear();
    for (const auto& r : ranges) {
        if (!m_ranges.empty() && r.first <= m_ranges.back().second)
            m_ranges.back().second = std::max(m_ranges.back().second, r.second);
        else
            m_ranges.push_back(r);
    }
}

int SkimmingFormat::readPacket(void* opaque, uint8_t* buf, int size)
{
    auto* f = static_cast<SkimmingFormat*>(opaque);
    if (f->m_pos >= f->m_size) return AVERROR_EOF;
    const int64_t n = std::min<int64_t>(size, f->m_size - f->m_pos);
    auto it = std::upper_bound(f->m_ranges.begin(), f->m_ranges.end(),
                               std::make_pair(f->m_pos, INT64_MAX));
    if (it != f->m_ranges.begin() && std::prev(it)->second >= f->m_pos + n) {
        std::memset(buf, 0, size_t(n));
        f->m_pos += n;
        f->m_skimmed += n;
        return int(n);
    }
    ssize_t got;
    do {
        got = ::pread(f->m_fd, buf, size_t(n), f->m_pos);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    f->m_pos += got;
    f->m_read += got;
    return int(got);
}

int64_t SkimmingFormat::seek(void* opaque, int64_t offset, int whence)
{
    auto* f = static_cast<SkimmingFormat*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return f->m_size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += f->m_pos;
        break;
    case SEEK_END:
        offset += f->m_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    f->m_pos = offset;
    return offset;
}

} // namespace zef::movies::av
