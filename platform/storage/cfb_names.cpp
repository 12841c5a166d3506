// Entry names: UTF-8 / UTF-16 conversion, the sibling order and the naming rules.
#include "platform/storage/cfb_internal.h"

namespace zef::storage::detail {

bool utf8ToUtf16(std::string_view in, std::u16string& out)
{
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        uint8_t c = uint8_t(in[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            return false;
        }
        if (i + len > in.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            uint8_t cc = uint8_t(in[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        // Surrogates are accepted: a name read from a file with an unpaired one is handed out
        // in that encoding, and must find the entry again.
        if (cp < minimum[len] || cp > 0x10FFFF) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return true;
}

std::string utf16ToUtf8(std::u16string_view in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

namespace {

// Simple upper-case mapping of one UTF-16 code unit for the scripts names are likely to use
// (Latin, Greek, Cyrillic); other code units compare as they are.
char16_t upper(char16_t c)
{
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        bool oddIsLower = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        if (c == 0x131) return u'I';
        if (c == 0x17F) return u'S';
        if (c == 0x138 || c == 0x149 || c == 0x178) return c;
        if (oddIsLower) return (c & 1) ? char16_t(c - 1) : c;
        return (c & 1) ? c : char16_t(c - 1); // 0x139..0x148 and 0x179..0x17E
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? char16_t(0x3A3) : char16_t(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);
    return c;
}

} // namespace

int compareNames(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

CfbError makeName(std::string_view utf8, std::u16string& out, bool forLookup)
{
    if (utf8.empty() || !utf8ToUtf16(utf8, out)) return CfbError::InvalidName;
    if (out.size() > kMaxNameUnits) return CfbError::NameTooLong;
    for (size_t i = 0; i < out.size(); ++i) {
        const char16_t c = out[i];
        if (c == 0) return CfbError::InvalidName;
        if (!forLookup && (c == u'/' || c == u'\\' || c == u':' || c == u'!'))
            return CfbError::InvalidName;
        if (!forLookup && c >= 0xD800 && c <= 0xDFFF) {
            // Only proper pairs in new names.
            bool high = c <= 0xDBFF;
            bool paired = high ? i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF
                               : i > 0 && out[i - 1] >= 0xD800 && out[i - 1] <= 0xDBFF;
            if (!paired) return CfbError::InvalidName;
        }
    }
    return CfbError::Ok;
}

} // namespace zef::storage::detail
