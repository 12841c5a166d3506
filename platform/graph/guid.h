// Class and interface identifiers of the media graph: 128-bit values written
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", compared as values.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zef::graph {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
    friend auto operator<=>(const Guid&, const Guid&) = default;

    // Parses the braced text form; a malformed text gives the null identifier.
    static constexpr Guid parse(std::string_view s)
    {
        Guid g;
        if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' ||
            s[19] != '-' || s[24] != '-')
            return g;
        auto hex = [&](size_t at, size_t digits, bool& ok) {
            uint64_t v = 0;
            for (size_t i = 0; i < digits; ++i) {
                const char c = s[at + i];
                int d = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
                if (d < 0) ok = false;
                v = (v << 4) | uint64_t(d < 0 ? 0 : d);
            }
            return v;
        };
        bool ok = true;
        g.data1 = uint32_t(hex(1, 8, ok));
        g.data2 = uint16_t(hex(10, 4, ok));
        g.data3 = uint16_t(hex(15, 4, ok));
        g.data4[0] = uint8_t(hex(20, 2, ok));
        g.data4[1] = uint8_t(hex(22, 2, ok));
        for (size_t i = 0; i < 6; ++i)
            g.data4[2 + i] = uint8_t(hex(25 + 2 * i, 2, ok));
        return ok ? g : Guid{};
    }

    bool isNull() const { return *this == Guid{}; }
    std::string text() const;
};

} // namespace zef::graph
