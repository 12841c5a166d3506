#include "platform/storage/stream.h"

#include <gtest/gtest.h>

using namespace zef::storage;

TEST(StreamPrimitives, LittleEndianLayoutOfEveryPrimitive)
{
    MemoryStream ms;
    StreamWriter w(ms);
    w.int32(2);
    w.int32(-2);
    w.int64(0x0102030405060708LL);
    w.string("AB");
    w.micro(1.5);
    w.micro(-0.0000019); // rounds to the nearest millionth
    const uint8_t block[3] = {9, 8, 7};
    w.blob(block);
    w.blob({});
    ASSERT_TRUE(w.ok());
    const std::vector<uint8_t> expected = {0x02, 0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 8, 7, 6,
                                           5,    4,    3,    2,    1, // ints
                                           3,    0,    'A',  'B',  0, // string
                                           0x60, 0xE3, 0x16, 0x00,    // 1,500,000
                                           0xFE, 0xFF, 0xFF, 0xFF,    // -2
                                           3,    0,    0,    0,    9,    8,    7,    0,    0, 0, 0};
    EXPECT_EQ(ms.bytes(), expected);

    ms.rewind();
    StreamReader r(ms);
    EXPECT_EQ(r.int32(), 2);
    EXPECT_EQ(r.int32(), -2);
    EXPECT_EQ(r.int64(), 0x0102030405060708LL);
    EXPECT_EQ(r.string(), "AB");
    EXPECT_DOUBLE_EQ(r.micro(), 1.5);
    EXPECT_DOUBLE_EQ(r.micro(), -0.000002);
    EXPECT_EQ(r.blob(), std::vector<uint8_t>({9, 8, 7}));
    EXPECT_TRUE(r.blob().empty());
    EXPECT_TRUE(r.ok());
    r.int32();
    EXPECT_FALSE(r.ok()) << "reading past the end must fail";
}

TEST(StreamPrimitives, MicroFactorsSurviveEverySaveCycle)
{
    // Clip scale factors 0.0 to 100.0 in steps of 0.1 are held as floats, stored and read back
    // again and again: neither the factor nor the stored millionths drift.
    for (int k = 0; k <= 1000; ++k) {
        const float factor = float(k) / 10.0f;
        float held = factor;
        int32_t stored = 0;
        for (int cycle = 0; cycle < 4; ++cycle) {
            MemoryStream ms;
            StreamWriter w(ms);
            w.micro(held);
            ms.rewind();
            StreamReader r(ms);
            const int32_t now = r.int32();
            if (cycle == 0) stored = now;
            ASSERT_EQ(now, stored) << factor << " in cycle " << cycle;
            ms.rewind();
            held = float(r.micro());
        }
        if (k == 7) {
            EXPECT_EQ(stored, 700000) << "0.7 is held as 0.69999999";
        }
        ASSERT_EQ(held, factor);
    }
}

TEST(StreamPrimitives, StringEndsAtFirstZeroAndEmptyStringHasTerminator)
{
    MemoryStream ms(std::vector<uint8_t>{5, 0, 'a', 0, 'b', 'c', 0, 1, 0, 0});
    StreamReader r(ms);
    EXPECT_EQ(r.string(), "a");
    EXPECT_EQ(r.string(), "");
    EXPECT_TRUE(r.ok());

    MemoryStream out;
    StreamWriter w(out);
    w.string("");
    EXPECT_EQ(out.bytes(), std::vector<uint8_t>({1, 0, 0}));
}

TEST(StreamPrimitives, CorruptLengthsFailWithoutHugeAllocations)
{
    // A blob that claims 2 GB in a 10-byte stream.
    MemoryStream big(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6});
    StreamReader r1(big);
    EXPECT_TRUE(r1.blob().empty());
    EXPECT_FALSE(r1.ok());

    MemoryStream neg(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF});
    StreamReader r2(neg);
    r2.blob();
    EXPECT_FALSE(r2.ok());

    // A string longer than the rest of the stream.
    MemoryStream shortStr(std::vector<uint8_t>{50, 0, 'x'});
    StreamReader r3(shortStr);
    EXPECT_EQ(r3.string(), "");
    EXPECT_FALSE(r3.ok());
    EXPECT_EQ(r3.int32(), 0) << "a failed reader keeps returning zero values";
}

TEST(StreamPrimitives, OverlongStringIsCutOnCharacterBoundary)
{
    std::string text(32765, 'a');
    text += "\xC3\xA9"; // 'é' straddles the limit of 32,766 bytes
    MemoryStream ms;
    StreamWriter w(ms);
    w.string(text);
    ms.rewind();
    StreamReader r(ms);
    std::string back = r.string();
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(back, std::string(32765, 'a'));
}

TEST(MemoryStreamTest, SeekPastEndThenWriteFillsWithZeros)
{
    MemoryStream ms;
    ASSERT_TRUE(ms.seek(3));
    uint8_t v = 7;
    ms.write(&v, 1);
    EXPECT_EQ(ms.bytes(), std::vector<uint8_t>({0, 0, 0, 7}));
    EXPECT_FALSE(ms.seek(-1));
}
