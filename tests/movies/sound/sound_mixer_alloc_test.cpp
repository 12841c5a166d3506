// Steady-state mixing allocates nothing: the mixer reuses its buffers, its parsed sample
// descriptions and fades, and its decompressor's output buffer. Counted with a replacement
// of the global operator new that counts only while a test asks it to.
#include "platform/movies/sound_decompressor.h"
#include "platform/movies/sound_mixer.h"

#include "platform/movies/big_endian.h"
#include "sound_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement pairs malloc with free, which the compiler cannot see through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
} // namespace

void* operator new(std::size_t n)
{
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

// Samples of 'tCnt': 2 bytes, a big-endian level held for the sample's duration.
class HoldDecompressor : public ComponentImplementation {
public:
    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        if (call.selector < 0) return noErr;
        if (call.selector == kSoundDecompressorBeginSelect) return noErr;
        if (call.selector != kSoundDecompressorDecodeSelect) return badComponentSelector;
        auto* d = reinterpret_cast<SoundDecompressorDecode*>(call.params[0]);
        if (d->dataSize < 2) return paramErr;
        const int16_t level = int16_t(getBE16(d->data));
        const int64_t frames = d->sampleDuration * 48000 / d->mediaTimeScale;
        d->framesWritten = uint32_t(std::min<int64_t>(frames, d->frameCapacity));
        for (size_t i = 0; i < size_t(d->framesWritten) * 2; ++i)
            d->buffer[i] = level;
        return noErr;
    }
};

} // namespace

TEST(SoundMixerAllocations, SteadyStateMixingAllocatesNothing)
{
    ComponentManager cm;
    cm.registerComponent({kSoundDecompressorType, fourcc("tCnt"), 0, 0, 0}, "Hold", "", 1,
                         [] { return std::make_unique<HoldDecompressor>(); });
    Movie movie(600);
    // Per-frame PCM at another rate with a two-step fade, one-sample stereo PCM at a
    // re-timed segment, and a decompressed track of 20-tick packets.
    Track* a = addPcmTrack(movie, sine(220, 22050, 4 * 22050, 8000), 1, 22050, 0, true);
    addFade(movie, *a, {{0, kFixed1, 600}, {kFixed1, 0, 1800}}, 0, FadeByteOrder::littleEndian);
    Track* b = addPcmTrack(movie, sine(440, 48000, 4 * 48000, 6000, 2), 2, 48000, 300);
    ASSERT_EQ(b->scaleSegment(300, 2400, 2000), noErr);
    Track* c = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(c, SoundMediaType, 600);
    SoundDescription d;
    d.dataFormat = fourcc("tCnt");
    const Handle desc = d.toHandle();
    for (int k = 0; k < 120; ++k) {
        uint8_t level[2];
        putBE16(level, uint16_t(100 * k));
        c->media()->addSample(std::span<const uint8_t>(level, 2), 20, 1, desc, false);
    }
    ASSERT_EQ(c->insertMedia(0, 0, 2400), noErr);

    SoundMixer mixer(48000, 2, &cm);
    std::vector<int16_t> out;
    // The first pass meets every sample description, fade and packet once; the second, over
    // the same spans, must find everything it needs in place.
    long perPass[2] = {0, 0};
    for (long& count : perPass) {
        g_allocations = 0;
        g_counting = true;
        OSErr err = noErr;
        for (TimeValue t = 0; t < 2400 && err == noErr; t += 12)
            err = mixer.mix(movie, t, 12, 600, out);
        g_counting = false;
        EXPECT_EQ(err, noErr);
        count = g_allocations.load();
    }
    EXPECT_LT(perPass[0], 200) << "first pass: allocations only for what it meets first";
    EXPECT_EQ(perPass[1], 0) << "allocations while mixing 4 s again in 20 ms spans";
    EXPECT_GT(rms(out, 2, 0, int64_t(out.size() / 2)), 100);
}
