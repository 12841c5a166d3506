// Offscreen pictures: 32-bit pixels held as native uint32 values 0xAARRGGBB (in memory on
// little-endian machines the bytes are B, G, R, A — FFmpeg's BGRA, Qt's ARGB32). Alpha is
// straight (not pre-multiplied); 255 is opaque.
#pragma once

#include "platform/movies/geometry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::movies {

constexpr uint32_t argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b)
{
    return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}
constexpr uint8_t alphaOf(uint32_t p) { return uint8_t(p >> 24); }
constexpr uint8_t redOf(uint32_t p) { return uint8_t(p >> 16); }
constexpr uint8_t greenOf(uint32_t p) { return uint8_t(p >> 8); }
constexpr uint8_t blueOf(uint32_t p) { return uint8_t(p); }

// An owned picture of width × height pixels; rows are contiguous (stride = width pixels)
// and the buffer is 64-byte aligned for vector code. Copyable and movable; not thread-safe.
class Pixmap {
public:
    Pixmap() = default;
    Pixmap(int32_t width, int32_t height, uint32_t fill = 0); // throws OutOfMemory

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    bool isEmpty() const { return m_width <= 0 || m_height <= 0; }
    Rect bounds() const { return Rect{0, 0, m_width, m_height}; }
    size_t strideBytes() const { return size_t(m_width) * 4; }

    uint32_t* row(int32_t y) { return m_pixels.data() + size_t(y) * size_t(m_width); }
    const uint32_t* row(int32_t y) const { return m_pixels.data() + size_t(y) * size_t(m_width); }
    uint32_t* data() { return m_pixels.data(); }
    const uint32_t* data() const { return m_pixels.data(); }
    uint32_t pixel(int32_t x, int32_t y) const { return row(y)[x]; }
    void setPixel(int32_t x, int32_t y, uint32_t v) { row(y)[x] = v; }

    // Re-sizes (contents undefined afterwards unless fill is given).
    void resize(int32_t width, int32_t height);
    void fill(uint32_t value);
    void fill(const Rect& r, uint32_t value); // clipped to the picture

    friend bool operator==(const Pixmap& a, const Pixmap& b)
    {
        return a.m_width == b.m_width && a.m_height == b.m_height && a.m_pixels == b.m_pixels;
    }

private:
    template <typename T> struct AlignedAllocator {
        using value_type = T;
        AlignedAllocator() = default;
        template <typename U> AlignedAllocator(const AlignedAllocator<U>&) {}
        T* allocate(size_t n);
        void deallocate(T* p, size_t) noexcept;
        template <typename U> bool operator==(const AlignedAllocator<U>&) const { return true; }
    };

    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<uint32_t, AlignedAllocator<uint32_t>> m_pixels;
};

} // namespace zef::movies
