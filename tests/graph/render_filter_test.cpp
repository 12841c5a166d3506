// The render filters of the quorrel library, driven through their pins as the graph drives
// them, and the graph that plays a generated file.
#include "platform/graph/class_registry.h"
#include "platform/graph/file_source.h"
#include "platform/graph/filter_graph.h"
#include "renderfilter/render_filter.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace zef;
using namespace zef::graph;
using namespace zef::quorrel;
namespace media = zef::movies::testing::media;

namespace {

// An upstream filter with one output pin offering one type.
class Feeder : public Filter {
public:
    explicit Feeder(MediaType type) : m_out(*this, std::move(type)) {}
    Guid classId() const override { return Guid::parse("{00000000-0000-0000-0000-0000000000F1}"); }
    std::vector<Pin*> pins() override { return {&m_out}; }
    Pin& out() { return m_out; }

private:
    class Out : public Pin {
    public:
        Out(Filter& f, MediaType t) : Pin(f, "Output", PinDirection::output), m_t(std::move(t)) {}
        std::vector<MediaType> mediaTypes() const override { return {m_t}; }
        HResult checkMediaType(const MediaType& t) const override { return t == m_t ? kOk : kFail; }
        MediaType m_t;
    } m_out;
};

struct RenderFilters : ::testing::Test {
    std::unique_ptr<FilterClassRegistry> registry = FilterClassRegistry::withBuiltIns();
    void SetUp() override { ASSERT_EQ(DllRegisterServer(registry.get()), kOk); }

    std::shared_ptr<Filter> video() { return registry->create(kClassVideoQuorrel); }
    static FrameBuffer& frameBuffer(Filter& f)
    {
        return *static_cast<FrameBuffer*>(f.queryInterface(kIIDFrameBuffer));
    }
};

MediaSample sample(const std::vector<uint8_t>& bytes, int64_t start)
{
    MediaSample s;
    s.data = bytes.data();
    s.size = bytes.size();
    s.start = start;
    s.stop = start + 1;
    return s;
}

} // namespace

TEST_F(RenderFilters, ArmedFilterCapturesTheFirstSampleOnly)
{
    std::shared_ptr<Filter> q = video();
    ASSERT_TRUE(q);
    EXPECT_EQ(registry->find(kClassVideoQuorrel)->name, "Video Quorrel");
    FrameBuffer& fb = frameBuffer(*q);
    uint8_t out[2 * 2 * 4] = {};
    EXPECT_EQ(fb.GetFrame(out, 2, 2, 8, false), kFail); // nothing captured yet

    Feeder feeder(rgbVideoType(SubType::rgb32, 2, 2, 0));
    ASSERT_EQ(feeder.out().connect(*firstPin(*q, PinDirection::input)), kOk);
    q->pause();
    Pin& in = *firstPin(*q, PinDirection::input);
    EXPECT_FALSE(in.readyForSample()); // outside display mode it waits to be armed

    Event ready;
    fb.ArmFrameEvent(&ready);
    EXPECT_TRUE(in.readyForSample());
    const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::vector<uint8_t> second(16, 99);
    EXPECT_EQ(in.receive(sample(first, 0)), kOk);
    EXPECT_TRUE(ready.isSet());
    EXPECT_FALSE(in.readyForSample());
    EXPECT_EQ(in.receive(sample(second, 1)), kOk); // not armed: not captured
    ASSERT_EQ(fb.GetFrame(out, 2, 2, 8, false), kOk);
    EXPECT_EQ(std::memcmp(out, first.data(), 16), 0);

    // A stream that ends while armed ends the wait at once, and the old picture is not
    // passed off as the one asked for.
    fb.ArmFrameEvent(&ready);
    EXPECT_FALSE(ready.isSet());
    in.endOfStream();
    EXPECT_TRUE(ready.isSet());
    EXPECT_EQ(fb.GetFrame(out, 2, 2, 8, false), kFail);
    fb.ArmFrameEvent(&ready);
    in.newSegment(0);
    EXPECT_EQ(in.receive(sample(first, 0)), kOk);

    // Any other size, row length or flip scales (nearest neighbour), flip bottom-up.
    uint8_t flipped[2 * 2 * 4];
    ASSERT_EQ(fb.GetFrame(flipped, 2, 2, 8, true), kOk);
    EXPECT_EQ(std::memcmp(flipped, first.data() + 8, 8), 0);
    EXPECT_EQ(std::memcmp(flipped + 8, first.data(), 8), 0);
    uint8_t big[4 * 4 * 4];
    ASSERT_EQ(fb.GetFrame(big, 4, 4, 16, false), kOk);
    EXPECT_EQ(std::memcmp(big + 4, first.data(), 4), 0);                // (1, 0) from (0, 0)
    EXPECT_EQ(std::memcmp(big + 3 * 16 + 12, first.data() + 12, 4), 0); // (3, 3) from (1, 1)
}

TEST_F(RenderFilters, PixelTypesAreReadWithRowsRoundedToFourBytes)
{
    std::shared_ptr<Filter> q = video();
    Pin& in = *firstPin(*q, PinDirection::input);
    // RGB24 of width 3: 9 bytes a row, stored in 12.
    Feeder rgb24(rgbVideoType(SubType::rgb24, 3, 2, 0));
    ASSERT_EQ(rgb24.out().connect(in), kOk);
    q->pause();
    Event ready;
    frameBuffer(*q).ArmFrameEvent(&ready);
    std::vector<uint8_t> rows(24, 0xEE);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            rows[size_t(y * 12 + x * 3)] = uint8_t(10 * y + x); // blue
            rows[size_t(y * 12 + x * 3 + 1)] = 1;
            rows[size_t(y * 12 + x * 3 + 2)] = 2;
        }
    ASSERT_EQ(in.receive(sample(rows, 0)), kOk);
    uint8_t out[3 * 2 * 4];
    ASSERT_EQ(frameBuffer(*q).GetFrame(out, 3, 2, 12, false), kOk);
    const uint8_t want[] = {0,  1, 2, 255, 1,  1, 2, 255, 2,  1, 2, 255,
                            10, 1, 2, 255, 11, 1, 2, 255, 12, 1, 2, 255};
    EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);
    // Packed rows (18 bytes) are too short for the type: nothing is captured.
    frameBuffer(*q).ArmFrameEvent(&ready);
    EXPECT_EQ(in.receive(sample(std::vector<uint8_t>(18, 0), 0)), kFail);
    EXPECT_FALSE(ready.isSet());

    // 16-bit types: white is 255, each field widened by repeating its top bits.
    rgb24.out().disconnect();
    in.disconnect();
    Feeder rgb565(rgbVideoType(SubType::rgb565, 2, 1, 0));
    ASSERT_EQ(rgb565.out().connect(in), kOk);
    frameBuffer(*q).ArmFrameEvent(&ready);
    ASSERT_EQ(in.receive(sample({0xFF, 0xFF, 0x1F, 0x00}, 0)), kOk); // white, pure blue
    uint8_t two[8];
    ASSERT_EQ(frameBuffer(*q).GetFrame(two, 2, 1, 8, false), kOk);
    const uint8_t want565[] = {255, 255, 255, 255, 255, 0, 0, 255};
    EXPECT_EQ(std::memcmp(two, want565, 8), 0);

    // YUV is refused, so that the graph puts a converter in front.
    EXPECT_NE(in.checkMediaType(yuvVideoType(0, 2, 2, 0)), kOk);
}

TEST_F(RenderFilters, GraphOfAMatroskaFileConvertsYuvForTheRenderer)
{
    FilterGraph g(*registry);
    ASSERT_EQ(g.renderFile(media::matroskaAv()), kOk);
    Filter* renderer = g.videoRenderer();
    ASSERT_NE(renderer, nullptr);
    Pin* in = firstPin(*renderer, PinDirection::input);
    ASSERT_TRUE(in->isConnected());
    EXPECT_EQ(in->connectionMediaType().sub, SubType::rgb32);
    EXPECT_EQ(in->connectedTo()->filter().classId(), kClassColourConverter);
    Pin* converterIn = firstPin(in->connectedTo()->filter(), PinDirection::input);
    EXPECT_EQ(converterIn->connectionMediaType().sub, SubType::yuv);
    EXPECT_NE(g.audioRenderer(), nullptr);
    EXPECT_GT(g.duration(), 0);

    // Files of the toolbox's own containers and files that are not media are not played.
    FilterGraph other(*registry);
    EXPECT_LT(other.renderFile(media::h264Movie()), 0);
    EXPECT_LT(other.renderFile(movies::testing::writeFile("notes.txt", "plain text\n")), 0);
    EXPECT_TRUE(other.filters().empty());
}

TEST_F(RenderFilters, PlayingToTheEndPostsTheCompleteEvent)
{
    FilterGraph g(*registry);
    ASSERT_EQ(g.renderFile(media::matroskaAv()), kOk);
    std::atomic<bool> notified = false;
    g.setNotify([&] { notified = true; });
    g.setRate(50.0);
    g.setPosition(g.duration() - kUnitsPerSecond / 2);
    g.run();
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    ASSERT_EQ(g.getEvent(code, p1, p2, 5000), kOk);
    EXPECT_EQ(code, kEventComplete);
    // The notification comes from the streaming thread right after the event is queued.
    for (int i = 0; i < 100 && !notified; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(notified);
    g.stop();
}
