#include "platform/movies/audio_fade.h"

#include "platform/movies/atom_container.h"
#include "platform/movies/big_endian.h"

#include <gtest/gtest.h>

using namespace zef::movies;

namespace {

FadeTween roundTrip(Fixed a, Fixed b, FadeByteOrder order)
{
    Handle h = makeFadeTweenSample(a, b, order);
    FadeTween t;
    EXPECT_EQ(readFadeTween(h.bytes(), t), noErr);
    return t;
}

FadeTween fromBytes(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> b(bytes);
    return decodeFadeValues(b.data());
}

} // namespace

TEST(AudioFade, ValuesReadBackInEitherByteOrder)
{
    const Fixed values[] = {0, kFixed1, kFixed1 / 2, 0xB333, 0x0401, kFixed1 * 3 / 2, kMaxFadeGain};
    for (Fixed a : values)
        for (Fixed b : values)
            for (FadeByteOrder order : {FadeByteOrder::bigEndian, FadeByteOrder::littleEndian}) {
                FadeTween t = roundTrip(a, b, order);
                EXPECT_EQ(t.start, a) << a << " " << b << " " << int(order);
                EXPECT_EQ(t.end, b) << a << " " << b << " " << int(order);
            }
}

TEST(AudioFade, ByteOrderIsDecidedOnBothValues)
{
    // 1.0 stored little-endian reads big-endian as 1/256: too small to be meant, so swapped.
    FadeTween t = fromBytes({0, 0, 0, 0, 0x00, 0x00, 0x01, 0x00});
    EXPECT_EQ(t.start, 0);
    EXPECT_EQ(t.end, kFixed1);
    EXPECT_TRUE(t.swapped);
    // Big-endian 1.0 → 0.
    t = fromBytes({0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0});
    EXPECT_EQ(t.start, kFixed1);
    EXPECT_EQ(t.end, 0);
    EXPECT_FALSE(t.swapped);
    // A tiny big-endian gain whose swap is not a gain either stays as it is.
    t = fromBytes({0x00, 0x00, 0x02, 0x8F, 0x00, 0x01, 0x00, 0x00});
    EXPECT_EQ(t.start, 0x28F);
    EXPECT_EQ(t.end, kFixed1);
    // Garbage in both orders is clamped to 0 … 4.0, never a loud or negative gain.
    t = fromBytes({0x7F, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_EQ(t.start, kMaxFadeGain);
    EXPECT_EQ(t.end, 0);
}

TEST(AudioFade, MalformedSamplesAreRefused)
{
    FadeTween t;
    const uint8_t junk[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(readFadeTween(junk, t), invalidAtomContainerErr);

    AtomContainer c;
    EXPECT_EQ(readFadeTween(c.flatten().bytes(), t), cannotFindAtomErr) << "no 'twen'";

    QTAtom tween = 0;
    c.insertChild(kParentAtomIsContainer, fourcc("twen"), 1, 0, {}, &tween);
    uint8_t type[4];
    putBE32(type, 7); // a matrix tween
    c.insertChild(tween, fourcc("twnt"), 1, 0, type, 4);
    const uint8_t data8[8] = {0, 1, 0, 0, 0, 1, 0, 0};
    QTAtom data = 0;
    c.insertChild(tween, fourcc("data"), 1, 0, data8, 4, &data); // too short
    EXPECT_EQ(readFadeTween(c.flatten().bytes(), t), featureUnsupported);
    putBE32(type, 3);
    c.setLeaf(tween, fourcc("twnt"), 1, type);
    EXPECT_EQ(readFadeTween(c.flatten().bytes(), t), cannotFindAtomErr) << "4-byte data";
    c.setAtomData(data, data8);
    EXPECT_EQ(readFadeTween(c.flatten().bytes(), t), noErr);
    EXPECT_EQ(t.start, kFixed1);
}
