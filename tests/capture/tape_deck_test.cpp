#include "capture/tape_deck.h"
#include "platform/graph/class_registry.h"
#include "platform/graph/device_control.h"
#include "platform/graph/software_tape_deck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

using namespace zef;
using namespace zef::graph;

namespace {

// A deck whose timecode and modes the test sets and reads.
class FakeDeck : public Filter, public ExtDevice, public ExtTransport, public TimecodeReader {
public:
    struct State {
        int32_t timecodeFormat = kTimecodeFormat24;
        uint32_t frames = 100;
        int32_t mode = 4297;
        bool acceptsPort8 = true;
        std::vector<int32_t> modesSent;
    };
    explicit FakeDeck(std::shared_ptr<State> s) : m_s(std::move(s)) {}
    Guid classId() const override { return {}; }
    std::vector<Pin*> pins() override { return {}; }
    void* queryInterface(const Guid& iid) override
    {
        if (iid == kIID_ExtDevice) return static_cast<ExtDevice*>(this);
        if (iid == kIID_ExtTransport) return static_cast<ExtTransport*>(this);
        if (iid == kIID_TimecodeReader) return static_cast<TimecodeReader*>(this);
        return nullptr;
    }
    HResult capability(int32_t cap, int32_t* v) override
    {
        *v = cap == kCapTimecodeFormat ? m_s->timecodeFormat : kDeviceTypeVcr;
        return kOk;
    }
    HResult devicePort(int32_t* p) override { return *p = 8, kOk; }
    HResult setDevicePort(int32_t p) override
    {
        return p == 8 && !m_s->acceptsPort8 ? kNotImplemented : kOk;
    }
    HResult mode(int32_t* m) override { return *m = m_s->mode, kOk; }
    HResult setMode(int32_t m) override
    {
        m_s->modesSent.push_back(m);
        m_s->mode = m;
        return kOk;
    }
    HResult rate(double* r) override { return *r = 1, kOk; }
    HResult setRate(double) override { return kOk; }
    HResult basicParameter(int32_t, int32_t*) override { return kFail; }
    HResult setBasicParameter(int32_t, int32_t) override { return kOk; }
    HResult timecode(TimecodeSample* s) override
    {
        *s = {0, 0, m_s->frames};
        return kOk;
    }

private:
    std::shared_ptr<State> m_s;
};

Guid fakeId(uint32_t n) { return Guid{n, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}; }

void registerFake(FilterClassRegistry& r, uint32_t n, const std::string& name,
                  std::shared_ptr<FakeDeck::State> s, bool needsInput = false)
{
    std::vector<PinRegistration> pins{{"Timecode", false, true, MajorType::timecode}};
    if (needsInput) pins.push_back({"In", false, false, MajorType::video});
    r.registerClass({fakeId(n), name, kMeritNormal, FilterCategory::other, pins,
                     [s] { return std::make_shared<FakeDeck>(s); }});
}

class ManualClock : public DeckClock {
public:
    double now() const override { return t.load(); }
    std::atomic<double> t{1000.0};
};

} // namespace

TEST(DeviceList, ListsTapeDevicesButNeverTheSampleFilterInAnyCaseAndSurvivesARoundTrip)
{
    auto registry = FilterClassRegistry::withBuiltIns();
    auto ok = std::make_shared<FakeDeck::State>();
    auto shy = std::make_shared<FakeDeck::State>();
    shy->acceptsPort8 = false;
    registerFake(*registry, 1, "vcr CONTROL sample", ok);
    registerFake(*registry, 2, "Studio Deck", ok);
    registerFake(*registry, 3, "Port Shy Deck", shy);
    registerFake(*registry, 4, "Needs Input", ok, true);

    DeviceList list;
    list.enumerate(*registry);
    std::vector<std::string> names;
    for (size_t i = 0; i < list.size(); ++i)
        names.push_back(list[i].nameText());
    EXPECT_EQ(names, (std::vector<std::string>{"Studio Deck", "Software Tape Deck"}));

    const std::vector<uint8_t> bytes = list.serialize();
    ASSERT_EQ(bytes.size(), 4 + 2 * kDeviceInfoBytes);
    DeviceList back;
    ASSERT_TRUE(back.deserialize(bytes.data(), bytes.size()));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].classId, kSoftwareTapeDeckClassId);
    EXPECT_EQ(back[1].nameText(), "Software Tape Deck");
    EXPECT_FALSE(back.deserialize(bytes.data(), bytes.size() - 1)); // a record cut short
    EXPECT_EQ(back.size(), 2u);
}

TEST(TapeDeck, SeeksThatEndAtOnce)
{
    auto registry = FilterClassRegistry::withBuiltIns();
    auto s = std::make_shared<FakeDeck::State>();
    registerFake(*registry, 2, "Studio Deck", s);
    DeviceList list;
    list.enumerate(*registry);
    TapeDeck deck(*registry, list);
    ASSERT_TRUE(deck.open(0, 0));
    EXPECT_EQ(deck.timecodeFormat(), kTimecodeFormat24);
    const EditTime here = deck.timecode();
    EXPECT_EQ(here.ticks(), 100 * 25); // 100 frames at 24 fps

    // To the current position: no step, no mode, even when waiting.
    int pumped = 0;
    deck.setPump([&] { ++pumped; });
    deck.seek(here, true);
    EXPECT_EQ(deck.direction(), 0);
    EXPECT_EQ(pumped, 0);
    EXPECT_TRUE(s->modesSent.empty());

    // 10 ticks ahead is within a 24 fps frame: the first step pauses the deck.
    deck.seek(EditTime::raw(here.ticks() + 10, 24, 1), false);
    EXPECT_EQ(deck.direction(), 1);
    deck.seekStep();
    EXPECT_EQ(deck.direction(), 0);
    EXPECT_EQ(s->modesSent, std::vector<int32_t>{TapeTransport::kFreeze});
}

TEST(SoftwareTapeDeck, RefusedShuttleModeFallsBackAndTheTapeRunsOnTheDecksClock)
{
    auto clock = std::make_shared<ManualClock>();
    auto registry = FilterClassRegistry::withBuiltIns();
    SoftwareTapeDeckOptions options;
    options.refuseShuttle = true;
    options.clock = clock;
    registerSoftwareTapeDeck(*registry, options);
    DeviceList list;
    list.enumerate(*registry);
    ASSERT_EQ(list.size(), 1u);
    TapeDeck deck(*registry, list);
    ASSERT_TRUE(deck.open(0, 0));
    EXPECT_TRUE(deck.isTapeTransport());

    ASSERT_TRUE(deck.setRate(4));
    EXPECT_EQ(deck.mode(), TapeTransport::kShuttleForward);
    EXPECT_EQ(deck.modeName(), "Shuttle");
    clock->t = clock->t + 2.0; // 2 s at 4× over a 25 fps tape
    EXPECT_EQ(deck.timecode().ticks(), 200 * 24);

    deck.setMode(TapeTransport::kRewind); // 10×: back at the beginning after 0.8 s, stopped
    clock->t = clock->t + 5.0;
    EXPECT_EQ(deck.timecode().ticks(), 0);
    EXPECT_EQ(deck.modeName(), "Stopped");
    deck.close();
    EXPECT_EQ(deck.modeName(), "Invalid Device");
}

TEST(SoftwareTapeDeck, SeekingToATimecodeShowsThatFrameAtTheOutput)
{
    auto clock = std::make_shared<ManualClock>();
    auto registry = FilterClassRegistry::withBuiltIns();
    SoftwareTapeDeckOptions options;
    options.clock = clock;
    registerSoftwareTapeDeck(*registry, options);
    DeviceList list;
    list.enumerate(*registry);
    TapeDeck deck(*registry, list);
    ASSERT_TRUE(deck.open(0, 0));
    auto output = openTapeDeckOutput(*registry, kSoftwareTapeDeckClassId);
    ASSERT_TRUE(output);

    std::mutex lock;
    std::condition_variable arrived;
    std::optional<int64_t> restFrame, restCode;
    std::string restTimecode;
    const int64_t token = output->subscribe([&](const TapeFrame& f) {
        std::lock_guard g(lock);
        if (f.speed != 0) return;
        restFrame = f.frameNumber;
        restCode = readGeneratedTapeFrameNumber(*f.picture);
        restTimecode = f.timecode.text();
        arrived.notify_all();
    });

    // 00:01:23:12 at 25 fps: frame 2087.
    const double start = clock->now();
    deck.setPump([&] { clock->t = clock->t + 0.02; });
    deck.seek(EditTime::raw(2087 * 24, 25, 1), true);
    const int64_t at = deck.timecode().ticks() / 24;
    EXPECT_LE(std::llabs(at - 2087), 1); // the seek stops within a frame
    EXPECT_GE(clock->now() - start, 83.5 / 10); // never faster than the 10× wind
    EXPECT_EQ(deck.modeName(), "Paused");

    std::unique_lock g(lock);
    ASSERT_TRUE(arrived.wait_for(g, std::chrono::seconds(20), [&] { return restFrame == at; }));
    EXPECT_EQ(restCode, at); // the picture itself carries the frame number
    g.unlock();
    output->unsubscribe(token);
    char expected[16];
    std::snprintf(expected, sizeof expected, "00:01:%02d:%02d", int(at / 25 - 60), int(at % 25));
    EXPECT_EQ(restTimecode, expected);
}
