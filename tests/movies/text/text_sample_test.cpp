#include "platform/movies/big_endian.h"
#include "platform/movies/text/text_sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace zef::movies;

namespace {

TextSample fullSample()
{
    TextSample s;
    s.text = "Zwei\rZeilen – ελληνικά";
    s.fontNumber = 511;
    s.size = 1000;
    s.face = TextFace::bold | TextFace::underline | 0x80;
    s.textColor = {0xFFFF, 0x1234, 0x0001};
    s.backColor = {0x0102, 0x0304, 0xFEFE};
    s.justification = TextJustify::flushRight;
    s.textBox = Rect{-10, 20, 700, 32767};
    s.displayFlags = 0x6000 | TextDisplayFlags::dropShadow | TextDisplayFlags::scrollIn;
    s.scrollDelay = 0x89ABCDEF;
    s.dropShadowOffsetX = -3;
    s.dropShadowOffsetY = 200;
    s.dropShadowTransparency = 255;
    return s;
}

// Offset of the first atom of the given type, or 0.
size_t findAtom(const std::vector<uint8_t>& b, FourCC type)
{
    size_t pos = 2 + getBE16(b.data());
    while (pos + 8 <= b.size()) {
        if (getBE32(b.data() + pos + 4) == type) return pos;
        pos += getBE32(b.data() + pos);
    }
    return 0;
}

} // namespace

TEST(TextSampleStore, RoundTripKeepsEveryField)
{
    const TextSample s = fullSample();
    auto bytes = encodeTextSample(s);
    auto back = decodeTextSample(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s);

    auto viaHandle = textSampleFromHandle(textSampleToHandle(s));
    ASSERT_TRUE(viaHandle);
    EXPECT_EQ(*viaHandle, s);
}

TEST(TextSampleStore, LayoutIsBigEndianLengthTextThenAtoms)
{
    TextSample s;
    s.text = "Hi";
    s.fontNumber = 3;
    s.size = 48;
    s.textColor = {0xFFFF, 0, 0x8000};
    s.textBox = Rect{1, 2, 3, 4};
    auto b = encodeTextSample(s);
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 2);
    EXPECT_EQ(b[2], 'H');
    EXPECT_EQ(b[3], 'i');

    const size_t styl = findAtom(b, kTextStyleAtom);
    ASSERT_EQ(styl, 4u) << "the style atom comes first";
    EXPECT_EQ(getBE32(&b[styl]), 8u + 2 + 20);
    EXPECT_EQ(getBE16(&b[styl + 8]), 1); // one run
    const uint8_t* run = &b[styl + 10];
    EXPECT_EQ(getBE16(run + 8), 3);   // font
    EXPECT_EQ(getBE16(run + 12), 48); // size
    EXPECT_EQ(getBE16(run + 14), 0xFFFF);
    EXPECT_EQ(getBE16(run + 18), 0x8000);

    const size_t box = findAtom(b, kTextBoxAtom);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(getBE16(&b[box + 8]), 2);  // top
    EXPECT_EQ(getBE16(&b[box + 10]), 1); // left
    EXPECT_EQ(getBE16(&b[box + 12]), 4); // bottom
    EXPECT_EQ(getBE16(&b[box + 14]), 3); // right
    EXPECT_NE(findAtom(b, kTextDropShadowOffsetAtom), 0u);
    EXPECT_NE(findAtom(b, kTextDropShadowTransparencyAtom), 0u);
    EXPECT_NE(findAtom(b, kTextScrollDelayAtom), 0u);
}

TEST(TextSampleStore, TextAloneAndUnknownAtomsAreAccepted)
{
    std::vector<uint8_t> b{0, 3, 'a', 'b', 'c'};
    auto plain = decodeTextSample(b);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->text, "abc");
    EXPECT_EQ(plain->fontNumber, 0);
    EXPECT_EQ(plain->size, TextSample::kDefaultSize);

    // An atom of a type this code does not know is skipped; a later known atom still counts.
    appendBE32(b, 12);
    appendBE32(b, fourcc("hlit"));
    appendBE32(b, 0xDEADBEEF);
    appendBE32(b, 10);
    appendBE32(b, kTextJustificationAtom);
    appendBE16(b, uint16_t(TextJustify::center));
    auto withAtoms = decodeTextSample(b);
    ASSERT_TRUE(withAtoms);
    EXPECT_EQ(withAtoms->justification, TextJustify::center);

    EXPECT_TRUE(decodeTextSample(std::vector<uint8_t>{0, 0})) << "empty text is a valid sample";
}

TEST(TextSampleStore, MalformedDataIsRefused)
{
    const auto good = encodeTextSample(fullSample());
    EXPECT_FALSE(decodeTextSample({}));
    EXPECT_FALSE(decodeTextSample(std::vector<uint8_t>{0}));
    EXPECT_FALSE(decodeTextSample(std::vector<uint8_t>{0, 5, 'a', 'b'}))
        << "text runs past the end";
    EXPECT_FALSE(textSampleFromHandle(Handle()));

    // Cutting the data inside an atom breaks it; cutting between atoms leaves fewer atoms.
    std::vector<size_t> boundaries;
    for (size_t pos = 2 + fullSample().text.size(); pos < good.size(); pos += getBE32(&good[pos]))
        boundaries.push_back(pos);
    for (size_t cut = boundaries.front(); cut < good.size(); ++cut) {
        const bool between =
            std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        EXPECT_EQ(decodeTextSample(std::span<const uint8_t>(good.data(), cut)).has_value(), between)
            << cut;
    }

    auto patched = [&](FourCC type, size_t at, std::vector<uint8_t> bytes) {
        auto b = good;
        const size_t pos = findAtom(b, type);
        EXPECT_NE(pos, 0u);
        std::copy(bytes.begin(), bytes.end(), b.begin() + long(pos + at));
        return b;
    };
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 0, {0, 0, 0, 4}))) << "atom size below 8";
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 0, {0x7F, 0, 0, 0})))
        << "atom past the end";
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 8, {0, 0}))) << "no style run";
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 8, {0, 2}))) << "run count disagrees";
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 18, {0x02, 0x00}))) << "font 512";
    EXPECT_FALSE(decodeTextSample(patched(kTextStyleAtom, 22, {0x03, 0xE9}))) << "size 1001";
    EXPECT_FALSE(decodeTextSample(patched(kTextDropShadowTransparencyAtom, 8, {0x01, 0x00})))
        << "transparency 256";

    // A known atom with the wrong payload size.
    std::vector<uint8_t> b{0, 0};
    appendBE32(b, 8 + 3);
    appendBE32(b, kTextBoxAtom);
    b.insert(b.end(), {1, 2, 3});
    EXPECT_FALSE(decodeTextSample(b));
}

TEST(TextSampleStore, UnstorableFieldsAreRejected)
{
    TextSample s;
    s.fontNumber = 512;
    EXPECT_THROW(encodeTextSample(s), std::invalid_argument);
    s = TextSample();
    s.size = 1001;
    EXPECT_THROW(encodeTextSample(s), std::invalid_argument);
    s = TextSample();
    s.textBox.right = 40000;
    EXPECT_THROW(encodeTextSample(s), std::invalid_argument);
    s = TextSample();
    s.dropShadowTransparency = 300;
    EXPECT_THROW(encodeTextSample(s), std::invalid_argument);
    s = TextSample();
    s.text.assign(65536, 'x');
    EXPECT_THROW(encodeTextSample(s), std::invalid_argument);
    s.text.resize(65535);
    EXPECT_EQ(decodeTextSample(encodeTextSample(s))->text.size(), 65535u);
}

TEST(TextSampleStore, ColourComponentsRoundToEightBits)
{
    EXPECT_EQ(colorComponent8(0xFFFF), 255);
    EXPECT_EQ(colorComponent8(0), 0);
    EXPECT_EQ(colorComponent8(128 * 257), 128);
    EXPECT_EQ(colorComponent8(0x8000), 128);
}

TEST(TextSampleStore, ArbitraryBytesNeverBreakTheReader)
{
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const auto good = encodeTextSample(fullSample());
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> b = good;
        b.resize(next() % (good.size() + 16));
        for (int k = 0, n = int(next() % 6); k < n && !b.empty(); ++k)
            b[next() % b.size()] = uint8_t(next());
        if (auto s = decodeTextSample(b)) {
            EXPECT_LE(s->fontNumber, TextSample::kMaxFontNumber);
            EXPECT_LE(s->size, TextSample::kMaxSize);
            EXPECT_LE(s->dropShadowTransparency, 255);
        }
    }
}
