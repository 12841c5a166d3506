#include "platform/storage/stream.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace zef::storage {

// ---- MemoryStream

size_t MemoryStream::read(void* buffer, size_t count)
{
    if (m_pos >= int64_t(m_bytes.size())) return 0;
    size_t n = std::min(count, size_t(int64_t(m_bytes.size()) - m_pos));
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += int64_t(n);
    return n;
}

size_t MemoryStream::write(const void* buffer, size_t count)
{
    // Appending, the common case of serialising, copies once without zero-filling first.
    if (size_t(m_pos) == m_bytes.size()) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        m_pos += int64_t(count);
        return count;
    }
    size_t end = size_t(m_pos) + count;
    if (end > m_bytes.size()) m_bytes.resize(end);
    if (count) std::memcpy(m_bytes.data() + m_pos, buffer, count);
    m_pos = int64_t(end);
    return count;
}

bool MemoryStream::seek(int64_t position)
{
    if (position < 0) return false;
    m_pos = position;
    return true;
}

void MemoryStream::clear()
{
    m_bytes.clear();
    m_pos = 0;
}

std::vector<uint8_t> MemoryStream::takeBytes()
{
    m_pos = 0;
    return std::move(m_bytes);
}

// ---- FileStream

FileStream::~FileStream() { close(); }

int FileStream::open(const std::string& path, Mode mode)
{
    close();
    const char* m = mode == Mode::Read        ? "rb"
                    : mode == Mode::ReadWrite ? "r+b"
                    : mode == Mode::Create    ? "w+b"
                                              : "w+bx"; // O_EXCL
    errno = 0;
    m_file = std::fopen(path.c_str(), m);
    return m_file ? 0 : (errno ? errno : EIO);
}

int FileStream::sync()
{
    if (!m_file) return EBADF;
    if (std::fflush(m_file) != 0) return errno ? errno : EIO;
    if (::fsync(fileno(m_file)) != 0) return errno ? errno : EIO;
    return 0;
}

int FileStream::close()
{
    if (!m_file) return 0;
    int rc = std::fclose(m_file) == 0 ? 0 : (errno ? errno : EIO);
    m_file = nullptr;
    return rc;
}

size_t FileStream::read(void* buffer, size_t count)
{
    return m_file ? std::fread(buffer, 1, count, m_file) : 0;
}

size_t FileStream::write(const void* buffer, size_t count)
{
    return m_file ? std::fwrite(buffer, 1, count, m_file) : 0;
}

bool FileStream::seek(int64_t position)
{
    return m_file && position >= 0 && fseeko(m_file, off_t(position), SEEK_SET) == 0;
}

int64_t FileStream::tell() const { return m_file ? int64_t(ftello(m_file)) : -1; }

int64_t FileStream::size() const
{
    if (!m_file) return -1;
    off_t here = ftello(m_file);
    if (fseeko(m_file, 0, SEEK_END) != 0) return -1;
    off_t end = ftello(m_file);
    fseeko(m_file, here, SEEK_SET);
    return int64_t(end);
}

// ---- StreamWriter

void StreamWriter::bytes(const void* data, size_t count)
{
    if (!m_ok || count == 0) return;
    if (m_stream.write(data, count) != count) m_ok = false;
}

void StreamWriter::int16(int16_t v)
{
    uint16_t u = uint16_t(v);
    uint8_t b[2] = {uint8_t(u), uint8_t(u >> 8)};
    bytes(b, 2);
}

void StreamWriter::int32(int32_t v)
{
    uint32_t u = uint32_t(v);
    uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    bytes(b, 4);
}

void StreamWriter::int64(int64_t v)
{
    uint64_t u = uint64_t(v);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = uint8_t(u >> (8 * i));
    bytes(b, 8);
}

void StreamWriter::string(const std::string& text)
{
    constexpr size_t maxText = 32766;
    size_t n = text.find('\0');
    if (n == std::string::npos) n = text.size();
    if (n > maxText) {
        n = maxText;
        while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80)
            --n; // keep whole UTF-8 characters
    }
    int16(int16_t(n + 1));
    bytes(text.data(), n);
    uint8_t zero = 0;
    bytes(&zero, 1);
}

void StreamWriter::micro(double value)
{
    double scaled = value * 1000000.0;
    if (!(scaled == scaled)) scaled = 0; // NaN
    if (scaled > 2147483647.0) scaled = 2147483647.0;
    if (scaled < -2147483648.0) scaled = -2147483648.0;
    // Rounded to the nearest millionth: a float read back and written again gives the same
    // value, so nothing drifts over save cycles (0.7 is held as 0.69999999 and would truncate to
    // 699999, then 699998, ...).
    int32(int32_t(std::nearbyint(scaled)));
}

void StreamWriter::blob(std::span<const uint8_t> data)
{
    int32(int32_t(data.size()));
    bytes(data.data(), data.size());
}

// ---- StreamReader

bool StreamReader::bytes(void* data, size_t count)
{
    if (!m_ok) {
        std::memset(data, 0, count);
        return false;
    }
    size_t got = m_stream.read(data, count);
    if (got != count) {
        std::memset(static_cast<uint8_t*>(data) + got, 0, count - got);
        m_ok = false;
    }
    return m_ok;
}

int16_t StreamReader::int16()
{
    uint8_t b[2];
    bytes(b, 2);
    return int16_t(uint16_t(b[0] | (b[1] << 8)));
}

int32_t StreamReader::int32()
{
    uint8_t b[4];
    bytes(b, 4);
    return int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
                   (uint32_t(b[3]) << 24));
}

int64_t StreamReader::int64()
{
    uint8_t b[8];
    bytes(b, 8);
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | b[i];
    return int64_t(u);
}

std::string StreamReader::string()
{
    int16_t n = int16();
    if (!m_ok) return {};
    if (n <= 0) return {}; // a zero or negative length carries no bytes
    std::string s(size_t(n), '\0');
    if (!bytes(s.data(), size_t(n))) return {};
    size_t z = s.find('\0');
    if (z != std::string::npos) s.resize(z);
    return s;
}

std::vector<uint8_t> StreamReader::blob()
{
    int32_t n = int32();
    if (!m_ok || n == 0) return {};
    if (n < 0 || n > maxBlob) {
        m_ok = false;
        return {};
    }
    int64_t total = m_stream.size();
    int64_t pos = m_stream.tell();
    if (total >= 0 && pos >= 0 && int64_t(n) > total - pos) {
        m_ok = false;
        return {};
    }
    std::vector<uint8_t> out(static_cast<size_t>(n));
    if (!bytes(out.data(), out.size())) return {};
    return out;
}

} // namespace zef::storage
