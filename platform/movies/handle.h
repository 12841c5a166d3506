// Handles: owned, resizable blocks of bytes, as the movie toolbox passes data around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace zef::movies {

// Raised when a handle cannot be allocated or grown: the program's out-of-memory error.
class OutOfMemory : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "Out of memory"; }
};

// A handle is either null (no block at all) or owns a block of zero or more bytes.
// Copies are deep. Not thread-safe; each handle belongs to one owner at a time.
class Handle {
public:
    Handle() = default;                    // null
    explicit Handle(size_t size);          // a zero-filled block; throws OutOfMemory
    Handle(const void* data, size_t size); // a copy of the bytes; throws OutOfMemory
    static Handle fromSpan(std::span<const uint8_t> bytes)
    {
        return Handle(bytes.data(), bytes.size());
    }

    bool isNull() const { return !m_valid; }
    explicit operator bool() const { return m_valid; }
    size_t size() const { return m_bytes.size(); }

    uint8_t* data() { return m_bytes.data(); }
    const uint8_t* data() const { return m_bytes.data(); }
    std::span<const uint8_t> bytes() const { return m_bytes; }

    // Grows or shrinks the block (new bytes are zero); a null handle becomes valid.
    void resize(size_t size);
    // Appends bytes at the end (makes a null handle valid).
    void append(const void* data, size_t size);
    // Makes the handle null again, releasing its block.
    void reset();

    friend bool operator==(const Handle& a, const Handle& b)
    {
        return a.m_valid == b.m_valid && a.m_bytes == b.m_bytes;
    }

private:
    std::vector<uint8_t> m_bytes;
    bool m_valid = false;
};

} // namespace zef::movies
