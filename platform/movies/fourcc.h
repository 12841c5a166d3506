// Four-character codes and fixed-point numbers of the movie toolbox.
#pragma once

#include <cstdint>
#include <string>

namespace zef::movies {

// A four-character code ('vide', 'soun', 'dslv'), held with its first character in the
// most significant byte, exactly as it is written big-endian into atoms and files.
using FourCC = uint32_t;
using OSType = FourCC;

constexpr FourCC fourcc(const char (&s)[5])
{
    return (FourCC(uint8_t(s[0])) << 24) | (FourCC(uint8_t(s[1])) << 16) |
           (FourCC(uint8_t(s[2])) << 8) | FourCC(uint8_t(s[3]));
}

// The code as four characters; bytes outside printable ASCII are shown as '?'.
std::string fourccToString(FourCC code);

// 16.16 signed fixed point (1.0 = 0x10000) and 2.30 signed fixed point (1.0 = 0x40000000).
using Fixed = int32_t;
using Fract = int32_t;

constexpr Fixed kFixed1 = 0x10000;
constexpr Fract kFract1 = 0x40000000;

Fixed doubleToFixed(double v);
double fixedToDouble(Fixed v);
Fract doubleToFract(double v);
double fractToDouble(Fract v);

// a × b and a / b in 16.16, rounded to nearest and saturated to the 32-bit range.
Fixed fixedMul(Fixed a, Fixed b);
Fixed fixedDiv(Fixed a, Fixed b);
// numerator / denominator as 16.16; a zero denominator saturates by sign.
Fixed fixRatio(int32_t numerator, int32_t denominator);

} // namespace zef::movies
