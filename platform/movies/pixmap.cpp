#include "platform/movies/pixmap.h"

#include "platform/movies/handle.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace zef::movies {

template <typename T> T* Pixmap::AlignedAllocator<T>::allocate(size_t n)
{
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw OutOfMemory();
    size_t bytes = (n * sizeof(T) + 63) & ~size_t(63);
    void* p = std::aligned_alloc(64, bytes ? bytes : 64);
    if (!p) throw OutOfMemory();
    return static_cast<T*>(p);
}

template <typename T> void Pixmap::AlignedAllocator<T>::deallocate(T* p, size_t) noexcept
{
    std::free(p);
}

template struct Pixmap::AlignedAllocator<uint32_t>;

Pixmap::Pixmap(int32_t width, int32_t height, uint32_t fillValue)
{
    resize(width, height);
    fill(fillValue);
}

void Pixmap::resize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) {
        m_width = m_height = 0;
        m_pixels.clear();
        return;
    }
    if (int64_t(width) * height > (int64_t(1) << 28)) throw OutOfMemory(); // 1 GiB of pixels
    m_pixels.resize(size_t(width) * size_t(height));
    m_width = width;
    m_height = height;
}

void Pixmap::fill(uint32_t value) { std::fill(m_pixels.begin(), m_pixels.end(), value); }

void Pixmap::fill(const Rect& r, uint32_t value)
{
    Rect c = intersect(r, bounds());
    if (c.isEmpty()) return;
    for (int32_t y = c.top; y < c.bottom; ++y)
        std::fill(row(y) + c.left, row(y) + c.right, value);
}

} // namespace zef::movies
