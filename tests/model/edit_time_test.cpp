#include "model/edit_time.h"
#include "platform/storage/stream.h"

#include <gtest/gtest.h>

#include <thread>

using zef::EditRateContext;
using zef::EditTime;

namespace {

// Every case runs at a known edit rate, whatever other code installed.
class EditTimeTest : public ::testing::Test {
protected:
    EditRateContext rate{30 << 16};
    EditRateContext::Scope scope{rate};
};

} // namespace

TEST_F(EditTimeTest, ConstructionSnapsSymmetricallyAboutZero)
{
    EXPECT_EQ(EditTime(10, 30, 1).ticks(), 20);   // half a frame rounds up to frame 1
    EXPECT_EQ(EditTime(-10, 30, 1).ticks(), -20); // and mirrors below zero
    EXPECT_EQ(EditTime(9, 30, 1).ticks(), 0);
    EXPECT_EQ(EditTime(-9, 30, 1).ticks(), 0);
    EXPECT_EQ(EditTime(31, 30, 1).ticks(), 40);
    EXPECT_EQ(EditTime(-31, 30, 1).ticks(), -40);
    // NTSC rate: frame 1 of 2997/100 lies at 20.02 ticks, rounded to 20.
    EXPECT_EQ(EditTime(25, 2997, 100).ticks(), 20);
    EXPECT_EQ(EditTime(25, 2997, 100).toFrames(), 1);
    EXPECT_EQ(EditTime(-25, 2997, 100).ticks(), -20);
}

TEST_F(EditTimeTest, FollowsTheEditRateWhenRateIsZero)
{
    EXPECT_EQ(EditTime(10).ticks(), 20);
    EXPECT_EQ(EditTime(0).effectiveNum(), 30);
    rate.setFrameRate(1964113); // 29.97 counts as 30
    EXPECT_EQ(EditTime(0).effectiveNum(), 30);
    EXPECT_EQ(EditTime(0).effectiveDen(), 1);
    rate.setFrameRate(int32_t(23.976 * 65536)); // 24
    EXPECT_EQ(EditTime(0).effectiveNum(), 24);
    EXPECT_EQ(EditTime(13).ticks(), 25);
    rate.setFrameRate(int32_t(24.9 * 65536)); // .9 is below the 0.9333 threshold: 24
    EXPECT_EQ(EditTime(0).effectiveNum(), 24);
    rate.setFrameRate(25 << 16);
    EXPECT_EQ(EditTime(13).ticks(), 24);
    // An explicit rate ignores the edit rate.
    EXPECT_EQ(EditTime(13, 30, 1).ticks(), 20);
}

TEST_F(EditTimeTest, ScopedContextIsPerThreadAndNests)
{
    EditRateContext pal(25 << 16);
    {
        EditRateContext::Scope inner(pal);
        EXPECT_EQ(EditTime(0).effectiveNum(), 25);
        int32_t other = 0;
        std::thread([&] { other = EditTime(0).effectiveNum(); }).join();
        EXPECT_NE(other, 25); // another thread does not see this thread's scope
    }
    EXPECT_EQ(EditTime(0).effectiveNum(), 30);
}

TEST_F(EditTimeTest, FrameConversions)
{
    EditTime t(0, 30, 1);
    t.fromFrames(45);
    EXPECT_EQ(t.ticks(), 900);
    EXPECT_EQ(t.toFrames(), 45);
    t.fromFrames(-3);
    EXPECT_EQ(t.ticks(), -60);
    EXPECT_EQ(t.toFrames(), -3);

    EditTime n = EditTime::raw(0, 2997, 100);
    n.addFrames(1); // 100 × 600 / 2997 = 20.02, truncated
    EXPECT_EQ(n.ticks(), 20);
    n.addFrames(2997);
    EXPECT_EQ(n.ticks(), 20 + 60000);
    n.addTicks(-7);
    EXPECT_EQ(n.ticks(), 60013);

    // An unusable rate leaves the value alone instead of dividing by zero.
    EditTime bad = EditTime::raw(123, 30, 0);
    bad.fromFrames(5);
    EXPECT_EQ(bad.ticks(), 123);
    EXPECT_EQ(bad.toFrames(), 0);
    EXPECT_EQ(EditTime(17, 30, 0).ticks(), 17);
}

TEST_F(EditTimeTest, ScaleRoundsHalfAwayFromZero)
{
    EditTime t = EditTime::raw(5);
    t.scale(0.5);
    EXPECT_EQ(t.ticks(), 3);
    t = EditTime::raw(-5);
    t.scale(0.5);
    EXPECT_EQ(t.ticks(), -3);
    t = EditTime::raw(600);
    t.scale(1.5);
    EXPECT_EQ(t.ticks(), 900);
}

TEST_F(EditTimeTest, ToScaleAndFields)
{
    EXPECT_EQ(EditTime::raw(600).toScale(1000), 1000);
    EXPECT_EQ(EditTime::raw(1).toScale(90000), 150);
    EXPECT_EQ(EditTime::raw(1).toScale(1), 0); // (1 + 300) / 600

    EditTime t = EditTime::raw(600 * 3723 + 580, 30, 1); // 1:02:03 and 29 frames
    EXPECT_EQ(t.hours(), 1);
    EXPECT_EQ(t.minutes(), 2);
    EXPECT_EQ(t.seconds(), 3);
    EXPECT_EQ(t.frameInSecond(), 29);
}

TEST_F(EditTimeTest, ComparisonRanksExtraFirstAndIgnoresRate)
{
    EXPECT_EQ(EditTime(600, 30, 1), EditTime(600, 25, 1));
    EXPECT_FALSE(EditTime(600, 30, 1) < EditTime(600, 25, 1));
    EditTime big = EditTime::raw(1'000'000, 0, 1, 0);
    EditTime smallButExtra = EditTime::raw(0, 0, 1, 1);
    EXPECT_LT(big, smallButExtra);
    EXPECT_GT(smallButExtra, big);
    EXPECT_NE(EditTime::raw(5, 0, 1, 1), EditTime::raw(5, 0, 1, 0));
    EXPECT_LT(EditTime::raw(-20), EditTime::raw(0));
}

TEST_F(EditTimeTest, ArithmeticKeepsLeftRateAndNegationResnaps)
{
    EditTime a = EditTime::raw(100, 25, 1, 2);
    EditTime b = EditTime::raw(7, 30, 1, 1);
    EditTime sum = a + b;
    EXPECT_EQ(sum.ticks(), 107);
    EXPECT_EQ(sum.extra(), 3);
    EXPECT_EQ(sum.rateNum(), 25);
    EditTime diff = b - a;
    EXPECT_EQ(diff.ticks(), -93);
    EXPECT_EQ(diff.extra(), -1);
    EXPECT_EQ(diff.rateNum(), 30);

    EditTime neg = -EditTime::raw(15, 30, 1, 4); // -15 snaps to -20 at 30 fps
    EXPECT_EQ(neg.ticks(), -20);
    EXPECT_EQ(neg.extra(), -4);
}

TEST_F(EditTimeTest, TimecodeTexts)
{
    EXPECT_EQ(EditTime().format(), "00:00:00");
    EXPECT_EQ(EditTime::raw(-1).format(), "88:88:88");
    EXPECT_EQ(EditTime::raw(600 * 61 + 40).format(), "01:01:02");
    EXPECT_EQ(EditTime::raw(600 * 3600).format(), "60:00:00");
    EXPECT_EQ(EditTime::raw(600 * 3600 + 20).format(), "1:00:00:01");
    EXPECT_EQ(EditTime::raw(600 * 3601).format(), "1:00:01:00");
    EXPECT_EQ(EditTime::raw(600 * (10 * 3600 + 59 * 60 + 7) + 300, 25, 1).format(), "10:59:07:13");
}

TEST_F(EditTimeTest, StoredFormRoundTripsAndConvertsScales)
{
    using namespace zef::storage;
    MemoryStream s;
    StreamWriter w(s);
    EditTime::raw(12345, 2997, 100, 7).save(w);
    ASSERT_EQ(s.size(), 28);
    s.rewind();
    StreamReader r(s);
    EditTime t(999);
    t.load(r, 9);
    EXPECT_EQ(t.ticks(), 12345); // not snapped again
    EXPECT_EQ(t.rateNum(), 2997);
    EXPECT_EQ(t.rateDen(), 100);
    EXPECT_EQ(t.extra(), 7);

    // A version-4 value has no extra: 24 bytes, extra 0.
    MemoryStream old;
    StreamWriter ow(old);
    ow.int64(1000);
    ow.int64(1000); // scale 1000: 1000 ticks are 600 of ours
    ow.int32(30);
    ow.int32(1);
    ow.int32(0x5A5A5A5A); // the next field, which must stay unread
    old.rewind();
    StreamReader orr(old);
    EditTime v;
    v.load(orr, 4);
    EXPECT_EQ(old.tell(), 24);
    EXPECT_EQ(v.ticks(), 600);
    EXPECT_EQ(v.extra(), 0);
    EXPECT_EQ(orr.int32(), 0x5A5A5A5A);

    // Rounded conversion: 1 tick at scale 1200 is half a tick of ours, rounded up.
    MemoryStream half;
    StreamWriter hw(half);
    hw.int64(1);
    hw.int64(1200);
    hw.int32(0);
    hw.int32(1);
    half.rewind();
    StreamReader hr(half);
    EditTime h;
    h.load(hr, 4);
    EXPECT_EQ(h.ticks(), 1);
}

TEST_F(EditTimeTest, BadStoredScaleFailsTheReader)
{
    using namespace zef::storage;
    MemoryStream s;
    StreamWriter w(s);
    w.int64(100);
    w.int64(0);
    w.int32(30);
    w.int32(1);
    w.int32(0);
    s.rewind();
    StreamReader r(s);
    EditTime t;
    t.load(r, 9);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(t.ticks(), 0);

    MemoryStream shortStream(std::vector<uint8_t>(10, 0));
    StreamReader sr(shortStream);
    t.load(sr, 9);
    EXPECT_FALSE(sr.ok());
}
