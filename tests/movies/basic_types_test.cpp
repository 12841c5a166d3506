#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"
#include "platform/movies/matrix.h"

#include <gtest/gtest.h>

using namespace zef::movies;

TEST(FourCCTest, BigEndianOrderAndText)
{
    static_assert(fourcc("vide") == 0x76696465);
    EXPECT_EQ(fourccToString(fourcc("dslv")), "dslv");
    EXPECT_EQ(fourccToString(0x00414243), "?ABC");
}

TEST(FixedPoint, ConversionsAndArithmetic)
{
    EXPECT_EQ(doubleToFixed(29.97), 1964114); // nearest 16.16 value
    EXPECT_EQ(fixRatio(2997, 100), 1964114);
    EXPECT_EQ(fixedMul(doubleToFixed(1.5), doubleToFixed(-2.0)), doubleToFixed(-3.0));
    EXPECT_EQ(fixedDiv(kFixed1, 3 * kFixed1), 21845);
    EXPECT_EQ(fixedDiv(kFixed1, 0), INT32_MAX);
    EXPECT_EQ(doubleToFract(1.0), kFract1);
    EXPECT_EQ(doubleToFixed(1e12), INT32_MAX) << "saturates instead of wrapping";
}

TEST(MatrixRecordTest, IdentityLayout)
{
    MatrixRecord id = MatrixRecord::identity();
    EXPECT_EQ(id.m[0][0], 0x10000);
    EXPECT_EQ(id.m[1][1], 0x10000);
    EXPECT_EQ(id.m[2][2], 0x40000000);
    EXPECT_EQ(id.m[2][0], 0);
    EXPECT_TRUE(id.isIdentity());
    EXPECT_EQ(sizeof(id), 36u);
}

TEST(MatrixRecordTest, MapRectOntoRect)
{
    Rect from{0, 0, 640, 480};
    Rect to{320, 240, 640, 480}; // lower-right quarter
    MatrixRecord m = MatrixRecord::mapRect(from, to);
    EXPECT_TRUE(m.isScaleTranslate());
    EXPECT_EQ(m.transformRect(from), to);
    double x = 100, y = 100;
    ASSERT_TRUE(m.transformPoint(x, y));
    EXPECT_DOUBLE_EQ(x, 370);
    EXPECT_DOUBLE_EQ(y, 290);

    MatrixRecord inv;
    ASSERT_TRUE(m.invert(inv));
    EXPECT_EQ(inv.transformRect(to), from);
}

TEST(MatrixRecordTest, ConcatAppliesSecondAfterFirst)
{
    MatrixRecord m = MatrixRecord::scaling(2 * kFixed1, 2 * kFixed1);
    m.translate(10 * kFixed1, 0);
    double x = 1, y = 1;
    m.transformPoint(x, y);
    EXPECT_DOUBLE_EQ(x, 12);
    EXPECT_DOUBLE_EQ(y, 2);

    MatrixRecord s = MatrixRecord::identity();
    s.scale(kFixed1 / 2, kFixed1 / 2, 100 * kFixed1, 100 * kFixed1); // about (100,100)
    x = 100, y = 100;
    s.transformPoint(x, y);
    EXPECT_DOUBLE_EQ(x, 100);
    EXPECT_DOUBLE_EQ(y, 100);

    MatrixRecord singular = MatrixRecord::scaling(0, kFixed1), out = MatrixRecord::identity();
    EXPECT_FALSE(singular.invert(out));
    EXPECT_TRUE(out.isIdentity());
}

TEST(HandleTest, NullEmptyAndDeepCopies)
{
    Handle null;
    EXPECT_TRUE(null.isNull());
    Handle empty(size_t(0));
    EXPECT_FALSE(empty.isNull());
    EXPECT_NE(null, empty);

    const char text[] = "abc";
    Handle a(text, 3);
    Handle b = a;
    b.data()[0] = 'X';
    EXPECT_EQ(a.data()[0], 'a');
    a.append("d", 1);
    EXPECT_EQ(a.size(), 4u);
    a.reset();
    EXPECT_TRUE(a.isNull());
    EXPECT_THROW(Handle(size_t(-1) / 2), OutOfMemory);
}

#include "platform/movies/descriptions.h"

TEST(DescriptionsTest, ImageDescriptionPublicLayout)
{
    ImageDescription d;
    d.cType = fourcc("avc1");
    d.width = 1920;
    d.height = 1080;
    d.name = "H.264";
    d.extensions.push_back({fourcc("fiel"), {1, 0}});
    Handle h = d.toHandle();
    ASSERT_EQ(h.size(), 86u + 10u);
    const uint8_t* p = h.data();
    EXPECT_EQ(p[3], 96); // idSize
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 4), 4), "avc1");
    EXPECT_EQ(p[32], 0x07); // width 1920 = 0x0780, big-endian
    EXPECT_EQ(p[33], 0x80);
    EXPECT_EQ(p[36], 0x00); // hRes 72.0 = 0x00480000
    EXPECT_EQ(p[37], 0x48);
    EXPECT_EQ(p[50], 5);    // Pascal name length
    EXPECT_EQ(p[83], 24);   // depth
    EXPECT_EQ(p[84], 0xFF); // clutID -1
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 90), 4), "fiel");

    auto back = ImageDescription::fromHandle(h);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, d);

    Handle truncated(h.data(), 80);
    EXPECT_FALSE(ImageDescription::fromHandle(truncated));
    Handle badExt = h;
    badExt.data()[89] = 200; // extension claims more bytes than the block holds
    EXPECT_FALSE(ImageDescription::fromHandle(badExt));
}

TEST(DescriptionsTest, SoundDescriptionVersions)
{
    SoundDescription s;
    s.dataFormat = fourcc("twos");
    s.setRateHz(48000);
    Handle h0 = s.toHandle();
    ASSERT_EQ(h0.size(), 36u);
    EXPECT_EQ(h0.data()[32], 0xBB); // 48000 << 16 = 0xBB800000
    EXPECT_EQ(h0.data()[33], 0x80);
    EXPECT_EQ(SoundDescription::fromHandle(h0)->rateHz(), 48000.0);

    s.version = 1;
    s.samplesPerPacket = 1;
    s.bytesPerFrame = 4;
    Handle h1 = s.toHandle();
    ASSERT_EQ(h1.size(), 52u);
    EXPECT_EQ(*SoundDescription::fromHandle(h1), s);
    EXPECT_FALSE(SoundDescription::fromHandle(Handle(h1.data(), 40)));
}

#include "platform/movies/pixmap.h"

TEST(PixmapTest, FillClipsAndPixelOrder)
{
    Pixmap p(4, 3, argb(255, 0, 0, 0));
    p.fill(Rect{2, 1, 10, 10}, argb(255, 10, 20, 30));
    EXPECT_EQ(p.pixel(1, 1), argb(255, 0, 0, 0));
    EXPECT_EQ(p.pixel(3, 2), 0xFF0A141Eu);
    // In memory the bytes are B, G, R, A.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(p.row(2) + 3);
    EXPECT_EQ(bytes[0], 30);
    EXPECT_EQ(bytes[3], 255);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p.data()) % 64, 0u);
    EXPECT_THROW(Pixmap(100000, 100000), OutOfMemory);
}
