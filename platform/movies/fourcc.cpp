#include "platform/movies/fourcc.h"

#include <cmath>
#include <limits>

namespace zef::movies {

namespace {
int32_t saturate(int64_t v)
{
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

int32_t roundToInt32(double v)
{
    if (std::isnan(v)) return 0;
    double r = std::round(v);
    if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}
} // namespace

std::string fourccToString(FourCC code)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        char c = char((code >> (24 - 8 * i)) & 0xFF);
        s[size_t(i)] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

Fixed doubleToFixed(double v) { return roundToInt32(v * 65536.0); }
double fixedToDouble(Fixed v) { return double(v) / 65536.0; }
Fract doubleToFract(double v) { return roundToInt32(v * 1073741824.0); }
double fractToDouble(Fract v) { return double(v) / 1073741824.0; }

Fixed fixedMul(Fixed a, Fixed b)
{
    int64_t p = int64_t(a) * int64_t(b);
    p += (p >= 0) ? 0x8000 : -0x8000;
    return saturate(p / 65536);
}

Fixed fixedDiv(Fixed a, Fixed b)
{
    if (b == 0)
        return a >= 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
    return roundToInt32(double(a) * 65536.0 / double(b));
}

Fixed fixRatio(int32_t numerator, int32_t denominator)
{
    if (denominator == 0)
        return numerator >= 0 ? std::numeric_limits<int32_t>::max()
                              : std::numeric_limits<int32_t>::min();
    return roundToInt32(double(numerator) * 65536.0 / double(denominator));
}

} // namespace zef::movies
