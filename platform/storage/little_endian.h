// Little-endian writing and reading over byte buffers, for the records of our binary files.
#pragma once

#include <cstdint>

namespace zef::storage {

inline void putLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putLE64(uint8_t* p, uint64_t v)
{
    putLE32(p, uint32_t(v));
    putLE32(p + 4, uint32_t(v >> 32));
}

inline uint16_t getLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t getLE64(const uint8_t* p) { return getLE32(p) | (uint64_t(getLE32(p + 4)) << 32); }

} // namespace zef::storage
