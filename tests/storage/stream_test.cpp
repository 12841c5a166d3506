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
    w.micro(-0.0000019); // truncates toward zero
    const uint8_t block[3] = {9, 8, 7};
    w.blob(block);
    w.blob({});
    ASSERT_TRUE(w.ok());
    const std::vector<uint8_t> expected = {0x02, 0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 8, 7, 6,
                                           5,    4,    3,    2,    1, // ints
                                           3,    0,    'A',  'B',  0, // string
                                           0x60, 0xE3, 0x16, 0x00,    // 1,500,000
                                           0xFF, 0xFF, 0xFF, 0xFF,    // -1
                                           3,    0,    0,    0,    9,    8,    7,    0,    0, 0, 0};
    EXPECT_EQ(ms.bytes(), expected);

    ms.rewind();
    StreamReader r(ms);
    EXPECT_EQ(r.int32(), 2);
    EXPECT_EQ(r.int32(), -2);
    EXPECT_EQ(r.int64(), 0x0102030405060708LL);
    EXPECT_EQ(r.string(), "AB");
    EXPECT_DOUBLE_EQ(r.micro(), 1.5);
    EXPECT_DOUBLE_EQ(r.micro(), -0.000001);
    EXPECT_EQ(r.blob(), std::vector<uint8_t>({9, 8, 7}));
    EXPECT_TRUE(r.blob().empty());
    EXPECT_TRUE(r.ok());
    r.int32();
    EXPECT_FALSE(r.ok()) << "reading past the end must fail";
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
