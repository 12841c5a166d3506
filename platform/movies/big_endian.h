// Big-endian reading and writing over byte buffers, for atoms and toolbox records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::movies {

inline void putBE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void putBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint16_t getBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t getBE32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void appendBE16(std::vector<uint8_t>& out, uint16_t v)
{
    uint8_t b[2];
    putBE16(b, v);
    out.insert(out.end(), b, b + 2);
}
inline void appendBE32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t b[4];
    putBE32(b, v);
    out.insert(out.end(), b, b + 4);
}

} // namespace zef::movies
