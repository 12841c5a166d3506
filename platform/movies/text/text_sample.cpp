#include "platform/movies/text/text_sample.h"

#include "platform/movies/big_endian.h"

#include <limits>
#include <stdexcept>

namespace zef::movies {

namespace {

constexpr size_t kStyleRunSize = 20;

int16_t checkedInt16(int32_t v, const char* what)
{
    if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
        throw std::invalid_argument(std::string("text sample: ") + what + " does not fit 16 bits");
    return int16_t(v);
}

void beginAtom(std::vector<uint8_t>& out, FourCC type, uint32_t payloadSize)
{
    appendBE32(out, 8 + payloadSize);
    appendBE32(out, type);
}

void appendColor(std::vector<uint8_t>& out, const TextColor& c)
{
    appendBE16(out, c.red);
    appendBE16(out, c.green);
    appendBE16(out, c.blue);
}

TextColor readColor(const uint8_t* p)
{
    return TextColor{getBE16(p), getBE16(p + 2), getBE16(p + 4)};
}

} // namespace

std::vector<uint8_t> encodeTextSample(const TextSample& s)
{
    if (s.text.size() > 0xFFFF)
        throw std::invalid_argument("text sample: text longer than 65535 bytes");
    if (s.fontNumber > TextSample::kMaxFontNumber)
        throw std::invalid_argument("text sample: font number above 511");
    if (s.size > TextSample::kMaxSize) throw std::invalid_argument("text sample: size above 1000");
    if (s.dropShadowTransparency > 255)
        throw std::invalid_argument("text sample: drop-shadow transparency above 255");
    const int16_t top = checkedInt16(s.textBox.top, "text box top");
    const int16_t left = checkedInt16(s.textBox.left, "text box left");
    const int16_t bottom = checkedInt16(s.textBox.bottom, "text box bottom");
    const int16_t right = checkedInt16(s.textBox.right, "text box right");

    std::vector<uint8_t> out;
    out.reserve(2 + s.text.size() + 128);
    appendBE16(out, uint16_t(s.text.size()));
    out.insert(out.end(), s.text.begin(), s.text.end());

    beginAtom(out, kTextStyleAtom, 2 + kStyleRunSize);
    appendBE16(out, 1);
    appendBE32(out, 0); // first character
    appendBE16(out, 0); // line height
    appendBE16(out, 0); // ascent
    appendBE16(out, s.fontNumber);
    out.push_back(s.face);
    out.push_back(0);
    appendBE16(out, s.size);
    appendColor(out, s.textColor);

    beginAtom(out, kTextBackColorAtom, 6);
    appendColor(out, s.backColor);
    beginAtom(out, kTextJustificationAtom, 2);
    appendBE16(out, uint16_t(s.justification));
    beginAtom(out, kTextBoxAtom, 8);
    appendBE16(out, uint16_t(top));
    appendBE16(out, uint16_t(left));
    appendBE16(out, uint16_t(bottom));
    appendBE16(out, uint16_t(right));
    beginAtom(out, kTextDisplayFlagsAtom, 4);
    appendBE32(out, s.displayFlags);
    beginAtom(out, kTextScrollDelayAtom, 4);
    appendBE32(out, s.scrollDelay);
    beginAtom(out, kTextDropShadowOffsetAtom, 4);
    appendBE16(out, uint16_t(s.dropShadowOffsetX));
    appendBE16(out, uint16_t(s.dropShadowOffsetY));
    beginAtom(out, kTextDropShadowTransparencyAtom, 2);
    appendBE16(out, s.dropShadowTransparency);
    return out;
}

Handle textSampleToHandle(const TextSample& sample)
{
    std::vector<uint8_t> bytes = encodeTextSample(sample);
    return Handle(bytes.data(), bytes.size());
}

std::optional<TextSample> decodeTextSample(std::span<const uint8_t> data)
{
    if (data.size() < 2) return std::nullopt;
    const size_t textLength = getBE16(data.data());
    if (data.size() - 2 < textLength) return std::nullopt;

    TextSample s;
    s.text.assign(reinterpret_cast<const char*>(data.data() + 2), textLength);

    size_t pos = 2 + textLength;
    while (pos < data.size()) {
        if (data.size() - pos < 8) return std::nullopt;
        const uint8_t* atom = data.data() + pos;
        const uint32_t atomSize = getBE32(atom);
        const FourCC type = getBE32(atom + 4);
        if (atomSize < 8 || atomSize > data.size() - pos) return std::nullopt;
        const uint8_t* p = atom + 8;
        const size_t n = atomSize - 8;
        switch (type) {
        case kTextStyleAtom: {
            if (n < 2) return std::nullopt;
            const size_t runs = getBE16(p);
            if (runs == 0 || n != 2 + runs * kStyleRunSize) return std::nullopt;
            const uint8_t* run = p + 2;
            const uint16_t font = getBE16(run + 8);
            const uint16_t size = getBE16(run + 12);
            if (font > TextSample::kMaxFontNumber || size > TextSample::kMaxSize)
                return std::nullopt;
            s.fontNumber = font;
            s.face = run[10];
            s.size = size;
            s.textColor = readColor(run + 14);
            break;
        }
        case kTextBackColorAtom:
            if (n != 6) return std::nullopt;
            s.backColor = readColor(p);
            break;
        case kTextJustificationAtom:
            if (n != 2) return std::nullopt;
            s.justification = int16_t(getBE16(p));
            break;
        case kTextBoxAtom:
            if (n != 8) return std::nullopt;
            s.textBox.top = int16_t(getBE16(p));
            s.textBox.left = int16_t(getBE16(p + 2));
            s.textBox.bottom = int16_t(getBE16(p + 4));
            s.textBox.right = int16_t(getBE16(p + 6));
            break;
        case kTextDisplayFlagsAtom:
            if (n != 4) return std::nullopt;
            s.displayFlags = getBE32(p);
            break;
        case kTextScrollDelayAtom:
            if (n != 4) return std::nullopt;
            s.scrollDelay = getBE32(p);
            break;
        case kTextDropShadowOffsetAtom:
            if (n != 4) return std::nullopt;
            s.dropShadowOffsetX = int16_t(getBE16(p));
            s.dropShadowOffsetY = int16_t(getBE16(p + 2));
            break;
        case kTextDropShadowTransparencyAtom:
            if (n != 2) return std::nullopt;
            s.dropShadowTransparency = getBE16(p);
            if (s.dropShadowTransparency > 255) return std::nullopt;
            break;
        default:
            break;
        }
        pos += atomSize;
    }
    return s;
}

std::optional<TextSample> textSampleFromHandle(const Handle& h)
{
    if (h.isNull()) return std::nullopt;
    return decodeTextSample(h.bytes());
}

} // namespace zef::movies
