// Little-endian writing over byte buffers, for the records of our binary files.
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

} // namespace zef::storage
