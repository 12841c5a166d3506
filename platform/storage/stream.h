// Byte streams and the little-endian primitives of the project, template and undo data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace zef::storage {

// A seekable byte stream. read and write return the number of bytes moved; a short count
// means end of data (read) or failure (write). Streams are not thread-safe.
class Stream {
public:
    virtual ~Stream() = default;
    virtual size_t read(void* buffer, size_t count) = 0;
    virtual size_t write(const void* buffer, size_t count) = 0;
    // Moves to an absolute position; false when the position is negative or not reachable.
    virtual bool seek(int64_t position) = 0;
    virtual int64_t tell() const = 0;
    // Total length in bytes, or −1 when unknown.
    virtual int64_t size() const = 0;
};

// A growable stream held in memory; writing past the end extends it, seeking past the end
// and writing fills the gap with zeros.
class MemoryStream final : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    bool seek(int64_t position) override;
    int64_t tell() const override { return m_pos; }
    int64_t size() const override { return int64_t(m_bytes.size()); }

    void rewind() { m_pos = 0; }
    void clear();
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    std::vector<uint8_t> takeBytes();

private:
    std::vector<uint8_t> m_bytes;
    int64_t m_pos = 0;
};

// A stream over a file on disk.
class FileStream final : public Stream {
public:
    // Create truncates or creates the file; CreateNew creates it and fails (EEXIST) when the
    // path exists already, also as a symbolic link.
    enum class Mode { Read, ReadWrite, Create, CreateNew };
    FileStream() = default;
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Returns 0 or the errno of the failure.
    int open(const std::string& path, Mode mode);
    bool isOpen() const { return m_file != nullptr; }
    // Flushes buffers and asks the system to put the data on disk; returns 0 or an errno.
    int sync();
    // Closes the file; returns 0 or the errno of a failed flush.
    int close();

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    bool seek(int64_t position) override;
    int64_t tell() const override;
    int64_t size() const override;

private:
    std::FILE* m_file = nullptr;
};

// Writes the little-endian primitives. Failures are sticky: after a short write, ok() is
// false and further writes do nothing.
class StreamWriter {
public:
    explicit StreamWriter(Stream& stream) : m_stream(stream) {}

    void int16(int16_t v);
    void int32(int32_t v);
    void uint32(uint32_t v) { int32(int32_t(v)); }
    void int64(int64_t v);
    void flag(bool v) { int32(v ? 1 : 0); }
    // 16-bit length (text length + 1), then the bytes and a terminating zero. Texts longer
    // than 32,766 bytes are cut at that length (on a UTF-8 character boundary).
    void string(const std::string& text);
    // A float as the int32 value × 1,000,000, rounded to nearest (ties to even).
    void micro(double value);
    // int32 n then n bytes; n = 0 stands for "no block".
    void blob(std::span<const uint8_t> bytes);
    void bytes(const void* data, size_t count);

    bool ok() const { return m_ok; }
    Stream& stream() { return m_stream; }

private:
    Stream& m_stream;
    bool m_ok = true;
};

// Reads the little-endian primitives. Failures are sticky: after a short read or a length
// that cannot be right, ok() is false and every further read returns zero values.
class StreamReader {
public:
    explicit StreamReader(Stream& stream) : m_stream(stream) {}

    int16_t int16();
    int32_t int32();
    uint32_t uint32() { return uint32_t(int32()); }
    int64_t int64();
    bool flag() { return int32() != 0; }
    std::string string();
    double micro() { return int32() / 1000000.0; }
    // The bytes of a blob; an empty vector for n = 0. A negative n, or one larger than
    // what remains of the stream (or than maxBlob), fails the reader.
    std::vector<uint8_t> blob();
    bool bytes(void* data, size_t count);

    bool ok() const { return m_ok; }
    void fail() { m_ok = false; }
    Stream& stream() { return m_stream; }

    static constexpr int32_t maxBlob = 256 * 1024 * 1024;

private:
    Stream& m_stream;
    bool m_ok = true;
};

} // namespace zef::storage
