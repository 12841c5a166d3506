#include "platform/movies/handle.h"

#include <cstring>
#include <stdexcept>

namespace zef::movies {

Handle::Handle(size_t size) { resize(size); }

Handle::Handle(const void* data, size_t size)
{
    resize(size);
    if (size) std::memcpy(m_bytes.data(), data, size);
}

void Handle::resize(size_t size)
{
    try {
        m_bytes.resize(size);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory();
    } catch (const std::length_error&) {
        throw OutOfMemory();
    }
    m_valid = true;
}

void Handle::append(const void* data, size_t size)
{
    size_t old = m_bytes.size();
    resize(old + size);
    if (size) std::memcpy(m_bytes.data() + old, data, size);
}

void Handle::reset()
{
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_valid = false;
}

} // namespace zef::movies
